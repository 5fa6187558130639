// The trace display tool: each prefix group and special entry against its golden line, records
// that carry less than their point, the -A/-B selections, and whole buffers read back.
#include "ptp_show_jotlog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "jotlog_test.h"
#include "plat_clock_test.h"
#include "ptp_enums.h"
#include "ptp_trace_points.h"
#include "ptp_types.h"
#include "zerrno.h"

namespace {

struct arg {
    uint64_t word;
    const char *text; // a text argument when not null
};

// A record as the reader hands it out.
jotlog_record_type record_of(uint64_t id, std::initializer_list<arg> args)
{
    jotlog_record_type r{};
    r.id = id;
    for (const arg &a : args) {
        const uint32_t i = r.nargs++;
        if (a.text != nullptr) {
            std::snprintf(r.text[i], sizeof r.text[i], "%s", a.text);
            r.text_mask = static_cast<uint16_t>(r.text_mask | 1u << i);
            r.args[i] = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(r.text[i]));
        } else {
            r.args[i] = a.word;
        }
    }
    return r;
}

std::string decoded(const jotlog_record_type &r, size_t size = 1024)
{
    std::vector<char> buf(size, 'X');
    if (ptp_show_jotlog_decode(&r, 0, buf.data(), buf.size()) != 0)
        return "<undecoded>";
    return buf.data();
}

uint64_t id_of(const ptp_trace_point_type &p, uint32_t addr_fmt = 0)
{
    return ptp_trace_point_id(p) | uint64_t{addr_fmt} << PTP_TRACE_ADDR_FMT_SHIFT;
}

struct golden_case {
    const char *what;
    jotlog_record_type record;
    const char *line;
};

