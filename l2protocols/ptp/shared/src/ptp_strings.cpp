// Value-to-text helpers and trace packers.
#include "ptp_strings.h"

#include <arpa/inet.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <span>

#include "ptp_wire.h"
#include "sysmgr.h"

namespace {

// ---- The text pool ----

// Per thread: the prints that use the ring run on several threads of a process, and a shared
// ring would let one thread overwrite a text that another is still printing.
struct ptp_utils_str_pool {
    char buffers[PTP_STR_POOL_COUNT][PTP_STR_POOL_SIZE];
    size_t next;
};
thread_local ptp_utils_str_pool pool;

template <typename... Args>
const char *pool_format(const char *format, Args... args)
{
    char *buffer = ptp_str_pool_get();
    snprintf(buffer, PTP_STR_POOL_SIZE, format, args...);
    return buffer;
}

// ---- Name tables ----

template <size_t N>
const char *name_of(const std::array<const char *, N> &names, int64_t value, const char *otherwise, int64_t first = 0)
{
    int64_t index = value - first;
    return index >= 0 && index < static_cast<int64_t>(N) ? names[static_cast<size_t>(index)] : otherwise;
}

constexpr std::array<const char *, 4> address_encap_names = {"Unknown address", "Ethernet", "IPv4", "IPv6"};
constexpr std::array<const char *, 3> clock_source_names = {"foreign master", "local clock", "virtual port"};
constexpr std::array<const char *, 3> transport_names = {"Unicast", "Mixed-mode", "Multicast"};
constexpr std::array<const char *, 3> restrict_port_state_names = {"Any", "Slave-only", "Master-only"};
constexpr std::array<const char *, 3> basic_profile_names = {"Default", "G.8265.1", "G.8275.1"};
constexpr std::array<const char *, 4> profile_names = {"Default", "G.8265.1", "G.8275.1", "G.8275.2"};
constexpr std::array<const char *, 8> port_state_names = {"Initializing", "Listen",       "Passive", "Pre-Master",
                                                          "Master",       "Uncalibrated", "Slave",   "Faulty"};
constexpr std::array<const char *, 12> comms_event_names = {
    "NONE",       "MEMBER_ADD", "MEMBER_DEL",        "NODE_DONE",    "NODE_UNRESPONSIVE", "NODE_RESPONSIVE",
    "LOCAL_DOWN", "LOCAL_UP",   "POSSIBLE_LOST_MSG", "DROPPED_MSGS", "FLOW_SLOW",         "FLOW_RESUME"};
constexpr std::array<const char *, 2> timescale_names = {"PTP", "ARB"};
constexpr std::array<const char *, 5> sync_state_names = {"Sync", "Holdover specification", "No-sync",
                                                          "Holdover post-specification", "Double failure"};
constexpr std::array<const char *, 3> leap_second_short_names = {"None", "59", "61"};
constexpr std::array<const char *, 3> leap_second_names = {"None", "Leap59", "Leap61"};
constexpr std::array<const char *, 5> primary_ref_names = {"None", "PRC", "EPRC", "PRTC", "EPRTC"};
constexpr std::array<const char *, 3> g8275_clock_type_names = {"T-GM", "T-BC", "T-TSC"};
constexpr std::array<const char *, 4> g8265_clock_type_names = {"Master", "Unknown", "Slave", "Any port state"};
constexpr std::array<const char *, 18> clock_accuracy_names = {
    "< 25 nanoseconds",   "< 100 nanoseconds", "< 250 nanoseconds",  "< 1 microsecond",    "< 2.5 microseconds",
    "< 10 microseconds",  "< 25 microseconds", "< 100 microseconds", "< 250 microseconds", "< 1 millisecond",
    "< 2.5 milliseconds", "< 10 milliseconds", "< 25 milliseconds",  "< 100 milliseconds", "< 250 milliseconds",
    "< 1 second",         "< 10 seconds",      "> 10 seconds"};
constexpr std::array<const char *, 2> clock_selection_mode_names = {"1588", "G.8265.1"};
constexpr std::array<const char *, 5> chkpt_table_names = {"Chkpt Table Name Invalid", "BMC clock", "Port Numbers",
                                                           "BMC Global", "UTC Info"};
constexpr const char *unknown_msg_type = "Unknown message type";
constexpr std::array<const char *, 14> msg_type_names = {
    "Sync",           "Delay-Req",      "Pdelay-Req", "Pdelay-Resp", unknown_msg_type,        unknown_msg_type,
    unknown_msg_type, unknown_msg_type, "Follow-Up",  "Delay-Resp",  "Pdelay-Resp-Follow-Up", "Announce",
    "Signaling",      "Management"};
constexpr std::array<const char *, 2> servo_mode_names = {"Default", "Hybrid"};
constexpr std::array<const char *, 2> network_type_names = {"Default", "High PDV"};

struct flag_name {
    uint32_t flag;
    const char *name;
};
constexpr flag_name msg_flag_names[] = {
    {0, "None"},
    {PTP_MSG_FLAG_LEAP61, "leap61"},
    {PTP_MSG_FLAG_LEAP59, "leap59"},
    {PTP_MSG_FLAG_UTC_OFFSET_VALID, "currentUtcOffsetValid"},
    {PTP_MSG_FLAG_PTP_TIMESCALE, "ptpTimescale"},
    {PTP_MSG_FLAG_TIME_TRACEABLE, "timeTraceable"},
    {PTP_MSG_FLAG_FREQUENCY_TRACEABLE, "frequencyTraceable"},
    {PTP_MSG_FLAG_ALTERNATE_MASTER, "alternativeMasterFlag"},
    {PTP_MSG_FLAG_TWO_STEP, "twoStepFlag"},
    {PTP_MSG_FLAG_UNICAST, "unicastFlag"},
};

const char *ipv4_text(const uint8_t address[PTP_IPV4_ADDR_LEN])
{
    char *buffer = ptp_str_pool_get();
    if (inet_ntop(AF_INET, address, buffer, PTP_STR_POOL_SIZE) == nullptr)
        buffer[0] = '\0';
    return buffer;
}

const char *ipv6_text(const uint8_t address[PTP_IPV6_ADDR_LEN])
{
    char *buffer = ptp_str_pool_get();
    if (inet_ntop(AF_INET6, address, buffer, PTP_STR_POOL_SIZE) == nullptr)
        buffer[0] = '\0';
    return buffer;
}

// The transport named by two bits of a change code: unicast bit, multicast bit, neither Mixed-mode.
const char *transport_of_bits(uint32_t bits)
{
    switch (bits & 0x3) {
    case 0x1: return ptp_transport_to_str(PTP_TRANSPORT_UNICAST);
    case 0x2: return ptp_transport_to_str(PTP_TRANSPORT_MULTICAST);
    case 0x0: return ptp_transport_to_str(PTP_TRANSPORT_MIXED);
    default: return "Unknown";
    }
}

} // namespace

