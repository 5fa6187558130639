// Packet contexts.
#include <algorithm>
#include <cstring>
#include <new>

#include "ctx.h"
#include "pktio_internal.h"

struct ctx_api_type {
    uint32_t magic;
};

namespace {

constexpr uint32_t API_MAGIC = 0x63747861; // "ctxa"

size_t frame_len(const ctx_packet_type *p)
{
    if (p->opt_set[CTX_OPT_CURRENT_LENGTH]) {
        return std::min<size_t>(p->opt[CTX_OPT_CURRENT_LENGTH], p->data.size());
    }
    return p->used;
}

// Start and end of a layer within data (the FIB layer is separate).
bool layer_bounds(const ctx_packet_type *p, uint32_t layer, size_t *start, size_t *end)
{
    const size_t len = frame_len(p);
    switch (layer) {
    case CTX_LAYER_CONTEXT:
    case CTX_LAYER_FRAME: *start = 0; break;
    case CTX_LAYER_NETWORK:
        if (!p->has_net) {
            return false;
        }
        *start = p->net_off;
        break;
    case CTX_LAYER_APPLICATION:
        if (!p->opt_set[CTX_OPT_APP_START]) {
            return false;
        }
        *start = static_cast<size_t>(static_cast<int16_t>(p->opt[CTX_OPT_APP_START]));
        break;
    default: return false;
    }
    *end = len;
    return *start <= *end;
}

bool option_ok(uint32_t option)
{
    return option < CTX_OPT_COUNT;
}

zerrno set_option(ctx_packet_type *p, uint32_t option, uint64_t value)
{
    if (p == nullptr || !option_ok(option)) {
        return PKTIO_ERR_INVALID;
    }
    zerrno code = 0;
    if (pktio::fail_take(pktio_test_op::CTX_SET_OPTION, option, &code)) {
        return code;
    }
    p->opt[option] = value;
    p->opt_set[option] = true;
    return 0;
}

zerrno get_option(ctx_packet_type *p, uint32_t option, uint64_t *value)
{
    if (p == nullptr || !option_ok(option) || option == CTX_OPT_TIMESTAMP) {
        return PKTIO_ERR_INVALID;
    }
    zerrno code = 0;
    if (pktio::fail_take(pktio_test_op::CTX_GET_OPTION, option, &code)) {
        return code;
    }
    *value = p->opt_set[option] ? p->opt[option] : 0;
    return 0;
}

// Received frames come and go by the thousand a second, made and ended on the protocol thread:
// their contexts, with the buffers they grew, serve the next frames instead of going back to the
// allocator each time. The cache is the thread's own (no lock); a context ended on another thread
// goes to that thread's cache. Its links are plain thread-locals, so that a context ended while
// the thread's cache is already gone (at its exit) is simply deleted.
constexpr uint32_t CACHE_MAX = 512;
constexpr size_t CACHE_KEEP_BYTES = 4096; // a context whose buffer grew larger gives it back

thread_local ctx_packet_type *cache_head = nullptr;
thread_local uint32_t cache_count = 0;
thread_local bool cache_gone = false;

struct cache_owner {
    ~cache_owner()
    {
        cache_gone = true;
        while (cache_head != nullptr) {
            ctx_packet_type *p = cache_head;
            cache_head = p->next_free;
            delete p;
        }
        cache_count = 0;
    }
};
thread_local cache_owner cache_owner_instance;

} // namespace

namespace pktio {

ctx_packet_type *ctx_packet_new()
{
    if (cache_head == nullptr) {
        return new (std::nothrow) ctx_packet_type;
    }
    ctx_packet_type *p = cache_head;
    cache_head = p->next_free;
    cache_count--;
    p->next_free = nullptr;
    // The next one's link is read at the next frame of the batch: on its way meanwhile.
    __builtin_prefetch(cache_head);
    return p;
}

void ctx_packet_delete(ctx_packet_type *packet)
{
    if (packet == nullptr) {
        return;
    }
    if (cache_gone || cache_count >= CACHE_MAX || packet->data.capacity() > CACHE_KEEP_BYTES) {
        delete packet;
        return;
    }
    (void)&cache_owner_instance; // the cache is emptied when the thread ends
    // Back to a new context's state, its buffers kept.
    std::vector<uint8_t> data = std::move(packet->data);
    std::vector<uint8_t> timestamp = std::move(packet->timestamp);
    std::vector<uint8_t> fib = std::move(packet->fib);
    *packet = ctx_packet_type{};
    data.clear();
    timestamp.clear();
    fib.clear();
    packet->data = std::move(data);
    packet->timestamp = std::move(timestamp);
    packet->fib = std::move(fib);
    packet->next_free = cache_head;
    cache_head = packet;
    cache_count++;
}

} // namespace pktio

