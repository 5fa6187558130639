// Best-master selection's checkpoint: one "BMC clock" entry per node's clock record and the one
// "BMC Global" entry with the three flags that must survive a restart or a switchover. Only the
// primary on the KVOLM node or a line card writes; elsewhere the same paths keep the records in
// memory and leave the checkpoint alone.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "chkpt.h"
#include "issul.h"
#include "plat_clock.h"
#include "ptp_enums.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "quorrin_bmc.h"
#include "quorrin_debug.h"
#include "quorrin_ha.h"
#include "quorrin_main.h"
#include "sysmgr.h"

namespace {

constexpr uint32_t AREA = quorrin_debug_area("bmc");
constexpr uint32_t REGISTER_TRIES = 10;
// Passed to the service as its table descriptors' record counts.
constexpr uint32_t CLOCK_TABLE_COUNT = 40;
constexpr uint32_t GLOBAL_TABLE_COUNT = 1;
// The checkpoint service answers a primary that asks again; give it the same patience as the
// table registrations.
constexpr uint32_t GO_PRIMARY_TRIES = 10;

// The "BMC clock" entry (host byte order).
constexpr size_t ENTRY_NODE_ID = 0;
constexpr size_t ENTRY_CLOCK = 8;
constexpr size_t ENTRY_IFHANDLE = 88;
constexpr size_t ENTRY_ADDRESS = 96;
constexpr size_t ENTRY_ADDRESS_VALUE = 104;
constexpr size_t ENTRY_LOG_SYNC = 120;
constexpr size_t ENTRY_LOG_DELAY_REQ = 124;
constexpr size_t ENTRY_DELAY_ASYMMETRY = 128;
static_assert(ENTRY_ADDRESS_VALUE + PTP_ADDRESS_VALUE_LEN == ENTRY_LOG_SYNC);

// Protocol-buffers wire types and the global record's fields.
constexpr uint32_t WIRE_VARINT = 0;
constexpr uint32_t WIRE_FIXED64 = 1;
constexpr uint32_t WIRE_LENGTH = 2;
constexpr uint32_t WIRE_FIXED32 = 5;
constexpr uint32_t FIELD_SEEN_PRTC = 1;
constexpr uint32_t FIELD_SERVO_EVER_SYNCED = 2;
constexpr uint32_t FIELD_LOCAL_CLOCK_GM = 3;
constexpr size_t TAG_MAX_BYTES = 5;

struct chkpt_state_type {
    chkpt_tbl_type *clock_table = nullptr;
    chkpt_tbl_type *global_table = nullptr;
    chkpt_objid global_id = 0; // the "BMC Global" entry, 0 when none
};

chkpt_state_type state;

const char *node_str(uint32_t node_id)
{
    static char buffer[64];
    if (nodeid_to_str_external(node_id, buffer, sizeof(buffer)) != 0) {
        std::snprintf(buffer, sizeof(buffer), "0x%x", node_id);
    }
    return buffer;
}

const char *bool_str(bool value)
{
    return value ? "TRUE" : "FALSE";
}

unsigned long clock_id(const quorrin_bmc_clock_type *record)
{
    return static_cast<unsigned long>(record->clock.clock_id);
}

// The writing rule: the primary on the KVOLM node or a line card, once the table is registered.
bool writes_allowed(const chkpt_tbl_type *table)
{
    return table != nullptr && quorrin_ha_get_issu_role() == ISSUL_ROLE_PRIMARY && quorrin_main_is_kvolm_or_lc();
}

// The process retries in place; on virtual time the pause is skipped.
void retry_pause()
{
    if (!plat_clock_is_virtual()) {
        sleep(1);
    }
}

zerrno register_table(uint32_t table_id, uint32_t record_size, uint32_t count, const char *failure,
                      chkpt_tbl_type **out)
{
    chkpt_tbldesc_type desc;
    chkpt_tbldesc_init(&desc);
    desc.table_id = table_id;
    desc.record_size = record_size;
    desc.max_records = count;
    zerrno rc = 0;
    for (uint32_t attempt = 1; (rc = chkpt_register(&desc, out)) != 0; attempt++) {
        *out = nullptr;
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Failed to register with checkpoint: %s, retrying.", zerr_strerror(rc));
        if (attempt == REGISTER_TRIES) {
            ptp_syslog_init_failed(failure, zerr_strerror(rc));
            return rc;
        }
        retry_pause();
    }
    return 0;
}

// Deletes an entry that no record owns (nothing outside the writing rule).
void delete_entry(chkpt_tbl_type *table, chkpt_objid objid)
{
    if (!writes_allowed(table)) {
        return;
    }
    const zerrno rc = chkpt_delete(table, objid);
    if (rc != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Failed to delete checkpoint entry 0x%lx: %s",
                          static_cast<unsigned long>(objid), zerr_strerror(rc));
    }
}