char *ptp_str_pool_get()
{
    char *buffer = pool.buffers[pool.next];
    pool.next = (pool.next + 1) % PTP_STR_POOL_COUNT;
    return buffer;
}

// ---- Constant names ----

const char *ptp_address_encap_to_str(uint32_t encap)
{
    return name_of(address_encap_names, encap, "Invalid address");
}
const char *ptp_clock_source_to_str(uint32_t source)
{
    return name_of(clock_source_names, source, "unknown");
}
const char *ptp_transport_to_str(uint32_t transport)
{
    return name_of(transport_names, transport, "Unknown");
}
const char *ptp_restrict_port_state_to_str(uint32_t state)
{
    return name_of(restrict_port_state_names, state, "Unknown");
}
const char *ptp_basic_profile_to_str(uint32_t profile)
{
    return name_of(basic_profile_names, profile, "Unknown");
}
const char *ptp_profile_to_str(uint32_t profile)
{
    return name_of(profile_names, profile, "Unknown");
}
const char *ptp_port_state_to_str(uint32_t state)
{
    return name_of(port_state_names, state, "Unknown Port State");
}
const char *ptp_comms_event_to_str(int32_t event)
{
    return name_of(comms_event_names, event, "UNKNOWN", -1);
}
const char *ptp_clock_timescale_to_str(uint32_t timescale)
{
    return name_of(timescale_names, timescale, "Unknown");
}
const char *ptp_sync_state_to_str(uint32_t state)
{
    return name_of(sync_state_names, state, "Unknown");
}
const char *ptp_leap_second_short_to_str(uint32_t leap)
{
    return name_of(leap_second_short_names, leap, "UNKNOWN");
}
const char *ptp_leap_second_to_str(uint32_t leap)
{
    return name_of(leap_second_names, leap, "UNKNOWN");
}
const char *ptp_primary_ref_type_to_str(uint32_t type)
{
    return name_of(primary_ref_names, type, "Unknown");
}
const char *ptp_negotiation_to_str(uint32_t nonnegotiated)
{
    return nonnegotiated == 0 ? "Negotiated" : "Non-negotiated";
}

