// System-wide best-master selection and the grandmaster state.
#include "quorrin_bmc.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include "issul.h"
#include "plat_clock.h"
#include "ptp_alloc.h"
#include "ptp_clock.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "quorrin_cfg.h"
#include "quorrin_comms.h"
#include "quorrin_debug.h"
#include "quorrin_edm_traps.h"
#include "quorrin_ha.h"
#include "quorrin_leap_seconds.h"
#include "quorrin_main.h"
#include "sysmgr.h"

namespace {

constexpr uint32_t AREA = quorrin_debug_area("bmc");

constexpr uint8_t QL_OPTION_NONE = 0;
constexpr uint8_t QL_OPTION_I = 1;
constexpr uint8_t QL_OPTION_II_1 = 2;
constexpr uint8_t QL_OPTION_II_2 = 3;
constexpr uint8_t QL_DNU = 1;
constexpr uint8_t QL_NAME_LIMIT = 74;

constexpr uint32_t TELECOM_T_GM = 0;
constexpr uint32_t TELECOM_T_BC = 1;
constexpr uint32_t TELECOM_T_TSC = 2;

constexpr uint32_t PRIMARY_REF_TYPE_PRTC = 3;
constexpr uint32_t PRIMARY_REF_TYPE_EPRTC = 4;

constexpr uint8_t DEFAULT_PRIORITY = 128;

// An invariant of the module: a broken one ends the process, which is restarted and recovers.
void bmc_assert(bool holds, const char *text)
{
    if (!holds) {
        std::fprintf(stderr, "%s\n", text);
        std::abort();
    }
}

// ---- Tables ------------------------------------------------------------------------------------

struct ql_name_type {
    uint8_t value;
    const char *name;
};
constexpr ql_name_type ql_names[] = {
    {0, "Invalid"},        {1, "DNU/DUS"},         {2, "Failed"},         {3, "None"},
    {20, "Opt-I/ePRTC"},   {21, "Opt-I/PRTC"},     {22, "Opt-I/PRC"},     {23, "Opt-I/SSU-A"},
    {24, "Opt-I/SSU-B"},   {25, "Opt-I/eEEC"},     {26, "Opt-I/EEC1"},    {27, "Opt-I/SEC"},
    {28, "Opt-I/ePRC"},    {40, "Opt-II,1/ePRTC"}, {41, "Opt-II,1/PRTC"}, {42, "Opt-II,1/PRS"},
    {43, "Opt-II,1/STU"},  {44, "Opt-II,1/ST2"},   {45, "Opt-II,1/ST3"},  {46, "Opt-II,1/eEEC"},
    {47, "Opt-II,1/EEC2"}, {48, "Opt-II,1/SMC"},   {49, "Opt-II,1/ST4"},  {50, "Opt-II,1/RES"},
    {51, "Opt-II,1/ePRC"}, {60, "Opt-II,2/ePRTC"}, {61, "Opt-II,2/PRTC"}, {62, "Opt-II,2/PRS"},
    {63, "Opt-II,2/STU"},  {64, "Opt-II,2/ST2"},   {65, "Opt-II,2/TNC"},  {66, "Opt-II,2/ST3E"},
    {67, "Opt-II,2/ST3"},  {68, "Opt-II,2/eEEC"},  {69, "Opt-II,2/EEC2"}, {70, "Opt-II,2/SMC"},
    {71, "Opt-II,2/ST4"},  {72, "Opt-II,2/PROV"},  {73, "Opt-II,2/ePRC"},
};

// Rank of a QL value within its option; values not listed rank 0.
struct ql_rank_type {
    uint8_t option;
    uint8_t value;
    uint8_t rank;
};
constexpr ql_rank_type ql_ranks[] = {
    {1, 20, 8},  {1, 21, 7},  {1, 22, 5}, {1, 23, 4},  {1, 24, 3},  {1, 25, 2},  {1, 26, 1}, {1, 27, 1},  {1, 28, 6},
    {2, 40, 11}, {2, 41, 10}, {2, 42, 8}, {2, 43, 7},  {2, 44, 6},  {2, 45, 4},  {2, 46, 5}, {2, 47, 4},  {2, 48, 3},
    {2, 49, 2},  {2, 50, 1},  {2, 51, 9}, {3, 60, 13}, {3, 61, 12}, {3, 62, 10}, {3, 63, 9}, {3, 64, 8},  {3, 65, 7},
    {3, 66, 5},  {3, 67, 4},  {3, 68, 6}, {3, 69, 4},  {3, 70, 3},  {3, 71, 2},  {3, 72, 1}, {3, 73, 11},
};

// The QL a clock class stands for, per option (I, II gen 1, II gen 2; 0 none).
struct class_ql_type {
    uint8_t clock_class;
    uint8_t value[3];
};
// G.8265.1.
constexpr class_ql_type g8265_class_ql[] = {
    {80, {0, 42, 62}}, {82, {0, 43, 63}},  {84, {22, 0, 0}},  {86, {0, 44, 64}},  {90, {23, 0, 65}}, {96, {24, 0, 0}},
    {100, {0, 0, 66}}, {102, {0, 45, 67}}, {104, {27, 0, 0}}, {106, {0, 48, 70}}, {108, {0, 0, 72}}, {110, {1, 1, 1}},
};
// G.8275.1 and G.8275.2; classes 7 and 135 depend on frequency traceability (below).
constexpr class_ql_type g8275_class_ql[] = {
    {6, {22, 42, 62}},   {140, {22, 42, 62}}, {150, {23, 44, 64}}, {160, {24, 45, 66}},
    {165, {27, 45, 67}}, {248, {27, 45, 67}}, {255, {27, 45, 67}},
};
constexpr uint8_t g8275_traceable_ql[3] = {22, 42, 62};
constexpr uint8_t g8275_untraceable_ql[3] = {27, 45, 67};
// Default profile: the platform's internal clock QL, these when it gives 0.
constexpr uint8_t default_internal_ql[3] = {27, 45, 66};

// G.8265.1 clock class from the platform clock's QL; a value not listed (and no option) gives 110.
struct ql_class_type {
    uint8_t option;
    uint8_t first;
    uint8_t last;
    uint8_t clock_class;
};
constexpr uint8_t G8265_CLASS_DNU = 110;
constexpr ql_class_type g8265_ql_class[] = {
    {3, 60, 62, 80},  {3, 73, 73, 80},  {3, 63, 63, 82},  {3, 64, 64, 86},  {3, 65, 65, 90}, {3, 66, 66, 100},
    {3, 67, 67, 102}, {3, 68, 70, 106}, {3, 72, 72, 108}, {2, 40, 42, 80},  {2, 51, 51, 80}, {2, 43, 43, 82},
    {2, 44, 44, 86},  {2, 45, 45, 102}, {2, 46, 48, 106}, {2, 50, 50, 108}, {1, 20, 22, 84}, {1, 28, 28, 84},
    {1, 23, 23, 90},  {1, 24, 24, 96},  {1, 25, 27, 104},
};

// G.8275 T-GM clock class from the platform clock's QL: PRC-grade values 140, SSU-A-grade 150,
// the rest 160.
struct ql_grade_type {
    uint8_t option;
    uint8_t first;
    uint8_t last;
    uint8_t clock_class;
};
constexpr ql_grade_type g8275_gm_ql_class[] = {
    {1, 20, 22, 140}, {1, 28, 28, 140}, {1, 23, 23, 150}, {2, 40, 42, 140}, {2, 51, 51, 140},
    {2, 44, 44, 150}, {3, 60, 62, 140}, {3, 73, 73, 140}, {3, 64, 64, 150},
};
constexpr uint8_t G8275_GM_CLASS_OTHER = 160;

// ---- State -------------------------------------------------------------------------------------

struct vp_type {
    bool configured = false;
    bool connected = false;
    uint32_t mask = 0;
    uint32_t value[QUORRIN_BMC_VP_FIELD_COUNT] = {};
};

struct servo_start_type {
    bool valid = false;
    bool use_time = false;
    bool use_frequency = false;
    int32_t log_sync_interval = 0;
    int32_t log_delay_req_interval = 0;
    uint32_t profile = 0;
    uint32_t clock_type = 0;
};

// The time properties of the last grandmaster the servo synchronised to: the node's clock holds
// that grandmaster's time from then on, through its loss, until the servo follows another.
struct held_time_type {
    bool valid = false;
    uint8_t timescale = PTP_TIMESCALE_PTP;
    int16_t utc_offset = 0;
    uint32_t utc_offset_valid = 0;
};

struct state_type {
    event_mgr_type *evm = nullptr;
    uint32_t local_rack = 0;
    std::map<uint32_t, quorrin_bmc_clock_type *> tree;

