// ptp_show_datasets: the IEEE 1588 data sets of the system, and the portDS of interfaces.
#include "ptp_bags.h"
#include "ptp_show_utils.h"
#include "ptp_strings.h"

namespace {

constexpr const char *DATASET_DIR = "/oper/ptp/gl/dataset/";
constexpr const char *PORT_DS_DIR = "/oper/ptp/gl/dataset/port-ds/if/";
constexpr const char *BIND_TEXT = "Failed to bind to Nodra path '%s': %s\n";

const char *bool_str(uint32_t flag)
{
    return flag != 0 ? "TRUE" : "FALSE";
}

void line_u(uint32_t level, const char *label, uint32_t value)
{
    ptp_show_print_indent(level);
    printf("%s = %u\n", label, value);
}
void line_d(uint32_t level, const char *label, int32_t value)
{
    ptp_show_print_indent(level);
    printf("%s = %d\n", label, value);
}
void line_ns(uint32_t level, const char *label, int64_t value)
{
    ptp_show_print_indent(level);
    printf("%s = %ldns\n", label, static_cast<long>(value));
}
void line_id(uint32_t level, const char *label, uint64_t value)
{
    ptp_show_print_indent(level);
    printf("%s = 0x%lx\n", label, static_cast<unsigned long>(value));
}
void line_x(uint32_t level, const char *label, uint32_t value)
{
    ptp_show_print_indent(level);
    printf("%s = 0x%x\n", label, value);
}
void line_s(uint32_t level, const char *label, const char *value)
{
    ptp_show_print_indent(level);
    printf("%s = %s\n", label, value);
}
void heading(uint32_t level, const char *label)
{
    ptp_show_print_indent(level);
    printf("%s\n", label);
}

void clock_quality(uint32_t level, uint32_t clock_class, uint32_t accuracy, uint32_t oslv)
{
    line_u(level, "clockClass", clock_class);
    ptp_show_print_indent(level);
    printf("%s = %s (0x%x)\n", "clockAccuracy", ptp_clock_accuracy_to_str(accuracy), accuracy);
    line_x(level, "offsetScaledLogVariance", oslv);
}

bool telecom_phase(uint32_t profile)
{
    return profile == PTP_BAG_PROFILE_G82751 || profile == PTP_BAG_PROFILE_G82752;
}

void print_current(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_current_ds_info>(data, length, ptp_current_ds_info_bag_getfn(),
                                         "Failed to decode currentDS bag: %s\n", [](const ptp_current_ds_info &ds) {
                                             printf("currentDS:\n");
                                             line_u(1, "stepsRemoved", ds.StepsRemoved);
                                             line_ns(1, "offsetFromMaster", ds.OffsetFromMaster);
                                             line_ns(1, "meanPathDelay", ds.MeanPathDelay);
                                             printf("\n");
                                         });
}

void print_default(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_default_ds_info>(data, length, ptp_default_ds_info_bag_getfn(),
                                         "Failed to decode defaultDS bag: %s\n", [](const ptp_default_ds_info &ds) {
                                             printf("defaultDS:\n");
                                             line_s(1, "twoStepFlag", bool_str(ds.TwoStepFlag));
                                             line_id(1, "clockIdentity", ds.ClockID);
                                             line_u(1, "numberPorts", ds.NumberPorts);
                                             heading(1, "clockQuality:");
                                             clock_quality(2, ds.ClockClass, ds.ClockAccuracy, ds.OSLV);
                                             line_u(1, "priority1", ds.Priority1);
                                             line_u(1, "priority2", ds.Priority2);
                                             line_u(1, "domainNumber", ds.DomainNumber);
                                             line_s(1, "slaveOnly", bool_str(ds.SlaveOnly));
                                             // The records carry these for the profiles that have them; one absent is not shown.
                                             if (telecom_phase(ds.profile) && ds.LocalPriority != nullptr)
                                                 line_u(1, "localPriority", *ds.LocalPriority);
                                             if (ds.profile == PTP_BAG_PROFILE_G82752 && ds.SignalFail != nullptr)
                                                 line_s(1, "signalFail", bool_str(*ds.SignalFail));
                                             printf("\n");
                                         });
}

void print_parent(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_parent_ds_info>(data, length, ptp_parent_ds_info_bag_getfn(),
                                        "Failed to decode parentDS bag: %s\n", [](const ptp_parent_ds_info &ds) {
                                            printf("parentDS:\n");
                                            heading(1, "parentPortIdentity:");
                                            line_id(2, "clockIdentity", ds.ParentClockID);
                                            line_u(2, "portNumber", ds.ParentPortNumber);
                                            line_s(1, "parentStats", bool_str(ds.ParentStats));
                                            line_x(2, "observedParentOffsetScaledLogVariance", ds.ObservedParentOSLV);
                                            line_x(2, "observedParentClockPhaseChangeRate",
                                                   ds.ObservedParentClockPhaseChangeRate);
                                            line_id(1, "grandmasterIdentity", ds.GMClockID);
                                            heading(1, "grandmasterClockQuality:");
                                            clock_quality(2, ds.GMClockClass, ds.GMClockAccuracy, ds.GMOSLV);
                                            line_u(1, "grandmasterPriority1", ds.GMPriority1);
                                            line_u(1, "grandmasterPriority2", ds.GMPriority2);
                                            printf("\n");
                                        });
}

const char *time_source_name(uint32_t source)
{
    // Looked up by (value - 0x10) / 16 in the named sources: no name below, above or between.
    if (source < 0x10 || source > 0xA0 || source % 16 != 0)
        return "Unknown";
    return ptp_show_bag_timesource_to_str(source);
}

void print_time_properties(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_time_properties_ds_info>(
        data, length, ptp_time_properties_ds_info_bag_getfn(), "Failed to decode timePropertiesDS bag: %s\n",
        [](const ptp_time_properties_ds_info &ds) {
            printf("timePropertiesDS:\n");
            line_d(1, "currentUtcOffset", ds.CurrentUTCOffset);
            line_s(1, "currentUtcOffsetValid", bool_str(ds.CurrentUTCOffsetValid));
            line_s(1, "leap59", bool_str(ds.Leap59));
            line_s(1, "leap61", bool_str(ds.Leap61));
            line_s(1, "timeTraceable", bool_str(ds.TimeTraceable));
            line_s(1, "frequencyTraceable", bool_str(ds.FrequencyTraceable));
            line_s(1, "ptpTimescale", bool_str(ds.PTPTimescale));
            line_s(1, "timeSource", time_source_name(ds.TimeSource));
            printf("\n");
        });
}

void print_port(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_port_ds_info>(data, length, ptp_port_ds_info_bag_getfn(), "Failed to decode portDS bag: %s\n",
                                      [](const ptp_port_ds_info &ds) {
                                          printf("portDS[%s]:\n", ds.InterfaceName != nullptr ? ds.InterfaceName : "");
                                          heading(1, "portIdentity:");
                                          line_id(2, "clockIdentity", ds.ClockID);
                                          line_u(2, "portNumber", ds.PortNumber);
                                          line_s(1, "portState", ptp_port_state_to_str(ds.PortState));
                                          line_d(1, "logMinDelayReqInterval", ds.LogMinDelayReqInterval);
                                          line_ns(1, "peerMeanPathDelay", ds.PeerMeanPathDelay);
                                          line_d(1, "logAnnounceInterval", ds.LogAnnounceInterval);
                                          line_u(1, "announceReceiptTimeout", ds.AnnoucneReceiptTimeout);
                                          line_d(1, "logSyncInterval", ds.LogSyncInterval);
                                          line_s(1, "delayMechanism",
                                                 ptp_show_bag_delay_mechanism_to_str(ds.DelayMechanism));
                                          line_d(1, "logMinPdelayReqInterval", ds.LogMinPDelayReqInterval);
                                          line_u(1, "versionNumber", ds.VersionNumber);
                                          if (ds.profile != PTP_BAG_PROFILE_Default && ds.MasterOnly != nullptr)
                                              line_s(1, "masterOnly", bool_str(*ds.MasterOnly));
                                          if (telecom_phase(ds.profile) && ds.LocalPriority != nullptr)
                                              line_u(1, "localPriority", *ds.LocalPriority);
                                          if (ds.profile == PTP_BAG_PROFILE_G82752 && ds.SignalFail != nullptr)
                                              line_s(1, "signalFail", bool_str(*ds.SignalFail));
                                          printf("\n");
                                      });
}

struct global_set_type {
    char letter;
    const char *item;
    const char *get_text;
    ptp_show_item_printer_fn printer;
};
constexpr global_set_type global_sets[] = {
    {'c', "current-ds", "Failed to get PTP currentDS information: %s\n", print_current},
    {'d', "default-ds", "Failed to get PTP defaultDS information: %s\n", print_default},
    {'p', "parent-ds", "Failed to get PTP parentDS information: %s\n", print_parent},
    {'t', "time-properties-ds", "Failed to get PTP timePropertiesDS information: %s\n", print_time_properties},
};

} // namespace

int ptp_show_datasets_main(int argc, char **argv)
{
    if (!ptp_show_parse_options(argc, argv, ":cdpti:a"))
        return 0;
    if (ptp_show_options.error)
        return 0;
    const bool port = ptp_show_flag('a') || ptp_show_options.ifname != nullptr;
    bool some = port;
    for (const global_set_type &set : global_sets)
        some = some || ptp_show_flag(set.letter);
    for (const global_set_type &set : global_sets)
        if (!some || ptp_show_flag(set.letter))
            ptp_show_item(DATASET_DIR, set.item, BIND_TEXT, set.get_text, set.printer);
    if (!port)
        return 0;
    nodra_conn_td *conn = nullptr;
    const zerrno rc = ptp_show_bind(&conn, PORT_DS_DIR);
    if (rc != 0) {
        printf(BIND_TEXT, PORT_DS_DIR, zerr_strerror(rc));
        return 0;
    }
    if (ptp_show_options.ifname != nullptr)
        ptp_show_intf_info(conn, ptp_show_options.ifname, nullptr, print_port);
    else
        ptp_show_all_intfs_info(conn, nullptr, print_port);
    ptp_show_unbind(conn);
    return 0;
}
