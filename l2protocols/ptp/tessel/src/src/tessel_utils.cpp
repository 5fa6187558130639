// Announce clock-field conversions between profiles, the profile check of received clocks,
// value names and wire-timestamp arithmetic.
#include "tessel_utils.h"

#include <array>
#include <cstdio>
#include <cstdlib>

#include "ptp_time.h"
#include "ptp_wire.h"

namespace {

[[noreturn]] void tessel_utils_internal_error(const char *what)
{
    std::fprintf(stderr, "tessel: internal error: %s\n", what);
    std::abort();
}

// Profile sets of the class map rows.
constexpr uint8_t PRF_DEFAULT = 1u << PTP_PROFILE_DEFAULT;
constexpr uint8_t PRF_G8265_1 = 1u << PTP_PROFILE_G8265_1;
constexpr uint8_t PRF_G8275_X = (1u << PTP_PROFILE_G8275_1) | (1u << PTP_PROFILE_G8275_2);
constexpr uint8_t PRF_TELECOM = PRF_G8265_1 | PRF_G8275_X;

constexpr uint8_t QL_ANY = 0;
constexpr uint8_t QL_I = 1;
constexpr uint8_t QL_II = 2;

// One row of the profile class map: classes first..last (every step-th) of a "from" profile
// become result in the "to" profile.
struct class_map_row {
    uint8_t from;
    uint8_t to;
    uint8_t ql;
    uint8_t first;
    uint8_t last;
    uint8_t step;
    uint8_t result;
};

constexpr std::array<class_map_row, 36> class_map_rows{{
    // Default -> G.8265.1
    {PRF_DEFAULT, PRF_G8265_1, QL_I, 6, 7, 1, 84},
    {PRF_DEFAULT, PRF_G8265_1, QL_II, 6, 7, 1, 80},
    {PRF_DEFAULT, PRF_G8265_1, QL_ANY, 13, 14, 1, 90},
    {PRF_DEFAULT, PRF_G8265_1, QL_ANY, 52, 52, 1, 110},
    {PRF_DEFAULT, PRF_G8265_1, QL_ANY, 58, 58, 1, 110},
    {PRF_DEFAULT, PRF_G8265_1, QL_ANY, 187, 187, 1, 110},
    {PRF_DEFAULT, PRF_G8265_1, QL_ANY, 193, 193, 1, 110},
    {PRF_DEFAULT, PRF_G8265_1, QL_ANY, 248, 248, 1, 110},
    {PRF_DEFAULT, PRF_G8265_1, QL_ANY, 255, 255, 1, 110},
    // Default -> G.8275.x
    {PRF_DEFAULT, PRF_G8275_X, QL_ANY, 13, 14, 1, 150},
    {PRF_DEFAULT, PRF_G8275_X, QL_ANY, 58, 58, 1, 150},
    {PRF_DEFAULT, PRF_G8275_X, QL_ANY, 193, 193, 1, 150},
    {PRF_DEFAULT, PRF_G8275_X, QL_ANY, 52, 52, 1, 140},
    {PRF_DEFAULT, PRF_G8275_X, QL_ANY, 187, 187, 1, 140},
    // G.8265.1 -> Default (even classes only)
    {PRF_G8265_1, PRF_DEFAULT, QL_ANY, 80, 84, 2, 6},
    {PRF_G8265_1, PRF_DEFAULT, QL_ANY, 86, 100, 2, 13},
    {PRF_G8265_1, PRF_DEFAULT, QL_ANY, 102, 110, 2, 248},
    // G.8265.1 -> G.8275.x (even classes only)
    {PRF_G8265_1, PRF_G8275_X, QL_ANY, 80, 84, 2, 135},
    {PRF_G8265_1, PRF_G8275_X, QL_ANY, 86, 90, 2, 150},
    {PRF_G8265_1, PRF_G8275_X, QL_ANY, 92, 100, 2, 160},
    {PRF_G8265_1, PRF_G8275_X, QL_ANY, 102, 110, 2, 248},
    // G.8275.x -> Default
    {PRF_G8275_X, PRF_DEFAULT, QL_ANY, 135, 135, 1, 7},
    {PRF_G8275_X, PRF_DEFAULT, QL_ANY, 140, 140, 1, 187},
    {PRF_G8275_X, PRF_DEFAULT, QL_ANY, 150, 150, 1, 193},
    {PRF_G8275_X, PRF_DEFAULT, QL_ANY, 160, 165, 5, 193},
    // G.8275.x -> G.8265.1
    {PRF_G8275_X, PRF_G8265_1, QL_I, 6, 7, 1, 84},
    {PRF_G8275_X, PRF_G8265_1, QL_I, 135, 140, 5, 84},
    {PRF_G8275_X, PRF_G8265_1, QL_I, 150, 150, 1, 90},
    {PRF_G8275_X, PRF_G8265_1, QL_I, 160, 160, 1, 96},
    {PRF_G8275_X, PRF_G8265_1, QL_II, 6, 7, 1, 80},
    {PRF_G8275_X, PRF_G8265_1, QL_II, 135, 140, 5, 80},
    {PRF_G8275_X, PRF_G8265_1, QL_II, 150, 150, 1, 86},
    {PRF_G8275_X, PRF_G8265_1, QL_II, 160, 160, 1, 100},
    {PRF_G8275_X, PRF_G8265_1, QL_ANY, 165, 165, 1, 110},
    {PRF_G8275_X, PRF_G8265_1, QL_ANY, 248, 248, 1, 110},
    {PRF_G8275_X, PRF_G8265_1, QL_ANY, 255, 255, 1, 110},
}};

constexpr uint8_t profile_bit(ptp_profile_type profile)
{
    return profile <= PTP_PROFILE_MAX ? static_cast<uint8_t>(1u << profile) : 0;
}

// "from" and "to" of a conversion: ingress converts the interop profile's values to the node's,
// egress the node's to the interop profile's; without an interop profile both are the node's.
struct profile_pair {
    ptp_profile_type from;
    ptp_profile_type to;
};

profile_pair conversion_profiles(ptp_profile_type node_profile, int direction,
                                 const tessel_interop_config_type &interop)
{
    ptp_profile_type other = node_profile;
    if (interop.presence & TESSEL_INTEROP_PROFILE) {
        other = static_cast<ptp_profile_type>(interop.profile);
    }
    if (direction != TESSEL_INTEROP_EGRESS) {
        return {other, node_profile};
    }
    return {node_profile, other};
}

// Presence bit of an ingress value, moved to the egress half when converting egress.
uint16_t half_bit(uint16_t ingress_bit, int direction)
{
    return direction != TESSEL_INTEROP_EGRESS ? ingress_bit
                                              : static_cast<uint16_t>(ingress_bit << TESSEL_INTEROP_EGRESS_SHIFT);
}

const tessel_interop_half_config_type &half_of(const tessel_interop_config_type &interop, int direction)
{
    return direction != TESSEL_INTEROP_EGRESS ? interop.ingress : interop.egress;
}

// Pairs whose priority1, clock accuracy and OSLV are reset to the "unknown" value: Default to
// any telecom profile, G.8265.1 to G.8275.x and G.8275.x to G.8265.1.
bool resets_quality(profile_pair p)
{
    const uint8_t from = profile_bit(p.from);
    const uint8_t to = profile_bit(p.to);
    return ((from & PRF_DEFAULT) && (to & PRF_TELECOM)) || ((from & PRF_G8265_1) && (to & PRF_G8275_X)) ||
           ((from & PRF_G8275_X) && (to & PRF_G8265_1));
}

// Pairs whose priority2 is reset: any other profile to G.8265.1, and G.8265.1 to G.8275.x.
bool resets_priority2(profile_pair p)
{
    const uint8_t from = profile_bit(p.from);
    const uint8_t to = profile_bit(p.to);
    return ((to & PRF_G8265_1) && !(from & PRF_G8265_1)) || ((from & PRF_G8265_1) && (to & PRF_G8275_X));
}

constexpr uint8_t PTP_UNKNOWN_PRIORITY = 128;
constexpr uint8_t PTP_UNKNOWN_CLOCK_ACCURACY = 0xFE;
constexpr uint16_t PTP_UNKNOWN_OSLV = 0xFFFF;

} // namespace