    bool gm_valid = false;
    ptp_clock_type gm_clock{};
    bool local_clock_gm = false;
    bool servo_synced = false;
    bool servo_ever_synced = false;
    bool seen_prtc = false;
    bool node_active = false;
    bool using_frequency = false;
    bool using_time = false;
    int32_t gm_log_sync_interval = 0;
    int32_t gm_log_delay_req_interval = 0;
    int32_t gm_delay_asymmetry = 0;
    quorrin_bmc_ql_type ql{};
    uint32_t servo_mode = 0;
    uint32_t network_type = 0;
    servo_start_type last_start;
    int64_t gm_change_time = 0;
    int64_t advertised_change_time = 0;
    bool class_recorded = false;
    uint8_t last_class = 0;
    bool time_source_recorded = false;
    uint8_t last_time_source = 0;
    ptp_clock_type local_clock{};
    ptp_clock_type selection_clock{};
    ptp_platform_clock_props_type local_props{};
    ptp_platform_clock_props_type selection_props{};
    bool has_selection_props = false;
    uint8_t leap_seconds = 0;
    quorrin_platform_offset_info_type utc{};
    held_time_type held;
    vp_type vp;
};

state_type state;

} // namespace

// Best first; its head is the system's best foreign clock.
quorrin_bmc_clock_type *quorrin_bmc_clock_ranked_list = nullptr;

