#include "ptp_comms_msg.h"

#include <cstring>

#include "ptp_address.h"
#include "ptp_clock.h"
#include "ptp_wire.h"
#include "ptp_zerr_codes.h"

namespace {

// ptp_comms_msg_announce offsets.
constexpr size_t ANNOUNCE_LOCAL_CLOCK_ID = 0;
constexpr size_t ANNOUNCE_DOMAIN = 8;
constexpr size_t ANNOUNCE_GLOBAL_BMC = 16;
constexpr size_t ANNOUNCE_SYNCED = 96;
constexpr size_t ANNOUNCE_ADVERTISED = 104;
constexpr size_t ANNOUNCE_SLAVE_SUPPORTED = 184;
constexpr size_t ANNOUNCE_SELECTED = 188;
static_assert(ANNOUNCE_SELECTED + 4 == PTP_COMMS_MSG_ANNOUNCE_SIZE);

// ptp_comms_msg_bmc offsets.
constexpr size_t BMC_PRESENT = 0;
constexpr size_t BMC_CLOCK = 8;
constexpr size_t BMC_IFHANDLE = 88;
constexpr size_t BMC_ADDRESS = 96;
constexpr size_t BMC_SYNC_INTERVAL = 120;
constexpr size_t BMC_DELAY_REQ_INTERVAL = 124;
constexpr size_t BMC_DELAY_ASYMMETRY = 128;
static_assert(BMC_ADDRESS + PTP_ADDRESS_WIRE_SIZE == BMC_SYNC_INTERVAL);
static_assert(BMC_DELAY_ASYMMETRY + 8 == PTP_COMMS_MSG_BMC_SIZE);

constexpr size_t COUNT_SIZE = 4;

// 4 + item_size x count, or SIZE_MAX when that does not fit a size_t (never on 64-bit hosts).
size_t counted_size(uint32_t count, size_t item_size)
{
    if (count > (SIZE_MAX - COUNT_SIZE) / item_size) {
        return SIZE_MAX;
    }
    return COUNT_SIZE + item_size * count;
}

// The count of a counted message, checked against the bytes received: it must not name more
// items than follow it (exact: nor fewer).
zerrno counted_decode(const uint8_t *in, size_t len, size_t item_size, bool exact, uint32_t *count)
{
    if (in == nullptr || len < COUNT_SIZE) {
        return PTP_ZERR_INVALID_ARG;
    }
    const uint32_t n = ptp_wire_get32(in);
    const size_t room = (len - COUNT_SIZE) / item_size;
    if (n > room || (exact && (len - COUNT_SIZE) != item_size * n)) {
        return PTP_ZERR_INVALID_ARG;
    }
    *count = n;
    return ZERR_OK;
}

} // namespace

void ptp_comms_msg_announce_encode(const ptp_comms_msg_announce *msg, uint8_t out[PTP_COMMS_MSG_ANNOUNCE_SIZE])
{
    std::memset(out, 0, PTP_COMMS_MSG_ANNOUNCE_SIZE);
    ptp_wire_put64(out + ANNOUNCE_LOCAL_CLOCK_ID, msg->local_clock_id);
    ptp_wire_put8(out + ANNOUNCE_DOMAIN, msg->domain);
    ptp_clock_to_wire(&msg->global_bmc, out + ANNOUNCE_GLOBAL_BMC);
    ptp_wire_put32(out + ANNOUNCE_SYNCED, msg->bmc_synced);
    ptp_clock_to_wire(&msg->advertised, out + ANNOUNCE_ADVERTISED);
    ptp_wire_put32(out + ANNOUNCE_SLAVE_SUPPORTED, msg->slave_supported);
    ptp_wire_put32(out + ANNOUNCE_SELECTED, msg->bmc_selected);
}