uint8_t tessel_interop_profile_clock_class_map(ptp_profile_type from, ptp_profile_type to, uint32_t ql_option,
                                               uint8_t clock_class)
{
    const uint8_t from_bit = profile_bit(from);
    const uint8_t to_bit = profile_bit(to);
    if (from_bit == 0 || to_bit == 0 || from == to || ((from_bit & PRF_G8275_X) && (to_bit & PRF_G8275_X))) {
        return clock_class;
    }
    const uint8_t ql = ql_option == TESSEL_FSYNC_QL_OPTION_1 ? QL_I : QL_II;
    for (const class_map_row &row : class_map_rows) {
        if (!(row.from & from_bit) || !(row.to & to_bit) || (row.ql != QL_ANY && row.ql != ql)) {
            continue;
        }
        if (clock_class >= row.first && clock_class <= row.last && (clock_class - row.first) % row.step == 0) {
            return row.result;
        }
    }
    return clock_class;
}

uint8_t tessel_interop_convert_clock_class(uint8_t clock_class, ptp_profile_type node_profile, uint32_t ql_option,
                                           int direction, const tessel_interop_config_type &interop)
{
    const tessel_interop_half_config_type &half = half_of(interop, direction);
    if (interop.presence & half_bit(TESSEL_INTEROP_INGRESS_CLOCK_CLASS_MAPPING, direction)) {
        const tessel_interop_clock_class_map_entry_type &entry = half.clock_class_mapping[clock_class];
        if (entry.present) {
            return entry.clock_class;
        }
    }
    if (interop.presence & half_bit(TESSEL_INTEROP_INGRESS_CLOCK_CLASS_DEFAULT, direction)) {
        return half.clock_class_default;
    }
    if (interop.presence & TESSEL_INTEROP_PROFILE) {
        const profile_pair p = conversion_profiles(node_profile, direction, interop);
        return tessel_interop_profile_clock_class_map(p.from, p.to, ql_option, clock_class);
    }
    return clock_class;
}