namespace {

const char *node_str(uint32_t node_id)
{
    static char buffer[64];
    if (nodeid_to_str_external(node_id, buffer, sizeof(buffer)) != 0) {
        std::snprintf(buffer, sizeof(buffer), "0x%x", node_id);
    }
    return buffer;
}

const char *addr_str(const ptp_address_type *address)
{
    return ptp_address_to_str(address);
}

bool is_g8275(uint32_t profile)
{
    return profile == PTP_PROFILE_G8275_1 || profile == PTP_PROFILE_G8275_2;
}

bool holdover_like(uint8_t sync_state)
{
    return sync_state == PTP_PLATFORM_SYNC_STATE_HOLDOVER_SPEC ||
           sync_state == PTP_PLATFORM_SYNC_STATE_HOLDOVER_POST_SPEC ||
           sync_state == PTP_PLATFORM_SYNC_STATE_DOUBLE_FAILURE;
}

// Messages of a grandmaster change go to the system log only when change logging is configured
// and the node is active.
bool log_changes()
{
    return quorrin_cfg_get_log_bmc_changes() && state.node_active;
}

// What the properties say before any clock update: the conversion of an empty record.
ptp_platform_clock_props_type initial_props()
{
    return quorrin_platform_props_convert(ptp_platform_clock_props_type{});
}

void apply_vp(ptp_clock_type *clock)
{
    const vp_type &vp = state.vp;
    const auto has = [&](quorrin_bmc_vp_field_type f) { return (vp.mask & (1u << f)) != 0; };
    if (has(QUORRIN_BMC_VP_PRIORITY1)) {
        clock->priority1 = static_cast<uint8_t>(vp.value[QUORRIN_BMC_VP_PRIORITY1]);
    }
    if (has(QUORRIN_BMC_VP_PRIORITY2)) {
        clock->priority2 = static_cast<uint8_t>(vp.value[QUORRIN_BMC_VP_PRIORITY2]);
    }
    if (has(QUORRIN_BMC_VP_CLOCK_CLASS)) {
        clock->clock_class = static_cast<uint8_t>(vp.value[QUORRIN_BMC_VP_CLOCK_CLASS]);
    }
    if (has(QUORRIN_BMC_VP_CLOCK_ACCURACY)) {
        clock->accuracy = static_cast<uint8_t>(vp.value[QUORRIN_BMC_VP_CLOCK_ACCURACY]);
    }
    if (has(QUORRIN_BMC_VP_OSLV)) {
        clock->offset_log_variance = static_cast<uint16_t>(vp.value[QUORRIN_BMC_VP_OSLV]);
    }
    if (has(QUORRIN_BMC_VP_LOCAL_PRIORITY)) {
        clock->configured_priority = static_cast<uint8_t>(vp.value[QUORRIN_BMC_VP_LOCAL_PRIORITY]);
    }
}

bool vp_in_force()
{
    return state.vp.configured && state.vp.connected;
}

// ---- Local clock derivation --------------------------------------------------------------------

uint8_t g8265_class_from_ql(const ptp_platform_clock_props_type &p)
{
    for (const ql_class_type &row : g8265_ql_class) {
        if (row.option == p.ql_option && p.ql_value >= row.first && p.ql_value <= row.last) {
            return row.clock_class;
        }
    }
    return G8265_CLASS_DNU;
}

uint8_t g8275_gm_class_from_ql(const ptp_platform_clock_props_type &p)
{
    for (const ql_grade_type &row : g8275_gm_ql_class) {
        if (row.option == p.ql_option && p.ql_value >= row.first && p.ql_value <= row.last) {
            return row.clock_class;
        }
    }
    return G8275_GM_CLASS_OTHER;
}

uint8_t class_by_profile(const ptp_platform_clock_props_type &p)
{
    const uint32_t profile = quorrin_cfg_get_profile();
    const uint32_t type = quorrin_cfg_get_telecom_clock_type();
    if (profile == PTP_PROFILE_DEFAULT) {
        if (p.primary_ref == 0 || p.timescale > 1) {
            return 248;
        }
        const bool ptp_scale = p.timescale == 0;
        switch (p.sync_state) {
        case PTP_PLATFORM_SYNC_STATE_SYNC: return ptp_scale ? 6 : 13;
        case PTP_PLATFORM_SYNC_STATE_HOLDOVER_SPEC: return ptp_scale ? 7 : 14;
        case PTP_PLATFORM_SYNC_STATE_NO_SYNC:
        case PTP_PLATFORM_SYNC_STATE_HOLDOVER_POST_SPEC:
        case PTP_PLATFORM_SYNC_STATE_DOUBLE_FAILURE: return ptp_scale ? 187 : 193;
        default: return 248;
        }
    }
    if (profile == PTP_PROFILE_G8265_1) {
        return g8265_class_from_ql(p);
    }
    // G.8275.1 and G.8275.2, by telecom clock type.
    const bool post_spec_no_sync =
        p.sync_state == PTP_PLATFORM_SYNC_STATE_NO_SYNC && quorrin_platform_report_holdover_post_spec();
    switch (type) {
    case TELECOM_T_TSC: return 255;
    case TELECOM_T_BC:
        if (!state.seen_prtc || post_spec_no_sync) {
            return 248;
        }
        return p.sync_state == PTP_PLATFORM_SYNC_STATE_HOLDOVER_SPEC ? 135 : 165;
    case TELECOM_T_GM:
        if (!state.seen_prtc || post_spec_no_sync) {
            return 248;
        }
        if (p.primary_ref != 0 && p.time_traceable != 0) {
            return 6;
        }
        if (p.sync_state == PTP_PLATFORM_SYNC_STATE_HOLDOVER_SPEC) {
            return 7;
        }
        return g8275_gm_class_from_ql(p);
    default: return 0;
    }
}

// The servo runs towards a valid grandmaster but has not synced to it.
bool uncalibrated()
{
    return state.gm_valid && quorrin_platform_is_servo_started() && !state.servo_synced;
}

uint8_t derive_class(const ptp_platform_clock_props_type &p, bool selection)
{
    bool set = false;
    uint8_t value = 0;
    if (!selection) {
        uint32_t unless_from_holdover = 0;
        quorrin_cfg_get_uncalibrated_clock_class(&set, &value, &unless_from_holdover);
        if (set && uncalibrated() && !(unless_from_holdover != 0 && holdover_like(p.sync_state))) {
            return value;
        }
        // Before the servo (ever) synced and without a reference or holdover to go on.
        const bool free =
            !state.servo_synced && !(p.primary_ref != 0 || p.primary_ref_type != 0) && !holdover_like(p.sync_state);
        if (free && !state.servo_ever_synced) {
            quorrin_cfg_get_startup_clock_class(&set, &value);
            if (set) {
                return value;
            }
        }
        if (free && state.servo_ever_synced) {
            quorrin_cfg_get_freerun_clock_class(&set, &value);
            if (set) {
                return value;
            }
        }
    }
    quorrin_cfg_get_clock_class(&set, &value);
    if (set) {
        return value;
    }
    if (!selection) {
        if (p.sync_state == PTP_PLATFORM_SYNC_STATE_HOLDOVER_SPEC) {
            quorrin_cfg_get_holdover_clock_class(&set, &value);
            if (set) {
                return value;
            }
        }
        if (p.sync_state == PTP_PLATFORM_SYNC_STATE_DOUBLE_FAILURE) {
            quorrin_cfg_get_double_failure_clock_class(&set, &value);
            if (set) {
                return value;
            }
        }
    }
    return class_by_profile(p);
}

ptp_clock_type derive_clock(const ptp_platform_clock_props_type &p, bool selection)
{
    const uint32_t profile = quorrin_cfg_get_profile();
    const uint32_t type = quorrin_cfg_get_telecom_clock_type();
    ptp_clock_type c{};
    c.local = 1;
    c.steps_removed = 0;
    c.clock_id = quorrin_cfg_get_clock_id();
    c.priority1 = quorrin_cfg_is_priority1_set() ? quorrin_cfg_get_priority1() : DEFAULT_PRIORITY;
    if (quorrin_cfg_is_priority2_set()) {
        c.priority2 = quorrin_cfg_get_priority2();
    } else {
        c.priority2 = is_g8275(profile) && type == TELECOM_T_TSC ? 255 : DEFAULT_PRIORITY;
    }
    c.time_source = p.time_source;
    c.frequency_traceable = p.frequency_traceable;
    c.time_traceable = p.time_traceable;
    if (profile == PTP_PROFILE_DEFAULT) {
        c.timescale = p.timescale;
        c.accuracy = p.accuracy;
        c.offset_log_variance = p.oslv;
    } else {
        c.timescale = profile == PTP_PROFILE_G8265_1 ? p.timescale : 0;
        c.accuracy = 0xFE;
        c.offset_log_variance = 0xFFFF;
        if (is_g8275(profile) && type == TELECOM_T_GM) {
            if (p.primary_ref_type == PRIMARY_REF_TYPE_PRTC) {
                c.accuracy = 0x21;
                c.offset_log_variance = 0x4E5D;
            } else if (p.primary_ref_type == PRIMARY_REF_TYPE_EPRTC) {
                c.accuracy = 0x20;
                c.offset_log_variance = 0x4B32;
            }
        }
    }
    c.clock_class = derive_class(p, selection);
    bool set = false;
    uint8_t value = 0;
    quorrin_cfg_get_time_source(&set, &value);
    if (set) {
        c.time_source = value;
    }
    quorrin_cfg_get_timescale(&set, &value);
    if (set) {
        c.timescale = value;
    }
    if ((quorrin_cfg_get_holdover_time_traceable_override() && p.sync_state == PTP_PLATFORM_SYNC_STATE_HOLDOVER_SPEC) ||
        (quorrin_cfg_get_uncal_time_traceable_override() && uncalibrated())) {
        c.time_traceable = 1;
    }
    c.configured_clock_class = 0;
    c.configured_priority = DEFAULT_PRIORITY;
    c.leap_seconds = state.leap_seconds;
    c.utc_offset = state.utc.utc_offset;
    c.utc_offset_valid = state.utc.offset_valid;
    // A clock without a reference of its own that has followed a grandmaster holds that
    // grandmaster's time, and says so: announcing another timescale would make a slave of it jump
    // by the UTC offset. On the PTP timescale the UTC offset is the database's, which carries the
    // last grandmaster's on (with its leap second) unless configuration says otherwise; on the
    // arbitrary one, which no database follows, it stays the grandmaster's.
    const bool own_reference = p.primary_ref != 0 || p.primary_ref_type != 0;
    if (!selection && state.held.valid && !own_reference) {
        quorrin_cfg_get_timescale(&set, &value);
        if (!set) {
            c.timescale = state.held.timescale;
        }
        if (c.timescale == PTP_TIMESCALE_ARB && state.held.timescale == PTP_TIMESCALE_ARB) {
            c.utc_offset = state.held.utc_offset;
            c.utc_offset_valid = state.held.utc_offset_valid;
        }
    }
    return c;
}

// The servo follows the grandmaster: its time properties are what the clock holds from now on.
void hold_gm_time()
{
    state.held = {true, state.gm_clock.timescale, state.gm_clock.utc_offset, state.gm_clock.utc_offset_valid};
}

// Re-derives both local clocks; true when the local clock changed.
bool rederive(uint8_t *old_class = nullptr)
{
    const ptp_clock_type old = state.local_clock;
    if (old_class != nullptr) {
        *old_class = old.clock_class;
    }
    state.local_clock = derive_clock(state.local_props, false);
    state.selection_clock = derive_clock(state.has_selection_props ? state.selection_props : state.local_props, true);
    return ptp_clock_equal(&old, &state.local_clock) == 0;
}

// ---- Grandmaster state -------------------------------------------------------------------------

bool using_ptp()
{
    return state.using_time || state.using_frequency;
}

// The agents advertise the grandmaster's clock only while the servo follows it.
bool advertising_gm()
{
    return state.gm_valid && !state.local_clock_gm && state.servo_synced && using_ptp();
}

ptp_clock_type advertised_clock()
{
    if (advertising_gm()) {
        return state.gm_clock;
    }
    ptp_clock_type clock = state.local_clock;
    if (state.local_clock_gm && vp_in_force()) {
        apply_vp(&clock);
    }
    return clock;
}

uint8_t timescale_in_force()
{
    if (quorrin_ha_get_issu_role() == ISSUL_ROLE_PRIMARY) {
        return advertising_gm() ? state.gm_clock.timescale : state.local_clock.timescale;
    }
    if (quorrin_ha_get_issu_role() == ISSUL_ROLE_SECONDARY && !state.gm_valid) {
        return state.local_clock.timescale;
    }
    return state.gm_clock.timescale;
}

void recompute_servo_options()
{
    state.servo_mode = quorrin_cfg_get_profile() == PTP_PROFILE_G8275_1 ? 1 : quorrin_cfg_get_physical_layer_freq();
    state.network_type = quorrin_cfg_get_network_type();
}

void servo_stop()
{
    if (quorrin_platform_is_servo_started()) {
        quorrin_platform_servo_stop();
    }
    state.servo_synced = false;
}

void servo_start()
{
    recompute_servo_options();
    servo_start_type &s = state.last_start;
    s.valid = true;
    s.use_time = state.using_time;
    s.use_frequency = state.using_frequency;
    s.log_sync_interval = state.gm_log_sync_interval;
    s.log_delay_req_interval = state.gm_log_delay_req_interval;
    s.profile = quorrin_cfg_get_profile();
    s.clock_type = quorrin_cfg_get_telecom_clock_type();
    quorrin_platform_servo_start(s.use_time, s.use_frequency, s.log_sync_interval, s.log_delay_req_interval, s.profile,
                                 s.clock_type, state.servo_mode, state.network_type);
    state.servo_synced = false;
}

bool servo_parameters_unchanged()
{
    const servo_start_type &s = state.last_start;
    return s.valid && s.use_time == state.using_time && s.use_frequency == state.using_frequency &&
           s.log_sync_interval == state.gm_log_sync_interval &&
           s.log_delay_req_interval == state.gm_log_delay_req_interval && s.profile == quorrin_cfg_get_profile() &&
           s.clock_type == quorrin_cfg_get_telecom_clock_type();
}

bool class_overrides_configured()
{
    bool set = false;
    bool any = false;
    quorrin_cfg_get_startup_clock_class(&set, nullptr);
    any |= set;
    quorrin_cfg_get_freerun_clock_class(&set, nullptr);
    any |= set;
    quorrin_cfg_get_uncalibrated_clock_class(&set, nullptr, nullptr);
    any |= set;
    quorrin_cfg_get_holdover_clock_class(&set, nullptr);
    any |= set;
    return any || quorrin_cfg_get_holdover_time_traceable_override() || quorrin_cfg_get_uncal_time_traceable_override();
}

void set_flag(bool &flag, bool value)
{
    if (flag != value) {
        flag = value;
        quorrin_bmc_chkpt_global_write();
    }
}

// A primary reference seen through a time-traceable grandmaster's class.
bool prtc_class(uint8_t clock_class)
{
    switch (quorrin_cfg_get_profile()) {
    case PTP_PROFILE_G8275_1:
    case PTP_PROFILE_G8275_2: return clock_class == 6;
    case PTP_PROFILE_DEFAULT:
        return clock_class == 6 || clock_class == 7 || clock_class == 13 || clock_class == 14 || clock_class == 187 ||
               clock_class == 193;
    default: return false;
    }
}

// After every selection: the advertised class and time source, with their messages and traps.
void check_advertised()
{
    const ptp_clock_type adv = advertised_clock();
    if (!state.class_recorded || adv.clock_class != state.last_class) {
        if (adv.clock_class != state.last_class) {
            if (log_changes()) {
                ptp_syslog_clock_class_changed(state.last_class, adv.clock_class);
            }
            quorrin_edm_trap_generate_clock_class(adv);
        }
        state.last_class = adv.clock_class;
        state.class_recorded = true;
    }
    if (!state.time_source_recorded || adv.time_source != state.last_time_source) {
        quorrin_edm_trap_generate_time_source();
        state.last_time_source = adv.time_source;
        state.time_source_recorded = true;
    }
}

void announce(bool force)
{
    quorrin_comms_clock_updated(force);
}

// A local-clock change from configuration: announce when the agents advertise the local clock.
void local_config_change()
{
    if (rederive() && !advertising_gm()) {
        announce(false);
    }
    check_advertised();
}

// ---- Records -----------------------------------------------------------------------------------

quorrin_bmc_clock_type *find(uint32_t node_id)
{
    const auto it = state.tree.find(node_id);
    return it == state.tree.end() ? nullptr : it->second;
}

int resync_timer_cb(ptp_timer_type *, void *context, int *stop)
{
    *stop = 1;
    auto *record = static_cast<quorrin_bmc_clock_type *>(context);
    QUORRIN_DEBUG(AREA, "%s: Resync timer expired for node %s(0x%x), clock %lx (%s). Deleting clock",
                  node_str(record->node_id), record->node_id, static_cast<unsigned long>(record->clock.clock_id),
                  addr_str(&record->address));
    const bool was_head = quorrin_bmc_remove_clock_from_ranked_list(record);
    quorrin_bmc_chkpt_clock_delete(record);
    quorrin_bmc_remove_clock_from_tree(record);
    ptp_timer_destroy(&record->resync_timer);
    std::free(record);
    quorrin_bmc_select_gm(was_head ? QUORRIN_BMC_REASON_HEAD : 0);
    return 0;
}

// What a node's report sets in its record.
void record_fill(quorrin_bmc_clock_type *record, const ptp_clock_type *clock, uint32_t ifhandle,
                 const ptp_address_type *address, int32_t log_sync_interval, int32_t log_delay_req_interval,
                 int32_t delay_asymmetry)
{
    record->clock = *clock;
    record->ifhandle = ifhandle;
    record->address = *address;
    record->log_sync_interval = log_sync_interval;
    record->log_delay_req_interval = log_delay_req_interval;
    record->delay_asymmetry = delay_asymmetry;
}

void record_delete(quorrin_bmc_clock_type *record)
{
    quorrin_bmc_chkpt_clock_delete(record);
    quorrin_bmc_remove_clock_from_tree(record);
    ptp_timer_destroy(&record->resync_timer);
    std::free(record);
}

} // namespace

