// Ethernet packet infrastructure: builds Ethernet frames of one EtherType into packet contexts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ctx.h"
#include "evm.h"
#include "zerrno.h"

struct epi_handle_type;

// One frame to build: destination, source, optional 802.1Q tags (4 bytes each, big-endian,
// outermost first; tag_bytes a multiple of 4, at most 8), CoS, and the payload behind the
// EtherType.
struct epi_packet_request_type {
    uint32_t out_ifhandle;
    uint8_t dst_mac[6];
    uint8_t src_mac[6];
    const uint8_t *tags;
    uint32_t tag_bytes;
    uint8_t cos;
    const uint8_t *payload;
    uint32_t payload_len;
};

zerrno epi_init(event_mgr_type *evm, uint16_t ethertype, epi_handle_type **out);
void epi_cleanup(epi_handle_type *handle);

// A new context holding the frame, with its output interface (5), current length (6), direction
// out (10), CoS (14), application start (3, the payload's offset) and tag layout (13) set.
zerrno epi_packet_generate(epi_handle_type *handle, const epi_packet_request_type *request, ctx_packet_type **out);
void epi_packet_free(ctx_packet_type *packet);