TEST(ShowJotlog, EachPrefixGroupAndSpecialEntry)
{
    const uint32_t ipv4_fmt = ptp_jotlog_addr_fmt_get(3, 2);
    const golden_case cases[] = {
        {"agent main", record_of(id_of(PTP_TRACE_TESSEL_MAIN_START), {}), "[Main] Tessel is (re)starting."},
        {"agent 200-399 has no module", record_of(id_of(PTP_TRACE_TESSEL_CAPS_BAD_VERSION), {{7, nullptr}}),
         "[Unknown] [ERROR] The platform specified an invalid version for the interface capabilities API: 7"},
        {"agent IM, enum name", record_of(id_of(PTP_TRACE_TESSEL_IM_BULK_NOTIFY), {{3, nullptr}, {20, nullptr}}),
         "[IM] Received 3 'attributes' IM notifications in bulk"},
        {"agent configuration event, its name",
         record_of(id_of(PTP_TRACE_TESSEL_CFG_IF_ANNOUNCE_INTERVAL), {{0x40, nullptr},
                                                                      {PTP_CFG_EVENT_SET, nullptr},
                                                                      {1, nullptr},
                                                                      {static_cast<uint64_t>(-3), nullptr},
                                                                      {1, nullptr},
                                                                      {static_cast<uint64_t>(-3), nullptr}}),
         "[Config] ifh 0x40: Announce interval config Set event: 1 -> -3. Applied config: 1 -> -3 (seconds log base 2)"},
        {"agent configuration, names of the values",
         record_of(id_of(PTP_TRACE_TESSEL_CFG_IF_ENCAP), {{0x40, nullptr},
                                                          {PTP_CFG_EVENT_CREATE, nullptr},
                                                          {2, nullptr},
                                                          {1, nullptr},
                                                          {2, nullptr},
                                                          {3, nullptr}}),
         "[Config] ifh 0x40: Encap config Create event: IPv4 -> Ethernet. Applied config: IPv4 -> IPv6"},
        {"agent configuration, clock operations",
         record_of(
             id_of(PTP_TRACE_TESSEL_CFG_IF_CLOCK_OPERATION),
             {{0x40, nullptr}, {PTP_CFG_EVENT_SET, nullptr}, {0, nullptr}, {1, nullptr}, {0, nullptr}, {1, nullptr}}),
         "[Config] ifh 0x40: Clock operation config Set event: Two-step -> One-step. Applied config: Two-step -> "
         "One-step"},
        {"agent configuration, transport changes",
         record_of(id_of(PTP_TRACE_TESSEL_CFG_IF_MULTICAST),
                   {{0x40, nullptr}, {PTP_CFG_EVENT_SET, nullptr}, {0x9, nullptr}, {0x6, nullptr}}),
         "[Config] ifh 0x40: Multicast config Set event: Unicast -> Multicast. Applied config: Multicast -> Unicast"},
        {"agent configuration, port-state restrictions",
         record_of(id_of(PTP_TRACE_TESSEL_CFG_IF_PORT_STATE), {{0x40, nullptr},
                                                               {PTP_CFG_EVENT_DELETE, nullptr},
                                                               {1, nullptr},
                                                               {0, nullptr},
                                                               {2, nullptr},
                                                               {7, nullptr}}),
         "[Config] ifh 0x40: Port State config Delete event: Slave-only -> Any. Applied config: Master-only -> Unknown"},
        {"agent configuration, delay asymmetries",
         record_of(id_of(PTP_TRACE_TESSEL_CFG_IF_DELAY_ASYMMETRY), {{0x40, nullptr},
                                                                    {PTP_CFG_EVENT_SET, nullptr},
                                                                    {0, nullptr},
                                                                    {static_cast<uint64_t>(-1500), nullptr},
                                                                    {0, nullptr},
                                                                    {2000000, nullptr}}),
         "[Config] ifh 0x40: Interface delay asymmetry config Set event: None -> -1500 nanoseconds. Applied config: "
         "None -> 2 milliseconds"},
        {"agent configuration, update type",
         record_of(id_of(PTP_TRACE_TESSEL_CFG_IF_COS), {{0x40, nullptr},
                                                        {PTP_CFG_EVENT_SET, nullptr},
                                                        {6, nullptr},
                                                        {5, nullptr},
                                                        {6, nullptr},
                                                        {5, nullptr},
                                                        {2, nullptr}}),
         "[Config] ifh 0x40: CoS config Set event: 6 -> 5. Applied config: 6 -> 5 (seconds). Update type: event."},
        {"agent configuration, the message type before the event",
         record_of(id_of(PTP_TRACE_TESSEL_CFG_IF_GRANT_DURATION), {{0x40, nullptr},
                                                                   {PTP_MSG_ANNOUNCE, nullptr},
                                                                   {PTP_CFG_EVENT_SET, nullptr},
                                                                   {300, nullptr},
                                                                   {60, nullptr},
                                                                   {300, nullptr},
                                                                   {60, nullptr}}),
         "[Config] ifh 0x40: Announce unicast grant duration config Set event: 300 -> 60. Applied config: 300 -> 60"},
        {"agent configuration, reduce or deny",
         record_of(
             id_of(PTP_TRACE_TESSEL_CFG_IF_INVALID_GRANT),
             {{0x40, nullptr}, {PTP_CFG_EVENT_SET, nullptr}, {0, nullptr}, {1, nullptr}, {0, nullptr}, {1, nullptr}}),
         "[Config] ifh 0x40: Invalid grant reduce/deny config Set event: Reduce -> Deny. Applied config: Reduce -> "
         "Deny"},
        {"agent master table, four values of which some are not set",
         record_of(id_of(PTP_TRACE_TESSEL_CFG_MASTER_PRIORITY, ipv4_fmt),
                   {{0x40, nullptr},
                    {0x0a000001, nullptr},
                    {0, nullptr},
                    {2, nullptr},
                    {PTP_CFG_EVENT_SET, nullptr},
                    {ptp_trace_opt_value_pack(1, 7, true) | ptp_trace_opt_value_pack(3, 9, true), nullptr}}),
         "[Config] ifh 0x40: Master IPv4 10.0.0.1 priority config Set event: Not set 0 -> 7. Applied config: Not "
         "set 0 -> 9"},
        {"agent master table, enable",
         record_of(
             id_of(PTP_TRACE_TESSEL_CFG_MASTER_ENABLE_CONFIG_EVENT),
             {{0, "IPv4 10.0.0.1"}, {0, "Create"}, {0, "Disabled"}, {0, "Enabled"}, {0, "Disabled"}, {0, "Enabled"}}),
         "[Config] Master IPv4 10.0.0.1 enable config Create event: Disabled -> Enabled. Applied config: Disabled "
         "-> Enabled"},
        {"agent master table, non-negotiated",
         record_of(id_of(PTP_TRACE_TESSEL_CFG_MASTER_NONNEGOTIATED_UNICAST_CONFIG), {{0, "IPv4 10.0.0.1"},
                                                                                     {0, "Set"},
                                                                                     {0, "[Not set]"},
                                                                                     {0, "Non-negotiated"},
                                                                                     {0, "[Not set]"},
                                                                                     {0, "Non-negotiated"}}),
         "[Config] Master IPv4 10.0.0.1 non-negotiated unicast config Set event: [Not set] -> Non-negotiated. "
         "Applied config: [Not set] -> Non-negotiated"},
        {"agent master table, multicast",
         record_of(id_of(PTP_TRACE_TESSEL_CFG_MASTER_MULTICAST_CONFIG_EVENT),
                   {{0, "IPv4 10.0.0.1"}, {0, "Create"}, {0, "Not set  -> Mixed-mode"}, {0, "Not set  -> Mixed-mode"}}),
         "[Config] Master IPv4 10.0.0.1 multicast config Create event: Not set  -> Mixed-mode. Applied config: Not "
         "set  -> Mixed-mode"},
        {"agent master table, delay asymmetry",
         record_of(id_of(PTP_TRACE_TESSEL_CFG_MASTER_DELAY_ASYMMETRY_CONFIG), {{0, "IPv4 10.0.0.1"}, {0, "Delete"}}),
         "[Config] Master IPv4 10.0.0.1 delay asymmetry config Delete event."},
        {"agent slave table, non-negotiated",
         record_of(id_of(PTP_TRACE_TESSEL_CFG_SLAVE_NONNEGOTIATED_UNICAST_CONFIG), {{0, "IPv4 10.0.0.2"},
                                                                                    {0, "Create"},
                                                                                    {0, "Negotiated"},
                                                                                    {0, "Non-negotiated"},
                                                                                    {0, "Negotiated"},
                                                                                    {0, "Non-negotiated"}}),
         "[Config] Slave IPv4 10.0.0.2 non-negotiated unicast config Create event: Negotiated -> Non-negotiated. "
         "Applied config: Negotiated -> Non-negotiated"},
        {"agent profile value refused, no value shown for its code",
         record_of(id_of(PTP_TRACE_TESSEL_CFG_PRF_ANNOUNCE_TIMEOUT_IGNORED), {{0x40, nullptr}, {22, nullptr}}),
         "[Config] ifh 0x40: Profile announce timeout config ignored as it is not supported."},
        {"agent offload statistics, pending or not",
         record_of(id_of(PTP_TRACE_TESSEL_OFFLOAD_STATS_TIMEOUT),
                   {{1, nullptr}, {0, nullptr}, {0, nullptr}, {1, nullptr}, {0, nullptr}, {0, nullptr}}),
         "[Offload] Stats offload request timed out. Ethernet session stats pending. Ethernet IF/GL stats not "
         "pending. IPv4 session stats not pending. IPv4 IF/GL stats pending. IPv6 session stats not pending. IPv6 "
         "IF/GL stats not pending."},
        {"agent peer index, interface name recorded as text",
         record_of(id_of(PTP_TRACE_TESSEL_PEER_INDEX_RESTORE_NO_IDB, ptp_jotlog_addr_fmt_get(2, 2)),
                   {{0, "Gi0/0/0/1"}, {5, nullptr}, {0x0a000002, nullptr}, {0, nullptr}, {2, nullptr}}),
         "[FSM] Gi0/0/0/1: Falied to find IDB to restore peer index 5 for peer IPv4 10.0.0.2"},
        {"agent error text", record_of(id_of(PTP_TRACE_TESSEL_IM_BIND_FAILED), {{0, nullptr}}),
         "[IM] Failed to bind to IM: Success"},
        {"interface lead", record_of(id_of(PTP_TRACE_TESSEL_PM_IF_READY), {{0x40, nullptr}}),
         "[Port-Mgr] ifh 0x40: Interface is now ready"},
        {"interface lead, handle 0 prints none", record_of(id_of(PTP_TRACE_TESSEL_PM_IF_READY), {{0, nullptr}}),
         "[Port-Mgr] Interface is now ready"},
        {"interface and port state lead",
         record_of(id_of(PTP_TRACE_TESSEL_FSM_STATE_CHANGE), {{0x40, nullptr}, {1, nullptr}, {9, nullptr}}),
         "[FSM] ifh 0x40: Listen: Change to state Unknown Port State"},
        {"clock identities",
         record_of(id_of(PTP_TRACE_TESSEL_BMC_GLOBAL_RECEIVED),
                   {{0x00112233, nullptr}, {0x44556677, nullptr}, {0xaabbccdd, nullptr}, {0x1, nullptr}, {0, nullptr}}),
         "[BMC] Received global best master clock 0x11223344556677 and advertised clock 0xaabbccdd00000001. BMC "
         "has not changed"},
        {"packet dump, IPv4 address in two parts",
         record_of(id_of(PTP_TRACE_TESSEL_PKT_DUMP, ipv4_fmt),
                   {{0x40, nullptr}, {1, nullptr}, {90, nullptr}, {0x0a000001, nullptr}, {0, nullptr}, {2, nullptr}}),
         "[Packet] ifh 0x40: O len 90 IPv4 10.0.0.1"},
        {"packet dump, IPv6 address recorded as text",
         record_of(id_of(PTP_TRACE_TESSEL_PKT_DUMP),
                   {{0x40, nullptr}, {0, nullptr}, {44, nullptr}, {0, "2001:db8::1"}, {0, nullptr}, {3, nullptr}}),
         "[Packet] ifh 0x40: I len 44 IPv6 2001:db8::1"},
        {"packet bytes, the low 32 bits of each word",
         record_of(id_of(PTP_TRACE_TESSEL_PKT_DUMP_BYTES_56),
                   {{0x1, nullptr}, {0xdeadbeef, nullptr}, {0, nullptr}, {0xffffffff00000010, nullptr}}),
         "[Packet] 00000001deadbeef0000000000000010"},
        {"encapsulation name and number",
         record_of(id_of(PTP_TRACE_TESSEL_PKT_RX_ERROR_DUMP), {{60, nullptr}, {2, nullptr}, {5, nullptr}}),
         "[Packet] Incoming packet error, len 60, encap IPv4 (2), subtype 5"},
        {"shared library allocation, text argument",
         record_of(id_of(PTP_TRACE_UTIL_ALLOC_FAILED), {{24, nullptr}, {0, "grant"}}),
         "[Utils] [ERROR] Failed to allocate 24 bytes for 'grant'"},
        {"shared library timer", record_of(id_of(PTP_TRACE_UTIL_TW_UPDATE_FAILED), {{22, nullptr}}),
         "[Timer] [ERROR] tw_update() returned an error: Invalid argument"},
        {"shared library upgrade", record_of(id_of(PTP_TRACE_UTIL_ISSU_INIT_DONE), {}),
         "[ISSU] Module initialization complete"},
        {"shared library milestone, its own name",
         record_of(id_of(PTP_TRACE_UTIL_ISSU_MILESTONE_MET), {{2, nullptr}, {1, nullptr}, {0, nullptr}}),
         "[ISSU] Met milestone 'Sync V1 State via Chkpt', ISSU ready: no"},
        {"shared library milestone, ready flag not known",
         record_of(id_of(PTP_TRACE_UTIL_ISSU_MILESTONE_MET), {{2, nullptr}, {0, nullptr}, {1, nullptr}}),
         "[ISSU] Met milestone 'Sync V1 State via Chkpt', ISSU ready: unknown"},
        {"shared library milestone the helpers do not know",
         record_of(id_of(PTP_TRACE_UTIL_ISSU_MILESTONE_STARTED), {{513, nullptr}}),
         "[ISSU] Started milestone '<Unknown ISSU milestone>'"},
        {"agent milestone", record_of(id_of(PTP_TRACE_TESSEL_ISSU_MILESTONE_STARTED), {{513, nullptr}}),
         "[ISSU] Started milestone 'Controller Resync'"},
        {"shared library error text alone", record_of(id_of(PTP_TRACE_UTIL_ISSU_ERROR), {{12, nullptr}}),
         "[ISSU] Cannot allocate memory"},
        {"controller main", record_of(id_of(PTP_TRACE_QUORRIN_MAIN_START), {}),
         "[Main] PTP controller is (re)starting"},
        {"controller leap seconds", record_of(id_of(PTP_TRACE_QUORRIN_LEAP_INIT), {}),
         "[Leap Seconds] Initializing the leap seconds module"},
        {"controller text with a lone trailing percent",
         record_of(id_of(PTP_TRACE_QUORRIN_PLATFORM_SLAVE_UPDATE_GM), {{3, nullptr},
                                                                       {0, "PTP"},
                                                                       {128, nullptr},
                                                                       {2, nullptr},
                                                                       {0x10016, nullptr},
                                                                       {static_cast<uint64_t>(-250), nullptr},
                                                                       {0x40, nullptr},
                                                                       {0, "none"}}),
         "[Platform] Sending slave update to platform. Grandmaster available: Has freq yes, Has time yes, Timescale "
         "PTP, Freq Pri 128, ToD Pri 2, QL Opt-I/PRC, Delay Asymmetry -250, Interface handle 0x00000040, APTS none, "
         "best source is %"},
        {"controller leap second offset, a floating-point date",
         record_of(id_of(PTP_TRACE_QUORRIN_CFG_LEAP_SECOND_OFFSET_CONFIG),
                   {{PTP_CFG_EVENT_SET, nullptr},
                    {ptp_trace_leap_offset_pack(0, 0, false), nullptr},
                    {ptp_trace_leap_offset_pack(37, 1483228800, true), nullptr}}),
         "[Config] Leap second offset config Set event: 0(0.000000) (Not Set) -> 37(1483228800.000000)."},
        {"controller comms", record_of(id_of(PTP_TRACE_QUORRIN_COMMS_RETRY_MAX), {}),
         "[Comms] Max message-send retry count reached, exiting"},
        {"controller config, a text argument",
         record_of(id_of(PTP_TRACE_QUORRIN_CFG_GLOBAL_ENABLE_CONFIG_EVENT), {{0, "Create"}}),
         "[Config] Global Enable config Create event."},
        {"controller config, an identity after its mark",
         record_of(id_of(PTP_TRACE_QUORRIN_CFG_CLOCK_IDENTITY_CONFIG_EVENT),
                   {{0, "Create"}, {0, "(Not Set) "}, {0, nullptr}, {0, ""}, {0x0011223344556677, nullptr}}),
         "[Config] Clock identity config Create event: (Not Set) 0x0 -> 0x11223344556677."},
        {"controller config, a priority's number first",
         record_of(id_of(PTP_TRACE_QUORRIN_CFG_CLOCK_PRIORITY_CONFIG_EVENT),
                   {{2, nullptr}, {0, "Set"}, {0, ""}, {128, nullptr}, {0, ""}, {20, nullptr}}),
         "[Config] Clock priority2 config Set event: 128 -> 20."},
        {"controller config, names after their marks",
         record_of(id_of(PTP_TRACE_QUORRIN_CFG_CLOCK_PROFILE_CONFIG_EVENT),
                   {{0, "Create"}, {0, ""}, {0, "Not Set"}, {0, ""}, {0, "G.8275.1 (T-GM)"}}),
         "[Config] Clock profile config Create event: Not Set -> G.8275.1 (T-GM)"},
        {"controller config, always traced minimum clock class",
         record_of(id_of(PTP_TRACE_QUORRIN_CFG_MIN_CLOCK_CLASS_CONFIG), {{0, "Create"}, {6, nullptr}}),
         "[Config] Min clock class config Create event: 6."},
        {"controller config, leap second file",
         record_of(id_of(PTP_TRACE_QUORRIN_CFG_LEAP_SECOND_FILE_CONFIG),
                   {{0, "Create"}, {0, "(Not Set)"}, {0, nullptr}, {0, "http://leap.example/list"}, {7, nullptr}}),
         "[Config] Leap second file config Create event: (Not Set) 0 -> http://leap.example/list 7."},
        {"controller config, uncalibrated clock class and its flag",
         record_of(id_of(PTP_TRACE_QUORRIN_CFG_UNCALIBRATED_CLOCK_CLASS_CONFIG),
                   {{0, "Create"}, {0, "(Not set) "}, {0, nullptr}, {0, "FALSE"}, {0, ""}, {52, nullptr}, {0, "TRUE"}}),
         "[Config] Uncalibrated clock class config Create event: (Not set) (0,FALSE) -> (52,TRUE)."},
        {"controller config, virtual port priority",
         record_of(id_of(PTP_TRACE_QUORRIN_CFG_VIRTUAL_PORT_PRIORITY_CONFIG),
                   {{1, nullptr}, {0, "Create"}, {0, "(Not Set) "}, {0, nullptr}, {0, ""}, {5, nullptr}}),
         "[Config] Virtual Port priority1 config Create event: (Not Set) 0 -> 5."},
        {"controller config, QL option",
         record_of(id_of(PTP_TRACE_QUORRIN_CFG_FSYNC_QL_OPTION_CONFIG), {{0, "Create"}, {0, "Opt-II,1"}}),
         "[Config] Fsync QL option config Create event. New value Opt-II,1"},
        {"controller config, a failed registration",
         record_of(id_of(PTP_TRACE_QUORRIN_CFG_FAILED_BIND_GLOBAL_NODRA_344), {{0, "No such file or directory"}}),
         "[Config] Failed to bind to global Nodra bindpoint: No such file or directory"},
        {"controller profile item, the profile first",
         record_of(id_of(PTP_TRACE_QUORRIN_CFG_PROFILE_ENCAP_CONFIG_EVENT),
                   {{0, "p1"}, {0, "Create"}, {0, "(Not Set) "}, {0, nullptr}, {0, ""}, {2, nullptr}}),
         "[Config] Profile p1: Encap config Create event: (Not Set) 0 -> 2."},
        {"controller profile item, a signed interval",
         record_of(id_of(PTP_TRACE_QUORRIN_CFG_PROFILE_SYNC_INTERVAL_CONFIG_317),
                   {{0, "p1"}, {0, "Set"}, {0, ""}, {0, nullptr}, {0, ""}, {static_cast<uint64_t>(-3), nullptr}}),
         "[Config] Profile p1: Sync Interval config Set event: 0 -> -3."},
        {"controller profile item, the message type before the event",
         record_of(
             id_of(PTP_TRACE_QUORRIN_CFG_PROFILE_UNICAST_GRANT_DURATION),
             {{0, "p1"}, {0, "Announce"}, {0, "Create"}, {0, "(Not Set) "}, {0, nullptr}, {0, ""}, {300, nullptr}}),
         "[Config] Profile p1: Announce unicast grant duration config Create event: (Not Set) 0 -> 300."},
        {"controller profile master table",
         record_of(
             id_of(PTP_TRACE_QUORRIN_CFG_PROFILE_MASTER_PRIORITY_CONFIG),
             {{0, "p1"}, {0, "IPv4 192.0.2.9"}, {0, "Create"}, {0, "(Not Set)"}, {0, nullptr}, {0, ""}, {3, nullptr}}),
         "[Config] Profile p1: Master IPv4 192.0.2.9 priority config Create event: (Not Set)0 -> 3."},
        {"controller profile interop priority",
         record_of(id_of(PTP_TRACE_QUORRIN_CFG_PROFILE_INTEROP_PRIORITY_CONFIG),
                   {{0, "p1"}, {0, "egress"}, {2, nullptr}, {0, "Create"}, {128, nullptr}}),
         "[Config] Profile p1: Interop egress priority2 config Create event: 128"},
        {"controller profile interop clock class mapping",
         record_of(id_of(PTP_TRACE_QUORRIN_CFG_PROFILE_INTEROP_CLOCK_CLASS),
                   {{0, "p1"}, {0, "egress"}, {0, "Create"}, {6, nullptr}, {7, nullptr}}),
         "[Config] Profile p1: Interop egress clock class mapping config Create event: 6:7"},
        {"controller BMC",
         record_of(id_of(PTP_TRACE_QUORRIN_BMC_REMOVED_CLOCK_0X_NODE),
                   {{0xaabbccddeeff0011, nullptr}, {0, "GM"}, {0, "0/1/CPU0"}, {0x10, nullptr}}),
         "[BMC] Removed clock 0xaabbccddeeff0011 (GM) from node 0/1/CPU0(0x10) from BMC list"},
        {"controller port numbers", record_of(id_of(PTP_TRACE_QUORRIN_PORT_NUM_RECEIVED_GSP_DOWN_NOTIFICATION), {}),
         "[Port Num] Received GSP down notification"},
        {"controller port numbers, a count and a node",
         record_of(id_of(PTP_TRACE_QUORRIN_PORT_NUM_RECEIVED_PORT_NUMBER_REQUEST), {{2, nullptr}, {0x10, nullptr}}),
         "[Port Num] Received port number request message with 2 ports from node 0x10"},
        {"controller port numbers, a failed send",
         record_of(id_of(PTP_TRACE_QUORRIN_PORT_NUM_FAILED_SEND_RESYNC_MESSAGE),
                   {{3, nullptr}, {0x20, nullptr}, {0, "Invalid argument"}}),
         "[Port Num] Failed to send resync message containing 3 ports to node 0x20: Invalid argument"},
        {"global process", record_of(id_of(PTP_TRACE_SARDO_MAIN_INIT_EOI), {}),
         "[Main] Successfully informed SysMgr about EOI"},
        {"global process platform", record_of(id_of(PTP_TRACE_SARDO_PLATFORM_SUCCESSFULLY_INITIALIZED_PLATFORM), {}),
         "[Platform] Successfully initialized platform"},
        {"global process, 300 and above", record_of(id_of(PTP_TRACE_SARDO_EDM_NO_CONTROLLER), {}),
         "[Unknown] Could not determine location of PTP controller; aborting EDM request"},
    };
    for (const golden_case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(decoded(c.record), c.line);
    }
}