// ---- Host-order fields of the clock entry ------------------------------------------------------

template <typename T>
void put(uint8_t *out, size_t offset, T value)
{
    std::memcpy(out + offset, &value, sizeof(T));
}

template <typename T>
T get(const uint8_t *in, size_t offset)
{
    T value;
    std::memcpy(&value, in + offset, sizeof(T));
    return value;
}

// The clock at its record offsets, field by field, so that the record's padding never reaches
// the checkpoint.
void clock_put(uint8_t *out, const ptp_clock_type &c)
{
    put(out, offsetof(ptp_clock_type, clock_id), c.clock_id);
    put(out, offsetof(ptp_clock_type, priority1), c.priority1);
    put(out, offsetof(ptp_clock_type, clock_class), c.clock_class);
    put(out, offsetof(ptp_clock_type, accuracy), c.accuracy);
    put(out, offsetof(ptp_clock_type, offset_log_variance), c.offset_log_variance);
    put(out, offsetof(ptp_clock_type, priority2), c.priority2);
    put(out, offsetof(ptp_clock_type, steps_removed), c.steps_removed);
    put(out, offsetof(ptp_clock_type, time_source), c.time_source);
    put(out, offsetof(ptp_clock_type, utc_offset), c.utc_offset);
    put(out, offsetof(ptp_clock_type, utc_offset_valid), c.utc_offset_valid);
    put(out, offsetof(ptp_clock_type, frequency_traceable), c.frequency_traceable);
    put(out, offsetof(ptp_clock_type, time_traceable), c.time_traceable);
    put(out, offsetof(ptp_clock_type, timescale), c.timescale);
    put(out, offsetof(ptp_clock_type, leap_seconds), c.leap_seconds);
    put(out, offsetof(ptp_clock_type, sender), c.sender.clock_id);
    put(out, offsetof(ptp_clock_type, sender) + 8, c.sender.port_num);
    put(out, offsetof(ptp_clock_type, receiver), c.receiver.clock_id);
    put(out, offsetof(ptp_clock_type, receiver) + 8, c.receiver.port_num);
    put(out, offsetof(ptp_clock_type, local), c.local);
    put(out, offsetof(ptp_clock_type, configured_clock_class), c.configured_clock_class);
    put(out, offsetof(ptp_clock_type, configured_priority), c.configured_priority);
}