const char *ptp_telecom_clock_type_to_str(uint32_t type, uint32_t profile)
{
    switch (profile) {
    case PTP_PROFILE_G8275_1:
    case PTP_PROFILE_G8275_2: return name_of(g8275_clock_type_names, type, "Unknown");
    case PTP_PROFILE_G8265_1: return name_of(g8265_clock_type_names, type, "Unknown");
    default: return "Unknown";
    }
}

const char *ptp_clock_accuracy_to_str(uint32_t accuracy)
{
    return name_of(clock_accuracy_names, accuracy, "Unknown", 0x20);
}

const char *ptp_msg_flag_to_str(uint32_t flag)
{
    for (const flag_name &f : msg_flag_names)
        if (f.flag == flag)
            return f.name;
    return "Unknown";
}

const char *ptp_clock_selection_mode_to_str(uint32_t mode)
{
    return name_of(clock_selection_mode_names, mode, "Unknown");
}
const char *ptp_clock_selection_mode_to_str2(uint32_t mode)
{
    return name_of(clock_selection_mode_names, mode, "Unknown");
}
const char *ptp_chkpt_table_to_str(int32_t table)
{
    return name_of(chkpt_table_names, table, "Unknown", -1);
}
const char *ptp_msg_type_to_str(uint32_t type)
{
    return name_of(msg_type_names, type, unknown_msg_type);
}
const char *ptp_servo_mode_to_str(uint32_t mode)
{
    return name_of(servo_mode_names, mode, "Unknown");
}
const char *ptp_network_type_to_str(uint32_t type)
{
    return name_of(network_type_names, type, "Unknown");
}
const char *ptp_multicast_to_str(uint32_t enabled)
{
    return enabled == 0 ? "Multicast Disabled" : "Multicast Enabled";
}

const char *ptp_cfg_event_to_str(uint32_t event)
{
    if (event & PTP_CFG_EVENT_CREATE)
        return "Create";
    if (event & PTP_CFG_EVENT_SET)
        return "Set";
    if (event & PTP_CFG_EVENT_DELETE)
        return "Delete";
    return "Unknown";
}

const char *ptp_op_flag_to_str(uint32_t flags)
{
    bool set = flags & PTP_OP_FLAG_SET;
    if (flags & PTP_OP_FLAG_DELETE)
        return set ? "delete" : "no-op";
    if (flags & PTP_OP_FLAG_CREATE)
        return set ? "update" : "create";
    return (flags & 0xff) != 0 ? "invalid op" : "no flag";
}

const char *ptp_profile_name_to_str(const char *name)
{
    return name != nullptr ? name : "No Profile set";
}

const char *ptp_source_ipv4_to_str(const ptp_source_ip_data_type *source)
{
    return source != nullptr && source->enable ? ipv4_text(source->ip_address) : "Disabled";
}

const char *ptp_source_ipv6_to_str(const ptp_source_ipv6_data_type *source)
{
    return source != nullptr && source->enable ? ipv6_text(source->ip_address) : "Disabled";
}

const char *ptp_ipv4_addr_to_str_masked(uint32_t mask, const uint8_t address[PTP_IPV4_ADDR_LEN], uint32_t bit)
{
    return bit < 32 && (mask >> bit & 1) != 0 && address != nullptr ? ipv4_text(address) : "Disabled";
}