// Records another process wrote are not trusted: fewer arguments than the point has read as 0
// (texts as ""), a word the record does not mark as text is never followed, a record that says
// it has more than it can hold reads no further, and the text is cut to the buffer.
TEST(ShowJotlog, RecordsThatCarryLessThanTheirPoint)
{
    jotlog_record_type too_many = record_of(id_of(PTP_TRACE_UTIL_ALLOC_FAILED), {{24, nullptr}});
    too_many.nargs = 500;
    jotlog_record_type pointer_word = record_of(id_of(PTP_TRACE_UTIL_ALLOC_FAILED), {{24, nullptr}, {0x1000, nullptr}});
    jotlog_record_type ipv6_as_word =
        record_of(id_of(PTP_TRACE_TESSEL_PKT_DUMP),
                  {{0, nullptr}, {1, nullptr}, {44, nullptr}, {0x1000, nullptr}, {0, nullptr}, {3, nullptr}});
    const golden_case cases[] = {
        {"no arguments at all", record_of(id_of(PTP_TRACE_TESSEL_CAPS), {}),
         "[Unknown] The platform specified the following interface capabilities API: 0, Flags: 0, Max Sync Rate: 0, "
         "Log Sync Rate: 0"},
        {"half the arguments", record_of(id_of(PTP_TRACE_TESSEL_CAPS), {{2, nullptr}, {3, nullptr}}),
         "[Unknown] The platform specified the following interface capabilities API: 2, Flags: 3, Max Sync Rate: 0, "
         "Log Sync Rate: 0"},
        {"missing text", record_of(id_of(PTP_TRACE_UTIL_ALLOC_FAILED), {{24, nullptr}}),
         "[Utils] [ERROR] Failed to allocate 24 bytes for ''"},
        {"a text point's word not recorded as text", pointer_word,
         "[Utils] [ERROR] Failed to allocate 24 bytes for ''"},
        {"an IPv6 address not recorded as text", ipv6_as_word, "[Packet] O len 44 IPv6 "},
        {"a count beyond what a record holds", too_many, "[Utils] [ERROR] Failed to allocate 24 bytes for ''"},
        {"a number of no point", record_of(PTP_TRACE_CLASS_TESSEL | 250, {}), "<undecoded>"},
        {"a class of no decoder", record_of(0x400000 | 1, {}), "<undecoded>"},
    };
    for (const golden_case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(decoded(c.record), c.line);
    }
    // Cut to the buffer, and still terminated.
    EXPECT_EQ(decoded(record_of(id_of(PTP_TRACE_TESSEL_MAIN_START), {}), 12), "[Main] Tess");
}