// ---- Tree and ranked list ----------------------------------------------------------------------

quorrin_bmc_clock_type *quorrin_bmc_clock_create(uint32_t node_id, const ptp_clock_type *clock, uint32_t ifhandle,
                                                 const ptp_address_type *address, int32_t log_sync_interval,
                                                 int32_t log_delay_req_interval, int32_t delay_asymmetry)
{
    auto *record = static_cast<quorrin_bmc_clock_type *>(std::calloc(1, sizeof(quorrin_bmc_clock_type)));
    if (record == nullptr) {
        ptp_alloc_failure_report(sizeof(quorrin_bmc_clock_type), "BMC clock entry");
        return nullptr;
    }
    record->node_id = node_id;
    record_fill(record, clock, ifhandle, address, log_sync_interval, log_delay_req_interval, delay_asymmetry);
    ptp_timer_create(&record->resync_timer, resync_timer_cb, record);
    return record;
}

quorrin_bmc_clock_type *quorrin_bmc_find_clock(uint32_t node_id)
{
    return find(node_id);
}

void quorrin_bmc_add_clock_to_tree(quorrin_bmc_clock_type *record)
{
    const bool inserted = state.tree.emplace(record->node_id, record).second;
    bmc_assert(inserted, "result != ((void*)0)");
}

void quorrin_bmc_remove_clock_from_tree(quorrin_bmc_clock_type *record)
{
    const auto it = state.tree.find(record->node_id);
    bmc_assert(it != state.tree.end() && it->second == record, "result == (avl2_node_type *)clock");
    state.tree.erase(it);
}

uint32_t quorrin_bmc_add_clock_to_ranked_list(quorrin_bmc_clock_type *record)
{
    const uint32_t profile = quorrin_cfg_get_profile();
    uint32_t position = 0;
    quorrin_bmc_clock_type *prev = nullptr;
    quorrin_bmc_clock_type *cur = quorrin_bmc_clock_ranked_list;
    // Equal clocks go in front of those already there.
    while (cur != nullptr && ptp_clock_compare(profile, &record->clock, &cur->clock, nullptr) > 0) {
        prev = cur;
        cur = cur->next;
        position++;
    }
    record->prev = prev;
    record->next = cur;
    if (cur != nullptr) {
        cur->prev = record;
    }
    if (prev != nullptr) {
        prev->next = record;
    } else {
        quorrin_bmc_clock_ranked_list = record;
    }
    QUORRIN_DEBUG(AREA, "%s: Inserted clock %lx (%s) from node %s(0x%x) into BMC list at position %u",
                  static_cast<unsigned long>(record->clock.clock_id), addr_str(&record->address),
                  node_str(record->node_id), record->node_id, position);
    return position;
}

