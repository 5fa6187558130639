// ptp_show_controller_db: the controller's database of one node or of every node, field by field:
// grandmaster, advertised and local clocks, the ranked best clocks of the nodes, its own state
// and configuration, and the platform's capabilities.
#include <cstdlib>

#include "ptp_bags.h"
#include "ptp_nodes.h"
#include "ptp_show_dump.h"
#include "ptp_show_utils.h"
#include "ptp_strings.h"

namespace {

using dump::fmt;
using dump::put;
using dump::tf;

uint32_t current_node = 0; // the node whose item is printed

// The section letters; each clears "all", -B and -C clear only "both" of the global part.
struct db_selection_type {
    bool all, grandmaster, advertised, local, best, global;
    bool both, bmc, config;
};
db_selection_type sel;

void select_from_options()
{
    const auto on = ptp_show_flag;
    sel.grandmaster = on('g');
    sel.advertised = on('a');
    sel.local = on('l');
    sel.best = on('b');
    sel.global = on('G');
    sel.all = !(sel.grandmaster || sel.advertised || sel.local || sel.best || sel.global);
    sel.bmc = on('B');
    sel.config = on('C');
    sel.both = !(sel.bmc || sel.config);
}

// A value followed by a mark: "(default)" when it is the default, else nothing.
const char *marked(uint32_t value, uint32_t default_value)
{
    return fmt("%u %s", value, value == default_value ? "(default)" : "");
}

const char *set_marked(const char *value, uint32_t set)
{
    return fmt("%s %s", value, ptp_show_set_to_str(set));
}

using clock = ptp_bag_clock;
constexpr dump::line_type<clock> clock_lines[] = {
    {"Clock ID", [](const clock &c) { return fmt("0x%lx", static_cast<unsigned long>(c.ClockID)); }},
    {"Priority 1", [](const clock &c) { return fmt("%u", c.Priority1); }},
    {"Priority 2", [](const clock &c) { return fmt("%u", c.Priority2); }},
    {"Class", [](const clock &c) { return marked(c.Class, 0); }},
    {"Accuracy", [](const clock &c) { return ptp_clock_accuracy_to_str(c.Accuracy); }},
    {"Offset log variance", [](const clock &c) { return fmt("0x%x", c.OffsetLogVariance); }},
    {"Steps Removed", [](const clock &c) { return fmt("%u", c.StepsRemoved); }},
    {"Time Source", [](const clock &c) { return ptp_show_bag_timesource_to_str(c.TimeSource); }},
    {"Current UTC offset",
     [](const clock &c) { return ptp_utc_offset_to_str(c.UTCOffset.CurrentOffset, c.UTCOffset.OffsetValid); }},
    {"Frequency traceable", [](const clock &c) { return tf(c.FrequencyTraceable); }},
    {"Time traceable", [](const clock &c) { return tf(c.TimeTraceable); }},
    {"Timescale", [](const clock &c) { return ptp_clock_timescale_to_str(c.Timescale); }},
    {"Leap seconds", [](const clock &c) { return ptp_leap_second_to_str(c.LeapSeconds); }},
    {"Sender clock ID", [](const clock &c) { return fmt("0x%lx", static_cast<unsigned long>(c.Sender.ClockID)); }},
    {"Sender port number", [](const clock &c) { return fmt("%u", c.Sender.PortNumber); }},
    {"Is local clock", [](const clock &c) { return tf(c.Local); }},
    {"Configured class", [](const clock &c) { return marked(c.ConfiguredClockClass, 0); }},
    {"Configured priority", [](const clock &c) { return marked(c.ConfiguredPriority, 128); }},
};

void print_title(const char *title)
{
    put(1, "%s\n", dump::dashes);
    put(1, "%s\n", title);
    put(1, "%s\n", dump::dashes);
    printf("\n");
}

void print_local_clock(uint32_t level, const ptp_local_clock_info &l)
{
    dump::print_lines(level, l.ClockProperties, clock_lines);
    const ptp_bag_virtual_port &vp = l.VirtualPort;
    put(level, "Virtual Port:\n");
    put(level + 1, "%s = %s\n", "Configured", tf(vp.Configured));
    put(level + 1, "%s = %s\n", "Connected", tf(vp.Connected));
    if (vp.Configured != 0 && vp.Connected != 0) {
        if (vp.Class != nullptr)
            put(level + 1, "%s = %u\n", "Clock-class", *vp.Class);
        if (vp.Priority1 != nullptr)
            put(level + 1, "%s = %u\n", "Priority1", *vp.Priority1);
        if (vp.Priority2 != nullptr)
            put(level + 1, "%s = %u\n", "Priority2", *vp.Priority2);
        if (vp.LocalPriority != nullptr)
            put(level + 1, "%s = %u\n", "Local Priority", *vp.LocalPriority);
        if (vp.Accuracy != nullptr)
            put(level + 1, "%s = 0x%x\n", "Accuracy", *vp.Accuracy);
        if (vp.OffsetLogVariance != nullptr)
            put(level + 1, "%s = %u\n", "Offset scaled log variance", *vp.OffsetLogVariance);
    }
    put(level, "%s = %s\n", "Local clock is active", tf(l.LocalActive));
    put(level, "%s = %u\n", "Local domain", l.Domain);
    printf("\n");
}

void print_local_clocks(const ptp_global_database_info &db)
{
    print_title("Current Local Clock:");
    print_local_clock(1, db.LocalClock);
    if (db.SelectionLocalClock == nullptr) {
        put(1, "Local clock not considered for selection\n");
        return;
    }
    print_title("Selection Local Clock:");
    print_local_clock(1, *db.SelectionLocalClock);
}

void print_best_masters(const ptp_global_database_info &db)
{
    const uint32_t n = db.BestForeignMasterClocks.count;
    if (n == 0) {
        put(1, "No best master clock\n");
        printf("\n");
        return;
    }
    for (uint32_t i = 0; i < n; ++i) {
        const ptp_bag_bmc_clock &b = db.BestForeignMasterClocks.array[i];
        put(1, "Best Master Clock %u of %u\n", i + 1, n);
        dump::print_lines(2, b.ForeignClock, clock_lines);
        const char *node = ptp_node_id_to_str(b.Node);
        put(2, "%s = %s\n", "Node", node != nullptr && *node != '\0' ? node : "<Empty>");
        printf("\n");
    }
}

using bmc = ptp_bag_global_bmc_info;

const char *change_time(uint64_t seconds, uint64_t nanoseconds)
{
    const uint32_t ns = static_cast<uint32_t>(nanoseconds);
    return ptp_show_timestamp_to_str(seconds, &ns);
}

constexpr dump::line_type<bmc> bmc_lines[] = {
    {"Active timing hardware is on local node", [](const bmc &b) { return tf(b.node_active); }},
    {"PTP servo started", [](const bmc &b) { return tf(b.servo_started); }},
    {"PTP servo synced to Grandmaster", [](const bmc &b) { return tf(b.servo_synced); }},
    {"Grandmaster used for freq", [](const bmc &b) { return tf(b.gm_used_for_freq); }},
    {"Grandmaster used for time", [](const bmc &b) { return tf(b.gm_used_for_time); }},
    {"Time grandmaster was selected", [](const bmc &b) { return change_time(b.gm_time_seconds, b.gm_time_nseconds); }},
    {"Time advertised clock was selected",
     [](const bmc &b) { return change_time(b.advertized_time_seconds, b.advertized_time_nseconds); }},
    {"Grandmaster log sync rate", [](const bmc &b) { return fmt("%d", b.gm_log_sync_rate); }},
    {"Grandmaster log delay req rate", [](const bmc &b) { return fmt("%d", b.gm_log_delay_req_rate); }},
    {"Grandmaster valid", [](const bmc &b) { return tf(b.gm_valid); }},
    {"PRTC has been connected", [](const bmc &b) { return tf(b.seen_prtc); }},
};

using cfg = ptp_bag_global_config_info;
constexpr dump::line_type<cfg> config_lines[] = {
    {"Log BMC changes", [](const cfg &c) { return tf(c.log_bmc_changes_set); }},
    {"Number of applied config items", [](const cfg &c) { return fmt("%u", c.applied_config_counter); }},
    {"CTRLR is scanning existing config", [](const cfg &c) { return tf(c.is_scanning); }},
    {"CTRLR cfg module enabled", [](const cfg &c) { return tf(c.is_enabled); }},
    {"Any successful applies", [](const cfg &c) { return tf(c.any_successful_applies); }},
    {"Telecom clock type", [](const cfg &c) { return ptp_telecom_clock_type_to_str(c.telecom_clock_type, c.profile); }},
    {"PTP profile", [](const cfg &c) { return set_marked(ptp_profile_to_str(c.profile), c.is_profile_set); }},
    {"Clock selection mode", [](const cfg &c) { return ptp_clock_selection_mode_to_str2(c.clock_selection_mode); }},
    {"Clock advertisement mode",
     [](const cfg &c) { return ptp_clock_selection_mode_to_str2(c.clock_advertisement_mode); }},
    {"Domain", [](const cfg &c) { return fmt("%u", c.domain); }},
    {"Clock ID", [](const cfg &c) { return fmt("0x%lx", static_cast<unsigned long>(c.clock_id)); }},
    {"Clock priority1", [](const cfg &c) { return fmt("%u", c.clock_priority1); }},
    {"Clock priority2", [](const cfg &c) { return fmt("%u", c.clock_priority2); }},
    {"Clock class", [](const cfg &c) { return set_marked(fmt("%u", c.clock_class), c.is_clock_class_set); }},
    {"Freerun clock class",
     [](const cfg &c) { return set_marked(fmt("%u", c.freerun_clock_class), c.is_freerun_clock_class_set); }},
    {"Uncalibrated clock class",
     [](const cfg &c) { return set_marked(fmt("%u", c.uncalibrated_clock_class), c.is_uncalibrated_clock_class_set); }},
    {"Holdover-spec clock class",
     [](const cfg &c) { return set_marked(fmt("%u", c.holdover_clock_class), c.is_holdover_clock_class_set); }},
    {"Double-failure clock class",
     [](const cfg &c) {
         return set_marked(fmt("%u", c.double_failure_clock_class), c.is_double_failure_clock_class_set);
     }},
    {"Holdover-spec duration",
     [](const cfg &c) {
         return set_marked(ptp_show_short_duration_to_str(c.holdover_duration), c.is_holdover_duration_set);
     }},
    {"Holdover-spec time-traceable override", [](const cfg &c) { return tf(c.is_holdover_time_trace_override_set); }},
    {"Uncalibrated time-traceable override", [](const cfg &c) { return tf(c.is_uncal_time_trace_override_set); }},
    {"Clock timescale",
     [](const cfg &c) { return set_marked(ptp_clock_timescale_to_str(c.clock_timescale), c.is_clock_timescale_set); }},
    {"Clock time-source",
     [](const cfg &c) {
         return set_marked(ptp_show_bag_timesource_to_str(c.clock_time_source), c.is_clock_time_source_set);
     }},
    {"Frequency priority", [](const cfg &c) { return fmt("%u", c.freq_pri); }},
    {"Time-of-day priority", [](const cfg &c) { return fmt("%u", c.tod_pri); }},
    {"Servo slow tracking", [](const cfg &c) { return ptp_slow_tracking_to_str(c.servo_slow_tracking); }},
    {"Verify-checksum enabled", [](const cfg &c) { return tf(c.verify_checksum); }},
};

void print_global(const ptp_global_database_info &db)
{
    if (sel.both) {
        put(1, "BMC information:\n");
        dump::print_lines(2, db.GlobalBestMasterClockInfo, bmc_lines);
        printf("\n");
        put(1, "Config information:\n");
        dump::print_lines(2, db.GlobalConfigurationInfo, config_lines);
        printf("\n");
    } else if (sel.bmc) {
        dump::print_lines(1, db.GlobalBestMasterClockInfo, bmc_lines);
        printf("\n");
    } else {
        dump::print_lines(1, db.GlobalConfigurationInfo, config_lines);
        printf("\n");
    }
}

using platform = ptp_bag_platform_info;
const char *yes_no(uint32_t flag)
{
    return flag != 0 ? "YES" : "NO";
}
constexpr dump::line_type<platform> platform_lines[] = {
    {"Servo started", [](const platform &p) { return yes_no(p.servo_init_info.servo_started); }},
    {"Servo synced", [](const platform &p) { return yes_no(p.servo_init_info.servo_synced); }},
    {"Capability version", [](const platform &p) { return fmt("%u", p.capability_init_info.version); }},
    {"Platform supports PTP", [](const platform &p) { return yes_no(p.capabilities.supports_ptp); }},
    {"Platform supports slave", [](const platform &p) { return yes_no(p.capabilities.supports_slave); }},
    {"Platform supports transparent clock",
     [](const platform &p) { return yes_no(p.capabilities.supports_transp_clock); }},
    {"Platform supports leap seconds", [](const platform &p) { return yes_no(p.capabilities.supports_leap_seconds); }},
    {"Platform supports profile", [](const platform &p) { return yes_no(p.capabilities.supports_profile); }},
    {"Platform supports local clock selection",
     [](const platform &p) { return yes_no(p.capabilities.supports_seln_local_clock); }},
    {"Platform supports servo slow tracking",
     [](const platform &p) { return yes_no(p.capabilities.supports_servo_slow_track); }},
    {"G8265 protocol requires a local clock",
     [](const platform &p) { return yes_no(p.capabilities.g8265_requires_local_clock); }},
    {"Platform supports holdover duration",
     [](const platform &p) { return yes_no(p.capabilities.supports_holdover_duration); }},
    {"Platform supports APTS", [](const platform &p) { return yes_no(p.capabilities.supports_apts); }},
    {"Platform supports holdover-post-spec vs freerun distinction",
     [](const platform &p) { return yes_no(p.capabilities.report_holdover_post_spec); }},
};

constexpr dump::line_type<platform> ql_lines[] = {
    {"Capability QL o1 value",
     [](const platform &p) { return ptp_show_ql_to_str(p.capabilities.int_clock_ql.o1_value); }},
    {"Capability QL o2 g1 value",
     [](const platform &p) { return ptp_show_ql_to_str(p.capabilities.int_clock_ql.o2_g1_value); }},
    {"Capability QL o2 g2 value",
     [](const platform &p) { return ptp_show_ql_to_str(p.capabilities.int_clock_ql.o2_g2_value); }},
};

void print_platform(const platform &p)
{
    dump::print_lines(1, p, platform_lines);
    if (p.capabilities.supports_holdover_duration != 0)
        put(1, "%s = %s\n", "Platform supported holdover duration range",
            ptp_show_range_to_str(p.capabilities.holdover_duration_min, p.capabilities.holdover_duration_max));
    dump::print_lines(1, p, ql_lines);
}

void print_grandmaster(const ptp_global_database_info &db)
{
    if (db.GrandMasterClock != nullptr) {
        dump::print_lines(1, *db.GrandMasterClock, clock_lines);
    } else {
        put(1, "No grandmaster information\n");
    }
    printf("\n");
}

void print_advertised(const ptp_global_database_info &db)
{
    dump::print_lines(1, db.AdvertisedClock, clock_lines);
    printf("\n");
}

void print_database(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_global_database_info>(
        data, length, ptp_global_database_info_bag_getfn(), "Failed to decode global database bag: %s\n",
        [](const ptp_global_database_info &db) {
            printf("%s\nNode: %s\n%s\n", dump::asterisks, ptp_node_id_to_str(current_node), dump::asterisks);
            if (sel.all) {
                print_title("Grandmaster Clock:");
                print_grandmaster(db);
                print_title("Advertised Clock:");
                print_advertised(db);
                print_local_clocks(db);
                print_title("Best Master Clocks:");
                print_best_masters(db);
                print_title("Global DB information:");
                print_global(db);
                print_title("Platform capabilities:");
                print_platform(db.PlatformCapabilititesInfo);
            } else if (sel.grandmaster) {
                print_grandmaster(db);
            } else if (sel.advertised) {
                print_advertised(db);
            } else if (sel.local) {
                print_local_clocks(db);
            } else if (sel.best) {
                print_best_masters(db);
            } else {
                print_global(db);
            }
        });
}

void print_node(uint32_t node)
{
    current_node = node;
    char path[128];
    snprintf(path, sizeof path, "/oper/ptp/node/%x/ctrlr-database", node);
    ptp_show_item_at(path, "Failed to bind to Nodra on path '%s': %s\n", "Failed to get controller database item: %s\n",
                     print_database);
}

} // namespace

int ptp_show_controller_db_main(int argc, char **argv)
{
    if (!ptp_show_parse_options(argc, argv, ":h:algbGBC"))
        return 0;
    select_from_options();
    if (ptp_show_options.node != PTP_SHOW_NO_NODE) {
        print_node(ptp_show_options.node);
        return 0;
    }
    uint32_t *nodes = nullptr;
    uint32_t count = 0;
    const zerrno rc = ptp_nodes_list(&nodes, &count);
    if (rc != 0 && !ptp_show_not_found(rc))
        printf("Failed to bind to Nodra on path '%s': %s\n", "/oper/ptp/node/", zerr_strerror(rc));
    for (uint32_t i = 0; i < count; ++i)
        print_node(nodes[i]);
    free(nodes);
    return 0;
}