// The trace tool's own quality-level names and QL options.
TEST(ShowJotlog, QualityLevels)
{
    struct ql_case {
        uint32_t packed;
        const char *name;
    };
    const ql_case cases[] = {
        {0x000016, "None"},           {0x040016, "Invalid"},       {0x010000, "Invalid"},
        {0x010001, "DNU/DUS"},        {0x010002, "Failed"},        {0x020003, "None"},
        {0x010014, "Opt-I/ePRTC"},    {0x01001c, "Opt-I/ePRC"},    {0x01001d, "Unknown QL"},
        {0x020028, "Opt-II,1/ePRTC"}, {0x020033, "Opt-II,1/ePRC"}, {0x020034, "Unknown QL"},
        {0x03003c, "Opt-II,2/ePRTC"}, {0x030049, "Opt-II,2/ePRC"}, {0x03004a, "Unknown QL"},
        {0x0100ff, "Unknown QL"},     {0x010004, "Unknown QL"},
    };
    for (const ql_case &c : cases)
        EXPECT_STREQ(ptp_show_jotlog_ql_to_str(c.packed), c.name) << std::hex << c.packed;
    EXPECT_STREQ(ptp_show_jotlog_ql_option_to_str(1), "Opt-1");
    EXPECT_STREQ(ptp_show_jotlog_ql_option_to_str(2), "Opt-II,1");
    EXPECT_STREQ(ptp_show_jotlog_ql_option_to_str(3), "Opt-II,2");
    EXPECT_STREQ(ptp_show_jotlog_ql_option_to_str(0), "Unknown QL option");
}