zerrno ptp_comms_msg_announce_decode(const uint8_t *in, size_t len, ptp_comms_msg_announce *out)
{
    if (in == nullptr || out == nullptr || len < PTP_COMMS_MSG_ANNOUNCE_SIZE) {
        return PTP_ZERR_INVALID_ARG;
    }
    ptp_comms_msg_announce m{};
    m.local_clock_id = ptp_wire_get64(in + ANNOUNCE_LOCAL_CLOCK_ID);
    m.domain = ptp_wire_get8(in + ANNOUNCE_DOMAIN);
    zerrno rc = ptp_clock_from_wire(in + ANNOUNCE_GLOBAL_BMC, PTP_CLOCK_WIRE_SIZE, &m.global_bmc);
    if (rc == ZERR_OK) {
        rc = ptp_clock_from_wire(in + ANNOUNCE_ADVERTISED, PTP_CLOCK_WIRE_SIZE, &m.advertised);
    }
    if (rc != ZERR_OK) {
        return rc;
    }
    m.bmc_synced = ptp_wire_get32(in + ANNOUNCE_SYNCED);
    m.slave_supported = ptp_wire_get32(in + ANNOUNCE_SLAVE_SUPPORTED);
    m.bmc_selected = ptp_wire_get32(in + ANNOUNCE_SELECTED);
    *out = m;
    return ZERR_OK;
}

void ptp_comms_msg_bmc_encode(const ptp_comms_msg_bmc *msg, uint8_t out[PTP_COMMS_MSG_BMC_SIZE])
{
    std::memset(out, 0, PTP_COMMS_MSG_BMC_SIZE);
    if (msg->present == 0) {
        return;
    }
    ptp_wire_put32(out + BMC_PRESENT, msg->present);
    ptp_clock_to_wire(&msg->clock, out + BMC_CLOCK);
    ptp_wire_put32(out + BMC_IFHANDLE, msg->ifhandle);
    ptp_address_to_wire(&msg->address, out + BMC_ADDRESS);
    ptp_wire_put32(out + BMC_SYNC_INTERVAL, static_cast<uint32_t>(msg->sync_interval));
    ptp_wire_put32(out + BMC_DELAY_REQ_INTERVAL, static_cast<uint32_t>(msg->min_delay_req_interval));
    ptp_wire_put32(out + BMC_DELAY_ASYMMETRY, static_cast<uint32_t>(msg->delay_asymmetry));
}

zerrno ptp_comms_msg_bmc_decode(const uint8_t *in, size_t len, ptp_comms_msg_bmc *out)
{
    if (in == nullptr || out == nullptr || len < PTP_COMMS_MSG_BMC_SIZE) {
        return PTP_ZERR_INVALID_ARG;
    }
    ptp_comms_msg_bmc m{};
    m.present = ptp_wire_get32(in + BMC_PRESENT);
    zerrno rc = ptp_clock_from_wire(in + BMC_CLOCK, PTP_CLOCK_WIRE_SIZE, &m.clock);
    if (rc == ZERR_OK) {
        rc = ptp_address_from_wire(in + BMC_ADDRESS, PTP_ADDRESS_WIRE_SIZE, &m.address);
    }
    if (rc != ZERR_OK) {
        return rc;
    }
    m.ifhandle = ptp_wire_get32(in + BMC_IFHANDLE);
    m.sync_interval = static_cast<int32_t>(ptp_wire_get32(in + BMC_SYNC_INTERVAL));
    m.min_delay_req_interval = static_cast<int32_t>(ptp_wire_get32(in + BMC_DELAY_REQ_INTERVAL));
    m.delay_asymmetry = static_cast<int32_t>(ptp_wire_get32(in + BMC_DELAY_ASYMMETRY));
    *out = m;
    return ZERR_OK;
}

size_t ptp_comms_msg_time_update_size(uint32_t count)
{
    return counted_size(count, PTP_COMMS_TIME_RECORD_SIZE);
}

zerrno ptp_comms_msg_time_update_encode(const ptp_comms_time_record_type *records, uint32_t count, uint8_t *out,
                                        size_t out_len)
{
    if (out == nullptr || (records == nullptr && count != 0) || out_len < ptp_comms_msg_time_update_size(count)) {
        return PTP_ZERR_INVALID_ARG;
    }
    ptp_wire_put32(out, count);
    uint8_t *p = out + COUNT_SIZE;
    for (uint32_t i = 0; i < count; i++, p += PTP_COMMS_TIME_RECORD_SIZE) {
        ptp_wire_put32(p, records[i].message);
        std::memcpy(p + 4, records[i].timestamps, PTP_COMMS_TIME_RECORD_STAMPS_SIZE);
    }
    return ZERR_OK;
}

