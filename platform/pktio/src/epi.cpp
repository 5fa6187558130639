// Ethernet packet infrastructure.
#include "epi.h"

#include <cstring>
#include <new>

#include "pktio_internal.h"

struct epi_handle_type {
    ctx_api_type *api;
    uint16_t ethertype;
};

zerrno epi_init(event_mgr_type *evm, uint16_t ethertype, epi_handle_type **out)
{
    pktio::register_errors();
    if (evm == nullptr || out == nullptr) {
        return PKTIO_ERR_INVALID;
    }
    zerrno code = 0;
    if (pktio::fail_take(pktio_test_op::EPI_INIT, 0, &code)) {
        return code;
    }
    auto *h = new (std::nothrow) epi_handle_type{nullptr, ethertype};
    if (h == nullptr) {
        return PKTIO_ERR_NO_MEMORY;
    }
    zerrno rc = ctx_api_init(&h->api);
    if (rc != 0) {
        delete h;
        return rc;
    }
    *out = h;
    return 0;
}

void epi_cleanup(epi_handle_type *handle)
{
    if (handle == nullptr) {
        return;
    }
    ctx_api_cleanup(handle->api);
    delete handle;
}

zerrno epi_packet_generate(epi_handle_type *handle, const epi_packet_request_type *request, ctx_packet_type **out)
{
    if (handle == nullptr || request == nullptr || out == nullptr ||
        (request->payload == nullptr && request->payload_len > 0) || request->tag_bytes % 4 != 0 ||
        request->tag_bytes > 8 || (request->tags == nullptr && request->tag_bytes > 0)) {
        return PKTIO_ERR_INVALID;
    }
    zerrno code = 0;
    if (pktio::fail_take(pktio_test_op::EPI_GENERATE, 0, &code)) {
        return code;
    }
    const size_t hdr = 14 + request->tag_bytes;
    const size_t len = hdr + request->payload_len;
    ctx_packet_type *p = ctx_alloc(handle->api, len);
    if (p == nullptr) {
        return PKTIO_ERR_NO_MEMORY;
    }
    uint8_t *f = p->data.data();
    std::memcpy(f, request->dst_mac, 6);
    std::memcpy(f + 6, request->src_mac, 6);
    if (request->tag_bytes > 0) {
        std::memcpy(f + 12, request->tags, request->tag_bytes);
    }
    f[hdr - 2] = static_cast<uint8_t>(handle->ethertype >> 8);
    f[hdr - 1] = static_cast<uint8_t>(handle->ethertype);
    if (request->payload_len > 0) {
        std::memcpy(f + hdr, request->payload, request->payload_len);
    }
    p->used = len;
    // The options the packet path needs; set directly (the frame is the library's own).
    auto set = [p](uint32_t o, uint64_t v) {
        p->opt[o] = v;
        p->opt_set[o] = true;
    };
    set(CTX_OPT_OUT_IFHANDLE, request->out_ifhandle);
    set(CTX_OPT_CURRENT_LENGTH, len);
    set(CTX_OPT_DIRECTION, 1);
    set(CTX_OPT_COS, request->cos);
    set(CTX_OPT_APP_START, hdr);
    set(CTX_OPT_L2_TAG_LAYOUT, request->tag_bytes == 0 ? 0 : request->tag_bytes == 4 ? 4 : 0x40004);
    *out = p;
    return 0;
}

void epi_packet_free(ctx_packet_type *packet)
{
    ctx_free(&packet, 1);
}