zerrno ctx_api_init(ctx_api_type **out)
{
    pktio::register_errors();
    if (out == nullptr) {
        return PKTIO_ERR_INVALID;
    }
    zerrno code = 0;
    if (pktio::fail_take(pktio_test_op::CTX_API_INIT, 0, &code)) {
        return code;
    }
    auto *api = new (std::nothrow) ctx_api_type{API_MAGIC};
    if (api == nullptr) {
        return PKTIO_ERR_NO_MEMORY;
    }
    *out = api;
    return 0;
}

zerrno ctx_api_cleanup(ctx_api_type *api)
{
    if (api == nullptr || api->magic != API_MAGIC) {
        return PKTIO_ERR_INVALID;
    }
    api->magic = 0;
    delete api;
    return 0;
}

ctx_packet_type *ctx_alloc(ctx_api_type *api, size_t size)
{
    if (api == nullptr || api->magic != API_MAGIC) {
        return nullptr;
    }
    zerrno code = 0;
    if (pktio::fail_take(pktio_test_op::CTX_ALLOC, 0, &code)) {
        return nullptr;
    }
    ctx_packet_type *p = pktio::ctx_packet_new();
    if (p == nullptr) {
        return nullptr;
    }
    p->data.assign(size, 0);
    return p;
}

void ctx_free(ctx_packet_type **packets, uint32_t count)
{
    if (packets == nullptr) {
        return;
    }
    for (uint32_t i = 0; i < count; i++) {
        pktio::ctx_packet_delete(packets[i]);
        packets[i] = nullptr;
    }
}

zerrno ctx_read(ctx_packet_type *packet, uint32_t layer, size_t offset, void *buffer, size_t len, size_t *nread)
{
    if (packet == nullptr || (buffer == nullptr && len > 0) || nread == nullptr) {
        return PKTIO_ERR_INVALID;
    }
    *nread = 0;
    zerrno code = 0;
    bool short_read = false;
    if (pktio::fail_take(pktio_test_op::CTX_READ, 0, &code)) {
        if (code != 0) {
            return code;
        }
        short_read = true;
    }
    if (layer == CTX_LAYER_FIB) {
        if (offset > packet->fib.size()) {
            return PKTIO_ERR_RANGE;
        }
        size_t n = std::min(len, packet->fib.size() - offset);
        std::memcpy(buffer, packet->fib.data() + offset, n);
        *nread = short_read ? n / 2 : n;
        return 0;
    }
    size_t start = 0;
    size_t end = 0;
    if (!layer_bounds(packet, layer, &start, &end)) {
        return PKTIO_ERR_NOT_FOUND;
    }
    if (offset > end - start) {
        return PKTIO_ERR_RANGE;
    }
    size_t n = std::min(len, end - start - offset);
    if (short_read) {
        n /= 2;
    }
    if (n > 0) {
        std::memcpy(buffer, packet->data.data() + start + offset, n);
    }
    *nread = n;
    return 0;
}

zerrno ctx_write(ctx_packet_type *packet, uint32_t layer, size_t offset, const void *buffer, size_t len,
                 size_t *nwritten)
{
    if (packet == nullptr || (buffer == nullptr && len > 0) || nwritten == nullptr) {
        return PKTIO_ERR_INVALID;
    }
    *nwritten = 0;
    zerrno code = 0;
    bool short_write = false;
    if (pktio::fail_take(pktio_test_op::CTX_WRITE, 0, &code)) {
        if (code != 0) {
            return code;
        }
        short_write = true;
    }
    if (layer == CTX_LAYER_FIB) {
        if (offset > packet->fib.size() || offset > CTX_FIB_DATA_MAX) {
            return PKTIO_ERR_RANGE;
        }
        size_t n = std::min(len, CTX_FIB_DATA_MAX - offset);
        if (short_write) {
            n /= 2;
        }
        packet->fib.resize(std::max(packet->fib.size(), offset + n));
        std::memcpy(packet->fib.data() + offset, buffer, n);
        *nwritten = n;
        return 0;
    }
    size_t start = 0;
    if (layer == CTX_LAYER_CONTEXT || layer == CTX_LAYER_FRAME) {
        start = 0;
    } else {
        size_t end = 0;
        if (!layer_bounds(packet, layer, &start, &end)) {
            return PKTIO_ERR_NOT_FOUND;
        }
    }
    // Written so that no offset, however large, wraps the bound.
    if (start > packet->data.size() || offset > packet->data.size() - start) {
        return PKTIO_ERR_RANGE;
    }
    size_t n = std::min(len, packet->data.size() - start - offset);
    if (short_write) {
        n /= 2;
    }
    if (n > 0) {
        std::memcpy(packet->data.data() + start + offset, buffer, n);
    }
    packet->used = std::max(packet->used, start + offset + n);
    *nwritten = n;
    return 0;
}