bool quorrin_bmc_remove_clock_from_ranked_list(quorrin_bmc_clock_type *record)
{
    const bool was_head = quorrin_bmc_clock_ranked_list == record;
    if (!was_head && record->prev == nullptr && record->next == nullptr) {
        return false; // not ranked
    }
    if (record->prev != nullptr) {
        record->prev->next = record->next;
    } else {
        quorrin_bmc_clock_ranked_list = record->next;
    }
    if (record->next != nullptr) {
        record->next->prev = record->prev;
    }
    record->prev = nullptr;
    record->next = nullptr;
    QUORRIN_DEBUG(AREA, "%s: Removed clock %lx (%s) from node %s(0x%x) from BMC list",
                  static_cast<unsigned long>(record->clock.clock_id), addr_str(&record->address),
                  node_str(record->node_id), record->node_id);
    return was_head;
}

void quorrin_bmc_for_each_ranked(void (*fn)(const quorrin_bmc_clock_type *record, void *ctx), void *ctx)
{
    for (const quorrin_bmc_clock_type *r = quorrin_bmc_clock_ranked_list; r != nullptr; r = r->next) {
        fn(r, ctx);
    }
}

// ---- Reports -----------------------------------------------------------------------------------

void quorrin_bmc_clock_update(const ptp_clock_type *clock, uint32_t node_id, uint32_t ifhandle,
                              int32_t log_sync_interval, int32_t log_delay_req_interval, int32_t delay_asymmetry,
                              const ptp_address_type *address)
{
    uint32_t rack = 0, slot = 0, cpu = 0;
    const zerrno rc = nodeid_extract_fields(node_id, &rack, &slot, &cpu);
    if (rc != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Failed to extract rack from nodeid 0x%x: %s", node_id, zerr_strerror(rc));
        return;
    }
    if (rack != state.local_rack) {
        QUORRIN_DEBUG(AREA, "%s: Ignoring update from remote rack node 0x%x", node_id);
        return;
    }
    // The agents report foreign clocks only; a local one breaks that contract and is not ranked.
    if (clock != nullptr && clock->local != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Dropped clock %lx marked local from node %s(0x%x)",
                          static_cast<unsigned long>(clock->clock_id), node_str(node_id), node_id);
        return;
    }

    quorrin_bmc_clock_type *const old_head = quorrin_bmc_clock_ranked_list;
    const ptp_clock_type old_head_clock = old_head != nullptr ? old_head->clock : ptp_clock_type{};

    quorrin_bmc_clock_type *record = find(node_id);
    if (record != nullptr) {
        QUORRIN_DEBUG(AREA, "%s: Received %s of clock from node %s(0x%x)", clock != nullptr ? "update" : "delete",
                      node_str(node_id), node_id);
        quorrin_bmc_remove_clock_from_ranked_list(record);
        ptp_timer_stop(&record->resync_timer);
        if (clock == nullptr) {
            quorrin_edm_trap_generate_master_lost(&record->address, false);
            record_delete(record);
            if (quorrin_bmc_clock_ranked_list != old_head) {
                quorrin_bmc_select_gm(QUORRIN_BMC_REASON_HEAD);
                return;
            }
        } else {
            record_fill(record, clock, ifhandle, address, log_sync_interval, log_delay_req_interval, delay_asymmetry);
            quorrin_bmc_chkpt_clock_save(record);
            quorrin_bmc_add_clock_to_ranked_list(record);
        }
    } else {
        if (clock == nullptr) {
            return;
        }
        record = quorrin_bmc_clock_create(node_id, clock, ifhandle, address, log_sync_interval, log_delay_req_interval,
                                          delay_asymmetry);
        if (record == nullptr) {
            return;
        }
        QUORRIN_DEBUG(AREA, "%s: Created entry for clock %lx (%s) from node %s(0x%x)",
                      static_cast<unsigned long>(clock->clock_id), addr_str(address), node_str(node_id), node_id);
        quorrin_bmc_add_clock_to_tree(record);
        quorrin_bmc_chkpt_clock_save(record);
        quorrin_bmc_add_clock_to_ranked_list(record);
    }

    const quorrin_bmc_clock_type *head = quorrin_bmc_clock_ranked_list;
    uint32_t reason = QUORRIN_BMC_REASON_HEAD;
    // A head that appears where there was none is a change too: the agents learn the best
    // foreign clock only from the announce.
    if (head == old_head && head != nullptr &&
        ptp_clock_compare(quorrin_cfg_get_profile(), &head->clock, &old_head_clock, nullptr) == 0 &&
        head->clock.clock_id == old_head_clock.clock_id) {
        reason = 0;
    }
    quorrin_bmc_select_gm(reason);
}

void quorrin_bmc_resync_request(uint32_t node_id)
{
    quorrin_bmc_clock_type *record = find(node_id);
    if (record == nullptr) {
        QUORRIN_DEBUG(AREA, "%s: Resync request for node %s(0x%x) for which there is no clock", node_str(node_id),
                      node_id);
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Started resync timer for node %s(0x%x), clock %lx (%s)", node_str(node_id), node_id,
                  static_cast<unsigned long>(record->clock.clock_id), addr_str(&record->address));
    ptp_timer_start(&record->resync_timer, QUORRIN_BMC_RESYNC_MS, false);
}

// ---- Selection ---------------------------------------------------------------------------------

