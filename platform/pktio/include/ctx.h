// Packet contexts: the one packet record of the packet-I/O service. A context holds the bytes of
// a frame (or of a notification) and a set of numbered options; its bytes are read and written
// through layers.
//
// Options (get/set by number): 3 application start (i16), 4 input interface handle (u32), 5 output
// interface handle (u32), 6 current length (u32), 10 direction (u8; 1 = out), 13 L2 tag layout
// (u32), 14 CoS (u8), 15 timestamp offset (u32), 17 priority (u8), 18 timestamp (variable
// length, 10 bytes), 19 timestamp option (u8), 20 packet-id (u32), 21 VRF ID (u32), 23 context
// subtype (u8: 0 packet, 2 offload notification).
// Layers: 0 the whole context, 1 the frame from its first byte, 2 the network-layer header,
// 3 the application payload, 7 the FIB next-hop data.
//
// A context belongs to one thread at a time; nothing here locks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zerrno.h"

// The service's error table, kept once: the codes below and the texts the service registers with
// the error facility both come from it. X(NAME, number, errno carried, text).
inline constexpr uint32_t PKTIO_ZERR_FACILITY = 0x7f0e;
// clang-format off
#define PKTIO_ZERR_ROWS(X) \
    X(INVALID, 1, 22 /*EINVAL*/, "Invalid argument to the packet I/O service") \
    X(NO_MEMORY, 2, 12 /*ENOMEM*/, "Packet I/O service out of memory") \
    X(NOT_FOUND, 3, 2 /*ENOENT*/, "No such interface, connection or session in the packet I/O service") \
    X(RANGE, 4, 34 /*ERANGE*/, "Offset or option outside the packet context") \
    X(NOT_ATTACHED, 5, 6 /*ENXIO*/, "Interface not attached to this packet I/O connection") \
    X(IO, 6, 5 /*EIO*/, "Packet I/O device failure") \
    X(CLOSED, 7, 32 /*EPIPE*/, "Packet I/O connection closed") \
    X(EXISTS, 8, 17 /*EEXIST*/, "Already known to the packet I/O service") \
    X(NO_LINK, 9, 67 /*ENOLINK*/, "Interface not carried by an in-memory link") \
    X(TOO_BIG, 10, 90 /*EMSGSIZE*/, "Frame too large for the packet I/O relay")
// clang-format on
#define PKTIO_ZERR_CODE_(NAME, number, err, text)                                                                      \
    inline constexpr zerrno PKTIO_ERR_##NAME = zerr_make(PKTIO_ZERR_FACILITY, number, err);
PKTIO_ZERR_ROWS(PKTIO_ZERR_CODE_)
#undef PKTIO_ZERR_CODE_

enum ctx_option_type : uint32_t {
    CTX_OPT_APP_START = 3,
    CTX_OPT_IN_IFHANDLE = 4,
    CTX_OPT_OUT_IFHANDLE = 5,
    CTX_OPT_CURRENT_LENGTH = 6,
    CTX_OPT_DIRECTION = 10,
    CTX_OPT_L2_TAG_LAYOUT = 13,
    CTX_OPT_COS = 14,
    CTX_OPT_TS_OFFSET = 15,
    CTX_OPT_PRIORITY = 17,
    CTX_OPT_TIMESTAMP = 18,
    CTX_OPT_TS_OPTION = 19,
    CTX_OPT_PACKET_ID = 20,
    CTX_OPT_VRF_ID = 21,
    CTX_OPT_SUBTYPE = 23,
};
inline constexpr uint32_t CTX_OPT_COUNT = 32;

enum ctx_layer_type : uint32_t {
    CTX_LAYER_CONTEXT = 0,
    CTX_LAYER_FRAME = 1,
    CTX_LAYER_NETWORK = 2,
    CTX_LAYER_APPLICATION = 3,
    CTX_LAYER_FIB = 7,
};

inline constexpr uint8_t CTX_SUBTYPE_PACKET = 0;
inline constexpr uint8_t CTX_SUBTYPE_OFFLOAD_NOTIFICATION = 2;
inline constexpr size_t CTX_TIMESTAMP_LEN = 10; // 48-bit seconds, 32-bit nanoseconds, big-endian
inline constexpr size_t CTX_FIB_DATA_MAX = 256;

struct ctx_api_type;    // the library handle of a user
struct ctx_packet_type; // one packet context

zerrno ctx_api_init(ctx_api_type **out);
zerrno ctx_api_cleanup(ctx_api_type *api);

// A zeroed context of size bytes (its capacity); null when out of memory or for an invalid handle.
ctx_packet_type *ctx_alloc(ctx_api_type *api, size_t size);
// Frees count contexts of the array (null entries are skipped); the array itself is the caller's.
void ctx_free(ctx_packet_type **packets, uint32_t count);

// Reads up to len bytes of a layer from offset; *nread gets the count read (short at the end of
// the layer). An absent layer or an offset past its end fails.
zerrno ctx_read(ctx_packet_type *packet, uint32_t layer, size_t offset, void *buffer, size_t len, size_t *nread);
// Writes len bytes into a layer at offset; *nwritten gets the count written (short when the
// context's capacity ends first). Writing layer 1 (or 0) at offset 0 defines the frame.
zerrno ctx_write(ctx_packet_type *packet, uint32_t layer, size_t offset, const void *buffer, size_t len,
                 size_t *nwritten);
// A pointer to the layer's bytes at offset and how many of them are contiguous from there.
zerrno ctx_ptr(ctx_packet_type *packet, uint32_t layer, size_t offset, uint8_t **out, size_t *contiguous);

// Option access. A numeric option never set reads as 0; a variable-length one never set fails.
zerrno ctx_get_u8(ctx_packet_type *packet, uint32_t option, uint8_t *out);
zerrno ctx_get_u32(ctx_packet_type *packet, uint32_t option, uint32_t *out);
zerrno ctx_get_i16(ctx_packet_type *packet, uint32_t option, int16_t *out);
// Copies up to len bytes of a variable-length option; *out_len gets the count copied.
zerrno ctx_get_varlength(ctx_packet_type *packet, uint32_t option, void *buffer, size_t len, size_t *out_len);
zerrno ctx_set_u8(ctx_packet_type *packet, uint32_t option, uint8_t value);
zerrno ctx_set_i16(ctx_packet_type *packet, uint32_t option, int16_t value);
zerrno ctx_set_u32(ctx_packet_type *packet, uint32_t option, uint32_t value);
zerrno ctx_set_varlength(ctx_packet_type *packet, uint32_t option, const void *buffer, size_t len);