ptp_clock_type clock_get(const uint8_t *in)
{
    ptp_clock_type c{};
    c.clock_id = get<uint64_t>(in, offsetof(ptp_clock_type, clock_id));
    c.priority1 = get<uint8_t>(in, offsetof(ptp_clock_type, priority1));
    c.clock_class = get<uint8_t>(in, offsetof(ptp_clock_type, clock_class));
    c.accuracy = get<uint8_t>(in, offsetof(ptp_clock_type, accuracy));
    c.offset_log_variance = get<uint16_t>(in, offsetof(ptp_clock_type, offset_log_variance));
    c.priority2 = get<uint8_t>(in, offsetof(ptp_clock_type, priority2));
    c.steps_removed = get<uint16_t>(in, offsetof(ptp_clock_type, steps_removed));
    c.time_source = get<uint8_t>(in, offsetof(ptp_clock_type, time_source));
    c.utc_offset = get<int16_t>(in, offsetof(ptp_clock_type, utc_offset));
    c.utc_offset_valid = get<uint32_t>(in, offsetof(ptp_clock_type, utc_offset_valid));
    c.frequency_traceable = get<uint32_t>(in, offsetof(ptp_clock_type, frequency_traceable));
    c.time_traceable = get<uint32_t>(in, offsetof(ptp_clock_type, time_traceable));
    c.timescale = get<uint8_t>(in, offsetof(ptp_clock_type, timescale));
    c.leap_seconds = get<uint8_t>(in, offsetof(ptp_clock_type, leap_seconds));
    c.sender.clock_id = get<uint64_t>(in, offsetof(ptp_clock_type, sender));
    c.sender.port_num = get<uint16_t>(in, offsetof(ptp_clock_type, sender) + 8);
    c.receiver.clock_id = get<uint64_t>(in, offsetof(ptp_clock_type, receiver));
    c.receiver.port_num = get<uint16_t>(in, offsetof(ptp_clock_type, receiver) + 8);
    c.local = get<uint32_t>(in, offsetof(ptp_clock_type, local));
    c.configured_clock_class = get<uint8_t>(in, offsetof(ptp_clock_type, configured_clock_class));
    c.configured_priority = get<uint8_t>(in, offsetof(ptp_clock_type, configured_priority));
    return c;
}

void entry_encode(const quorrin_bmc_clock_type *record, uint8_t out[QUORRIN_BMC_CHKPT_CLOCK_ENTRY_SIZE])
{
    std::memset(out, 0, QUORRIN_BMC_CHKPT_CLOCK_ENTRY_SIZE);
    put(out, ENTRY_NODE_ID, record->node_id);
    clock_put(out + ENTRY_CLOCK, record->clock);
    put(out, ENTRY_IFHANDLE, record->ifhandle);
    put(out, ENTRY_ADDRESS, record->address.encap);
    std::memcpy(out + ENTRY_ADDRESS_VALUE, record->address.value, PTP_ADDRESS_VALUE_LEN);
    put(out, ENTRY_LOG_SYNC, record->log_sync_interval);
    put(out, ENTRY_LOG_DELAY_REQ, record->log_delay_req_interval);
    put(out, ENTRY_DELAY_ASYMMETRY, record->delay_asymmetry);
}

// What an entry read back holds; false when it cannot be a clock record (wrong size, an unknown
// address kind, or the local clock, which is never ranked).
struct entry_type {
    uint32_t node_id;
    ptp_clock_type clock;
    uint32_t ifhandle;
    ptp_address_type address;
    int32_t log_sync_interval;
    int32_t log_delay_req_interval;
    int32_t delay_asymmetry;
};

bool entry_decode(const uint8_t *in, size_t length, entry_type *out)
{
    if (length != QUORRIN_BMC_CHKPT_CLOCK_ENTRY_SIZE) {
        return false;
    }
    out->node_id = get<uint32_t>(in, ENTRY_NODE_ID);
    out->clock = clock_get(in + ENTRY_CLOCK);
    out->ifhandle = get<uint32_t>(in, ENTRY_IFHANDLE);
    out->address = ptp_address_type{};
    out->address.encap = get<uint32_t>(in, ENTRY_ADDRESS);
    std::memcpy(out->address.value, in + ENTRY_ADDRESS_VALUE, PTP_ADDRESS_VALUE_LEN);
    out->log_sync_interval = get<int32_t>(in, ENTRY_LOG_SYNC);
    out->log_delay_req_interval = get<int32_t>(in, ENTRY_LOG_DELAY_REQ);
    out->delay_asymmetry = get<int32_t>(in, ENTRY_DELAY_ASYMMETRY);
    const bool known_kind = out->address.encap >= PTP_ENCAP_ETHERNET && out->address.encap <= PTP_ENCAP_IPV6;
    return known_kind && out->clock.local == 0;
}

