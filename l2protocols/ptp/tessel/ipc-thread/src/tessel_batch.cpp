#include "tessel_batch.h"

#include "tessel_assert.h"
#include <cstdarg>
#include <cstdint>
#include <limits>

#include "ptp_alloc.h"
#include "ptp_debug.h"
#include "tessel_alloc.h"
#include "tessel_debug_areas.h"

namespace {

// The agent's batch debug area; its lines are detail.
constexpr uint32_t BATCH_DEBUG_AREA = tessel_debug_area("batch");

const char *batch_label()
{
    return ptp_debug_area_label(BATCH_DEBUG_AREA);
}

[[gnu::format(printf, 1, 2)]] void batch_debug(const char *format, ...)
{
    const debug_event_type *table = ptp_debug_table_get();
    if (!ptp_debug_enabled(table, BATCH_DEBUG_AREA)) {
        return;
    }
    va_list args;
    va_start(args, format);
    ptp_debug_vprint(BATCH_DEBUG_AREA, 0, PTP_DEBUG_LEVEL_INTERNAL, table, format, args);
    va_end(args);
}

} // namespace

void tessel_batch_init(tessel_batch_info_type *batch, size_t element_size, const char *name)
{
    TESSEL_ASSERT(element_size > 0);
    batch->max_size = 0;
    batch->next_index = 0;
    batch->element_size = element_size;
    batch->elements = nullptr;
    batch->name = name;
    batch_debug("%s: Intialized batch: %s", batch_label(), name);
}

void *tessel_batch_get_next_free_element(tessel_batch_info_type *batch)
{
    TESSEL_ASSERT(batch->next_index <= batch->max_size);
    if (batch->next_index == batch->max_size) {
        // A doubled count or byte size that no longer fits is a failed growth, never a wrap to a
        // small (or zero, i.e. freeing) reallocation.
        uint64_t capacity = batch->next_index == 0 ? TESSEL_BATCH_INITIAL_SIZE : uint64_t{batch->next_index} * 2u;
        bool fits = capacity <= std::numeric_limits<uint32_t>::max() &&
                    capacity <= std::numeric_limits<size_t>::max() / batch->element_size;
        size_t bytes = fits ? static_cast<size_t>(capacity) * batch->element_size : 0;
        void *grown = fits ? tessel_realloc(batch->elements, bytes) : nullptr;
        if (grown == nullptr) {
            ptp_alloc_failure_report(fits ? bytes : UINT64_MAX, batch->name);
        } else {
            batch->elements = grown;
            batch->max_size = static_cast<uint32_t>(capacity);
            batch_debug("%s: (Re-)allocated batch %s, size %u", batch_label(), batch->name, batch->max_size);
        }
    }
    if (batch->next_index >= batch->max_size) {
        return nullptr;
    }
    void *element = static_cast<uint8_t *>(batch->elements) + size_t{batch->next_index} * batch->element_size;
    batch->next_index++;
    return element;
}

void *tessel_batch_get_elements(const tessel_batch_info_type *batch)
{
    return batch->elements;
}

uint32_t tessel_batch_get_count(const tessel_batch_info_type *batch)
{
    return batch->next_index;
}

void tessel_batch_finish(tessel_batch_info_type *batch)
{
    batch->max_size = 0;
    batch->next_index = 0;
    tessel_free(batch->elements);
    batch->elements = nullptr;
    batch_debug("%s: Finished batch: %s", batch_label(), batch->name);
}
