#include "ptp_cfg_utils.h"

#include <arpa/inet.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ptp_address.h"
#include "ptp_alloc.h"
#include "ptp_time.h"
#include "ptp_wire.h"
#include "tuple.h"

namespace {

[[noreturn]] void cfg_assert_fail(const char *text)
{
    fprintf(stderr, "%s\n", text);
    abort();
}

bool deleting(uint32_t event)
{
    return (event & PTP_CFG_EVENT_DELETE) != 0;
}

void set_flag(bool *out, bool v)
{
    if (out != nullptr)
        *out = v;
}

bool has_value(const bgen_value_td *nv)
{
    return nv != nullptr && nv->data != nullptr;
}

// A number item: exactly four bytes. Anything else cannot have come from a number item.
zerrno get_number(const bgen_value_td *nv, uint32_t *out)
{
    if (!has_value(nv) || nv->len != sizeof(uint32_t))
        return PTP_ZERR_CFG_TUPLE;
    memcpy(out, nv->data, sizeof(uint32_t));
    return ZERR_OK;
}

const tuple_type *as_tuple(const bgen_value_td *nv)
{
    return static_cast<const tuple_type *>(nv->data);
}

// Shared number rule: decode, write, test the range. The caller ignores the value on failure.
zerrno number_in_range(uint32_t event, const bgen_value_td *nv, uint32_t *out, bool *is_delete, uint32_t lo,
                       uint32_t hi, zerrno code)
{
    set_flag(is_delete, deleting(event));
    if (deleting(event))
        return ZERR_OK;
    uint32_t v = 0;
    if (zerrno rc = get_number(nv, &v))
        return rc;
    if (out != nullptr)
        *out = v;
    return v >= lo && v <= hi ? ZERR_OK : code;
}

// Interval tuple "%d%d" {kind, n}. The range is tested on the full values, never on their low
// byte, so 256 cannot pass as 0.
zerrno decode_rate(const bgen_value_td *nv, int32_t default_n, int32_t max_freq_n, zerrno code,
                   ptp_time_data_type *rate)
{
    if (!has_value(nv))
        return PTP_ZERR_CFG_TUPLE;
    int32_t kind = PTP_TIME_DATA_INTERVAL;
    int32_t n = default_n;
    uint32_t mask = 0;
    if (tuple_unpack_mask(as_tuple(nv), nv->len, "%d%d", &mask, &kind, &n) != ZERR_OK)
        return PTP_ZERR_CFG_TUPLE;
    rate->kind = static_cast<uint8_t>(kind);
    rate->value = static_cast<uint8_t>(n);
    bool ok = (kind == PTP_TIME_DATA_INTERVAL && n >= 0 && n <= 4) ||
              (kind == PTP_TIME_DATA_FREQUENCY && n >= 0 && n <= max_freq_n);
    return ok ? ZERR_OK : code;
}

struct rate_rule {
    int32_t default_n;
    int32_t max_freq_n;
    zerrno code;
};
constexpr rate_rule annce_rule{1, 6, PTP_ZERR_CFG_ANNCE_IVL};
constexpr rate_rule sync_rule{0, 7, PTP_ZERR_CFG_SYNC_IVL};
constexpr rate_rule dr_rule{0, 7, PTP_ZERR_CFG_DR_MIN_IVL};

zerrno check_rate(uint32_t event, const bgen_value_td *nv, ptp_time_data_type *rate, bool *is_delete,
                  const rate_rule &rule)
{
    set_flag(is_delete, deleting(event));
    if (deleting(event))
        return ZERR_OK;
    ptp_time_data_type r{};
    zerrno rc = decode_rate(nv, rule.default_n, rule.max_freq_n, rule.code, &r);
    if (rate != nullptr && rc != PTP_ZERR_CFG_TUPLE)
        *rate = r;
    return rc;
}

// Multicast tuple "%d%d%s" {mode, MAC given, MAC text}.
zerrno decode_multicast(const bgen_value_td *nv, uint32_t *mode, ptp_address_type *addr)
{
    if (!has_value(nv))
        return PTP_ZERR_CFG_TUPLE;
    int32_t m = PTP_TRANSPORT_UNICAST;
    int32_t mac_given = 0;
    const char *text = nullptr;
    uint32_t mask = 0;
    if (tuple_unpack_mask(as_tuple(nv), nv->len, "%d%d%s", &mask, &m, &mac_given, &text) != ZERR_OK)
        return PTP_ZERR_CFG_TUPLE;
    *mode = static_cast<uint32_t>(m);
    ptp_address_set_mac(addr, PTP_MULTICAST_MAC_DEFAULT);
    if (m < 0 || m > static_cast<int32_t>(PTP_TRANSPORT_MULTICAST))
        return PTP_ZERR_CFG_TRANSPORT;
    if (mac_given == 0)
        return ZERR_OK;
    uint8_t mac[PTP_MAC_ADDR_LEN];
    if (text == nullptr || !ptp_cfg_parse_mac(text, mac))
        return PTP_ZERR_CFG_MAC;
    if (memcmp(mac, PTP_MULTICAST_MAC_DEFAULT, sizeof(mac)) != 0 &&
        memcmp(mac, PTP_MULTICAST_MAC_PEER, sizeof(mac)) != 0)
        return PTP_ZERR_CFG_TRANSPORT;
    ptp_address_set_mac(addr, mac);
    return ZERR_OK;
}

// Delay asymmetry tuple "%d%d" {value, units}; absent fields are 0.
zerrno decode_delay_asymmetry(const bgen_value_td *nv, ptp_delay_asymmetry_type *ns)
{
    int32_t value = 0;
    int32_t units = 0;
    uint32_t mask = 0;
    if (tuple_unpack_mask(as_tuple(nv), nv->len, "%d%d", &mask, &value, &units) != ZERR_OK)
        return PTP_ZERR_CFG_TUPLE;
    if (units < 0 || units > static_cast<int32_t>(PTP_DELAY_ASYMMETRY_MILLISECONDS))
        return PTP_ZERR_CFG_DELAY_ASYMMETRY;
    int64_t v = ptp_delay_asymmetry_to_nanoseconds(value, static_cast<uint32_t>(units));
    *ns = static_cast<ptp_delay_asymmetry_type>(v);
    return v >= -500000000 && v <= 500000000 ? ZERR_OK : PTP_ZERR_CFG_DELAY_ASYMMETRY;
}

// Addresses a host never sources PTP from: "this network", loopback, multicast, reserved and
// broadcast.
bool ipv4_is_martian(const uint8_t ip[4])
{
    return ip[0] == 0 || ip[0] == 127 || ip[0] >= 224;
}

// Unspecified, loopback and multicast.
bool ipv6_is_martian(const uint8_t ip[16])
{
    static constexpr uint8_t zero[16] = {};
    if (ip[0] == 0xFF)
        return true;
    if (memcmp(ip, zero, 15) != 0)
        return false;
    return ip[15] == 0 || ip[15] == 1;
}

// Source address tuple "%d%s" {enable, address text}.
zerrno decode_source(const bgen_value_td *nv, int family, zerrno code, uint32_t *enable, uint8_t *ip, size_t ip_len,
                     bool disabled_allowed)
{
    if (!has_value(nv))
        return PTP_ZERR_CFG_TUPLE;
    int32_t en = 0;
    const char *text = nullptr;
    uint32_t mask = 0;
    if (tuple_unpack_mask(as_tuple(nv), nv->len, "%d%s", &mask, &en, &text) != ZERR_OK)
        return PTP_ZERR_CFG_TUPLE;
    *enable = en != 0 ? 1 : 0;
    if (en == 0) {
        // A disabled IPv4 source is held as all ones, a disabled IPv6 source as all zeros.
        memset(ip, family == AF_INET ? 0xFF : 0x00, ip_len);
        return disabled_allowed ? ZERR_OK : code;
    }
    memset(ip, 0, ip_len);
    if (text == nullptr || inet_pton(family, text, ip) != 1)
        return code;
    bool martian = family == AF_INET ? ipv4_is_martian(ip) : ipv6_is_martian(ip);
    return martian ? code : ZERR_OK;
}

zerrno decode_profile_name(const bgen_value_td *nv, char *out)
{
    size_t n = 0;
    const char *s = nullptr;
    if (has_value(nv)) {
        s = static_cast<const char *>(nv->data);
        n = strnlen(s, nv->len);
    }
    if (n < 1 || n > PTP_PROFILE_NAME_MAX)
        return PTP_ZERR_CFG_PROFILE_NAME;
    if (out != nullptr) {
        memcpy(out, s, n);
        out[n] = '\0';
    }
    return ZERR_OK;
}

void check_grant_msg_type(uint32_t msg_type)
{
    if (msg_type != PTP_MSG_ANNOUNCE && msg_type != PTP_MSG_SYNC && msg_type != PTP_MSG_DELAY_RESP)
        cfg_assert_fail("Unexpected message type for a unicast grant duration");
}

void check_timeout_msg_type(uint32_t msg_type)
{
    if (msg_type != PTP_MSG_SYNC && msg_type != PTP_MSG_DELAY_RESP)
        cfg_assert_fail("Unexpected message type for a message timeout");
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Interface-item checks

zerrno ptp_cfg_check_encap(uint32_t event, const bgen_value_td *nv, uint32_t *encap, bool *is_delete)
{
    return number_in_range(event, nv, encap, is_delete, PTP_ENCAP_ETHERNET, PTP_ENCAP_IPV6, PTP_ZERR_CFG_ENCAP);
}

zerrno ptp_cfg_check_clock_operation(uint32_t event, const bgen_value_td *nv, uint32_t *one_step, bool *is_delete)
{
    return number_in_range(event, nv, one_step, is_delete, 0, UINT32_MAX, ZERR_OK);
}

zerrno ptp_cfg_check_annce_ivl(uint32_t event, const bgen_value_td *nv, ptp_time_data_type *rate, bool *is_delete)
{
    return check_rate(event, nv, rate, is_delete, annce_rule);
}

zerrno ptp_cfg_check_sync_ivl(uint32_t event, const bgen_value_td *nv, ptp_time_data_type *rate, bool *is_delete)
{
    return check_rate(event, nv, rate, is_delete, sync_rule);
}

zerrno ptp_cfg_check_dr_min_ivl(uint32_t event, const bgen_value_td *nv, ptp_time_data_type *rate, bool *is_delete)
{
    return check_rate(event, nv, rate, is_delete, dr_rule);
}

zerrno ptp_cfg_check_annce_tout(uint32_t event, const bgen_value_td *nv, uint32_t *timeout, bool *is_delete)
{
    return number_in_range(event, nv, timeout, is_delete, 2, 10, PTP_ZERR_CFG_ANNCE_TOUT);
}

zerrno ptp_cfg_check_multicast(uint32_t event, const bgen_value_td *nv, uint32_t *mode, ptp_address_type *addr,
                               bool *is_delete, const bgen_value_td *prev, uint32_t *prev_mode,
                               ptp_address_type *prev_addr)
{
    set_flag(is_delete, deleting(event));
    if (has_value(prev)) {
        uint32_t pm = 0;
        ptp_address_type pa{};
        if (zerrno rc = decode_multicast(prev, &pm, &pa))
            return rc;
        if (prev_mode != nullptr)
            *prev_mode = pm;
        if (prev_addr != nullptr)
            *prev_addr = pa;
    }
    if (deleting(event))
        return ZERR_OK;
    uint32_t m = 0;
    ptp_address_type a{};
    zerrno rc = decode_multicast(nv, &m, &a);
    if (rc != PTP_ZERR_CFG_TUPLE) {
        if (mode != nullptr)
            *mode = m;
        if (addr != nullptr)
            *addr = a;
    }
    return rc;
}

zerrno ptp_cfg_check_port_state(uint32_t event, const bgen_value_td *nv, uint32_t *state, bool *is_delete)
{
    return number_in_range(event, nv, state, is_delete, PTP_RESTRICT_PORT_STATE_ANY,
                           PTP_RESTRICT_PORT_STATE_MASTER_ONLY, PTP_ZERR_CFG_PORT_STATE);
}

zerrno ptp_cfg_check_local_priority(uint32_t event, const bgen_value_td *nv, uint32_t *priority, bool *is_delete)
{
    uint32_t v = 0;
    zerrno rc = number_in_range(event, nv, &v, is_delete, 1, 255, PTP_ZERR_CFG_LOCAL_PRIORITY);
    // Only a valid priority is handed out.
    if (rc == ZERR_OK && !deleting(event) && priority != nullptr)
        *priority = v;
    return rc;
}

zerrno ptp_cfg_check_source_ip(uint32_t event, const bgen_value_td *nv, ptp_source_ip_data_type *source,
                               bool *is_delete, bool disabled_allowed)
{
    set_flag(is_delete, deleting(event));
    if (deleting(event))
        return ZERR_OK;
    ptp_source_ip_data_type s{};
    zerrno rc = decode_source(nv, AF_INET, PTP_ZERR_CFG_SOURCE_IP, &s.enable, s.ip_address, sizeof(s.ip_address),
                              disabled_allowed);
    if (rc != PTP_ZERR_CFG_TUPLE && source != nullptr)
        *source = s;
    return rc;
}

zerrno ptp_cfg_check_source_ipv6(uint32_t event, const bgen_value_td *nv, ptp_source_ipv6_data_type *source,
                                 bool *is_delete, bool disabled_allowed)
{
    set_flag(is_delete, deleting(event));
    if (deleting(event))
        return ZERR_OK;
    ptp_source_ipv6_data_type s{};
    zerrno rc = decode_source(nv, AF_INET6, PTP_ZERR_CFG_SOURCE_IPV6, &s.enable, s.ip_address, sizeof(s.ip_address),
                              disabled_allowed);
    if (rc != PTP_ZERR_CFG_TUPLE && source != nullptr)
        *source = s;
    return rc;
}

zerrno ptp_cfg_check_cos(uint32_t event, const bgen_value_td *nv, uint32_t *cos, bool *is_delete)
{
    return number_in_range(event, nv, cos, is_delete, 0, 7, PTP_ZERR_CFG_COS);
}

zerrno ptp_cfg_check_dscp(uint32_t event, const bgen_value_td *nv, uint32_t *dscp, bool *is_delete)
{
    return number_in_range(event, nv, dscp, is_delete, 0, 63, PTP_ZERR_CFG_DSCP);
}

zerrno ptp_cfg_check_ttl(uint32_t event, const bgen_value_td *nv, uint32_t *ttl, bool *is_delete)
{
    return number_in_range(event, nv, ttl, is_delete, 1, 255, PTP_ZERR_CFG_ENCAP);
}

zerrno ptp_cfg_check_delay_asymmetry(uint32_t event, const bgen_value_td *nv, ptp_delay_asymmetry_type *nanoseconds,
                                     bool *is_delete)
{
    set_flag(is_delete, deleting(event));
    if (deleting(event) || !has_value(nv))
        return ZERR_OK;
    ptp_delay_asymmetry_type ns = 0;
    zerrno rc = decode_delay_asymmetry(nv, &ns);
    if (rc != PTP_ZERR_CFG_TUPLE && nanoseconds != nullptr)
        *nanoseconds = ns;
    return rc;
}

zerrno ptp_cfg_check_master_priority(uint32_t event, const bgen_value_td *nv, uint32_t *priority, bool *is_delete)
{
    return number_in_range(event, nv, priority, is_delete, 0, 255, PTP_ZERR_CFG_PRIORITY);
}

zerrno ptp_cfg_check_master_clock_class(uint32_t event, const bgen_value_td *nv, uint32_t *clock_class, bool *is_delete)
{
    return number_in_range(event, nv, clock_class, is_delete, 0, 255, PTP_ZERR_CFG_CLOCK_CLASS);
}

zerrno ptp_cfg_check_master_multicast(uint32_t event, const bgen_value_td *nv, uint32_t *mode, bool *is_delete)
{
    if (!deleting(event) && !has_value(nv)) {
        set_flag(is_delete, false);
        return ZERR_OK;
    }
    return number_in_range(event, nv, mode, is_delete, PTP_TRANSPORT_UNICAST, PTP_TRANSPORT_MULTICAST,
                           PTP_ZERR_CFG_TRANSPORT);
}

zerrno ptp_cfg_check_master_nonnegotiated(uint32_t event, uint32_t *flag, bool *is_delete)
{
    set_flag(is_delete, deleting(event));
    if (flag != nullptr)
        *flag = deleting(event) ? 0 : 1;
    return ZERR_OK;
}

zerrno ptp_cfg_check_slave_nonnegotiated(uint32_t event, uint32_t *flag, bool *is_delete)
{
    return ptp_cfg_check_master_nonnegotiated(event, flag, is_delete);
}

zerrno ptp_cfg_check_unicast_grant_duration(uint32_t msg_type, uint32_t event, const bgen_value_td *nv,
                                            uint32_t *seconds, bool *is_delete)
{
    check_grant_msg_type(msg_type);
    return number_in_range(event, nv, seconds, is_delete, 60, 1000, PTP_ZERR_CFG_GRANT_DURATION);
}

zerrno ptp_cfg_check_message_timeout(uint32_t msg_type, uint32_t event, const bgen_value_td *nv, uint32_t *msecs,
                                     bool *is_delete)
{
    check_timeout_msg_type(msg_type);
    return number_in_range(event, nv, msecs, is_delete, 100, 100000, PTP_ZERR_CFG_MESSAGE_TIMEOUT);
}

zerrno ptp_cfg_check_profile_name(uint32_t event, const bgen_value_td *nv, char *name, bool *is_delete)
{
    set_flag(is_delete, deleting(event));
    if (deleting(event))
        return ZERR_OK;
    return decode_profile_name(nv, name);
}

// ---------------------------------------------------------------------------------------------
// Addresses

bool ptp_cfg_parse_mac(const char *text, uint8_t mac[PTP_MAC_ADDR_LEN])
{
    if (text == nullptr)
        return false;
    const char *p = text;
    uint8_t out[PTP_MAC_ADDR_LEN];
    for (int group = 0; group < 3; group++) {
        if (group > 0 && *p++ != '.')
            return false;
        uint32_t v = 0;
        int digits = 0;
        for (;; p++, digits++) {
            int d;
            if (*p >= '0' && *p <= '9')
                d = *p - '0';
            else if (*p >= 'a' && *p <= 'f')
                d = *p - 'a' + 10;
            else if (*p >= 'A' && *p <= 'F')
                d = *p - 'A' + 10;
            else
                break;
            v = v << 4 | static_cast<uint32_t>(d);
            if (v > 0xFFFF)
                return false;
        }
        if (digits == 0)
            return false;
        ptp_wire_put16(out + group * 2, static_cast<uint16_t>(v));
    }
    if (*p != '\0')
        return false;
    memcpy(mac, out, sizeof(out));
    return true;
}

zerrno ptp_cfg_extract_addr_info(const bgen_args_td *args, ptp_address_type *addr)
{
    const bgen_arg_td *kind = bgen_args_get(args, PTP_CFG_KEY_ADDR_KIND, BGEN_ARG_UINT);
    if (kind == nullptr)
        return PTP_ZERR_CFG_ARGUMENT;
    ptp_address_type a{};
    switch (kind->number) {
    case PTP_ENCAP_ETHERNET: {
        const bgen_arg_td *mac = bgen_args_get(args, PTP_CFG_KEY_MAC, BGEN_ARG_STRING);
        if (mac == nullptr)
            return PTP_ZERR_CFG_ARGUMENT;
        uint8_t bytes[PTP_MAC_ADDR_LEN];
        if (!ptp_cfg_parse_mac(mac->text, bytes))
            return PTP_ZERR_CFG_MAC;
        ptp_address_set_mac(&a, bytes);
        break;
    }
    case PTP_ENCAP_IPV4:
    case PTP_ENCAP_IPV6: {
        const bgen_arg_td *ip = bgen_args_get(args, PTP_CFG_KEY_IP, BGEN_ARG_IPADDR);
        uint32_t family = kind->number == PTP_ENCAP_IPV4 ? BGEN_IP_V4 : BGEN_IP_V6;
        if (ip == nullptr || ip->ip_family != family)
            return PTP_ZERR_CFG_ARGUMENT;
        if (family == BGEN_IP_V4)
            ptp_address_set_ipv4(&a, ip->ip);
        else
            ptp_address_set_ipv6(&a, ip->ip);
        break;
    }
    default: return PTP_ZERR_CFG_ENCAP;
    }
    if (addr != nullptr)
        *addr = a;
    return ZERR_OK;
}

bool ptp_cfg_check_addr_is_multicast(const ptp_address_type *addr)
{
    switch (addr->encap) {
    case PTP_ENCAP_ETHERNET: return (addr->value[0] & 0x01) != 0;
    case PTP_ENCAP_IPV4: return addr->value[0] >= 224 && addr->value[0] <= 239;
    case PTP_ENCAP_IPV6: return addr->value[0] == 0xFF && (addr->value[1] == 0x00 || addr->value[1] == 0x02);
    default: return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Profile-item checks

namespace {

// Bounds printed into a text: none, two numbers, or a message name and two numbers.
enum class text_args : uint8_t {
    none,
    bounds,
    msg_bounds
};

// One profile item: its fixed error text, how the text is filled in, and the label that names
// the text in an allocation-failure report.
struct prf_item_info {
    const char *text;
    text_args args;
    uint32_t first;
    uint32_t second;
    const char *label;
};

enum class prf : uint8_t {
    encap,
    clock_operation,
    annce_ivl,
    sync_ivl,
    dr_min_ivl,
    annce_tout,
    multicast,
    port_state,
    local_priority,
    source_ip,
    source_ipv6,
    cos,
    dscp,
    ttl,
    delay_asymmetry,
    master_enable,
    master_priority,
    master_clock_class,
    master_nonnegotiated,
    master_multicast,
    master_delay_asymmetry,
    slave_nonnegotiated,
    unicast_grant_duration,
    message_timeout,
    unicast_grant_invalid_request,
    interop_profile,
    interop_domain,
    interop_priority,
    interop_clock_accuracy,
    interop_oslv,
    interop_clock_class_default,
    interop_clock_class_mapping,
    count
};

constexpr std::array<prf_item_info, static_cast<size_t>(prf::count)> prf_items{{
    {"Failed to verify the encap value. It must be either Ethernet or IPv4", text_args::none, 0, 0,
     "Encap config error message"},
    {"Failed to verify the clock-operation value. One-step operation can only be configured on "
     "supported interfaces",
     text_args::none, 0, 0, "Clock operation config error message"},
    {"Failed to verify the announce interval value. The announce interval must be 1, 2, 4, 8 or "
     "16 seconds",
     text_args::none, 0, 0, "Announce interval config error message"},
    {"Failed to verify the Sync interval value. The Sync interval must be 1, 2, 4, 8 or 16 "
     "seconds, or a frequency of 2, 4, 8, 16, 32 or 64 per second",
     text_args::none, 0, 0, "Sync interval config error message"},
    {"Failed to verify the Delay-Request minimum interval value. The interval must be 1, 2, 4, 8 "
     "or 16 seconds, or a frequency of 2, 4, 8, 16, 32 or 64 per second",
     text_args::none, 0, 0, "Delay-Request minimum interval config error message"},
    {"Failed to verify the announce timeout value. It must be within the specified range", text_args::none, 0, 0,
     "Announce timeout config error message"},
    {"Failed to verify the multicast value.", text_args::none, 0, 0, "Multicast config error message"},
    {"Failed to verify the port state value. It must be Slave-Only, Master-Only, or Any", text_args::none, 0, 0,
     "Port state config error message"},
    {"Failed to verify the local priority value. It must be between 1 and 255", text_args::none, 0, 0,
     "Local priority config error message"},
    {"Failed to verify the source IP address value. It must be a valid IP address.", text_args::none, 0, 0,
     "Source IP address config error message"},
    {"Failed to verify the source IPv6 address value. It must be a valid IPv6 address.", text_args::none, 0, 0,
     "Source IPv6 address config error message"},
    {"Failed to verify the CoS value. It must be within the specified range", text_args::none, 0, 0,
     "CoS config error message"},
    {"Failed to verify the DSCP value. It must be within the specified range", text_args::none, 0, 0,
     "DSCP config error message"},
    {nullptr, text_args::none, 0, 0, nullptr}, // ttl: code only
    {"Failed to verify the interface delay asymmetry item.", text_args::none, 0, 0,
     "Delay asymmetry config error message"},
    {"Failed to verify the master enable item.", text_args::none, 0, 0, "Master enable config error message"},
    {"Failed to verify the master priority item.", text_args::none, 0, 0, "Master priority config error message"},
    {"Failed to verify the master clock class item.", text_args::none, 0, 0, "Master clock class config error message"},
    {"Failed to verify the master non-negotiated class item.", text_args::none, 0, 0,
     "Master non-negotiated config error message"},
    {"Failed to verify the master multicast item.", text_args::none, 0, 0, "Master multicast config error message"},
    {"Failed to verify the master delay asymmetry item.", text_args::none, 0, 0,
     "Master delay asymmetry config error message"},
    {"Failed to verify the slave non-negotiated class item.", text_args::none, 0, 0,
     "Slave non-negotiated config error message"},
    {"Failed to verify the unicast grant duration value. The duration must be between %u "
     "seconds and %u seconds.",
     text_args::bounds, 60, 1000, "Unicast grant duration config error message"},
    // Upper bound first: "less than" takes the maximum.
    {"Failed to verify the %s timeout value. The duration must be less than %u milliseconds and "
     "greater than %u milliseconds",
     text_args::msg_bounds, 100000, 100, "Message timeout config error message"},
    {"Failed to verify invalid grant reduce/deny configuration", text_args::none, 0, 0,
     "Invalid unicast grant config error message"},
    {"Failed to verify the interop profile value.", text_args::none, 0, 0, "Interop profile config error message"},
    {"Failed to verify the interop domain value. The domain must be between %u and %u.", text_args::bounds, 0, 255,
     "Interop domain config error message"},
    {"Failed to verify the interop priority value. The priority must be between %u and %u.", text_args::bounds, 0, 255,
     "Interop priority config error message"},
    {"Failed to verify the interop clock accuracy value. The clock accuracy must be a value "
     "between 32 and 49, or 254, as specified by the IEEE 1588 standard",
     text_args::none, 0, 0, "Interop clock accuracy config error message"},
    {"Failed to verify the interop OSLV value. The value must be between %u and %u.", text_args::bounds, 0, 65535,
     "Interop OSLV config error message"},
    {"Failed to verify the interop default clock class value. The default clock class must be "
     "between %u and %u.",
     text_args::bounds, 0, 255, "Interop default clock class config error message"},
    {"Failed to verify the interop clock class mapping value. Each part of the clock class "
     "mapping must be between %u and %u.",
     text_args::bounds, 0, 255, "Interop clock class mapping config error message"},
}};

} // namespace

const char *ptp_cfg_profile_name_text(zerrno rc)
{
    if (rc == PTP_ZERR_CFG_ARGUMENT)
        return PTP_ZERR_TEXT_CFG_ARGUMENT;
    if (rc == PTP_ZERR_CFG_PROFILE_NAME)
        return PTP_ZERR_TEXT_CFG_PROFILE_NAME;
    return nullptr;
}

namespace {

// The frame every profile check shares: the profile-name key before the item, the verify
// result and the error text after it.
struct prf_check {
    prf item;
    uint32_t *verify_result;
    char **err_text;
    char *name_out;
    bool *is_delete;
    const char *msg_name = nullptr; // message_timeout only
    char name[PTP_PROFILE_NAME_MAX + 1] = {};
    bool name_refused = false; // the profile-name key, not the item, failed

    zerrno begin(uint32_t event, const bgen_args_td *args)
    {
        set_flag(is_delete, deleting(event));
        const bgen_arg_td *key = bgen_args_get(args, PTP_CFG_KEY_NAME, BGEN_ARG_STRING);
        if (key == nullptr) {
            name_refused = true;
            return PTP_ZERR_CFG_ARGUMENT;
        }
        size_t n = strnlen(key->text, PTP_PROFILE_NAME_MAX + 1);
        if (n < 1 || n > PTP_PROFILE_NAME_MAX) {
            name_refused = true;
            return PTP_ZERR_CFG_PROFILE_NAME;
        }
        memcpy(name, key->text, n);
        name[n] = '\0';
        return ZERR_OK;
    }

    zerrno finish(zerrno rc)
    {
        if (rc == ZERR_OK && name_out != nullptr)
            memcpy(name_out, name, sizeof(name));
        if (verify_result == nullptr)
            return rc;
        *verify_result = rc == ZERR_OK ? 1 : 0;
        if (rc != ZERR_OK && err_text != nullptr)
            *err_text = name_refused ? name_text(rc) : make_text();
        return rc;
    }

    static char *name_text(zerrno rc)
    {
        return ptp_strdup(ptp_cfg_profile_name_text(rc), "Profile config error message");
    }

    char *make_text() const
    {
        const prf_item_info &info = prf_items[static_cast<size_t>(item)];
        if (info.text == nullptr)
            return nullptr;
        char buf[256];
        const char *text = info.text;
        if (info.args == text_args::bounds) {
            snprintf(buf, sizeof(buf), info.text, info.first, info.second);
            text = buf;
        } else if (info.args == text_args::msg_bounds) {
            snprintf(buf, sizeof(buf), info.text, msg_name, info.first, info.second);
            text = buf;
        }
        return ptp_strdup(text, info.label);
    }
};

// A single-number profile item whose value goes out only on success.
zerrno prf_number(prf item, uint32_t event, const bgen_value_td *nv, uint32_t *verify_result, char **err_text,
                  uint32_t *out, const bgen_args_td *args, char *name, bool *is_delete, uint32_t lo, uint32_t hi,
                  zerrno code)
{
    prf_check c{item, verify_result, err_text, name, is_delete};
    zerrno rc = c.begin(event, args);
    if (rc == ZERR_OK && !deleting(event)) {
        uint32_t v = 0;
        rc = number_in_range(event, nv, &v, nullptr, lo, hi, code);
        if (rc == ZERR_OK && out != nullptr)
            *out = v;
    }
    return c.finish(rc);
}

// The previous value of an item is decoded on every event but a create.
bool wants_prev(uint32_t event, const bgen_value_td *prev)
{
    return (event & PTP_CFG_EVENT_CREATE) == 0 && has_value(prev);
}

zerrno prf_rate(prf item, const rate_rule &rule, uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                char **err_text, int *log_ivl, int *prev_log_ivl, const bgen_value_td *prev, const bgen_args_td *args,
                char *name, bool *is_delete)
{
    prf_check c{item, verify_result, err_text, name, is_delete};
    zerrno rc = c.begin(event, args);
    if (rc == ZERR_OK && wants_prev(event, prev)) {
        ptp_time_data_type r{};
        rc = decode_rate(prev, rule.default_n, rule.max_freq_n, rule.code, &r);
        // A stored value that no longer reads as a rate is as unreadable as a broken tuple.
        if (rc != ZERR_OK)
            rc = PTP_ZERR_CFG_TUPLE;
        else if (prev_log_ivl != nullptr)
            *prev_log_ivl = ptp_convert_to_log_time(r);
    }
    if (rc == ZERR_OK && !deleting(event)) {
        ptp_time_data_type r{};
        rc = decode_rate(nv, rule.default_n, rule.max_freq_n, rule.code, &r);
        if (rc == ZERR_OK && log_ivl != nullptr)
            *log_ivl = ptp_convert_to_log_time(r);
    }
    return c.finish(rc);
}

// Master- and slave-table items read the entry's address first, on every event.
zerrno prf_table_begin(prf_check &c, uint32_t event, const bgen_args_td *args, ptp_address_type *addr)
{
    zerrno rc = c.begin(event, args);
    if (rc != ZERR_OK)
        return rc;
    ptp_address_type a{};
    rc = ptp_cfg_extract_addr_info(args, &a);
    if (rc == ZERR_OK && addr != nullptr)
        *addr = a;
    return rc;
}

zerrno prf_table_number(prf item, uint32_t event, const bgen_value_td *nv, uint32_t *verify_result, char **err_text,
                        uint32_t *out, ptp_address_type *addr, const bgen_args_td *args, char *name, bool *is_delete,
                        uint32_t lo, uint32_t hi, zerrno code)
{
    prf_check c{item, verify_result, err_text, name, is_delete};
    zerrno rc = prf_table_begin(c, event, args, addr);
    if (rc == ZERR_OK && !deleting(event)) {
        uint32_t v = 0;
        rc = number_in_range(event, nv, &v, nullptr, lo, hi, code);
        if (rc == ZERR_OK && out != nullptr)
            *out = v;
    }
    return c.finish(rc);
}

zerrno prf_table_flag(prf item, uint32_t event, uint32_t *verify_result, char **err_text, uint32_t *flag,
                      ptp_address_type *addr, const bgen_args_td *args, char *name, bool *is_delete)
{
    prf_check c{item, verify_result, err_text, name, is_delete};
    zerrno rc = prf_table_begin(c, event, args, addr);
    if (rc == ZERR_OK && flag != nullptr)
        *flag = deleting(event) ? 0 : 1;
    return c.finish(rc);
}

} // namespace

zerrno ptp_cfg_profile_check_encap(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result, char **err_text,
                                   uint32_t *encap, const bgen_args_td *args, char *name, bool *is_delete)
{
    return prf_number(prf::encap, event, nv, verify_result, err_text, encap, args, name, is_delete, PTP_ENCAP_ETHERNET,
                      PTP_ENCAP_IPV6, PTP_ZERR_CFG_ENCAP);
}

zerrno ptp_cfg_profile_check_clock_operation(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                             char **err_text, uint32_t *one_step, uint32_t *prev_one_step,
                                             const bgen_value_td *prev, const bgen_args_td *args, char *name,
                                             bool *is_delete)
{
    prf_check c{prf::clock_operation, verify_result, err_text, name, is_delete};
    zerrno rc = c.begin(event, args);
    if (rc == ZERR_OK && wants_prev(event, prev)) {
        uint32_t v = 0;
        rc = get_number(prev, &v);
        if (rc == ZERR_OK && prev_one_step != nullptr)
            *prev_one_step = v;
    }
    if (rc == ZERR_OK && !deleting(event)) {
        uint32_t v = 0;
        rc = get_number(nv, &v);
        if (rc == ZERR_OK && one_step != nullptr)
            *one_step = v;
    }
    return c.finish(rc);
}

zerrno ptp_cfg_profile_check_annce_ivl(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                       char **err_text, int *log_ivl, int *prev_log_ivl, const bgen_value_td *prev,
                                       const bgen_args_td *args, char *name, bool *is_delete)
{
    return prf_rate(prf::annce_ivl, annce_rule, event, nv, verify_result, err_text, log_ivl, prev_log_ivl, prev, args,
                    name, is_delete);
}

zerrno ptp_cfg_profile_check_sync_ivl(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result, char **err_text,
                                      int *log_ivl, int *prev_log_ivl, const bgen_value_td *prev,
                                      const bgen_args_td *args, char *name, bool *is_delete)
{
    return prf_rate(prf::sync_ivl, sync_rule, event, nv, verify_result, err_text, log_ivl, prev_log_ivl, prev, args,
                    name, is_delete);
}

zerrno ptp_cfg_profile_check_dr_min_ivl(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                        char **err_text, int *log_ivl, int *prev_log_ivl, const bgen_value_td *prev,
                                        const bgen_args_td *args, char *name, bool *is_delete)
{
    return prf_rate(prf::dr_min_ivl, dr_rule, event, nv, verify_result, err_text, log_ivl, prev_log_ivl, prev, args,
                    name, is_delete);
}

zerrno ptp_cfg_profile_check_annce_tout(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                        char **err_text, uint32_t *timeout, const bgen_args_td *args, char *name,
                                        bool *is_delete)
{
    return prf_number(prf::annce_tout, event, nv, verify_result, err_text, timeout, args, name, is_delete, 2, 10,
                      PTP_ZERR_CFG_ANNCE_TOUT);
}

zerrno ptp_cfg_profile_check_multicast(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                       char **err_text, uint32_t *mode, ptp_address_type *addr, uint32_t *prev_mode,
                                       ptp_address_type *prev_addr, const bgen_value_td *prev, const bgen_args_td *args,
                                       char *name, bool *is_delete)
{
    prf_check c{prf::multicast, verify_result, err_text, name, is_delete};
    zerrno rc = c.begin(event, args);
    if (rc == ZERR_OK) {
        uint32_t m = 0;
        ptp_address_type a{};
        // As the interface item: a given previous tuple is decoded on every event, a create
        // included.
        rc = ptp_cfg_check_multicast(event, nv, &m, &a, nullptr, prev, prev_mode, prev_addr);
        if (rc == ZERR_OK && !deleting(event)) {
            if (mode != nullptr)
                *mode = m;
            if (addr != nullptr)
                *addr = a;
        }
    }
    return c.finish(rc);
}

zerrno ptp_cfg_profile_check_port_state(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                        char **err_text, uint32_t *state, const bgen_args_td *args, char *name,
                                        bool *is_delete)
{
    return prf_number(prf::port_state, event, nv, verify_result, err_text, state, args, name, is_delete,
                      PTP_RESTRICT_PORT_STATE_ANY, PTP_RESTRICT_PORT_STATE_MASTER_ONLY, PTP_ZERR_CFG_PORT_STATE);
}

zerrno ptp_cfg_profile_check_local_priority(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                            char **err_text, uint32_t *priority, const bgen_args_td *args, char *name,
                                            bool *is_delete)
{
    return prf_number(prf::local_priority, event, nv, verify_result, err_text, priority, args, name, is_delete, 1, 255,
                      PTP_ZERR_CFG_LOCAL_PRIORITY);
}

zerrno ptp_cfg_profile_check_source_ip(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                       char **err_text, ptp_source_ip_data_type *source, const bgen_args_td *args,
                                       char *name, bool *is_delete)
{
    prf_check c{prf::source_ip, verify_result, err_text, name, is_delete};
    zerrno rc = c.begin(event, args);
    if (rc == ZERR_OK && !deleting(event)) {
        ptp_source_ip_data_type s{};
        rc = ptp_cfg_check_source_ip(event, nv, &s, nullptr, false);
        if (rc == ZERR_OK && source != nullptr)
            *source = s;
    }
    return c.finish(rc);
}

zerrno ptp_cfg_profile_check_source_ipv6(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                         char **err_text, ptp_source_ipv6_data_type *source, const bgen_args_td *args,
                                         char *name, bool *is_delete)
{
    prf_check c{prf::source_ipv6, verify_result, err_text, name, is_delete};
    zerrno rc = c.begin(event, args);
    if (rc == ZERR_OK && !deleting(event)) {
        ptp_source_ipv6_data_type s{};
        rc = ptp_cfg_check_source_ipv6(event, nv, &s, nullptr, false);
        if (rc == ZERR_OK && source != nullptr)
            *source = s;
    }
    return c.finish(rc);
}

zerrno ptp_cfg_profile_check_cos(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result, char **err_text,
                                 uint32_t *cos, const bgen_args_td *args, char *name, bool *is_delete)
{
    return prf_number(prf::cos, event, nv, verify_result, err_text, cos, args, name, is_delete, 0, 7, PTP_ZERR_CFG_COS);
}

zerrno ptp_cfg_profile_check_dscp(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result, char **err_text,
                                  uint32_t *dscp, const bgen_args_td *args, char *name, bool *is_delete)
{
    return prf_number(prf::dscp, event, nv, verify_result, err_text, dscp, args, name, is_delete, 0, 63,
                      PTP_ZERR_CFG_DSCP);
}

zerrno ptp_cfg_profile_check_ttl(uint32_t event, const bgen_value_td *nv, uint32_t *ttl, const bgen_args_td *args,
                                 char *name, bool *is_delete)
{
    return prf_number(prf::ttl, event, nv, nullptr, nullptr, ttl, args, name, is_delete, 1, 255, PTP_ZERR_CFG_ENCAP);
}

zerrno ptp_cfg_profile_check_delay_asymmetry(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                             char **err_text, ptp_delay_asymmetry_type *nanoseconds,
                                             ptp_delay_asymmetry_type *prev_nanoseconds, const bgen_value_td *prev,
                                             const bgen_args_td *args, char *name, bool *is_delete)
{
    prf_check c{prf::delay_asymmetry, verify_result, err_text, name, is_delete};
    zerrno rc = c.begin(event, args);
    if (rc == ZERR_OK && wants_prev(event, prev)) {
        ptp_delay_asymmetry_type ns = 0;
        rc = decode_delay_asymmetry(prev, &ns);
        if (rc != ZERR_OK)
            rc = PTP_ZERR_CFG_TUPLE;
        else if (prev_nanoseconds != nullptr)
            *prev_nanoseconds = ns;
    }
    if (rc == ZERR_OK && !deleting(event)) {
        ptp_delay_asymmetry_type ns = 0;
        bool given = has_value(nv);
        rc = ptp_cfg_check_delay_asymmetry(event, nv, &ns, nullptr);
        if (rc == ZERR_OK && given && nanoseconds != nullptr)
            *nanoseconds = ns;
    }
    return c.finish(rc);
}

zerrno ptp_cfg_profile_check_master_enable(uint32_t event, const bgen_value_td * /*nv*/, uint32_t *verify_result,
                                           char **err_text, ptp_address_type *addr, const bgen_args_td *args,
                                           char *name, bool *is_delete)
{
    prf_check c{prf::master_enable, verify_result, err_text, name, is_delete};
    ptp_address_type a{};
    zerrno rc = prf_table_begin(c, event, args, &a);
    if (rc == ZERR_OK && !deleting(event) && ptp_cfg_check_addr_is_multicast(&a))
        rc = PTP_ZERR2_CFG_MASTER_MULTICAST;
    if (rc == ZERR_OK && addr != nullptr)
        *addr = a;
    return c.finish(rc);
}

zerrno ptp_cfg_profile_check_master_priority(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                             char **err_text, uint32_t *priority, ptp_address_type *addr,
                                             const bgen_args_td *args, char *name, bool *is_delete)
{
    return prf_table_number(prf::master_priority, event, nv, verify_result, err_text, priority, addr, args, name,
                            is_delete, 0, 255, PTP_ZERR_CFG_PRIORITY);
}

zerrno ptp_cfg_profile_check_master_clock_class(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                                char **err_text, uint32_t *clock_class, ptp_address_type *addr,
                                                const bgen_args_td *args, char *name, bool *is_delete)
{
    return prf_table_number(prf::master_clock_class, event, nv, verify_result, err_text, clock_class, addr, args, name,
                            is_delete, 0, 255, PTP_ZERR_CFG_CLOCK_CLASS);
}

zerrno ptp_cfg_profile_check_master_nonnegotiated(uint32_t event, const bgen_value_td * /*nv*/, uint32_t *verify_result,
                                                  char **err_text, uint32_t *flag, ptp_address_type *addr,
                                                  const bgen_args_td *args, char *name, bool *is_delete)
{
    return prf_table_flag(prf::master_nonnegotiated, event, verify_result, err_text, flag, addr, args, name, is_delete);
}

zerrno ptp_cfg_profile_check_master_multicast(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                              char **err_text, uint32_t *mode, ptp_address_type *addr,
                                              const bgen_args_td *args, char *name, bool *is_delete)
{
    return prf_table_number(prf::master_multicast, event, nv, verify_result, err_text, mode, addr, args, name,
                            is_delete, PTP_TRANSPORT_UNICAST, PTP_TRANSPORT_MULTICAST, PTP_ZERR_CFG_TRANSPORT);
}

zerrno ptp_cfg_profile_check_master_delay_asymmetry(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                                    char **err_text, ptp_delay_asymmetry_type *nanoseconds,
                                                    ptp_address_type *addr, const bgen_args_td *args, char *name,
                                                    bool *is_delete)
{
    prf_check c{prf::master_delay_asymmetry, verify_result, err_text, name, is_delete};
    zerrno rc = prf_table_begin(c, event, args, addr);
    if (rc == ZERR_OK && !deleting(event)) {
        ptp_delay_asymmetry_type ns = 0;
        bool given = has_value(nv);
        rc = ptp_cfg_check_delay_asymmetry(event, nv, &ns, nullptr);
        if (rc == ZERR_OK && given && nanoseconds != nullptr)
            *nanoseconds = ns;
    }
    return c.finish(rc);
}

zerrno ptp_cfg_profile_check_slave_nonnegotiated(uint32_t event, const bgen_value_td * /*nv*/, uint32_t *verify_result,
                                                 char **err_text, uint32_t *flag, ptp_address_type *addr,
                                                 const bgen_args_td *args, char *name, bool *is_delete)
{
    return prf_table_flag(prf::slave_nonnegotiated, event, verify_result, err_text, flag, addr, args, name, is_delete);
}

zerrno ptp_cfg_profile_check_unicast_grant_duration(uint32_t msg_type, uint32_t event, const bgen_value_td *nv,
                                                    uint32_t *verify_result, char **err_text, uint32_t *seconds,
                                                    const bgen_args_td *args, char *name, bool *is_delete)
{
    check_grant_msg_type(msg_type);
    return prf_number(prf::unicast_grant_duration, event, nv, verify_result, err_text, seconds, args, name, is_delete,
                      60, 1000, PTP_ZERR_CFG_GRANT_DURATION);
}

zerrno ptp_cfg_profile_check_message_timeout(uint32_t msg_type, uint32_t event, const bgen_value_td *nv,
                                             uint32_t *verify_result, char **err_text, uint32_t *msecs,
                                             const bgen_args_td *args, char *name, bool *is_delete)
{
    check_timeout_msg_type(msg_type);
    prf_check c{prf::message_timeout, verify_result, err_text, name, is_delete};
    c.msg_name = msg_type == PTP_MSG_SYNC ? "Sync" : "Delay-Resp";
    zerrno rc = c.begin(event, args);
    if (rc == ZERR_OK && !deleting(event)) {
        uint32_t v = 0;
        rc = number_in_range(event, nv, &v, nullptr, 100, 100000, PTP_ZERR_CFG_MESSAGE_TIMEOUT);
        if (rc == ZERR_OK && msecs != nullptr)
            *msecs = v;
    }
    return c.finish(rc);
}

zerrno ptp_cfg_profile_check_unicast_grant_invalid_request(uint32_t event, const bgen_value_td *nv,
                                                           uint32_t *verify_result, char **err_text, uint32_t *deny,
                                                           const bgen_args_td *args, char *name, bool *is_delete)
{
    return prf_number(prf::unicast_grant_invalid_request, event, nv, verify_result, err_text, deny, args, name,
                      is_delete, 0, UINT32_MAX, ZERR_OK);
}

zerrno ptp_cfg_profile_check_interop_profile(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                             char **err_text, uint32_t *profile, const bgen_args_td *args, char *name,
                                             bool *is_delete)
{
    return prf_number(prf::interop_profile, event, nv, verify_result, err_text, profile, args, name, is_delete,
                      PTP_PROFILE_DEFAULT, PTP_PROFILE_MAX, PTP_ZERR_CFG_PROFILE);
}

zerrno ptp_cfg_profile_check_interop_domain(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                            char **err_text, uint32_t *domain, const bgen_args_td *args, char *name,
                                            bool *is_delete)
{
    return prf_number(prf::interop_domain, event, nv, verify_result, err_text, domain, args, name, is_delete, 0, 255,
                      PTP_ZERR_CFG_DOMAIN);
}

zerrno ptp_cfg_profile_check_interop_priority(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                              char **err_text, uint32_t *priority, const bgen_args_td *args, char *name,
                                              bool *is_delete)
{
    return prf_number(prf::interop_priority, event, nv, verify_result, err_text, priority, args, name, is_delete, 0,
                      255, PTP_ZERR_CFG_PRIORITY);
}

zerrno ptp_cfg_profile_check_interop_clock_accuracy(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                                    char **err_text, uint32_t *accuracy, const bgen_args_td *args,
                                                    char *name, bool *is_delete)
{
    prf_check c{prf::interop_clock_accuracy, verify_result, err_text, name, is_delete};
    zerrno rc = c.begin(event, args);
    if (rc == ZERR_OK && !deleting(event)) {
        uint32_t v = 0;
        rc = get_number(nv, &v);
        if (rc == ZERR_OK && !ptp_clock_accuracy_is_ok(v))
            rc = PTP_ZERR2_CFG_CLOCK_ACCURACY;
        if (rc == ZERR_OK && accuracy != nullptr)
            *accuracy = v;
    }
    return c.finish(rc);
}

zerrno ptp_cfg_profile_check_interop_oslv(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                          char **err_text, uint32_t *oslv, const bgen_args_td *args, char *name,
                                          bool *is_delete)
{
    return prf_number(prf::interop_oslv, event, nv, verify_result, err_text, oslv, args, name, is_delete, 0, 65535,
                      PTP_ZERR2_CFG_OSLV);
}

zerrno ptp_cfg_profile_check_interop_clock_class_default(uint32_t event, const bgen_value_td *nv,
                                                         uint32_t *verify_result, char **err_text,
                                                         uint32_t *clock_class, const bgen_args_td *args, char *name,
                                                         bool *is_delete)
{
    return prf_number(prf::interop_clock_class_default, event, nv, verify_result, err_text, clock_class, args, name,
                      is_delete, 0, 255, PTP_ZERR_CFG_CLOCK_CLASS);
}

zerrno ptp_cfg_profile_check_interop_clock_class_mapping(uint32_t event, const bgen_value_td *nv,
                                                         uint32_t *verify_result, char **err_text, uint32_t *from_class,
                                                         uint32_t *to_class, const bgen_args_td *args, char *name,
                                                         bool *is_delete)
{
    prf_check c{prf::interop_clock_class_mapping, verify_result, err_text, name, is_delete};
    zerrno rc = c.begin(event, args);
    uint32_t from = 0;
    if (rc == ZERR_OK) {
        // The mapped-from class is the entry's key: needed on a delete too.
        const bgen_arg_td *key = bgen_args_get(args, PTP_CFG_KEY_FROM_CLASS, BGEN_ARG_UINT);
        if (key == nullptr)
            rc = PTP_ZERR_CFG_ARGUMENT;
        else if (key->number > 255)
            rc = PTP_ZERR_CFG_CLOCK_CLASS;
        else
            from = key->number;
    }
    if (rc == ZERR_OK && from_class != nullptr)
        *from_class = from;
    if (rc == ZERR_OK && !deleting(event)) {
        uint32_t v = 0;
        rc = number_in_range(event, nv, &v, nullptr, 0, 255, PTP_ZERR_CFG_CLOCK_CLASS);
        if (rc == ZERR_OK && to_class != nullptr)
            *to_class = v;
    }
    return c.finish(rc);
}

// ---------------------------------------------------------------------------------------------
// Predicates

bool ptp_clock_domain_is_ok(uint32_t domain)
{
    return domain < 256;
}
bool ptp_priority_is_ok(uint32_t priority)
{
    return priority < 256;
}
bool ptp_local_priority_is_ok(uint32_t priority)
{
    return priority >= 1 && priority <= 255;
}
bool ptp_timescale_is_ok(uint32_t timescale)
{
    return timescale < 2;
}

bool ptp_time_source_is_ok(uint32_t time_source)
{
    static constexpr std::array<uint32_t, 8> sources{0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x90, 0xA0};
    for (uint32_t s : sources)
        if (s == time_source)
            return true;
    return false;
}

bool ptp_clock_class_is_ok(uint32_t clock_class)
{
    return clock_class < 256;
}

bool ptp_clock_accuracy_is_ok(uint32_t accuracy)
{
    return (accuracy >= 32 && accuracy <= 49) || accuracy == 254;
}

bool ptp_clock_oslv_is_ok(uint32_t oslv)
{
    return oslv < 0x10000;
}

// The whole value is tested: a value above 255 must not pass on its low byte.
bool ptp_freq_priority_is_ok(uint32_t priority)
{
    return priority >= 1 && priority <= 254;
}
bool ptp_tod_priority_is_ok(uint32_t priority)
{
    return priority >= 1 && priority <= 254;
}

bool ptp_announce_timeout_is_ok(uint32_t timeout)
{
    return timeout >= 2 && timeout <= 10;
}
bool ptp_clock_profile_is_ok(uint32_t profile)
{
    return profile <= PTP_PROFILE_MAX;
}

bool ptp_clock_type_is_ok(uint32_t clock_type, uint32_t profile)
{
    switch (profile) {
    case PTP_PROFILE_G8275_1:
    case PTP_PROFILE_G8275_2: return clock_type <= PTP_TELECOM_CLOCK_T_TSC;
    case PTP_PROFILE_G8265_1: return clock_type == PTP_TELECOM_CLOCK_T_GM || clock_type == PTP_TELECOM_CLOCK_T_TSC;
    default: return false;
    }
}

bool ptp_get_eui_number(const char *text, ptp_clock_id_type *id)
{
    if (text == nullptr || *text == '\0')
        return false;
    uint64_t v = 0;
    for (const char *p = text; *p != '\0'; p++) {
        int d;
        if (*p >= '0' && *p <= '9')
            d = *p - '0';
        else if (*p >= 'a' && *p <= 'f')
            d = *p - 'a' + 10;
        else if (*p >= 'A' && *p <= 'F')
            d = *p - 'A' + 10;
        else
            return false;
        if (v >> 60 != 0)
            return false; // one more digit would overflow 64 bits
        v = v << 4 | static_cast<uint64_t>(d);
    }
    if (id != nullptr)
        id->eui = v;
    return true;
}

bool ptp_clock_id_data_is_ok(const ptp_clock_id_type *id, uint32_t mask)
{
    switch (id->kind) {
    case PTP_CLOCK_ID_ROUTER_MAC: return true;
    case PTP_CLOCK_ID_USER_MAC: return (mask & 0xEu) == 0xEu;
    case PTP_CLOCK_ID_EUI64: return (mask & 0x10u) != 0;
    default: return false;
    }
}

bool ptp_message_timeout_is_ok(uint32_t msg_type, uint32_t msecs)
{
    if (msg_type != PTP_MSG_SYNC && msg_type != PTP_MSG_DELAY_RESP)
        return false;
    return msecs >= 100 && msecs <= 100000;
}