// ---- Varints of the global record --------------------------------------------------------------

// Reads one varint of at most max_bytes (0: any length); false when the bytes run out first or
// it is longer.
bool varint_read(const uint8_t *in, size_t length, size_t *pos, size_t max_bytes, uint64_t *value, bool *nonzero)
{
    uint64_t v = 0;
    bool any = false;
    for (size_t n = 0; *pos < length; n++) {
        if (max_bytes != 0 && n == max_bytes) {
            return false;
        }
        const uint8_t byte = in[(*pos)++];
        if (n < 10) {
            v |= uint64_t{byte & 0x7Fu} << (7 * n);
        }
        any = any || (byte & 0x7F) != 0;
        if ((byte & 0x80) == 0) {
            *value = v;
            if (nonzero != nullptr) {
                *nonzero = any;
            }
            return true;
        }
    }
    return false;
}

bool skip(size_t length, size_t *pos, uint64_t count)
{
    if (count > length - *pos) {
        return false;
    }
    *pos += static_cast<size_t>(count);
    return true;
}

quorrin_bmc_global_chkpt_type global_record()
{
    quorrin_bmc_global_chkpt_type r{};
    r.seen_prtc = quorrin_bmc_get_seen_prtc();
    r.servo_ever_synced = quorrin_bmc_get_servo_ever_synced();
    r.local_clock_gm = quorrin_bmc_get_local_clock_gm();
    r.present = QUORRIN_BMC_GLOBAL_HAS_SEEN_PRTC | QUORRIN_BMC_GLOBAL_HAS_SERVO_EVER_SYNCED |
                QUORRIN_BMC_GLOBAL_HAS_LOCAL_CLOCK_GM;
    return r;
}

// Go primary-active with the checkpoint service. A controller that cannot is no primary: it ends,
// and the process manager starts it again, which finds the entries this one never touched.
void go_primary_with_checkpoint()
{
    zerrno rc = 0;
    for (uint32_t attempt = 1; (rc = chkpt_go_primary_active()) != 0; attempt++) {
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Failed to go primary active with checkpoint: %s", zerr_strerror(rc));
        if (attempt == GO_PRIMARY_TRIES) {
            std::fprintf(stderr, "chkpt_go_primary_active() == 0\n");
            std::abort();
        }
        retry_pause();
    }
}

// Walks a table, giving each entry to fn until it answers false; the walk stops at the end or an
// error.
constexpr const char *CONTINUE_FAILURE = "%s: [ERROR] Failed to continue checkpoint iteration: %s";
template <typename Fn>
void walk(chkpt_tbl_type *table, uint8_t *buffer, uint16_t size, const char *start_failure, const char *next_failure,
          Fn fn)
{
    chkpt_iter_type *iter = nullptr;
    zerrno rc = chkpt_iterate_start(table, &iter);
    if (rc != 0) {
        QUORRIN_DEBUG_ERR(AREA, start_failure, zerr_strerror(rc));
        return;
    }
    for (;;) {
        chkpt_objid objid = 0;
        uint16_t length = size;
        rc = chkpt_iterate_next(iter, &objid, buffer, &length);
        if (rc != 0) {
            QUORRIN_DEBUG_ERR(AREA, next_failure, zerr_strerror(rc));
            break;
        }
        if (objid == 0 || !fn(objid, length)) {
            break;
        }
    }
    chkpt_iterate_end(iter);
}