// Buffers as the processes write them, read back by the tool with each selection.
class ShowJotlogTool : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        dir = jotlog_test_run_dir_create("ptp-show-jotlog");
        ASSERT_FALSE(dir.empty());
        plat_clock_use_virtual(); // 2024-01-01T00:00:00Z
        jotlog_handle_type det = nullptr, pkt = nullptr, quorrin = nullptr, sardo = nullptr;
        ASSERT_EQ(jotlog_init2("ptp/tessel/det", 0, 0, 16, 1024, 0, &det), ZERR_OK);
        ASSERT_EQ(jotlog_init2("ptp/tessel/pkt", 0, 0, 16, 1024, 0, &pkt), ZERR_OK);
        ASSERT_EQ(jotlog_init2("ptp/quorrin/det", 0, 0, 16, 1024, 0, &quorrin), ZERR_OK);
        ASSERT_EQ(jotlog_init2("ptp/sardo/det", 0, 0, 16, 1024, 0, &sardo), ZERR_OK);
        ptp_trace<PTP_TRACE_TESSEL_MAIN_START>({det});
        plat_clock_advance_ms(1);
        ptp_trace<PTP_TRACE_SARDO_MAIN_START>({sardo});
        plat_clock_advance_ms(1);
        ptp_trace_address<PTP_TRACE_TESSEL_PKT_DUMP>({pkt}, 0x40u, 1u, 90u, uint64_t{0xc0000201}, uint64_t{0}, 2u);
        plat_clock_advance_ms(1);
        ptp_trace<PTP_TRACE_UTIL_ALLOC_FAILED>({quorrin}, 24u, "grant");
        plat_clock_advance_ms(1);
        ptp_trace<PTP_TRACE_TESSEL_FSM_STATE_CHANGE>({det}, 0x40u, 1u, 2u);
        for (jotlog_handle_type h : {det, pkt, quorrin, sardo})
            jotlog_close(h);
        plat_clock_use_real();
    }
    void TearDown() override { jotlog_test_run_dir_remove(dir); }

    // The tool's output, its status and what it wrote on standard error.
    std::string run(std::vector<std::string> args, int *status, std::string *err)
    {
        return jotlog_test_run_tool(ptp_show_jotlog_main, "ptp_show_jotlog", std::move(args), status, err);
    }
};

