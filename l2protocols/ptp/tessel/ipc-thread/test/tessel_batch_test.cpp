#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plat_debug.h"
#include "ptp_debug.h"
#include "tessel_alloc.h"
#include "tessel_batch.h"
#include "tessel_debug_areas.h"

namespace {

uint32_t fill(tessel_batch_info_type *b, uint32_t from, uint32_t to)
{
    for (uint32_t i = from; i < to; i++) {
        auto *e = static_cast<uint32_t *>(tessel_batch_get_next_free_element(b));
        if (e == nullptr) {
            return i;
        }
        *e = i;
    }
    return to;
}

void expect_values(const tessel_batch_info_type *b)
{
    auto *e = static_cast<const uint32_t *>(tessel_batch_get_elements(b));
    for (uint32_t i = 0; i < tessel_batch_get_count(b); i++) {
        ASSERT_EQ(e[i], i);
    }
}

TEST(BatchTest, GrowsFrom40ByDoublingAndFinishes)
{
    tessel_batch_info_type b;
    tessel_batch_init(&b, sizeof(uint32_t), "port number request batch");
    EXPECT_EQ(tessel_batch_get_count(&b), 0u);
    EXPECT_EQ(b.max_size, 0u);
    EXPECT_EQ(tessel_batch_get_elements(&b), nullptr);
    struct row {
        uint32_t count, capacity;
    };
    uint32_t filled = 0;
    for (const row &r : {row{1, 40}, row{40, 40}, row{41, 80}, row{81, 160}, row{161, 320}}) {
        filled = fill(&b, filled, r.count);
        EXPECT_EQ(tessel_batch_get_count(&b), r.count);
        EXPECT_EQ(b.max_size, r.capacity);
        expect_values(&b);
    }
    tessel_batch_finish(&b);
    EXPECT_EQ(tessel_batch_get_count(&b), 0u);
    EXPECT_EQ(b.max_size, 0u);
    EXPECT_EQ(tessel_batch_get_elements(&b), nullptr);
    EXPECT_STREQ(b.name, "port number request batch");
    EXPECT_EQ(b.element_size, sizeof(uint32_t));
    fill(&b, 0, 1);
    EXPECT_EQ(b.max_size, 40u);
    tessel_batch_finish(&b);
    tessel_batch_finish(&b); // an empty batch finishes harmlessly
}

TEST(BatchTest, FailedGrowthLosesNothing)
{
    tessel_batch_info_type b;
    tessel_batch_init(&b, sizeof(uint32_t), "IDB batch");
    ASSERT_EQ(fill(&b, 0, 40), 40u);
    tessel_alloc_test_fail(0, 2);
    EXPECT_EQ(tessel_batch_get_next_free_element(&b), nullptr);
    EXPECT_EQ(tessel_batch_get_next_free_element(&b), nullptr);
    EXPECT_EQ(tessel_batch_get_count(&b), 40u);
    EXPECT_EQ(b.max_size, 40u);
    expect_values(&b);
    EXPECT_EQ(fill(&b, 40, 41), 41u); // tries again, and grows
    EXPECT_EQ(b.max_size, 80u);
    expect_values(&b);
    tessel_batch_finish(&b);
}

TEST(BatchTest, ElementSizeZeroIsAnInternalError)
{
    tessel_batch_info_type b;
    EXPECT_DEATH(tessel_batch_init(&b, 0, "x"), "element_size > 0");
}

// A batch's life prints on the batch area at detail level only: a support filter hides it.
TEST(BatchTest, DebugLinesOnTheBatchAreaAtDetailLevel)
{
    debug_event_type areas[std::size(tessel_debug_areas)]{};
    ASSERT_EQ(ptp_debug_register(nullptr, areas, tessel_debug_areas, std::size(tessel_debug_areas), nullptr), ZERR_OK);
    struct row {
        const char *filter;
        std::vector<std::string> lines;
    };
    const row rows[] = {
        {"internal:",
         {"BATCH: Intialized batch: IDB batch", "BATCH: (Re-)allocated batch IDB batch, size 40",
          "BATCH: (Re-)allocated batch IDB batch, size 80", "BATCH: Finished batch: IDB batch"}},
        {"support:", {}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.filter);
        ASSERT_EQ(debug_set_area(PTP_DEBUG_PATH, "batch", r.filter), ZERR_OK);
        debug_capture_clear();
        tessel_batch_info_type b;
        tessel_batch_init(&b, sizeof(uint32_t), "IDB batch");
        EXPECT_EQ(fill(&b, 0, 41), 41u);
        tessel_batch_finish(&b);
        EXPECT_EQ(debug_captured(), r.lines);
    }
    ptp_debug_cleanup();
}

} // namespace