// The clock entries a restarted or newly started controller finds: a record for each node that
// has none yet, not written back.
void clock_recover()
{
    uint8_t buffer[QUORRIN_BMC_CHKPT_CLOCK_ENTRY_SIZE];
    walk(state.clock_table, buffer, sizeof(buffer), "%s: [ERROR] Failed to start checkpoint iteration: %s",
         CONTINUE_FAILURE, [&](chkpt_objid objid, uint16_t length) {
             entry_type e{};
             if (!entry_decode(buffer, length, &e)) {
                 delete_entry(state.clock_table, objid);
                 return true;
             }
             const unsigned long id = static_cast<unsigned long>(objid);
             const quorrin_bmc_clock_type *existing = quorrin_bmc_find_clock(e.node_id);
             if (existing != nullptr) {
                 QUORRIN_DEBUG(AREA,
                               "%s: Ignored extra clock %lx (%s) from node %s(0x%x) from checkpoint. Checkpoint ID "
                               "0x%lx",
                               static_cast<unsigned long>(e.clock.clock_id), ptp_address_to_str(&e.address),
                               node_str(e.node_id), e.node_id, id);
                 return true;
             }
             quorrin_bmc_clock_type *record =
                 quorrin_bmc_clock_create(e.node_id, &e.clock, e.ifhandle, &e.address, e.log_sync_interval,
                                          e.log_delay_req_interval, e.delay_asymmetry);
             if (record == nullptr) {
                 return true;
             }
             record->chkpt_id = objid;
             QUORRIN_DEBUG(AREA, "%s: Recovered clock %lx (%s) from node %s(0x%x) from checkpoint. Checkpoint ID 0x%lx",
                           clock_id(record), ptp_address_to_str(&record->address), node_str(record->node_id),
                           record->node_id, id);
             quorrin_bmc_add_clock_to_tree(record);
             quorrin_bmc_add_clock_to_ranked_list(record);
             return true;
         });
}

} // namespace

// ---- The global record's codec -----------------------------------------------------------------

size_t quorrin_bmc_gpb_global_pack(const quorrin_bmc_global_chkpt_type *record, uint8_t *buffer, size_t capacity)
{
    const struct {
        uint8_t bit;
        uint32_t field;
        bool value;
    } fields[] = {
        {QUORRIN_BMC_GLOBAL_HAS_SEEN_PRTC, FIELD_SEEN_PRTC, record->seen_prtc},
        {QUORRIN_BMC_GLOBAL_HAS_SERVO_EVER_SYNCED, FIELD_SERVO_EVER_SYNCED, record->servo_ever_synced},
        {QUORRIN_BMC_GLOBAL_HAS_LOCAL_CLOCK_GM, FIELD_LOCAL_CLOCK_GM, record->local_clock_gm},
    };
    size_t size = 0;
    for (const auto &f : fields) {
        size += (record->present & f.bit) != 0 ? 2 : 0;
    }
    if (buffer == nullptr) {
        return size;
    }
    if (capacity < size) {
        return 0;
    }
    size_t pos = 0;
    for (const auto &f : fields) {
        if ((record->present & f.bit) != 0) {
            buffer[pos++] = static_cast<uint8_t>(f.field << 3 | WIRE_VARINT);
            buffer[pos++] = f.value ? 1 : 0;
        }
    }
    return pos;
}

int quorrin_bmc_gpb_global_unpack(quorrin_bmc_global_chkpt_type *record, const uint8_t *bytes, size_t length, void *)
{
    *record = quorrin_bmc_global_chkpt_type{};
    if (bytes == nullptr && length != 0) {
        return QUORRIN_BMC_GPB_TRUNCATED;
    }
    size_t pos = 0;
    while (pos < length) {
        uint64_t tag = 0;
        if (!varint_read(bytes, length, &pos, TAG_MAX_BYTES, &tag, nullptr)) {
            return QUORRIN_BMC_GPB_TRUNCATED;
        }
        const uint64_t field = tag >> 3;
        const uint32_t wire_type = static_cast<uint32_t>(tag & 7);
        if (field >= FIELD_SEEN_PRTC && field <= FIELD_LOCAL_CLOCK_GM) {
            if (wire_type != WIRE_VARINT) {
                return QUORRIN_BMC_GPB_BAD_WIRE_TYPE;
            }
            uint64_t value = 0;
            bool nonzero = false;
            if (!varint_read(bytes, length, &pos, 0, &value, &nonzero)) {
                return QUORRIN_BMC_GPB_TRUNCATED;
            }
            bool *const flags[] = {&record->seen_prtc, &record->servo_ever_synced, &record->local_clock_gm};
            *flags[field - FIELD_SEEN_PRTC] = nonzero;
            record->present |= static_cast<uint8_t>(1u << (field - FIELD_SEEN_PRTC));
            continue;
        }
        uint64_t count = 0;
        bool ok = false;
        switch (wire_type) {
        case WIRE_VARINT: ok = varint_read(bytes, length, &pos, 0, &count, nullptr); break;
        case WIRE_FIXED64: ok = skip(length, &pos, 8); break;
        case WIRE_LENGTH: ok = varint_read(bytes, length, &pos, 0, &count, nullptr) && skip(length, &pos, count); break;
        case WIRE_FIXED32: ok = skip(length, &pos, 4); break;
        default: return QUORRIN_BMC_GPB_BAD_UNKNOWN_WIRE_TYPE;
        }
        if (!ok) {
            return QUORRIN_BMC_GPB_TRUNCATED;
        }
    }
    return 0;
}