uint8_t tessel_interop_convert_priority1(uint8_t value, ptp_profile_type node_profile, int direction,
                                         const tessel_interop_config_type &interop)
{
    if (interop.presence & half_bit(TESSEL_INTEROP_INGRESS_PRIORITY1, direction)) {
        return half_of(interop, direction).priority1;
    }
    return resets_quality(conversion_profiles(node_profile, direction, interop)) ? PTP_UNKNOWN_PRIORITY : value;
}

uint8_t tessel_interop_convert_priority2(uint8_t value, ptp_profile_type node_profile, int direction,
                                         const tessel_interop_config_type &interop)
{
    if (interop.presence & half_bit(TESSEL_INTEROP_INGRESS_PRIORITY2, direction)) {
        return half_of(interop, direction).priority2;
    }
    return resets_priority2(conversion_profiles(node_profile, direction, interop)) ? PTP_UNKNOWN_PRIORITY : value;
}

uint8_t tessel_interop_convert_clock_accuracy(uint8_t value, ptp_profile_type node_profile, int direction,
                                              const tessel_interop_config_type &interop)
{
    if (interop.presence & half_bit(TESSEL_INTEROP_INGRESS_CLOCK_ACCURACY, direction)) {
        return half_of(interop, direction).clock_accuracy;
    }
    return resets_quality(conversion_profiles(node_profile, direction, interop)) ? PTP_UNKNOWN_CLOCK_ACCURACY : value;
}

uint16_t tessel_interop_convert_oslv(uint16_t value, ptp_profile_type node_profile, int direction,
                                     const tessel_interop_config_type &interop)
{
    if (interop.presence & half_bit(TESSEL_INTEROP_INGRESS_OSLV, direction)) {
        return half_of(interop, direction).oslv;
    }
    return resets_quality(conversion_profiles(node_profile, direction, interop)) ? PTP_UNKNOWN_OSLV : value;
}

