// The unicast TLVs of Signaling messages, byte by byte.
#include "tessel_fsm_signaling.h"

#include "ptp_wire.h"

namespace {

// The TLV header for a whole TLV of total bytes.
void hdr_encode(uint8_t *out, uint16_t type, size_t total)
{
    ptp_wire_put16(out, type);
    ptp_wire_put16(out + 2, static_cast<uint16_t>(total - PTP_MSG_TLV_HDR_LEN));
}

// A received TLV of the given type whose lengthField, the bytes given and the type all agree.
bool whole_tlv_ok(const uint8_t *tlv, size_t len, uint16_t type)
{
    const size_t expected = ptp_unicast_tlv_expected_len(type);
    return tlv != nullptr && expected != 0 && len == expected && ptp_wire_get16(tlv) == type &&
           size_t{ptp_wire_get16(tlv + 2)} + PTP_MSG_TLV_HDR_LEN == expected;
}

} // namespace

size_t ptp_unicast_tlv_expected_len(uint16_t tlv_type)
{
    switch (tlv_type) {
    case PTP_MSG_TLV_REQUEST_UNICAST: return PTP_TLV_REQUEST_LEN;
    case PTP_MSG_TLV_GRANT_UNICAST: return PTP_TLV_GRANT_LEN;
    case PTP_MSG_TLV_CANCEL_UNICAST: return PTP_TLV_CANCEL_LEN;
    case PTP_MSG_TLV_ACK_CANCEL_UNICAST: return PTP_TLV_ACK_CANCEL_LEN;
    default: return 0;
    }
}

bool ptp_msg_tlv_hdr_decode(const uint8_t *tlv, size_t len, ptp_msg_tlv_hdr_type *out)
{
    if (tlv == nullptr || len < PTP_MSG_TLV_HDR_LEN) {
        return false;
    }
    out->tlv_type = ptp_wire_get16(tlv);
    out->length = ptp_wire_get16(tlv + 2);
    return true;
}

size_t ptp_unicast_request_tlv_encode(const ptp_unicast_request_tlv_type &tlv, uint8_t *out, size_t space)
{
    if (out == nullptr || space < PTP_TLV_REQUEST_LEN) {
        return 0;
    }
    hdr_encode(out, PTP_MSG_TLV_REQUEST_UNICAST, PTP_TLV_REQUEST_LEN);
    out[4] = static_cast<uint8_t>(tlv.message_type << 4);
    out[5] = static_cast<uint8_t>(tlv.log_interval);
    ptp_wire_put32(out + 6, tlv.duration);
    return PTP_TLV_REQUEST_LEN;
}

size_t ptp_unicast_grant_tlv_encode(const ptp_unicast_grant_tlv_type &tlv, uint8_t *out, size_t space)
{
    if (out == nullptr || space < PTP_TLV_GRANT_LEN) {
        return 0;
    }
    hdr_encode(out, PTP_MSG_TLV_GRANT_UNICAST, PTP_TLV_GRANT_LEN);
    out[4] = static_cast<uint8_t>(tlv.message_type << 4);
    out[5] = static_cast<uint8_t>(tlv.log_interval);
    ptp_wire_put32(out + 6, tlv.duration);
    out[10] = 0;
    out[11] = tlv.flags;
    return PTP_TLV_GRANT_LEN;
}

size_t ptp_unicast_cancel_tlv_encode(uint16_t tlv_type, const ptp_unicast_cancel_tlv_type &tlv, uint8_t *out,
                                     size_t space)
{
    if (out == nullptr || space < PTP_TLV_CANCEL_LEN ||
        (tlv_type != PTP_MSG_TLV_CANCEL_UNICAST && tlv_type != PTP_MSG_TLV_ACK_CANCEL_UNICAST)) {
        return 0;
    }
    hdr_encode(out, tlv_type, PTP_TLV_CANCEL_LEN);
    out[4] = static_cast<uint8_t>(tlv.message_type << 4);
    out[5] = 0;
    return PTP_TLV_CANCEL_LEN;
}

bool ptp_unicast_request_tlv_decode(const uint8_t *tlv, size_t len, ptp_unicast_request_tlv_type *out)
{
    if (!whole_tlv_ok(tlv, len, PTP_MSG_TLV_REQUEST_UNICAST)) {
        return false;
    }
    out->message_type = tlv[4] >> 4;
    out->log_interval = static_cast<int8_t>(tlv[5]);
    out->duration = ptp_wire_get32(tlv + 6);
    return true;
}

bool ptp_unicast_grant_tlv_decode(const uint8_t *tlv, size_t len, ptp_unicast_grant_tlv_type *out)
{
    if (!whole_tlv_ok(tlv, len, PTP_MSG_TLV_GRANT_UNICAST)) {
        return false;
    }
    out->message_type = tlv[4] >> 4;
    out->log_interval = static_cast<int8_t>(tlv[5]);
    out->duration = ptp_wire_get32(tlv + 6);
    out->flags = tlv[11];
    return true;
}

bool ptp_unicast_cancel_tlv_decode(const uint8_t *tlv, size_t len, ptp_unicast_cancel_tlv_type *out)
{
    if (tlv == nullptr || len < PTP_MSG_TLV_HDR_LEN) {
        return false;
    }
    const uint16_t type = ptp_wire_get16(tlv);
    if (type != PTP_MSG_TLV_CANCEL_UNICAST && type != PTP_MSG_TLV_ACK_CANCEL_UNICAST) {
        return false;
    }
    if (!whole_tlv_ok(tlv, len, type)) {
        return false;
    }
    out->message_type = tlv[4] >> 4;
    return true;
}

void ptp_signaling_target_encode(uint8_t *msg, const ptp_port_id_type *target)
{
    uint8_t *p = msg + PTP_SIGNALING_TARGET_OFF;
    if (target == nullptr) {
        for (size_t i = 0; i < 10; i++) {
            p[i] = 0xFF;
        }
        return;
    }
    ptp_wire_put64(p, target->clock_id);
    ptp_wire_put16(p + 8, target->port_num);
}