void quorrin_bmc_gpb_global_copy(quorrin_bmc_global_chkpt_type *to, const quorrin_bmc_global_chkpt_type *from)
{
    *to = *from;
}

void quorrin_bmc_gpb_global_free(quorrin_bmc_global_chkpt_type *, void *) {}

// ---- Entries -----------------------------------------------------------------------------------

void quorrin_bmc_chkpt_clock_save(quorrin_bmc_clock_type *record)
{
    if (!writes_allowed(state.clock_table)) {
        return;
    }
    zerrno rc = 0;
    if (record->chkpt_id == 0) {
        chkpt_objid objid = 0;
        if ((rc = chkpt_create(state.clock_table, 0, &objid)) != 0) {
            QUORRIN_DEBUG_ERR(
                AREA, "%s: [ERROR] Failed to create checkpoint record for clock %lx (%s) from node %s(0x%x): %s",
                clock_id(record), ptp_address_to_str(&record->address), node_str(record->node_id), record->node_id,
                zerr_strerror(rc));
            return;
        }
        record->chkpt_id = objid;
    }
    uint8_t entry[QUORRIN_BMC_CHKPT_CLOCK_ENTRY_SIZE];
    entry_encode(record, entry);
    if ((rc = chkpt_save(state.clock_table, record->chkpt_id, entry, sizeof(entry))) != 0) {
        QUORRIN_DEBUG_ERR(AREA,
                          "%s: [ERROR] Failed to save checkpoint record for clock %lx (%s) from node %s(0x%x): %s",
                          clock_id(record), ptp_address_to_str(&record->address), node_str(record->node_id),
                          record->node_id, zerr_strerror(rc));
    }
}

void quorrin_bmc_chkpt_clock_delete(quorrin_bmc_clock_type *record)
{
    if (record->chkpt_id == 0 || !writes_allowed(state.clock_table)) {
        return;
    }
    const zerrno rc = chkpt_delete(state.clock_table, record->chkpt_id);
    if (rc != 0) {
        QUORRIN_DEBUG_ERR(AREA,
                          "%s: [ERROR] Failed to delete checkpoint record for clock %lx (%s) from node %s(0x%x): %s",
                          clock_id(record), ptp_address_to_str(&record->address), node_str(record->node_id),
                          record->node_id, zerr_strerror(rc));
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Deleted checkpoint record for clock %lx (%s) from node %s(0x%x)", clock_id(record),
                  ptp_address_to_str(&record->address), node_str(record->node_id), record->node_id);
    record->chkpt_id = 0;
}