zerrno tessel_profile_clock_check(const ptp_clock_type &clock, ptp_profile_type profile, uint32_t alternate_master_flag)
{
    if (!ptp_profile_clock_class_is_ok(profile, clock.clock_class)) {
        return PTP_ZERR2_CLOCK_CLASS_INCONSISTENT;
    }
    if (profile == PTP_PROFILE_G8275_1 || profile == PTP_PROFILE_G8275_2) {
        if (!ptp_profile_oslv_is_ok(profile, clock.offset_log_variance)) {
            return PTP_ZERR2_OSLV_INCONSISTENT;
        }
        if (profile == PTP_PROFILE_G8275_2 && alternate_master_flag != 0) {
            return PTP_ZERR2_FLAGS_INCONSISTENT;
        }
    }
    return ZERR_OK;
}

namespace {

constexpr std::array<const char *, 14> thread_ctrl_msg_names{
    "Init",    "PTP Enable", "PTP Disable", "Clock Profile", "Min Clock Class", "Interface Update",
    "DB Sync", "EDM Get",    "EDM List",    "EDM Datalist",  "EDM Set",         "Shutdown",
    "IDT",     "NDT",
};

constexpr std::array<const char *, 4> bmc_if_state_names{"MASTER", "PASSIVE", "SLAVE", "SLAVE SYNCED"};

constexpr std::array<const char *, 9> tlv_type_names{
    "Management",
    "Management Error Status",
    "Organization Extension",
    "Unicast-Request",
    "Unicast-Grant",
    "Unicast-Cancel",
    "Unicast-Ack-Cancel",
    "Path Trace",
    "Alternate Time Offset Indicator",
};

constexpr std::array<const char *, 3> cfg_update_qos_names{"unspecified", "general", "event"};

struct milestone_name {
    uint32_t milestone;
    const char *name;
};
constexpr std::array<milestone_name, 3> issu_milestone_names{{
    {2, "Sync v1 State via Chkpt"},
    {513, "Controller Resync"},
    {514, "Thread Resync"},
}};

} // namespace

const char *tessel_thread_ctrl_msg_to_string(uint32_t type)
{
    // The type may come from outside the agent (a trace record): an unknown one is named, not
    // trusted.
    return type < thread_ctrl_msg_names.size() ? thread_ctrl_msg_names[type] : "Unknown";
}

const char *tessel_bmc_if_state_to_string(uint32_t state)
{
    if (state >= bmc_if_state_names.size()) {
        tessel_utils_internal_error("Unknown BMC if state");
    }
    return bmc_if_state_names[state];
}

const char *tessel_tlv_type_to_string(uint16_t tlv_type)
{
    if (tlv_type >= 1 && tlv_type <= tlv_type_names.size()) {
        return tlv_type_names[tlv_type - 1];
    }
    return "Unknown";
}

const char *tessel_cfg_update_qos_to_string(uint32_t qos)
{
    return qos < cfg_update_qos_names.size() ? cfg_update_qos_names[qos] : "UNKNOWN";
}

const char *tessel_issu_milestone_to_string(uint32_t milestone)
{
    for (const milestone_name &m : issu_milestone_names) {
        if (m.milestone == milestone) {
            return m.name;
        }
    }
    return "<Unknown ISSU milestone>";
}

void tessel_timestamp_add_ns(int64_t ns, uint8_t (&timestamp)[TESSEL_WIRE_TIMESTAMP_LEN])
{
    constexpr int64_t NSEC_PER_SEC = 1000000000;
    constexpr uint64_t SECONDS_MASK = (uint64_t{1} << 48) - 1;

    uint64_t seconds = ptp_wire_get48(timestamp);
    const uint32_t nanoseconds = ptp_wire_get32(timestamp + 6);

    // Split the amount first so that no sum can overflow, whatever the amount.
    int64_t carry = ns / NSEC_PER_SEC;
    int64_t rest = static_cast<int64_t>(nanoseconds) + ns % NSEC_PER_SEC;
    carry += rest / NSEC_PER_SEC;
    rest %= NSEC_PER_SEC;
    if (rest < 0) {
        rest += NSEC_PER_SEC;
        carry -= 1;
    }
    seconds = (seconds + static_cast<uint64_t>(carry)) & SECONDS_MASK;

    ptp_wire_put48(timestamp, seconds);
    ptp_wire_put32(timestamp + 6, static_cast<uint32_t>(rest));
}
