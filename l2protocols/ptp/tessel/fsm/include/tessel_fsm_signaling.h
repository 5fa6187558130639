// Signaling messages of unicast negotiation: the four unicast TLVs byte by byte, their
// expected lengths, and the Signaling header the agent sends them in. Pure codec: no port
// state, no I/O. All multi-byte fields are big-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ptp_types.h"
#include "tessel_fsm_msg_hdr.h"
#include "tessel_utils.h" // tessel_tlv_type_to_string: the TLV names of debug lines

// A Signaling message on the wire: the common header, the target port identity (clockIdentity,
// then portNumber), then TLVs back to back. Only its layout is a type: messages are written and
// read byte by byte at these offsets, never through a struct.
struct ptp_signaling_msg_type {
    static constexpr size_t target_clock_off = PTP_MSG_HDR_LEN;
    static constexpr size_t target_port_off = target_clock_off + 8;
    static constexpr size_t tlvs_off = target_port_off + 2;
};

// Signaling header: the common header and the target port identity.
inline constexpr size_t PTP_SIGNALING_HDR_LEN = ptp_signaling_msg_type::tlvs_off;
inline constexpr size_t PTP_SIGNALING_TARGET_OFF = ptp_signaling_msg_type::target_clock_off;
static_assert(PTP_SIGNALING_HDR_LEN == 44);
inline constexpr uint16_t PTP_SIGNALING_FLAGS = 0x0400; // unicastFlag only
inline constexpr int8_t PTP_SIGNALING_LOG_INTERVAL = 0x7F;

// TLV types (ptp_msg_tlv_enum_type).
enum ptp_msg_tlv_enum_type : uint16_t {
    PTP_MSG_TLV_MANAGEMENT = 1,
    PTP_MSG_TLV_MANAGEMENT_ERROR_STATUS = 2,
    PTP_MSG_TLV_ORGANIZATION_EXTENSION = 3,
    PTP_MSG_TLV_REQUEST_UNICAST = 4,
    PTP_MSG_TLV_GRANT_UNICAST = 5,
    PTP_MSG_TLV_CANCEL_UNICAST = 6,
    PTP_MSG_TLV_ACK_CANCEL_UNICAST = 7,
    PTP_MSG_TLV_PATH_TRACE = 8,
    PTP_MSG_TLV_ALTERNATE_TIME_OFFSET = 9,
};

// The TLV header: tlvType, then lengthField (the bytes after these four).
inline constexpr size_t PTP_MSG_TLV_HDR_LEN = 4;
struct ptp_msg_tlv_hdr_type {
    uint16_t tlv_type;
    uint16_t length;
};

// Whole TLV sizes, header included.
inline constexpr size_t PTP_TLV_REQUEST_LEN = 10;
inline constexpr size_t PTP_TLV_GRANT_LEN = 12;
inline constexpr size_t PTP_TLV_CANCEL_LEN = 6;
inline constexpr size_t PTP_TLV_ACK_CANCEL_LEN = 6;

// Grant flags.
inline constexpr uint8_t PTP_GRANT_FLAG_RENEWAL_INVITED = 0x01;

// Decoded bodies. message_type is the ptp_message_type (the upper nibble of the first byte).
struct ptp_unicast_request_tlv_type {
    uint8_t message_type;
    int8_t log_interval;
    uint32_t duration; // seconds
};
struct ptp_unicast_grant_tlv_type {
    uint8_t message_type;
    int8_t log_interval;
    uint32_t duration; // seconds; 0 is a denial
    uint8_t flags;     // PTP_GRANT_FLAG_*
};
// Cancel and Acknowledge-Cancel.
struct ptp_unicast_cancel_tlv_type {
    uint8_t message_type;
};

// The whole length a unicast TLV of this type must have (10, 12, 6, 6); 0 for other types.
size_t ptp_unicast_tlv_expected_len(uint16_t tlv_type);

// Reads the TLV header; false when fewer than 4 bytes are given.
bool ptp_msg_tlv_hdr_decode(const uint8_t *tlv, size_t len, ptp_msg_tlv_hdr_type *out);

// Encoders write one whole TLV at out and return its length, or 0 (nothing written) when space
// is too small.
size_t ptp_unicast_request_tlv_encode(const ptp_unicast_request_tlv_type &tlv, uint8_t *out, size_t space);
size_t ptp_unicast_grant_tlv_encode(const ptp_unicast_grant_tlv_type &tlv, uint8_t *out, size_t space);
// tlv_type: PTP_MSG_TLV_CANCEL_UNICAST or PTP_MSG_TLV_ACK_CANCEL_UNICAST (else 0 is returned).
size_t ptp_unicast_cancel_tlv_encode(uint16_t tlv_type, const ptp_unicast_cancel_tlv_type &tlv, uint8_t *out,
                                     size_t space);

// Decoders read one whole TLV of len bytes (header included). They accept only a TLV of their
// type whose lengthField agrees with both the type and len; false otherwise (nothing stored).
bool ptp_unicast_request_tlv_decode(const uint8_t *tlv, size_t len, ptp_unicast_request_tlv_type *out);
bool ptp_unicast_grant_tlv_decode(const uint8_t *tlv, size_t len, ptp_unicast_grant_tlv_type *out);
bool ptp_unicast_cancel_tlv_decode(const uint8_t *tlv, size_t len, ptp_unicast_cancel_tlv_type *out);

// Writes the target port identity (bytes 34-43) of a Signaling message of at least 44 bytes;
// null writes the all-ones identity.
void ptp_signaling_target_encode(uint8_t *msg, const ptp_port_id_type *target);