// ---- Pool formatters ----

const char *ptp_ethaddr_to_str(const uint8_t mac[PTP_MAC_ADDR_LEN])
{
    return pool_format("%02x%02x.%02x%02x.%02x%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
}

const char *ptp_trace_ethaddr_to_str(uint32_t upper, uint32_t lower)
{
    uint8_t mac[PTP_MAC_ADDR_LEN];
    ptp_wire_put32(mac, upper);
    ptp_wire_put16(mac + 4, static_cast<uint16_t>(lower));
    return ptp_ethaddr_to_str(mac);
}

const char *ptp_address_to_str(const ptp_address_type *address)
{
    if (address == nullptr || address->encap > PTP_ENCAP_IPV6)
        return "Invalid address";
    const char *value;
    switch (address->encap) {
    case PTP_ENCAP_ETHERNET: value = ptp_ethaddr_to_str(address->value); break;
    case PTP_ENCAP_IPV4: value = ipv4_text(address->value); break;
    case PTP_ENCAP_IPV6: value = ipv6_text(address->value); break;
    default: return ptp_address_encap_to_str(PTP_ENCAP_UNKNOWN);
    }
    return pool_format("%s%s%s", ptp_address_encap_to_str(address->encap), " ", value);
}

const char *ptp_address_trace_to_str(uint32_t encap, uint64_t word1, uint64_t word2)
{
    const char *value;
    switch (encap) {
    case PTP_ENCAP_UNKNOWN: return ptp_address_encap_to_str(PTP_ENCAP_UNKNOWN);
    case PTP_ENCAP_ETHERNET:
        value = ptp_trace_ethaddr_to_str(static_cast<uint32_t>(word1), static_cast<uint32_t>(word2));
        break;
    case PTP_ENCAP_IPV4: {
        uint8_t ip[PTP_IPV4_ADDR_LEN];
        ptp_wire_put32(ip, static_cast<uint32_t>(word1));
        value = ipv4_text(ip);
        break;
    }
    case PTP_ENCAP_IPV6: {
        const char *text = reinterpret_cast<const char *>(static_cast<uintptr_t>(word1));
        value = text != nullptr ? text : "";
        break;
    }
    default: return "Invalid address";
    }
    return pool_format("%s%s%s", ptp_address_encap_to_str(encap), " ", value);
}

const char *ptp_transport_address_to_str(uint32_t transport, uint32_t encap, uint64_t word1, uint64_t word2)
{
    return pool_format("%s %s", ptp_transport_to_str(transport), ptp_address_trace_to_str(encap, word1, word2));
}

const char *ptp_transport_change_to_str(uint32_t code)
{
    return pool_format("%s -> %s", transport_of_bits(code), transport_of_bits(code >> 2));
}

const char *ptp_transport_change_to_str_masked(uint32_t code, uint32_t mask, uint32_t bit)
{
    auto valid = [mask](uint32_t b) { return b < 32 && (mask >> b & 1) != 0; };
    return pool_format("%s -> %s", valid(bit) ? transport_of_bits(code) : "Not Set",
                       valid(bit + 1) ? transport_of_bits(code >> 2) : "Not Set");
}

const char *ptp_delay_asymmetry_to_str(int32_t nanoseconds)
{
    if (nanoseconds == 0)
        return "None";
    if (nanoseconds % 1000000 == 0)
        return pool_format("%d %s", nanoseconds / 1000000, "milliseconds");
    if (nanoseconds % 1000 == 0)
        return pool_format("%d %s", nanoseconds / 1000, "microseconds");
    return pool_format("%d %s", nanoseconds, "nanoseconds");
}

// No node-name service is reachable from this library: every node prints in the fallback form.
const char *ptp_node_id_to_str(uint32_t node_id)
{
    char name[64];
    if (nodeid_to_str_external(node_id, name, sizeof name) == 0) {
        return pool_format("%s", name);
    }
    return pool_format("<Unknown node (0x%8.8x)>", node_id);
}

// No interface-name service is reachable from this library: the handle prints in hexadecimal.
const char *ptp_ifhandle_to_str(uint32_t ifhandle)
{
    return pool_format("ifh 0x%x", ifhandle);
}

const char *ptp_utc_offset_to_str(int32_t offset, uint32_t valid)
{
    return pool_format("%+d second%s (%svalid)", offset, offset == 1 || offset == -1 ? "" : "s",
                       valid != 0 ? "" : "not ");
}

// Formats in UTC with gmtime_r: the process's time zone (TZ) stays as it is.
const char *ptp_date_to_str(int64_t seconds, int *length)
{
    char *buffer = ptp_str_pool_get();
    time_t t = static_cast<time_t>(seconds);
    struct tm tm_utc {};
    size_t n = 0;
    if (gmtime_r(&t, &tm_utc) != nullptr)
        n = strftime(buffer, PTP_STR_POOL_SIZE, "%Y-%m-%d", &tm_utc);
    buffer[n] = '\0';
    if (length != nullptr)
        *length = static_cast<int>(n);
    return buffer;
}

const char *ptp_slow_tracking_to_str(uint32_t rate)
{
    uint32_t low = rate & 0xffff;
    return low == 0 ? "NOT SET" : pool_format("%u ns/sec", low);
}

const char *ptp_profile_clock_type_to_str(uint32_t profile, uint32_t clock_type)
{
    return pool_format("%s (%s)", ptp_profile_to_str(profile), ptp_telecom_clock_type_to_str(clock_type, profile));
}

// ---- Trace packers ----

uint32_t ptp_address_encap_get(const ptp_address_type *address)
{
    return address != nullptr ? address->encap : 0;
}

uint64_t ptp_address_trace_value(const ptp_address_type *address)
{
    if (address == nullptr)
        return 0;
    const uint8_t *v = address->value;
    switch (address->encap) {
    case PTP_ENCAP_ETHERNET:
    case PTP_ENCAP_IPV4: return ptp_wire_get32(v);
    case PTP_ENCAP_IPV6: return reinterpret_cast<uintptr_t>(ipv6_text(v));
    default: return 0;
    }
}

uint32_t ptp_address_trace_mac_low(const ptp_address_type *address)
{
    if (address == nullptr || address->encap != PTP_ENCAP_ETHERNET)
        return 0;
    return ptp_trace_ethaddr_low(address->value);
}

uint32_t ptp_trace_ethaddr_high(const uint8_t mac[PTP_MAC_ADDR_LEN])
{
    return ptp_wire_get32(mac);
}

uint32_t ptp_trace_ethaddr_low(const uint8_t mac[PTP_MAC_ADDR_LEN])
{
    return ptp_wire_get16(mac + 4);
}

uint32_t ptp_trace_flags_pack(bool f0, bool f1, bool f2, bool f3)
{
    return (f0 ? 0x1u : 0) | (f1 ? 0x2u : 0) | (f2 ? 0x4u : 0) | (f3 ? 0x8u : 0);
}

uint32_t ptp_trace_flags_pack_ptrs(const uint32_t *f0, const uint32_t *f1, const uint32_t *f2, const uint32_t *f3)
{
    return ptp_trace_flags_pack(f0 != nullptr && *f0 != 0, f1 != nullptr && *f1 != 0, f2 != nullptr && *f2 != 0,
                                f3 != nullptr && *f3 != 0);
}

uint32_t ptp_trace_bytes_pack(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    return static_cast<uint32_t>(b0) | static_cast<uint32_t>(b1) << 8 | static_cast<uint32_t>(b2) << 16 |
           static_cast<uint32_t>(b3) << 24;
}

uint32_t ptp_transport_change_encode(uint32_t old_transport, uint32_t new_transport)
{
    auto bits = [](uint32_t t) -> uint32_t {
        return t == PTP_TRANSPORT_UNICAST ? 0x1u : t == PTP_TRANSPORT_MULTICAST ? 0x2u : 0;
    };
    return bits(old_transport) | bits(new_transport) << 2;
}

bool ptp_transport_is_unicast(uint32_t transport)
{
    return transport == PTP_TRANSPORT_UNICAST;
}