void quorrin_bmc_chkpt_global_write(void)
{
    if (!writes_allowed(state.global_table)) {
        return;
    }
    zerrno rc = 0;
    if (state.global_id == 0) {
        if ((rc = chkpt_create(state.global_table, 0, &state.global_id)) != 0) {
            state.global_id = 0;
            QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Failed to create global checkpoint record: %s", zerr_strerror(rc));
            return;
        }
    }
    const quorrin_bmc_global_chkpt_type record = global_record();
    QUORRIN_DEBUG(AREA, "%s: Writing global checkpoint. Seen-PRTC: %s.Servo ever synced: %s, Local clock GM: %s",
                  bool_str(record.seen_prtc), bool_str(record.servo_ever_synced), bool_str(record.local_clock_gm));
    uint8_t buffer[QUORRIN_BMC_CHKPT_GLOBAL_MAX_SIZE];
    const size_t size = quorrin_bmc_gpb_global_pack(&record, nullptr, 0);
    if (size > sizeof(buffer) || quorrin_bmc_gpb_global_pack(&record, buffer, sizeof(buffer)) != size) {
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Failed to encode global checkpoint record of %u bytes",
                          static_cast<unsigned int>(size));
        return;
    }
    if ((rc = chkpt_save(state.global_table, state.global_id, buffer, size)) != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Failed to save global checkpoint record: %s", zerr_strerror(rc));
    }
}

// ---- Registration, recovery, notices -----------------------------------------------------------

zerrno quorrin_bmc_chkpt_register(void)
{
    state = chkpt_state_type{};
    zerrno rc = register_table(PTP_CHKPT_TABLE_BMC_CLOCK, QUORRIN_BMC_CHKPT_CLOCK_ENTRY_SIZE, CLOCK_TABLE_COUNT,
                               "Failed to register clock checkpoint table after max retries: ", &state.clock_table);
    if (rc != 0) {
        return rc;
    }
    // A standby that gave up waiting for the transfer has nothing of the global table to trust.
    if (quorrin_main_idt_timer_not_expired()) {
        rc = register_table(PTP_CHKPT_TABLE_BMC_GLOBAL, QUORRIN_BMC_CHKPT_GLOBAL_MAX_SIZE, GLOBAL_TABLE_COUNT,
                            "Failed to register global checkpoint table after max retries: ", &state.global_table);
        if (rc != 0) {
            return rc;
        }
        quorrin_bmc_chkpt_global_recover();
    }
    clock_recover();
    return 0;
}

void quorrin_bmc_chkpt_global_recover(void)
{
    if (state.global_table == nullptr) {
        return;
    }
    uint8_t buffer[QUORRIN_BMC_CHKPT_GLOBAL_MAX_SIZE];
    walk(state.global_table, buffer, sizeof(buffer), "%s: [ERROR] Failed to start checkpoint iteration: %s",
         "%s: [ERROR] Failed to iterate checkpoint: %s", [&](chkpt_objid objid, uint16_t length) {
             if (length == 0) {
                 delete_entry(state.global_table, objid);
                 return true;
             }
             quorrin_bmc_global_chkpt_type record{};
             const int rv = quorrin_bmc_gpb_global_unpack(&record, buffer, length, nullptr);
             if (rv != 0) {
                 QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] %s: A checkpoint entry could not be decoded, rv: %d",
                                   "quorrin_bmc_chkpt_gpb_global_decode", rv);
                 return false;
             }
             quorrin_bmc_set_global_flags(record.seen_prtc, record.servo_ever_synced, record.local_clock_gm);
             QUORRIN_DEBUG(
                 AREA, "%s: Recovered global checkpoint. Seen-PRTC %s,Servo ever synced: %s, Local clock GM: %s",
                 bool_str(record.seen_prtc), bool_str(record.servo_ever_synced), bool_str(record.local_clock_gm));
             state.global_id = objid;
             quorrin_bmc_gpb_global_free(&record, nullptr);
             return true;
         });
}

void quorrin_bmc_chkpt_global_ndt(const chkpt_ndt_type *notice)
{
    if (notice->table_id != PTP_CHKPT_TABLE_BMC_GLOBAL || notice->type != CHKPT_NDT_SAVE) {
        return;
    }
    quorrin_bmc_chkpt_global_recover();
    quorrin_bmc_local_clock_update(nullptr, nullptr);
}