zerrno ptp_comms_msg_time_update_decode(const uint8_t *in, size_t len, ptp_comms_msg_time_update_view *out)
{
    uint32_t count = 0;
    if (out == nullptr) {
        return PTP_ZERR_INVALID_ARG;
    }
    const zerrno rc = counted_decode(in, len, PTP_COMMS_TIME_RECORD_SIZE, true, &count);
    if (rc != ZERR_OK) {
        return rc;
    }
    out->count = count;
    out->records = in + COUNT_SIZE;
    return ZERR_OK;
}

void ptp_comms_msg_time_update_record(const ptp_comms_msg_time_update_view *view, uint32_t index,
                                      ptp_comms_time_record_type *out)
{
    const uint8_t *p = view->records + size_t{index} * PTP_COMMS_TIME_RECORD_SIZE;
    out->message = ptp_wire_get32(p);
    std::memcpy(out->timestamps, p + 4, PTP_COMMS_TIME_RECORD_STAMPS_SIZE);
}

size_t ptp_comms_msg_port_num_handles_size(uint32_t count)
{
    return counted_size(count, PTP_COMMS_PORT_NUM_HANDLE_SIZE);
}

size_t ptp_comms_msg_port_num_entries_size(uint32_t count)
{
    return counted_size(count, PTP_COMMS_PORT_NUM_ENTRY_SIZE);
}

zerrno ptp_comms_msg_port_num_handles_encode(const ifhtype *handles, uint32_t count, uint8_t *out, size_t out_len)
{
    if (out == nullptr || (handles == nullptr && count != 0) || out_len < ptp_comms_msg_port_num_handles_size(count)) {
        return PTP_ZERR_INVALID_ARG;
    }
    ptp_wire_put32(out, count);
    for (uint32_t i = 0; i < count; i++) {
        ptp_wire_put32(out + COUNT_SIZE + size_t{i} * PTP_COMMS_PORT_NUM_HANDLE_SIZE, handles[i]);
    }
    return ZERR_OK;
}

zerrno ptp_comms_msg_port_num_entries_encode(const tessel_port_num_entry_type *entries, uint32_t count, uint8_t *out,
                                             size_t out_len)
{
    if (out == nullptr || (entries == nullptr && count != 0) || out_len < ptp_comms_msg_port_num_entries_size(count)) {
        return PTP_ZERR_INVALID_ARG;
    }
    ptp_wire_put32(out, count);
    for (uint32_t i = 0; i < count; i++) {
        uint8_t *p = out + COUNT_SIZE + size_t{i} * PTP_COMMS_PORT_NUM_ENTRY_SIZE;
        ptp_wire_put32(p, entries[i].ifhandle);
        ptp_wire_put16(p + 4, entries[i].port_num);
        ptp_wire_put16(p + 6, 0);
    }
    return ZERR_OK;
}

zerrno ptp_comms_msg_port_num_handles_decode(const uint8_t *in, size_t len, ptp_comms_msg_port_num_view *out)
{
    uint32_t count = 0;
    if (out == nullptr) {
        return PTP_ZERR_INVALID_ARG;
    }
    const zerrno rc = counted_decode(in, len, PTP_COMMS_PORT_NUM_HANDLE_SIZE, false, &count);
    if (rc != ZERR_OK) {
        return rc;
    }
    out->count = count;
    out->items = in + COUNT_SIZE;
    return ZERR_OK;
}

zerrno ptp_comms_msg_port_num_entries_decode(const uint8_t *in, size_t len, ptp_comms_msg_port_num_view *out)
{
    uint32_t count = 0;
    if (out == nullptr) {
        return PTP_ZERR_INVALID_ARG;
    }
    const zerrno rc = counted_decode(in, len, PTP_COMMS_PORT_NUM_ENTRY_SIZE, false, &count);
    if (rc != ZERR_OK) {
        return rc;
    }
    out->count = count;
    out->items = in + COUNT_SIZE;
    return ZERR_OK;
}

ifhtype ptp_comms_msg_port_num_handle(const ptp_comms_msg_port_num_view *view, uint32_t index)
{
    return ptp_wire_get32(view->items + size_t{index} * PTP_COMMS_PORT_NUM_HANDLE_SIZE);
}

tessel_port_num_entry_type ptp_comms_msg_port_num_entry(const ptp_comms_msg_port_num_view *view, uint32_t index)
{
    const uint8_t *p = view->items + size_t{index} * PTP_COMMS_PORT_NUM_ENTRY_SIZE;
    return tessel_port_num_entry_type{ptp_wire_get32(p), ptp_wire_get16(p + 4)};
}