void quorrin_bmc_select_gm(uint32_t reason)
{
    const uint32_t profile = quorrin_cfg_get_profile();
    const quorrin_bmc_clock_type *head = quorrin_bmc_clock_ranked_list;
    const bool seln_local = quorrin_platform_supports_seln_local_clock();

    bool local_wins = head == nullptr;
    if (seln_local && head != nullptr) {
        ptp_clock_type selection = state.selection_clock;
        if (vp_in_force()) {
            apply_vp(&selection);
        }
        local_wins = ptp_clock_compare(profile, &selection, &head->clock, nullptr) < 0;
    }

    bool change = false;
    bool local_updated = false;
    bool ql_changed = false;
    bool platform_changed = false;
    if (local_wins) {
        change = !state.local_clock_gm;
        local_updated = !change && (reason & QUORRIN_BMC_REASON_LOCAL_CLOCK) != 0 && seln_local;
    } else {
        change = !(state.gm_valid && ptp_clock_equal(&state.gm_clock, &head->clock) != 0);
        const quorrin_bmc_ql_type ql = quorrin_bmc_get_clock_ql(&head->clock);
        if (ql.option != state.ql.option || quorrin_bmc_ql_rank(ql) != quorrin_bmc_ql_rank(state.ql)) {
            state.ql = ql;
            ql_changed = true;
        }
        if (head->delay_asymmetry != state.gm_delay_asymmetry) {
            state.gm_delay_asymmetry = head->delay_asymmetry;
            platform_changed = true;
        }
    }

    if (change) {
        bool identity_changed = false;
        if (local_wins) {
            if (log_changes()) {
                ptp_syslog_best_master_clock_removed();
            }
            QUORRIN_DEBUG(AREA, "%s: Grandmaster clock removed, %s",
                          head != nullptr ? "local clock better than foreign master(s)"
                                          : "no foreign masters available");
            state.gm_valid = false;
            quorrin_leap_seconds_gm_lost();
            if (quorrin_platform_is_servo_started()) {
                servo_stop();
            }
        } else {
            const uint64_t old_id = state.gm_valid ? state.gm_clock.clock_id : 0;
            const uint8_t old_class = state.gm_valid ? state.gm_clock.clock_class : 0;
            if (log_changes()) {
                ptp_syslog_best_master_clock_change(addr_str(&head->address), head->clock.clock_id,
                                                    head->clock.clock_class, head->clock.sender.clock_id, old_id,
                                                    old_class);
            }
            QUORRIN_DEBUG(AREA, "%s: Grandmaster clock has changed, new clock ID 0x%lx, %s",
                          static_cast<unsigned long>(head->clock.clock_id), addr_str(&head->address));
            identity_changed = !state.gm_valid || state.gm_clock.clock_id != head->clock.clock_id;
            state.gm_valid = true;
            state.gm_clock = head->clock;
            state.gm_log_sync_interval = head->log_sync_interval;
            state.gm_log_delay_req_interval = head->log_delay_req_interval;
            state.gm_delay_asymmetry = head->delay_asymmetry;
            quorrin_leap_seconds_gm_update(head->clock.utc_offset, head->clock.utc_offset_valid,
                                           head->clock.leap_seconds);
            if (head->clock.time_traceable != 0 && !state.seen_prtc && prtc_class(head->clock.clock_class)) {
                set_flag(state.seen_prtc, true);
            }
            quorrin_edm_trap_generate_master_lost(nullptr, true);
        }
        set_flag(state.local_clock_gm, local_wins);
        if (state.gm_valid && using_ptp() && (identity_changed || !servo_parameters_unchanged())) {
            servo_stop();
            servo_start();
        }
        if (advertising_gm()) {
            // The same grandmaster, followed on, announced new time properties.
            hold_gm_time();
            rederive();
        } else if (class_overrides_configured()) {
            rederive();
        }
        quorrin_leap_seconds_timescale_update(timescale_in_force());
        state.gm_change_time = plat_clock_wall_ns();
        announce(false);
        quorrin_platform_slave_update();
    } else {
        if (local_updated) {
            QUORRIN_DEBUG(AREA, "%s: Grandmaster local clock updated");
            state.gm_change_time = plat_clock_wall_ns();
            announce(false);
        }
        if (ql_changed) {
            if ((reason & QUORRIN_BMC_REASON_HEAD) != 0) {
                announce(false);
            }
            quorrin_platform_slave_update();
        } else if (platform_changed || (reason & (QUORRIN_BMC_REASON_PLATFORM | QUORRIN_BMC_REASON_HEAD)) != 0) {
            if ((reason & QUORRIN_BMC_REASON_HEAD) != 0) {
                announce(false);
            }
            quorrin_platform_slave_update();
        }
    }
    check_advertised();
}

// ---- Grandmaster and clocks --------------------------------------------------------------------

namespace {

const ptp_clock_type *gm_fill(quorrin_bmc_gm_type *gm, bool oper)
{
    const quorrin_bmc_clock_type *head = quorrin_bmc_clock_ranked_list;
    if (gm != nullptr) {
        *gm = {};
    }
    if (head == nullptr) {
        return nullptr;
    }
    if (gm != nullptr) {
        gm->active = state.servo_synced ? 1 : 0;
        gm->ifhandle = head->ifhandle;
        gm->address = head->address;
        gm->domain = quorrin_cfg_get_domain();
        gm->log_sync_interval = head->log_sync_interval;
        gm->log_delay_req_interval = head->log_delay_req_interval;
        gm->delay_asymmetry = head->delay_asymmetry;
        const bool show_using = !oper || state.gm_valid;
        gm->using_ptp_for_time = show_using && state.using_time ? 1 : 0;
        gm->using_ptp_for_frequency = show_using && state.using_frequency ? 1 : 0;
        gm->change_time = static_cast<uint64_t>(state.gm_change_time);
        gm->ql = oper ? quorrin_bmc_get_clock_ql(&head->clock) : state.ql;
        // Whether the grandmaster is a configured clock follows from where it comes from, never
        // from the local priority every reported clock carries.
        if (!state.local_clock_gm) {
            gm->best_source = PTP_PLATFORM_BEST_SOURCE_FOREIGN_MASTER;
        } else {
            gm->best_source =
                vp_in_force() ? PTP_PLATFORM_BEST_SOURCE_VIRTUAL_PORT : PTP_PLATFORM_BEST_SOURCE_LOCAL_CLOCK;
        }
    }
    return &head->clock;
}

} // namespace

const ptp_clock_type *quorrin_bmc_get_gm(quorrin_bmc_gm_type *gm)
{
    return gm_fill(gm, false);
}

const ptp_clock_type *quorrin_bmc_get_gm_oper(quorrin_bmc_gm_type *gm)
{
    return gm_fill(gm, true);
}

void quorrin_bmc_get_advertised_clock(ptp_clock_type *clock, quorrin_bmc_advertised_extra_type *extra)
{
    *clock = advertised_clock();
    if (extra != nullptr) {
        *extra = {};
        extra->domain = quorrin_cfg_get_domain();
        uint8_t value = 0;
        quorrin_cfg_get_time_source(&extra->time_source_configured, &value);
        quorrin_cfg_get_timescale(&extra->timescale_configured, &value);
        const bool gm = advertising_gm();
        extra->received_time_source = gm ? state.gm_clock.time_source : state.local_props.time_source;
        extra->received_timescale = gm ? state.gm_clock.timescale : state.local_props.timescale;
    }
}

void quorrin_bmc_get_local_clock(ptp_clock_type *clock, quorrin_bmc_local_ids_type *ids)
{
    *clock = state.local_clock;
    if (ids != nullptr) {
        ids->clock_id = quorrin_cfg_get_clock_id();
        ids->domain = quorrin_cfg_get_domain();
    }
}

quorrin_bmc_ql_type quorrin_bmc_get_clock_ql(const ptp_clock_type *clock)
{
    quorrin_bmc_ql_type ql{};
    const uint32_t option = quorrin_cfg_get_ql_option();
    if (option < QL_OPTION_I || option > QL_OPTION_II_2) {
        ql.option = static_cast<uint8_t>(option <= 0xFF ? option : 0);
        return ql;
    }
    ql.option = static_cast<uint8_t>(option);
    const uint32_t i = option - 1;
    const uint8_t clock_class = ptp_clock_effective_class(clock);
    const uint32_t profile = quorrin_cfg_get_profile();
    if (profile == PTP_PROFILE_DEFAULT) {
        quorrin_platform_capabilities_type caps{};
        quorrin_platform_get_capabilities(&caps);
        const uint8_t internal[3] = {caps.o1_value, caps.o2_g1_value, caps.o2_g2_value};
        ql.value = internal[i] != 0 ? internal[i] : default_internal_ql[i];
        return ql;
    }
    if (is_g8275(profile) && (clock_class == 7 || clock_class == 135)) {
        ql.value = clock->frequency_traceable != 0 ? g8275_traceable_ql[i] : g8275_untraceable_ql[i];
        return ql;
    }
    const auto lookup = [&](const auto &table) -> uint8_t {
        for (const class_ql_type &row : table) {
            if (row.clock_class == clock_class) {
                return row.value[i];
            }
        }
        return 0;
    };
    ql.value = profile == PTP_PROFILE_G8265_1 ? lookup(g8265_class_ql) : lookup(g8275_class_ql);
    return ql;
}

void quorrin_bmc_get_servo_options(uint32_t *servo_mode, uint32_t *network_type)
{
    *servo_mode = state.servo_mode;
    *network_type = state.network_type;
}

const char *quorrin_bmc_ql_value_to_str(uint8_t value)
{
    for (const ql_name_type &row : ql_names) {
        if (row.value == value) {
            return row.name;
        }
    }
    return "Unknown QL";
}

uint32_t quorrin_bmc_ql_rank(quorrin_bmc_ql_type ql)
{
    for (const ql_rank_type &row : ql_ranks) {
        if (row.option == ql.option && row.value == ql.value) {
            return row.rank;
        }
    }
    return 0;
}

