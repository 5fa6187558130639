// The IEEE 1588 version 2 common header: its layout, its flags and its decoder. Kept apart so
// that every reader of a received message (the packet receive path, the state machine, the
// Signaling codec) takes the header's constants from one place and the header is read once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ptp_types.h"
#include "ptp_wire.h"

// ---- IEEE 1588 version 2 common header (34 bytes, big-endian) ----

inline constexpr size_t PTP_MSG_HDR_LEN = 34;
inline constexpr uint8_t PTP_VERSION = 2;

// The header as it stands on the wire.
struct ptp_msg_hdr_type {
    uint8_t octets[PTP_MSG_HDR_LEN];
};
static_assert(sizeof(ptp_msg_hdr_type) == PTP_MSG_HDR_LEN);

// Byte offsets of the header fields.
enum ptp_msg_hdr_offset_type : uint32_t {
    PTP_HDR_OFF_TYPE = 0,    // high nibble transportSpecific, low nibble messageType
    PTP_HDR_OFF_VERSION = 1, // low nibble versionPTP
    PTP_HDR_OFF_LENGTH = 2,
    PTP_HDR_OFF_DOMAIN = 4,
    PTP_HDR_OFF_FLAGS = 6,
    PTP_HDR_OFF_CORRECTION = 8,
    PTP_HDR_OFF_SOURCE_CLOCK = 20,
    PTP_HDR_OFF_SOURCE_PORT = 28,
    PTP_HDR_OFF_SEQUENCE = 30,
    PTP_HDR_OFF_CONTROL = 32,
    PTP_HDR_OFF_LOG_INTERVAL = 33,
};

// flagField bits (ptp_msg_flags_type).
enum ptp_msg_flags_type : uint16_t {
    PTP_FLAG_LEAP61 = 0x0001,
    PTP_FLAG_LEAP59 = 0x0002,
    PTP_FLAG_UTC_OFFSET_VALID = 0x0004,
    PTP_FLAG_PTP_TIMESCALE = 0x0008,
    PTP_FLAG_TIME_TRACEABLE = 0x0010,
    PTP_FLAG_FREQUENCY_TRACEABLE = 0x0020,
    PTP_FLAG_ALTERNATE_MASTER = 0x0100,
    PTP_FLAG_UNICAST = 0x0400,
};

// Minimum lengths of the messages the agent reads.
inline constexpr size_t PTP_ANNOUNCE_MIN_LEN = 64;

// Decoded header fields of a received message.
struct ptp_msg_hdr_fields_type {
    uint8_t transport_specific;
    uint8_t message_type; // ptp_message_type
    uint8_t version;
    uint16_t message_length;
    uint8_t domain;
    uint16_t flags;
    int64_t correction;
    ptp_port_id_type source_port_id;
    uint16_t sequence_id;
    uint8_t control;
    int8_t log_interval;
};

// Decodes the first 34 bytes; false (nothing read) when len is below 34.
inline bool ptp_msg_hdr_decode(const uint8_t *msg, size_t len, ptp_msg_hdr_fields_type *out)
{
    if (msg == nullptr || len < PTP_MSG_HDR_LEN) {
        return false;
    }
    out->transport_specific = msg[PTP_HDR_OFF_TYPE] >> 4;
    out->message_type = msg[PTP_HDR_OFF_TYPE] & 0x0F;
    out->version = msg[PTP_HDR_OFF_VERSION] & 0x0F;
    out->message_length = ptp_wire_get16(msg + PTP_HDR_OFF_LENGTH);
    out->domain = msg[PTP_HDR_OFF_DOMAIN];
    out->flags = ptp_wire_get16(msg + PTP_HDR_OFF_FLAGS);
    out->correction = static_cast<int64_t>(ptp_wire_get64(msg + PTP_HDR_OFF_CORRECTION));
    out->source_port_id.clock_id = ptp_wire_get64(msg + PTP_HDR_OFF_SOURCE_CLOCK);
    out->source_port_id.port_num = ptp_wire_get16(msg + PTP_HDR_OFF_SOURCE_PORT);
    out->sequence_id = ptp_wire_get16(msg + PTP_HDR_OFF_SEQUENCE);
    out->control = msg[PTP_HDR_OFF_CONTROL];
    out->log_interval = static_cast<int8_t>(msg[PTP_HDR_OFF_LOG_INTERVAL]);
    return true;
}