void quorrin_bmc_chkpt_clock_ndt(const chkpt_ndt_type *notice)
{
    if (notice->table_id == PTP_CHKPT_TABLE_BMC_CLOCK) {
        entry_type e{};
        if (notice->data != nullptr && entry_decode(notice->data, notice->length, &e)) {
            quorrin_bmc_clock_type *record = quorrin_bmc_find_clock(e.node_id);
            if (record != nullptr && record->chkpt_id == notice->objid) {
                quorrin_bmc_chkpt_clock_save(record);
                return;
            }
        }
        if (notice->type == CHKPT_NDT_SAVE && notice->objid != 0) {
            delete_entry(state.clock_table, notice->objid);
        }
    } else if (notice->table_id == PTP_CHKPT_TABLE_BMC_GLOBAL) {
        if (notice->objid != 0 && notice->objid == state.global_id) {
            quorrin_bmc_chkpt_global_write();
        } else if (notice->type == CHKPT_NDT_SAVE && notice->objid != 0) {
            delete_entry(state.global_table, notice->objid);
        }
    }
}

void quorrin_bmc_go_primary_active(void)
{
    if (quorrin_ha_get_issu_role() != ISSUL_ROLE_PRIMARY) {
        std::fprintf(stderr, "quorrin_ha_get_issu_role() == ISSUL_ROLE_PRIMARY\n");
        std::abort();
    }
    go_primary_with_checkpoint();
    if (state.global_table == nullptr &&
        register_table(PTP_CHKPT_TABLE_BMC_GLOBAL, QUORRIN_BMC_CHKPT_GLOBAL_MAX_SIZE, GLOBAL_TABLE_COUNT,
                       "Failed to register global checkpoint table after max retries: ", &state.global_table) == 0) {
        quorrin_bmc_chkpt_global_write();
    }

    // Entries the old primary left that this one does not own.
    if (state.global_table != nullptr) {
        uint8_t buffer[QUORRIN_BMC_CHKPT_GLOBAL_MAX_SIZE];
        walk(state.global_table, buffer, sizeof(buffer),
             "%s: [ERROR] Failed to start checkpoint iteration for global BMC table: %s", CONTINUE_FAILURE,
             [](chkpt_objid objid, uint16_t) {
                 if (objid != state.global_id) {
                     delete_entry(state.global_table, objid);
                 }
                 return true;
             });
        // A table that allows one entry refuses ours until the stale one is gone.
        if (state.global_id == 0) {
            quorrin_bmc_chkpt_global_write();
        }
    }
    if (state.clock_table != nullptr) {
        uint8_t buffer[QUORRIN_BMC_CHKPT_CLOCK_ENTRY_SIZE];
        walk(state.clock_table, buffer, sizeof(buffer),
             "%s: [ERROR] Failed to start checkpoint iteration for BMC clock table: %s", CONTINUE_FAILURE,
             [&](chkpt_objid objid, uint16_t length) {
                 entry_type e{};
                 const quorrin_bmc_clock_type *record =
                     entry_decode(buffer, length, &e) ? quorrin_bmc_find_clock(e.node_id) : nullptr;
                 // A node's record owns one entry; another entry for a node whose record has its own
                 // is stale (and would be recovered in its place after a restart).
                 if (record == nullptr || (record->chkpt_id != 0 && record->chkpt_id != objid)) {
                     delete_entry(state.clock_table, objid);
                 }
                 return true;
             });
    }
}

void quorrin_bmc_chkpt_shutdown(void)
{
    if (quorrin_ha_get_issu_role() != ISSUL_ROLE_RETIRING && state.global_id != 0 &&
        writes_allowed(state.global_table)) {
        const zerrno rc = chkpt_delete(state.global_table, state.global_id);
        if (rc != 0) {
            QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Failed to delete global checkpoint record: %s", zerr_strerror(rc));
        }
    }
    if (state.clock_table != nullptr) {
        chkpt_unregister(state.clock_table);
    }
    if (state.global_table != nullptr) {
        chkpt_unregister(state.global_table);
    }
    state = chkpt_state_type{};
}