bool quorrin_bmc_get_seen_prtc(void)
{
    return state.seen_prtc;
}

bool quorrin_bmc_get_servo_ever_synced(void)
{
    return state.servo_ever_synced;
}

bool quorrin_bmc_get_local_clock_gm(void)
{
    return state.local_clock_gm;
}

void quorrin_bmc_set_global_flags(bool seen_prtc, bool servo_ever_synced, bool local_clock_gm)
{
    state.seen_prtc = seen_prtc;
    state.servo_ever_synced = servo_ever_synced;
    state.local_clock_gm = local_clock_gm;
}

void quorrin_bmc_get_virtual_port(quorrin_bmc_vp_state_type *vp)
{
    *vp = {};
    vp->configured = state.vp.configured;
    vp->connected = state.vp.connected;
    vp->mask = state.vp.mask;
    for (uint32_t i = 0; i < QUORRIN_BMC_VP_FIELD_COUNT; i++) {
        vp->value[i] = state.vp.value[i];
    }
}

bool quorrin_bmc_get_selection_local_clock(ptp_clock_type *clock)
{
    if (!quorrin_platform_supports_seln_local_clock()) {
        return false;
    }
    *clock = state.selection_clock;
    return true;
}

void quorrin_bmc_get_oper_state(quorrin_bmc_oper_state_type *out)
{
    *out = {};
    out->node_active = state.node_active;
    out->servo_synced = state.servo_synced;
    out->gm_valid = state.gm_valid;
    out->using_frequency = state.using_frequency;
    out->using_time = state.using_time;
    out->seen_prtc = state.seen_prtc;
    out->gm_change_time = state.gm_change_time;
    out->advertised_change_time = state.advertised_change_time;
    out->gm_log_sync_interval = state.gm_log_sync_interval;
    out->gm_log_delay_req_interval = state.gm_log_delay_req_interval;
}

// ---- Platform ----------------------------------------------------------------------------------

namespace {

const char *ql_str(const ptp_platform_clock_props_type &p)
{
    if (p.ql_option == QL_OPTION_NONE) {
        return "None";
    }
    if (p.ql_option > QL_OPTION_II_2) {
        return "Invalid";
    }
    return p.ql_value >= QL_NAME_LIMIT ? "Unknown QL" : quorrin_bmc_ql_value_to_str(p.ql_value);
}

const char *not_word(bool flag)
{
    return flag ? "" : "not ";
}

} // namespace

void quorrin_bmc_platform_clock_update(uint32_t active, uint32_t using_ptp_for_frequency, uint32_t using_ptp_for_time,
                                       const ptp_platform_clock_props_type *local_props,
                                       const ptp_platform_clock_props_type *selection_props, uint32_t vp_connected,
                                       uint32_t utc_info_valid, uint32_t keep_servo)
{
    QUORRIN_DEBUG(AREA,
                  "%s: Received clock update from the platform. Clock %sactive, %susing PTP for frequency, %susing "
                  "PTP for time. Current local clock is %s a primary ref, sync state is '%s' and QL is '%s'",
                  not_word(active != 0), not_word(using_ptp_for_frequency != 0), not_word(using_ptp_for_time != 0),
                  local_props->primary_ref != 0 ? "" : "not", ptp_sync_state_to_str(local_props->sync_state),
                  ql_str(*local_props));
    state.local_props = *local_props;
    if (selection_props != nullptr) {
        QUORRIN_DEBUG(AREA,
                      "%s: Received clock update from the platform. Selection local clock is %sa primary ref, sync "
                      "state is '%s' and QL is '%s'",
                      not_word(selection_props->primary_ref != 0), ptp_sync_state_to_str(selection_props->sync_state),
                      ql_str(*selection_props));
        state.selection_props = *selection_props;
        state.has_selection_props = true;
    } else {
        QUORRIN_DEBUG(AREA, "%s: Received clock update from the platform. No selection clock included");
        state.has_selection_props = false;
    }

    quorrin_leap_seconds_platform_update(utc_info_valid != 0, static_cast<int16_t>(local_props->utc_offset),
                                         local_props->utc_offset_valid, local_props->leap_seconds);
    if (local_props->primary_ref != 0 && local_props->time_traceable != 0 && !state.seen_prtc) {
        set_flag(state.seen_prtc, true);
    }

    const bool new_frequency = using_ptp_for_frequency != 0;
    const bool new_time = using_ptp_for_time != 0;
    bool changed = false;
    bool apply_using = true;
    if (!new_frequency && !new_time) {
        const bool was_using = using_ptp();
        state.using_frequency = false;
        state.using_time = false;
        if (quorrin_platform_is_servo_started()) {
            servo_stop();
        }
        changed = rederive() || was_using;
    } else if (quorrin_bmc_clock_ranked_list != nullptr) {
        const bool flags_changed = new_frequency != state.using_frequency || new_time != state.using_time;
        const bool was_synced = state.servo_synced;
        const bool used_none = !using_ptp();
        if (keep_servo == 0 && flags_changed && quorrin_platform_is_servo_started()) {
            servo_stop();
        }
        state.using_frequency = new_frequency;
        state.using_time = new_time;
        if (!quorrin_platform_is_servo_started() && state.gm_valid) {
            servo_start();
        }
        const bool local_changed = rederive();
        changed = (local_changed && !state.servo_synced) || used_none || (flags_changed && was_synced);
    } else {
        QUORRIN_DEBUG_ERR(AREA,
                          "%s: [ERROR] Received bad clock update from platform stating  %susing PTP for frequency, "
                          "%susing PTP for time. Currently PTP does not have a grandmaster.",
                          not_word(new_frequency), not_word(new_time));
        apply_using = false;
    }

    const bool became_active = active != 0 && !state.node_active;
    state.node_active = active != 0;
    if (apply_using) {
        state.using_frequency = new_frequency;
        state.using_time = new_time;
    }
    quorrin_leap_seconds_timescale_update(timescale_in_force());

    const bool connected = selection_props != nullptr && vp_connected != 0;
    if (connected != state.vp.connected) {
        state.vp.connected = connected;
        QUORRIN_DEBUG(AREA, connected ? "%s: Virtual Port connected" : "%s: Virtual Port disconnected");
        if (state.vp.configured) {
            quorrin_bmc_select_gm(QUORRIN_BMC_REASON_LOCAL_CLOCK);
        }
    }

    if (changed || became_active) {
        state.advertised_change_time = plat_clock_wall_ns();
        announce(true);
    }
}

bool quorrin_bmc_is_node_active(void)
{
    return state.node_active;
}

void quorrin_bmc_servo_started(void)
{
    state.servo_synced = false;
}

void quorrin_bmc_gm_synced(void)
{
    bmc_assert(quorrin_platform_is_servo_started(), "quorrin_platform_is_servo_started()");
    QUORRIN_DEBUG(AREA, "%s: PTP servo synced to grandmaster 0x%lx",
                  static_cast<unsigned long>(state.gm_clock.clock_id));
    if (!state.servo_synced) {
        state.servo_synced = true;
        set_flag(state.servo_ever_synced, true);
        hold_gm_time();
        rederive();
        announce(true);
    }
    quorrin_leap_seconds_timescale_update(timescale_in_force());
}

void quorrin_bmc_gm_sync_lost(void)
{
    const bool was_advertising = advertising_gm();
    state.servo_synced = false;
    // The agents must stop advertising the grandmaster's clock as their own.
    if (was_advertising) {
        rederive();
        announce(true);
        check_advertised();
    }
}