zerrno ctx_ptr(ctx_packet_type *packet, uint32_t layer, size_t offset, uint8_t **out, size_t *contiguous)
{
    if (packet == nullptr || out == nullptr || contiguous == nullptr) {
        return PKTIO_ERR_INVALID;
    }
    size_t start = 0;
    size_t end = 0;
    if (!layer_bounds(packet, layer, &start, &end)) {
        return PKTIO_ERR_NOT_FOUND;
    }
    if (offset > end - start) {
        return PKTIO_ERR_RANGE;
    }
    const size_t at = start + offset;
    const size_t limit = std::min(end, packet->contiguous);
    *out = packet->data.data() + at;
    *contiguous = limit > at ? limit - at : 0;
    return 0;
}

zerrno ctx_get_u8(ctx_packet_type *packet, uint32_t option, uint8_t *out)
{
    uint64_t v = 0;
    zerrno rc = out != nullptr ? get_option(packet, option, &v) : PKTIO_ERR_INVALID;
    if (rc == 0) {
        *out = static_cast<uint8_t>(v);
    }
    return rc;
}

zerrno ctx_get_u32(ctx_packet_type *packet, uint32_t option, uint32_t *out)
{
    uint64_t v = 0;
    zerrno rc = out != nullptr ? get_option(packet, option, &v) : PKTIO_ERR_INVALID;
    if (rc == 0) {
        *out = static_cast<uint32_t>(v);
    }
    return rc;
}

zerrno ctx_get_i16(ctx_packet_type *packet, uint32_t option, int16_t *out)
{
    uint64_t v = 0;
    zerrno rc = out != nullptr ? get_option(packet, option, &v) : PKTIO_ERR_INVALID;
    if (rc == 0) {
        *out = static_cast<int16_t>(v);
    }
    return rc;
}

zerrno ctx_get_varlength(ctx_packet_type *packet, uint32_t option, void *buffer, size_t len, size_t *out_len)
{
    if (packet == nullptr || option != CTX_OPT_TIMESTAMP || out_len == nullptr || (buffer == nullptr && len > 0)) {
        return PKTIO_ERR_INVALID;
    }
    *out_len = 0;
    zerrno code = 0;
    if (pktio::fail_take(pktio_test_op::CTX_GET_OPTION, option, &code)) {
        return code;
    }
    if (!packet->has_timestamp) {
        return PKTIO_ERR_NOT_FOUND;
    }
    size_t n = std::min(len, packet->timestamp.size());
    if (n > 0) {
        std::memcpy(buffer, packet->timestamp.data(), n);
    }
    *out_len = n;
    return 0;
}

zerrno ctx_set_u8(ctx_packet_type *packet, uint32_t option, uint8_t value)
{
    return set_option(packet, option, value);
}

zerrno ctx_set_i16(ctx_packet_type *packet, uint32_t option, int16_t value)
{
    return set_option(packet, option, static_cast<uint16_t>(value));
}

zerrno ctx_set_u32(ctx_packet_type *packet, uint32_t option, uint32_t value)
{
    return set_option(packet, option, value);
}

zerrno ctx_set_varlength(ctx_packet_type *packet, uint32_t option, const void *buffer, size_t len)
{
    if (packet == nullptr || option != CTX_OPT_TIMESTAMP || (buffer == nullptr && len > 0)) {
        return PKTIO_ERR_INVALID;
    }
    zerrno code = 0;
    if (pktio::fail_take(pktio_test_op::CTX_SET_OPTION, option, &code)) {
        return code;
    }
    const auto *b = static_cast<const uint8_t *>(buffer);
    packet->timestamp.assign(b, b + len);
    packet->has_timestamp = true;
    return 0;
}