TEST_F(ShowJotlogTool, SelectionsOfTheBuffers)
{
    const std::string main_line = "2024-01-01 00:00:00.000000 ptp/tessel/det PID: [Main] Tessel is (re)starting.\n";
    const std::string sardo_line = "2024-01-01 00:00:00.001000 ptp/sardo/det PID: [Main] PTP global is (re)starting\n";
    const std::string pkt_line =
        "2024-01-01 00:00:00.002000 ptp/tessel/pkt PID: [Packet] ifh 0x40: O len 90 IPv4 192.0.2.1\n";
    const std::string util_line =
        "2024-01-01 00:00:00.003000 ptp/quorrin/det PID: [Utils] [ERROR] Failed to allocate 24 bytes for 'grant'\n";
    const std::string fsm_line =
        "2024-01-01 00:00:00.004000 ptp/tessel/det PID: [FSM] ifh 0x40: Listen: Change to state Passive\n";
    struct selection_case {
        std::vector<std::string> args;
        std::string out;
    };
    const selection_case cases[] = {
        {{}, main_line + sardo_line + pkt_line + util_line + fsm_line},
        {{"-B"}, main_line + sardo_line + util_line + fsm_line},
        {{"-A"}, pkt_line},
        {{"-A", "-i"},
         "2024-01-01 00:00:00.002000 ptp/tessel/pkt PID: [0x000a020600100734] [Packet] ifh 0x40: O len 90 IPv4 "
         "192.0.2.1\n"},
    };
    for (const selection_case &c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        int status = -1;
        std::string err;
        EXPECT_EQ(run(c.args, &status, &err), c.out);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(err, "");
    }
}

TEST_F(ShowJotlogTool, PacketOnlyAndNoPacketTogetherAreRefused)
{
    for (const std::vector<std::string> &args : {std::vector<std::string>{"-A", "-B"}, {"-AB"}, {"-B", "-i", "-A"}}) {
        int status = -1;
        std::string err;
        EXPECT_EQ(run(args, &status, &err), "");
        EXPECT_EQ(status, 2);
        EXPECT_EQ(err, "ptp_show_jotlog: -A (packet trace only) and -B (no packet trace) cannot be used together\n");
    }
}

} // namespace