void quorrin_bmc_leap_second_update(uint8_t leap_seconds, const quorrin_platform_offset_info_type *info)
{
    QUORRIN_DEBUG(AREA, "%s: Received leap second update. Leap seconds: %s, UTC offset: %s",
                  ptp_leap_second_to_str(leap_seconds), ptp_utc_offset_to_str(info->utc_offset, info->offset_valid));
    state.leap_seconds = leap_seconds;
    state.utc = *info;
    rederive();
    if (!advertising_gm()) {
        announce(false);
    }
    quorrin_platform_utc_offset_update(leap_seconds, info);
    quorrin_edm_trap_generate_utc_offset();
}

void quorrin_bmc_local_clock_update(bool *changed, uint8_t *old_class)
{
    const bool c = rederive(old_class);
    if (changed != nullptr) {
        *changed = c;
    }
}

// ---- Configuration -----------------------------------------------------------------------------

void quorrin_bmc_clock_id_update(void)
{
    QUORRIN_DEBUG(AREA, "%s: Local clock ID update: 0x%lx", static_cast<unsigned long>(quorrin_cfg_get_clock_id()));
    rederive();
    announce(false);
}

void quorrin_bmc_domain_update(void)
{
    announce(false);
}

void quorrin_bmc_priority_update(void)
{
    local_config_change();
}

void quorrin_bmc_clock_class_update(void)
{
    local_config_change();
}

void quorrin_bmc_timescale_update(void)
{
    local_config_change();
}

void quorrin_bmc_time_traceable_update(void)
{
    local_config_change();
}

void quorrin_bmc_time_source_update(void)
{
    local_config_change();
}

void quorrin_bmc_profile_update(void)
{
    recompute_servo_options();
    // Re-rank every record under the new profile.
    quorrin_bmc_clock_type *const old_head = quorrin_bmc_clock_ranked_list;
    quorrin_bmc_clock_type *r = quorrin_bmc_clock_ranked_list;
    quorrin_bmc_clock_ranked_list = nullptr;
    while (r != nullptr) {
        quorrin_bmc_clock_type *next = r->next;
        r->prev = nullptr;
        r->next = nullptr;
        quorrin_bmc_add_clock_to_ranked_list(r);
        r = next;
    }
    quorrin_bmc_select_gm(quorrin_bmc_clock_ranked_list != old_head ? QUORRIN_BMC_REASON_HEAD : 0);
    rederive();
    if (quorrin_platform_is_servo_started()) {
        servo_stop();
        servo_start();
    }
    check_advertised();
}

void quorrin_bmc_ql_option_update(void)
{
    quorrin_bmc_select_gm(0);
}

void quorrin_bmc_apts_update(void)
{
    quorrin_bmc_select_gm(QUORRIN_BMC_REASON_PLATFORM);
}

bool quorrin_bmc_network_options_update(void)
{
    const uint32_t old_mode = state.servo_mode;
    const uint32_t old_type = state.network_type;
    recompute_servo_options();
    const bool changed = old_mode != state.servo_mode || old_type != state.network_type;
    if (changed && quorrin_platform_is_servo_started()) {
        const bool was_synced = state.servo_synced;
        servo_stop();
        servo_start();
        if (was_synced) {
            announce(true);
        }
    }
    return changed;
}

void quorrin_bmc_virtual_port_configured(bool configured)
{
    QUORRIN_DEBUG(AREA, configured ? "%s: Virtual Port configured" : "%s: Virtual Port unconfigured");
    state.vp.configured = configured;
    if (state.vp.connected) {
        quorrin_bmc_select_gm(QUORRIN_BMC_REASON_LOCAL_CLOCK);
    }
}

void quorrin_bmc_virtual_port_update(quorrin_bmc_vp_field_type field, bool deleted, uint32_t value)
{
    static constexpr const char *names[QUORRIN_BMC_VP_FIELD_COUNT] = {
        "priority1", "priority2", "clock-class", "clock-accuracy", "OSLV", "local priority",
    };
    if (field >= QUORRIN_BMC_VP_FIELD_COUNT) {
        return;
    }
    if (deleted) {
        QUORRIN_DEBUG(AREA, "%s: Virtual port %s deleted", names[field]);
        state.vp.mask &= ~(1u << field);
        state.vp.value[field] = 0;
    } else {
        QUORRIN_DEBUG(AREA, "%s: Virtual port %s set, new value %u", names[field], value);
        state.vp.mask |= 1u << field;
        state.vp.value[field] = value;
    }
    if (vp_in_force()) {
        quorrin_bmc_select_gm(QUORRIN_BMC_REASON_LOCAL_CLOCK);
    }
}

// ---- Start and stop ----------------------------------------------------------------------------

zerrno quorrin_bmc_init(event_mgr_type *evm)
{
    state = state_type{};
    quorrin_bmc_clock_ranked_list = nullptr;
    state.evm = evm;
    uint32_t slot = 0, cpu = 0;
    const zerrno rc_rack = nodeid_extract_fields(quorrin_main_get_node_id(), &state.local_rack, &slot, &cpu);
    if (rc_rack != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Failed to extract rack from nodeid 0x%x: %s", quorrin_main_get_node_id(),
                          zerr_strerror(rc_rack));
    }

    // The configuration scan ran before this module: read what it stored.
    quorrin_cfg_applied_globals_type globals{};
    quorrin_cfg_get_applied_globals(&globals);
    state.vp.configured = globals.configured;
    state.vp.mask = globals.mask & ((1u << QUORRIN_BMC_VP_FIELD_COUNT) - 1);
    state.vp.value[QUORRIN_BMC_VP_PRIORITY1] = globals.priority1;
    state.vp.value[QUORRIN_BMC_VP_PRIORITY2] = globals.priority2;
    state.vp.value[QUORRIN_BMC_VP_CLOCK_CLASS] = globals.clock_class;
    state.vp.value[QUORRIN_BMC_VP_CLOCK_ACCURACY] = globals.clock_accuracy;
    state.vp.value[QUORRIN_BMC_VP_OSLV] = globals.oslv;
    state.vp.value[QUORRIN_BMC_VP_LOCAL_PRIORITY] = globals.local_priority;
    recompute_servo_options();
    state.local_props = initial_props();

    // Recovers the records and the checkpointed flags, which the local clock's class depends on.
    const zerrno rc = quorrin_bmc_chkpt_register();
    if (rc != 0) {
        return rc;
    }
    rederive();
    // Records recovered from the checkpoint: the head is the grandmaster unless the local clock
    // was, and every record must be reported again within the resync time.
    const quorrin_bmc_clock_type *head = quorrin_bmc_clock_ranked_list;
    if (head != nullptr && !state.local_clock_gm) {
        state.gm_valid = true;
        state.gm_clock = head->clock;
        state.ql = quorrin_bmc_get_clock_ql(&head->clock);
        state.gm_log_sync_interval = head->log_sync_interval;
        state.gm_log_delay_req_interval = head->log_delay_req_interval;
        state.gm_delay_asymmetry = head->delay_asymmetry;
    }
    for (auto &[node, record] : state.tree) {
        ptp_timer_start(&record->resync_timer, QUORRIN_BMC_RESYNC_MS, false);
    }
    state.gm_change_time = plat_clock_wall_ns();
    state.advertised_change_time = state.gm_change_time;
    if (state.gm_valid) {
        quorrin_leap_seconds_gm_update(state.gm_clock.utc_offset, state.gm_clock.utc_offset_valid,
                                       state.gm_clock.leap_seconds);
    }
    return 0;
}

void quorrin_bmc_shutdown(void)
{
    while (!state.tree.empty()) {
        quorrin_bmc_clock_type *record = state.tree.begin()->second;
        quorrin_bmc_remove_clock_from_ranked_list(record);
        record_delete(record);
    }
    quorrin_bmc_clock_ranked_list = nullptr;
    state.vp = vp_type{};
    if (quorrin_platform_is_initialised()) {
        quorrin_platform_slave_update();
    }
    quorrin_bmc_chkpt_shutdown();
}
