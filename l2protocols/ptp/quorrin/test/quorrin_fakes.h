// Recording fakes of the controller's modules that a test does not link for real: every call is
// recorded by name (with its arguments where a test looks at them), and the knobs below set what
// the fakes answer. Each test links the fakes of the modules it does not exercise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ptp_types.h"
#include "quorrin_bmc.h"
#include "quorrin_cfg.h"
#include "quorrin_leap_seconds.h"
#include "zerrno.h"

// Calls recorded by every linked fake, in order.
std::vector<std::string> &quorrin_fake_calls();
// The same, safe to take while another thread records.
std::vector<std::string> quorrin_fake_calls_copy();
void quorrin_fake_record(const std::string &call);
// The named call ("quorrin_cfg_init", ...) fails with code from now on (0: succeeds again).
void quorrin_fake_fail(const std::string &call, zerrno code);
zerrno quorrin_fake_result(const std::string &call);
// Forget calls, failures and every knob below.
void quorrin_fake_reset();
// Each fake file registers how its knobs are reset (at static initialisation).
bool quorrin_fake_on_reset(void (*hook)());

// quorrin_bmc: the grandmaster (null clock: none), the node-active flag, the advertised clock,
// the servo options, and the clock reports received.
struct quorrin_fake_bmc_type {
    bool has_gm = false;
    ptp_clock_type gm_clock{};
    quorrin_bmc_gm_type gm{};
    bool node_active = true;
    ptp_clock_type advertised{};
    uint32_t servo_mode = 0;
    uint32_t network_type = 0;
    struct report_type {
        bool present;
        ptp_clock_type clock;
        uint32_t node_id;
        uint32_t ifhandle;
        int32_t log_sync_interval;
        int32_t log_delay_req_interval;
        int32_t delay_asymmetry;
        ptp_address_type address;
    };
    std::vector<report_type> reports;
    struct platform_update_type {
        uint32_t active, using_frequency, using_time;
        ptp_platform_clock_props_type local;
        bool has_selection;
        ptp_platform_clock_props_type selection;
        uint32_t vp_connected, utc_info_valid, from_init;
    };
    std::vector<platform_update_type> platform_updates;
    // What the operational readers answer; ranked is the ranked list, best first (its links are
    // made on each walk).
    quorrin_bmc_advertised_extra_type advertised_extra{};
    ptp_clock_type local_clock{};
    bool local_clock_gm = false;
    bool has_selection = false;
    ptp_clock_type selection_clock{};
    quorrin_bmc_vp_state_type vp{};
    quorrin_bmc_oper_state_type oper{};
    std::vector<quorrin_bmc_clock_type> ranked;
};
quorrin_fake_bmc_type &quorrin_fake_bmc();

// quorrin_cfg: the getters' answers, for the tests of modules that read the configuration
// without linking it.
struct quorrin_fake_cfg_type {
    uint32_t profile = 0;
    uint32_t clock_type = 0;
    uint8_t domain = 0;
    uint64_t clock_id = 0;
    uint32_t slow_tracking = 0;
    bool holdover_set = false;
    uint32_t holdover_seconds = 0;
    uint8_t freq_priority = 0;
    uint8_t tod_priority = 0;
    bool apts = false;
    bool log_bmc_changes = false;
    // (set, value) pairs of the clock items.
    struct item_type {
        bool set = false;
        uint8_t value = 0;
    };
    item_type priority1, priority2, clock_class, startup_class, freerun_class, double_failure_class, holdover_class,
        uncalibrated_class, timescale, time_source;
    uint32_t unless_from_holdover = 0;
    bool holdover_tt_override = false;
    bool uncal_tt_override = false;
    uint32_t physical_layer_freq = 0;
    uint32_t network_type = 0;
    uint32_t ql_option = 1;
    quorrin_cfg_applied_globals_type globals{};
    uint32_t applied_config_counter = 0;
    bool scanning = false;
    bool enabled = false;
    uint32_t any_successful_applies = 0;
    bool profile_set = false;
    bool verify_checksum = false;
};
quorrin_fake_cfg_type &quorrin_fake_cfg();

// quorrin_bmc: what the network-options re-derivation answers (changed or not).
bool &quorrin_fake_bmc_network_options_changed();

// quorrin_platform (the calls selection and the configuration make): capabilities and the servo's
// state; the calls themselves are recorded.
struct quorrin_fake_platform_type {
    bool seln_local_clock = false;
    bool holdover_post_spec = false;
    bool initialised = true;
    bool servo_started = false;
    quorrin_platform_capabilities_type capabilities{};
    bool supports_ptp = true;
    bool supports_leap_seconds = true;
    bool supports_transp_clock = true;
    bool supports_servo_slow_tracking = true;
    bool g8265_requires_clock_type = false;
    bool supports_profile = true;
    bool has_holdover_range = true;
    uint32_t holdover_min = 60;
    uint32_t holdover_max = 3600;
    // The servo status query's answer and the current offset the threshold setter answers.
    int64_t offset_from_master = 0;
    int64_t mean_path_delay = 0;
    uint32_t servo_status = 0;
    int64_t threshold_offset = 0;
};
quorrin_fake_platform_type &quorrin_fake_platform();

// quorrin_ha: the upgrade role.
uint32_t &quorrin_fake_ha_role();

// quorrin_main: the node, its role, and whether a standby gave up waiting for the transfer.
struct quorrin_fake_main_type {
    uint32_t node_id = 0x100;
    bool kvolm_or_lc = true;
    bool idt_timer_expired = false;
};
quorrin_fake_main_type &quorrin_fake_main();

// quorrin_leap_seconds: when set, the process leaves its event loop as soon as it runs it; or it
// leaves it when told (from any thread, once the module was started).
void quorrin_fake_exit_when_running(bool exit);
void quorrin_fake_post_exit();

// quorrin_port_num: the port numbers in use.
uint32_t &quorrin_fake_port_num_active_count();

// quorrin_leap_seconds: what its readers answer (entries linked in order by the fake).
struct quorrin_fake_leap_seconds_type {
    quorrin_leap_seconds_offset_info_type current{};
    std::vector<quorrin_leap_seconds_db_entry_type> entries;
    bool invalid = false;
    quorrin_leap_seconds_summary_type summary{};
};
quorrin_fake_leap_seconds_type &quorrin_fake_leap_seconds();
