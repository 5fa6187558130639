#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ptp_address.h"
#include "ptp_cfg_utils.h"
#include "ptp_strings.h" // a program that checks values also names them: both headers at once
#include "tuple.h"

namespace {

// The codes as the error tables number them.
static_assert(PTP_ZERR_CFG_PROFILE_NAME == 0x47F29E00u && PTP_ZERR_CFG_ENCAP == 0x47F2A000u &&
              PTP_ZERR_CFG_ANNCE_IVL == 0x47F2A400u && PTP_ZERR_CFG_SYNC_IVL == 0x47F2A600u &&
              PTP_ZERR_CFG_ANNCE_TOUT == 0x47F2A800u && PTP_ZERR_CFG_DR_MIN_IVL == 0x47F2AA00u &&
              PTP_ZERR_CFG_PORT_STATE == 0x47F2AC00u && PTP_ZERR_CFG_LOCAL_PRIORITY == 0x47F2AE00u &&
              PTP_ZERR_CFG_TRANSPORT == 0x47F2B000u && PTP_ZERR_CFG_DELAY_ASYMMETRY == 0x47F2B200u &&
              PTP_ZERR_CFG_SOURCE_IP == 0x47F2B400u && PTP_ZERR_CFG_COS == 0x47F2B600u &&
              PTP_ZERR_CFG_DSCP == 0x47F2B800u && PTP_ZERR_CFG_TUPLE == 0x47F2BA00u &&
              PTP_ZERR_CFG_ARGUMENT == 0x47F2BC00u && PTP_ZERR_CFG_DOMAIN == 0x47F2C200u &&
              PTP_ZERR_CFG_PRIORITY == 0x47F2C400u && PTP_ZERR_CFG_CLOCK_CLASS == 0x47F2C600u &&
              PTP_ZERR_CFG_SOURCE_IPV6 == 0x47F2DC00u && PTP_ZERR_CFG_GRANT_DURATION == 0x47F2E000u &&
              PTP_ZERR_CFG_MESSAGE_TIMEOUT == 0x47F2E200u && PTP_ZERR_CFG_PROFILE == 0x47F2E800u &&
              PTP_ZERR_CFG_MAC == 0x47F2F000u && PTP_ZERR2_CFG_MASTER_MULTICAST == 0x4F949000u &&
              PTP_ZERR2_CFG_CLOCK_ACCURACY == 0x4F949400u && PTP_ZERR2_CFG_OSLV == 0x4F949600u);

// An item value as the database would hand it over.
struct value {
    bool present = false;
    std::vector<uint8_t> bytes;
    bgen_value_td view() const
    {
        return present ? bgen_value_td{bytes.data(), static_cast<uint32_t>(bytes.size())} : bgen_value_td{nullptr, 0};
    }
};

value none()
{
    return {};
}

value num(uint32_t v)
{
    value out{true, std::vector<uint8_t>(4)};
    memcpy(out.bytes.data(), &v, 4);
    return out;
}

value text(const std::string &s)
{
    return {true, std::vector<uint8_t>(s.begin(), s.end())};
}

value from_tuple(tuple_type *t)
{
    auto *p = reinterpret_cast<uint8_t *>(t);
    value out{true, std::vector<uint8_t>(p, p + tuple_size(t))};
    tuple_free(t);
    return out;
}

// "%d%d" tuples: intervals {kind, n}, delay asymmetries {value, units}.
value pair(uint32_t mask, int a, int b)
{
    tuple_type *t = nullptr;
    EXPECT_EQ(tuple_pack_mask(&t, "%d%d", mask, a, b), ZERR_OK);
    return from_tuple(t);
}

// "%d%d%s": multicast {mode, MAC given, MAC text}.
value mcast(uint32_t mask, int mode, int given = 0, const char *mac = "")
{
    tuple_type *t = nullptr;
    EXPECT_EQ(tuple_pack_mask(&t, "%d%d%s", mask, mode, given, mac), ZERR_OK);
    return from_tuple(t);
}

// "%d%s": source addresses {enable, address text}.
value source(uint32_t mask, int enable, const char *addr = "")
{
    tuple_type *t = nullptr;
    EXPECT_EQ(tuple_pack_mask(&t, "%d%s", mask, enable, addr), ZERR_OK);
    return from_tuple(t);
}

value broken()
{
    return {true, {0, 0, 0, 3, 0}};
}

bgen_args_td profile_args(const char *name = "prof")
{
    bgen_args_td a;
    bgen_args_init(&a, 0);
    if (name != nullptr)
        bgen_args_set_string(&a, PTP_CFG_KEY_NAME, name);
    const uint8_t ip[4] = {10, 0, 0, 1};
    bgen_args_set_uint(&a, PTP_CFG_KEY_ADDR_KIND, PTP_ENCAP_IPV4);
    bgen_args_set_ip(&a, PTP_CFG_KEY_IP, BGEN_IP_V4, ip);
    return a;
}

// One profile check, its outputs reduced to one number.
using runner = zerrno (*)(uint32_t event, const bgen_value_td *nv, uint32_t *vr, char **text, int64_t *out,
                          const bgen_args_td *args, char *name, bool *del);

struct item {
    const char *name;
    runner run;
};

template <typename T>
int64_t widen(T v)
{
    return static_cast<int64_t>(v);
}

#define NUMBER_ITEM(fn)                                                                                                \
    item                                                                                                               \
    {                                                                                                                  \
#fn, [](uint32_t e, const bgen_value_td *nv, uint32_t *vr, char **t, int64_t *out,  \
                const bgen_args_td *a, char *n, bool *d) {                                  \
            uint32_t v = 0xDEAD;                                                            \
            zerrno rc = ptp_cfg_profile_check_##fn(e, nv, vr, t, &v, a, n, d);              \
            *out = v;                                                                       \
            return rc;                                                                      \
        }                                  \
    }

#define TABLE_ITEM(fn)                                                                                                 \
    item                                                                                                               \
    {                                                                                                                  \
#fn, [](uint32_t e, const bgen_value_td *nv, uint32_t *vr, char **t, int64_t *out,  \
                const bgen_args_td *a, char *n, bool *d) {                                  \
            uint32_t v = 0xDEAD;                                                            \
            ptp_address_type addr{};                                                        \
            zerrno rc = ptp_cfg_profile_check_##fn(e, nv, vr, t, &v, &addr, a, n, d);       \
            *out = v;                                                                       \
            return rc;                                                                      \
        }                                  \
    }

#define RATE_ITEM(fn)                                                                                                  \
    item                                                                                                               \
    {                                                                                                                  \
#fn, [](uint32_t e, const bgen_value_td *nv, uint32_t *vr, char **t, int64_t *out,  \
                const bgen_args_td *a, char *n, bool *d) {                                  \
            int v = 0xDEAD;                                                                 \
            zerrno rc = ptp_cfg_profile_check_##fn(e, nv, vr, t, &v, nullptr, nullptr, a, n, \
                                                   d);                                      \
            *out = v;                                                                       \
            return rc;                                                                      \
        }                                  \
    }

const item encap = NUMBER_ITEM(encap);
const item annce_tout = NUMBER_ITEM(annce_tout);
const item port_state = NUMBER_ITEM(port_state);
const item local_priority = NUMBER_ITEM(local_priority);
const item cos = NUMBER_ITEM(cos);
const item dscp = NUMBER_ITEM(dscp);
const item grant_invalid = NUMBER_ITEM(unicast_grant_invalid_request);
const item interop_profile = NUMBER_ITEM(interop_profile);
const item interop_domain = NUMBER_ITEM(interop_domain);
const item interop_priority = NUMBER_ITEM(interop_priority);
const item interop_accuracy = NUMBER_ITEM(interop_clock_accuracy);
const item interop_oslv = NUMBER_ITEM(interop_oslv);
const item interop_class = NUMBER_ITEM(interop_clock_class_default);
const item master_priority = TABLE_ITEM(master_priority);
const item master_clock_class = TABLE_ITEM(master_clock_class);
const item master_multicast = TABLE_ITEM(master_multicast);
const item master_nonneg = TABLE_ITEM(master_nonnegotiated);
const item slave_nonneg = TABLE_ITEM(slave_nonnegotiated);
const item annce_ivl = RATE_ITEM(annce_ivl);
const item sync_ivl = RATE_ITEM(sync_ivl);
const item dr_min_ivl = RATE_ITEM(dr_min_ivl);

const item clock_operation{"clock_operation", [](uint32_t e, const bgen_value_td *nv, uint32_t *vr, char **t,
                                                 int64_t *out, const bgen_args_td *a, char *n, bool *d) {
                               uint32_t v = 0xDEAD;
                               zerrno rc =
                                   ptp_cfg_profile_check_clock_operation(e, nv, vr, t, &v, nullptr, nullptr, a, n, d);
                               *out = v;
                               return rc;
                           }};
const item multicast{"multicast", [](uint32_t e, const bgen_value_td *nv, uint32_t *vr, char **t, int64_t *out,
                                     const bgen_args_td *a, char *n, bool *d) {
                         uint32_t v = 0xDEAD;
                         ptp_address_type addr{};
                         zerrno rc = ptp_cfg_profile_check_multicast(e, nv, vr, t, &v, &addr, nullptr, nullptr, nullptr,
                                                                     a, n, d);
                         *out = v;
                         return rc;
                     }};
const item source_ip{"source_ip", [](uint32_t e, const bgen_value_td *nv, uint32_t *vr, char **t, int64_t *out,
                                     const bgen_args_td *a, char *n, bool *d) {
                         ptp_source_ip_data_type s{0xDEAD, {}};
                         zerrno rc = ptp_cfg_profile_check_source_ip(e, nv, vr, t, &s, a, n, d);
                         *out = s.enable;
                         return rc;
                     }};
const item source_ipv6{"source_ipv6", [](uint32_t e, const bgen_value_td *nv, uint32_t *vr, char **t, int64_t *out,
                                         const bgen_args_td *a, char *n, bool *d) {
                           ptp_source_ipv6_data_type s{0xDEAD, {}};
                           zerrno rc = ptp_cfg_profile_check_source_ipv6(e, nv, vr, t, &s, a, n, d);
                           *out = s.enable;
                           return rc;
                       }};
const item ttl{"ttl", [](uint32_t e, const bgen_value_td *nv, uint32_t *vr, char **, int64_t *out,
                         const bgen_args_td *a, char *n, bool *d) {
                   uint32_t v = 0xDEAD;
                   zerrno rc = ptp_cfg_profile_check_ttl(e, nv, &v, a, n, d);
                   *vr = 0xDEAD; // takes no verify result
                   *out = v;
                   return rc;
               }};
const item delay_asymmetry{"delay_asymmetry", [](uint32_t e, const bgen_value_td *nv, uint32_t *vr, char **t,
                                                 int64_t *out, const bgen_args_td *a, char *n, bool *d) {
                               ptp_delay_asymmetry_type v = 0xDEAD;
                               zerrno rc =
                                   ptp_cfg_profile_check_delay_asymmetry(e, nv, vr, t, &v, nullptr, nullptr, a, n, d);
                               *out = v;
                               return rc;
                           }};
const item master_delay_asymmetry{
    "master_delay_asymmetry", [](uint32_t e, const bgen_value_td *nv, uint32_t *vr, char **t, int64_t *out,
                                 const bgen_args_td *a, char *n, bool *d) {
        ptp_delay_asymmetry_type v = 0xDEAD;
        ptp_address_type addr{};
        zerrno rc = ptp_cfg_profile_check_master_delay_asymmetry(e, nv, vr, t, &v, &addr, a, n, d);
        *out = v;
        return rc;
    }};
const item master_enable{"master_enable", [](uint32_t e, const bgen_value_td *nv, uint32_t *vr, char **t, int64_t *out,
                                             const bgen_args_td *a, char *n, bool *d) {
                             ptp_address_type addr{};
                             zerrno rc = ptp_cfg_profile_check_master_enable(e, nv, vr, t, &addr, a, n, d);
                             *out = addr.encap;
                             return rc;
                         }};
const item grant_duration{"unicast_grant_duration", [](uint32_t e, const bgen_value_td *nv, uint32_t *vr, char **t,
                                                       int64_t *out, const bgen_args_td *a, char *n, bool *d) {
                              uint32_t v = 0xDEAD;
                              zerrno rc = ptp_cfg_profile_check_unicast_grant_duration(PTP_MSG_ANNOUNCE, e, nv, vr, t,
                                                                                       &v, a, n, d);
                              *out = v;
                              return rc;
                          }};
const item sync_timeout{"sync timeout", [](uint32_t e, const bgen_value_td *nv, uint32_t *vr, char **t, int64_t *out,
                                           const bgen_args_td *a, char *n, bool *d) {
                            uint32_t v = 0xDEAD;
                            zerrno rc = ptp_cfg_profile_check_message_timeout(PTP_MSG_SYNC, e, nv, vr, t, &v, a, n, d);
                            *out = v;
                            return rc;
                        }};
const item delay_resp_timeout{"delay-resp timeout", [](uint32_t e, const bgen_value_td *nv, uint32_t *vr, char **t,
                                                       int64_t *out, const bgen_args_td *a, char *n, bool *d) {
                                  uint32_t v = 0xDEAD;
                                  zerrno rc = ptp_cfg_profile_check_message_timeout(PTP_MSG_DELAY_RESP, e, nv, vr, t,
                                                                                    &v, a, n, d);
                                  *out = v;
                                  return rc;
                              }};
const item interop_mapping{
    "interop_clock_class_mapping", [](uint32_t e, const bgen_value_td *nv, uint32_t *vr, char **t, int64_t *out,
                                      const bgen_args_td *a, char *n, bool *d) {
        uint32_t from = 0xDEAD;
        uint32_t to = 0xDEAD;
        bgen_args_td with_key = *a;
        bgen_args_set_uint(&with_key, PTP_CFG_KEY_FROM_CLASS, 7);
        zerrno rc = ptp_cfg_profile_check_interop_clock_class_mapping(e, nv, vr, t, &from, &to, &with_key, n, d);
        *out = to;
        return rc;
    }};

const std::vector<const item *> all_items = {&encap,
                                             &clock_operation,
                                             &annce_ivl,
                                             &sync_ivl,
                                             &dr_min_ivl,
                                             &annce_tout,
                                             &multicast,
                                             &port_state,
                                             &local_priority,
                                             &source_ip,
                                             &source_ipv6,
                                             &cos,
                                             &dscp,
                                             &ttl,
                                             &delay_asymmetry,
                                             &master_enable,
                                             &master_priority,
                                             &master_clock_class,
                                             &master_nonneg,
                                             &master_multicast,
                                             &master_delay_asymmetry,
                                             &slave_nonneg,
                                             &grant_duration,
                                             &sync_timeout,
                                             &delay_resp_timeout,
                                             &grant_invalid,
                                             &interop_profile,
                                             &interop_domain,
                                             &interop_priority,
                                             &interop_accuracy,
                                             &interop_oslv,
                                             &interop_class,
                                             &interop_mapping};

struct run_result {
    zerrno code;
    std::string text; // "" when none was handed out
    uint32_t verify;
    int64_t out;
    bool is_delete;
    std::string name;
};

run_result run(const item &it, uint32_t event, const value &v, const bgen_args_td &args)
{
    bgen_value_td nv = v.view();
    uint32_t vr = 0xDEAD;
    char *t = nullptr;
    int64_t out = 0;
    char name[PTP_PROFILE_NAME_MAX + 1] = "unset";
    bool del = true;
    zerrno rc = it.run(event, &nv, &vr, &t, &out, &args, name, &del);
    run_result r{rc, t != nullptr ? t : "", vr, out, del, name};
    free(t);
    return r;
}

const char *const TXT_ENCAP = "Failed to verify the encap value. It must be either Ethernet or IPv4";
const char *const TXT_ANNCE =
    "Failed to verify the announce interval value. The announce interval must be 1, 2, 4, 8 or "
    "16 seconds";
const char *const TXT_SYNC = "Failed to verify the Sync interval value. The Sync interval must be 1, 2, 4, 8 or 16 "
                             "seconds, or a frequency of 2, 4, 8, 16, 32 or 64 per second";
const char *const TXT_DR = "Failed to verify the Delay-Request minimum interval value. The interval must be 1, 2, 4, 8 "
                           "or 16 seconds, or a frequency of 2, 4, 8, 16, 32 or 64 per second";
const char *const TXT_TOUT = "Failed to verify the announce timeout value. It must be within the specified range";
const char *const TXT_MCAST = "Failed to verify the multicast value.";
const char *const TXT_PSTATE = "Failed to verify the port state value. It must be Slave-Only, Master-Only, or Any";
const char *const TXT_LPRIO = "Failed to verify the local priority value. It must be between 1 and 255";
const char *const TXT_SRC = "Failed to verify the source IP address value. It must be a valid IP address.";
const char *const TXT_SRC6 = "Failed to verify the source IPv6 address value. It must be a valid IPv6 address.";
const char *const TXT_COS = "Failed to verify the CoS value. It must be within the specified range";
const char *const TXT_DSCP = "Failed to verify the DSCP value. It must be within the specified range";
const char *const TXT_ASYM = "Failed to verify the interface delay asymmetry item.";
const char *const TXT_MPRIO = "Failed to verify the master priority item.";
const char *const TXT_MCLASS = "Failed to verify the master clock class item.";
const char *const TXT_MMCAST = "Failed to verify the master multicast item.";
const char *const TXT_MASYM = "Failed to verify the master delay asymmetry item.";
const char *const TXT_GRANT = "Failed to verify the unicast grant duration value. The duration must be between 60 "
                              "seconds and 1000 seconds.";
const char *const TXT_SYNC_TOUT = "Failed to verify the Sync timeout value. The duration must be less than 100000 "
                                  "milliseconds and greater than 100 milliseconds";
const char *const TXT_DR_TOUT = "Failed to verify the Delay-Resp timeout value. The duration must be less than 100000 "
                                "milliseconds and greater than 100 milliseconds";
const char *const TXT_IPROF = "Failed to verify the interop profile value.";
const char *const TXT_IDOM = "Failed to verify the interop domain value. The domain must be between 0 and 255.";
const char *const TXT_IPRIO = "Failed to verify the interop priority value. The priority must be between 0 and 255.";
const char *const TXT_IACC = "Failed to verify the interop clock accuracy value. The clock accuracy must be a value "
                             "between 32 and 49, or 254, as specified by the IEEE 1588 standard";
const char *const TXT_IOSLV = "Failed to verify the interop OSLV value. The value must be between 0 and 65535.";
const char *const TXT_ICLASS =
    "Failed to verify the interop default clock class value. The default clock class must be "
    "between 0 and 255.";
const char *const TXT_IMAP = "Failed to verify the interop clock class mapping value. Each part of the clock class "
                             "mapping must be between 0 and 255.";

constexpr zerrno OK = ZERR_OK;
constexpr int64_t ANY = INT64_MIN; // value not looked at

struct check_case {
    const item *it;
    value v;
    zerrno code;
    const char *text; // on failure
    int64_t out;      // on success
};

// (item, value) -> (code, text), with the boundaries of every range.
TEST(ProfileChecks, ItemValueToCodeAndText)
{
    const std::vector<check_case> cases = {
        {&encap, num(0), PTP_ZERR_CFG_ENCAP, TXT_ENCAP, ANY},
        {&encap, num(1), OK, nullptr, 1},
        {&encap, num(3), OK, nullptr, 3},
        {&encap, num(4), PTP_ZERR_CFG_ENCAP, TXT_ENCAP, ANY},
        {&encap, text("abc"), PTP_ZERR_CFG_TUPLE, TXT_ENCAP, ANY}, // not a number
        {&clock_operation, num(1), OK, nullptr, 1},

        {&annce_ivl, pair(0x1, 1, 0), OK, nullptr, -1}, // kind 1 only: 2 per second
        {&annce_ivl, pair(0x3, 0, 0), OK, nullptr, 0},
        {&annce_ivl, pair(0x3, 0, 4), OK, nullptr, 4},
        {&annce_ivl, pair(0x3, 0, 5), PTP_ZERR_CFG_ANNCE_IVL, TXT_ANNCE, ANY},
        {&annce_ivl, pair(0x3, 1, 6), OK, nullptr, -6},
        {&annce_ivl, pair(0x3, 1, 7), PTP_ZERR_CFG_ANNCE_IVL, TXT_ANNCE, ANY},
        {&annce_ivl, pair(0x3, 0, -1), PTP_ZERR_CFG_ANNCE_IVL, TXT_ANNCE, ANY},
        {&annce_ivl, pair(0x3, 0, 256), PTP_ZERR_CFG_ANNCE_IVL, TXT_ANNCE, ANY}, // not n = 0
        {&annce_ivl, pair(0x3, 2, 0), PTP_ZERR_CFG_ANNCE_IVL, TXT_ANNCE, ANY},
        {&annce_ivl, pair(0x3, 256, 0), PTP_ZERR_CFG_ANNCE_IVL, TXT_ANNCE, ANY}, // not kind 0
        {&annce_ivl, broken(), PTP_ZERR_CFG_TUPLE, TXT_ANNCE, ANY},
        {&sync_ivl, pair(0x0, 0, 0), OK, nullptr, 0}, // no fields: 1 second
        {&sync_ivl, pair(0x3, 1, 7), OK, nullptr, -7},
        {&sync_ivl, pair(0x3, 1, 8), PTP_ZERR_CFG_SYNC_IVL, TXT_SYNC, ANY},
        {&sync_ivl, pair(0x3, 0, 5), PTP_ZERR_CFG_SYNC_IVL, TXT_SYNC, ANY},
        {&dr_min_ivl, pair(0x3, 1, 7), OK, nullptr, -7},
        {&dr_min_ivl, pair(0x3, 1, 8), PTP_ZERR_CFG_DR_MIN_IVL, TXT_DR, ANY},

        {&annce_tout, num(1), PTP_ZERR_CFG_ANNCE_TOUT, TXT_TOUT, ANY},
        {&annce_tout, num(2), OK, nullptr, 2},
        {&annce_tout, num(10), OK, nullptr, 10},
        {&annce_tout, num(11), PTP_ZERR_CFG_ANNCE_TOUT, TXT_TOUT, ANY},

        {&multicast, mcast(0x1, 2), OK, nullptr, 2},
        {&multicast, mcast(0x7, 1, 1, "0180.c200.000e"), OK, nullptr, 1},
        {&multicast, mcast(0x7, 1, 1, "011B.1900.0"), OK, nullptr, 1},
        {&multicast, mcast(0x7, 1, 1, "0100.5e00.0001"), PTP_ZERR_CFG_TRANSPORT, TXT_MCAST, ANY},
        {&multicast, mcast(0x1, 3), PTP_ZERR_CFG_TRANSPORT, TXT_MCAST, ANY},
        {&multicast, mcast(0x1, -1), PTP_ZERR_CFG_TRANSPORT, TXT_MCAST, ANY},
        {&multicast, mcast(0x7, 1, 1, "1011b.1900.0000"), PTP_ZERR_CFG_MAC, TXT_MCAST, ANY},
        {&multicast, mcast(0x7, 1, 1, "011b.1900.0000x"), PTP_ZERR_CFG_MAC, TXT_MCAST, ANY},
        {&multicast, mcast(0x7, 1, 1, "011b.1900"), PTP_ZERR_CFG_MAC, TXT_MCAST, ANY},
        {&multicast, mcast(0x3, 1, 1), PTP_ZERR_CFG_MAC, TXT_MCAST, ANY}, // given, but no text
        {&multicast, broken(), PTP_ZERR_CFG_TUPLE, TXT_MCAST, ANY},

        {&port_state, num(0), OK, nullptr, 0},
        {&port_state, num(2), OK, nullptr, 2},
        {&port_state, num(3), PTP_ZERR_CFG_PORT_STATE, TXT_PSTATE, ANY},
        {&local_priority, num(0), PTP_ZERR_CFG_LOCAL_PRIORITY, TXT_LPRIO, ANY},
        {&local_priority, num(1), OK, nullptr, 1},
        {&local_priority, num(255), OK, nullptr, 255},
        {&local_priority, num(256), PTP_ZERR_CFG_LOCAL_PRIORITY, TXT_LPRIO, ANY},

        {&source_ip, source(0x3, 1, "10.1.2.3"), OK, nullptr, 1},
        {&source_ip, source(0x3, 1, "127.0.0.1"), PTP_ZERR_CFG_SOURCE_IP, TXT_SRC, ANY},
        {&source_ip, source(0x3, 1, "0.1.2.3"), PTP_ZERR_CFG_SOURCE_IP, TXT_SRC, ANY},
        {&source_ip, source(0x3, 1, "224.0.1.129"), PTP_ZERR_CFG_SOURCE_IP, TXT_SRC, ANY},
        {&source_ip, source(0x3, 1, "255.255.255.255"), PTP_ZERR_CFG_SOURCE_IP, TXT_SRC, ANY},
        {&source_ip, source(0x3, 1, "10.1.2"), PTP_ZERR_CFG_SOURCE_IP, TXT_SRC, ANY},
        {&source_ip, source(0x1, 1), PTP_ZERR_CFG_SOURCE_IP, TXT_SRC, ANY},
        {&source_ip, source(0x1, 0), PTP_ZERR_CFG_SOURCE_IP, TXT_SRC, ANY}, // disabled
        {&source_ipv6, source(0x3, 1, "2001:db8::1"), OK, nullptr, 1},
        {&source_ipv6, source(0x3, 1, "::1"), PTP_ZERR_CFG_SOURCE_IPV6, TXT_SRC6, ANY},
        {&source_ipv6, source(0x3, 1, "::"), PTP_ZERR_CFG_SOURCE_IPV6, TXT_SRC6, ANY},
        {&source_ipv6, source(0x3, 1, "ff02::1"), PTP_ZERR_CFG_SOURCE_IPV6, TXT_SRC6, ANY},
        {&source_ipv6, source(0x3, 1, "10.1.2.3"), PTP_ZERR_CFG_SOURCE_IPV6, TXT_SRC6, ANY},
        {&source_ipv6, source(0x1, 0), PTP_ZERR_CFG_SOURCE_IPV6, TXT_SRC6, ANY},

        {&cos, num(7), OK, nullptr, 7},
        {&cos, num(8), PTP_ZERR_CFG_COS, TXT_COS, ANY},
        {&dscp, num(63), OK, nullptr, 63},
        {&dscp, num(64), PTP_ZERR_CFG_DSCP, TXT_DSCP, ANY},
        {&ttl, num(0), PTP_ZERR_CFG_ENCAP, nullptr, ANY}, // code only, no text
        {&ttl, num(1), OK, nullptr, 1},
        {&ttl, num(255), OK, nullptr, 255},
        {&ttl, num(256), PTP_ZERR_CFG_ENCAP, nullptr, ANY},

        {&delay_asymmetry, pair(0x3, 5000, 1), OK, nullptr, 5000000},
        {&delay_asymmetry, pair(0x3, 500, 2), OK, nullptr, 500000000},
        {&delay_asymmetry, pair(0x3, -500000000, 0), OK, nullptr, -500000000},
        {&delay_asymmetry, pair(0x3, 500000001, 0), PTP_ZERR_CFG_DELAY_ASYMMETRY, TXT_ASYM, ANY},
        {&delay_asymmetry, pair(0x3, -500001, 1), PTP_ZERR_CFG_DELAY_ASYMMETRY, TXT_ASYM, ANY},
        {&delay_asymmetry, pair(0x3, 600, 2), PTP_ZERR_CFG_DELAY_ASYMMETRY, TXT_ASYM, ANY},
        {&delay_asymmetry, pair(0x3, INT32_MIN, 1), PTP_ZERR_CFG_DELAY_ASYMMETRY, TXT_ASYM, ANY},
        {&delay_asymmetry, pair(0x3, 1, 3), PTP_ZERR_CFG_DELAY_ASYMMETRY, TXT_ASYM, ANY},
        {&delay_asymmetry, pair(0x3, 1, -1), PTP_ZERR_CFG_DELAY_ASYMMETRY, TXT_ASYM, ANY},
        {&delay_asymmetry, pair(0x0, 0, 0), OK, nullptr, 0},
        {&delay_asymmetry, none(), OK, nullptr, 0xDEAD}, // absent: nothing written

        {&master_enable, none(), OK, nullptr, PTP_ENCAP_IPV4},
        {&master_priority, num(0), OK, nullptr, 0},
        {&master_priority, num(255), OK, nullptr, 255},
        {&master_priority, num(256), PTP_ZERR_CFG_PRIORITY, TXT_MPRIO, ANY},
        {&master_clock_class, num(255), OK, nullptr, 255},
        {&master_clock_class, num(256), PTP_ZERR_CFG_CLOCK_CLASS, TXT_MCLASS, ANY},
        {&master_multicast, num(2), OK, nullptr, 2},
        {&master_multicast, num(3), PTP_ZERR_CFG_TRANSPORT, TXT_MMCAST, ANY},
        {&master_nonneg, none(), OK, nullptr, 1},
        {&slave_nonneg, none(), OK, nullptr, 1},
        {&master_delay_asymmetry, pair(0x3, 600, 2), PTP_ZERR_CFG_DELAY_ASYMMETRY, TXT_MASYM, ANY},
        {&master_delay_asymmetry, pair(0x3, -2, 2), OK, nullptr, -2000000},

        {&grant_duration, num(59), PTP_ZERR_CFG_GRANT_DURATION, TXT_GRANT, ANY},
        {&grant_duration, num(60), OK, nullptr, 60},
        {&grant_duration, num(1000), OK, nullptr, 1000},
        {&grant_duration, num(1001), PTP_ZERR_CFG_GRANT_DURATION, TXT_GRANT, ANY},
        {&sync_timeout, num(99), PTP_ZERR_CFG_MESSAGE_TIMEOUT, TXT_SYNC_TOUT, ANY},
        {&sync_timeout, num(100), OK, nullptr, 100},
        {&sync_timeout, num(100000), OK, nullptr, 100000},
        {&sync_timeout, num(100001), PTP_ZERR_CFG_MESSAGE_TIMEOUT, TXT_SYNC_TOUT, ANY},
        {&delay_resp_timeout, num(100001), PTP_ZERR_CFG_MESSAGE_TIMEOUT, TXT_DR_TOUT, ANY},
        {&grant_invalid, num(9), OK, nullptr, 9},

        {&interop_profile, num(3), OK, nullptr, 3},
        {&interop_profile, num(4), PTP_ZERR_CFG_PROFILE, TXT_IPROF, ANY},
        {&interop_domain, num(255), OK, nullptr, 255},
        {&interop_domain, num(256), PTP_ZERR_CFG_DOMAIN, TXT_IDOM, ANY},
        {&interop_priority, num(256), PTP_ZERR_CFG_PRIORITY, TXT_IPRIO, ANY},
        {&interop_accuracy, num(31), PTP_ZERR2_CFG_CLOCK_ACCURACY, TXT_IACC, ANY},
        {&interop_accuracy, num(32), OK, nullptr, 32},
        {&interop_accuracy, num(49), OK, nullptr, 49},
        {&interop_accuracy, num(50), PTP_ZERR2_CFG_CLOCK_ACCURACY, TXT_IACC, ANY},
        {&interop_accuracy, num(254), OK, nullptr, 254},
        {&interop_accuracy, num(254 + 256), PTP_ZERR2_CFG_CLOCK_ACCURACY, TXT_IACC, ANY},
        {&interop_oslv, num(65535), OK, nullptr, 65535},
        {&interop_oslv, num(65536), PTP_ZERR2_CFG_OSLV, TXT_IOSLV, ANY},
        {&interop_class, num(255), OK, nullptr, 255},
        {&interop_class, num(256), PTP_ZERR_CFG_CLOCK_CLASS, TXT_ICLASS, ANY},
        {&interop_mapping, num(255), OK, nullptr, 255},
        {&interop_mapping, num(256), PTP_ZERR_CFG_CLOCK_CLASS, TXT_IMAP, ANY},
    };
    const bgen_args_td args = profile_args();
    for (const auto &c : cases) {
        run_result r = run(*c.it, PTP_CFG_EVENT_SET, c.v, args);
        SCOPED_TRACE(std::string(c.it->name) + " expecting " + std::to_string(c.code));
        EXPECT_EQ(r.code, c.code);
        EXPECT_FALSE(r.is_delete);
        if (c.code == OK) {
            EXPECT_EQ(r.text, "");
            if (c.it != &ttl) {
                EXPECT_EQ(r.verify, 1u);
            }
            EXPECT_EQ(r.name, "prof");
            if (c.out != ANY) {
                EXPECT_EQ(r.out, c.out);
            }
        } else {
            EXPECT_EQ(r.text, c.text != nullptr ? c.text : "");
            if (c.it != &ttl) {
                EXPECT_EQ(r.verify, 0u);
            }
            EXPECT_EQ(r.out, 0xDEAD) << "a refused value is not handed out";
            EXPECT_EQ(r.name, "unset");
        }
    }
}

TEST(ProfileChecks, DeleteOfEveryItemSucceedsWithoutValue)
{
    const bgen_args_td args = profile_args();
    for (const item *it : all_items) {
        run_result r = run(*it, PTP_CFG_EVENT_DELETE, none(), args);
        SCOPED_TRACE(it->name);
        EXPECT_EQ(r.code, OK);
        EXPECT_TRUE(r.is_delete);
        EXPECT_EQ(r.name, "prof");
        if (it != &master_enable && it != &master_nonneg && it != &slave_nonneg) {
            EXPECT_EQ(r.out, 0xDEAD);
        }
    }
}

TEST(ProfileChecks, ProfileNameKeyComesFirst)
{
    const std::string longest(256, 'p');
    const std::string too_long(257, 'p');
    const std::string name_text = "Failed to verify the profile name. The string entered is too short or too long";
    struct {
        const char *name;
        zerrno code;
        std::string text; // the name's, whichever item it came with
    } names[] = {{nullptr, PTP_ZERR_CFG_ARGUMENT, "Unable to retrieve an argument from backend"},
                 {"", PTP_ZERR_CFG_PROFILE_NAME, name_text},
                 {too_long.c_str(), PTP_ZERR_CFG_PROFILE_NAME, name_text},
                 {longest.c_str(), OK, ""}};
    for (const item *it : all_items) {
        for (const auto &n : names) {
            SCOPED_TRACE(std::string(it->name) + " name length " + std::to_string(n.name ? strlen(n.name) : 0));
            // Even a delete needs the profile name.
            if (n.code == OK) {
                EXPECT_EQ(run(*it, PTP_CFG_EVENT_DELETE, none(), profile_args(n.name)).name, longest);
                continue;
            }
            // A set whose value is refused too is refused for the name.
            for (const run_result &r : {run(*it, PTP_CFG_EVENT_DELETE, none(), profile_args(n.name)),
                                        run(*it, PTP_CFG_EVENT_SET, num(0xFFFFFFF), profile_args(n.name))}) {
                EXPECT_EQ(r.code, n.code);
                if (it != &ttl) {
                    EXPECT_EQ(r.verify, 0u);
                    EXPECT_EQ(r.text, n.text);
                }
            }
        }
    }
}

TEST(ProfileChecks, WithoutVerifyResultOnlyTheCodeComesBack)
{
    bgen_args_td args = profile_args();
    value keep_nv = num(11);
    bgen_value_td nv = keep_nv.view();
    uint32_t v = 0;
    char name[PTP_PROFILE_NAME_MAX + 1] = "";
    bool del = true;
    char *txt = nullptr;
    EXPECT_EQ(ptp_cfg_profile_check_annce_tout(PTP_CFG_EVENT_SET, &nv, nullptr, &txt, &v, &args, name, &del),
              PTP_ZERR_CFG_ANNCE_TOUT);
    EXPECT_EQ(txt, nullptr);
    EXPECT_FALSE(del);
}

// Intervals, clock operation and delay asymmetry skip the previous value on a create;
// multicast, like its interface item, decodes it on every event.
TEST(ProfileChecks, PreviousValues)
{
    bgen_args_td args = profile_args();
    value now = pair(0x3, 1, 3);
    value before = pair(0x3, 0, 2);
    bgen_value_td nv = now.view();
    bgen_value_td pv = before.view();
    int cur = 0, prev = 99;
    EXPECT_EQ(ptp_cfg_profile_check_sync_ivl(PTP_CFG_EVENT_SET, &nv, nullptr, nullptr, &cur, &prev, &pv, &args, nullptr,
                                             nullptr),
              OK);
    EXPECT_EQ(cur, -3);
    EXPECT_EQ(prev, 2);
    prev = 99;
    EXPECT_EQ(ptp_cfg_profile_check_sync_ivl(PTP_CFG_EVENT_CREATE, &nv, nullptr, nullptr, &cur, &prev, &pv, &args,
                                             nullptr, nullptr),
              OK);
    EXPECT_EQ(prev, 99);

    value bad_before = pair(0x3, 7, 2); // a stored value that is no rate: refused, no assert
    bgen_value_td bpv = bad_before.view();
    EXPECT_EQ(ptp_cfg_profile_check_sync_ivl(PTP_CFG_EVENT_SET, &nv, nullptr, nullptr, &cur, &prev, &bpv, &args,
                                             nullptr, nullptr),
              PTP_ZERR_CFG_TUPLE);

    value asym_before = pair(0x3, 3, 1);
    bgen_value_td apv = asym_before.view();
    ptp_delay_asymmetry_type ns = 0, prev_ns = 0;
    bool del = false;
    EXPECT_EQ(ptp_cfg_profile_check_delay_asymmetry(PTP_CFG_EVENT_DELETE, nullptr, nullptr, nullptr, &ns, &prev_ns,
                                                    &apv, &args, nullptr, &del),
              OK);
    EXPECT_TRUE(del);
    EXPECT_EQ(prev_ns, 3000);

    value m_now = mcast(0x7, 2, 1, "0180.c200.000e");
    value m_before = mcast(0x1, 1);
    bgen_value_td mnv = m_now.view();
    bgen_value_td mpv = m_before.view();
    uint32_t mode = 0, prev_mode = 0;
    ptp_address_type addr{}, prev_addr{};
    EXPECT_EQ(ptp_cfg_profile_check_multicast(PTP_CFG_EVENT_SET, &mnv, nullptr, nullptr, &mode, &addr, &prev_mode,
                                              &prev_addr, &mpv, &args, nullptr, nullptr),
              OK);
    EXPECT_EQ(mode, 2u);
    EXPECT_EQ(prev_mode, 1u);
    ptp_address_type peer{}, dflt{};
    ptp_address_set_mac(&peer, PTP_MULTICAST_MAC_PEER);
    ptp_address_set_mac(&dflt, PTP_MULTICAST_MAC_DEFAULT);
    EXPECT_EQ(ptp_address_equal(&addr, &peer), 1);
    EXPECT_EQ(ptp_address_equal(&prev_addr, &dflt), 1);
    prev_mode = 9;
    EXPECT_EQ(ptp_cfg_profile_check_multicast(PTP_CFG_EVENT_CREATE, &mnv, nullptr, nullptr, &mode, &addr, &prev_mode,
                                              &prev_addr, &mpv, &args, nullptr, nullptr),
              OK);
    EXPECT_EQ(prev_mode, 1u);
    EXPECT_STREQ(ptp_cfg_event_to_str(PTP_CFG_EVENT_CREATE), "Create");
}

bgen_args_td table_args(uint32_t kind, const char *mac, uint32_t family, const char *ip)
{
    bgen_args_td a;
    bgen_args_init(&a, 0);
    bgen_args_set_string(&a, PTP_CFG_KEY_NAME, "prof");
    if (kind != 0)
        bgen_args_set_uint(&a, PTP_CFG_KEY_ADDR_KIND, kind);
    if (mac != nullptr)
        bgen_args_set_string(&a, PTP_CFG_KEY_MAC, mac);
    if (ip != nullptr) {
        uint8_t bytes[16] = {};
        inet_pton(family == BGEN_IP_V4 ? AF_INET : AF_INET6, ip, bytes);
        bgen_args_set_ip(&a, PTP_CFG_KEY_IP, family, bytes);
    }
    return a;
}

TEST(AddressKey, ExtractAndMasterEnable)
{
    const char *const TXT_MENABLE = "Failed to verify the master enable item.";
    struct {
        const char *what;
        bgen_args_td args;
        zerrno extract;
        zerrno enable;
    } cases[] = {
        {"no kind", table_args(0, nullptr, 0, nullptr), PTP_ZERR_CFG_ARGUMENT, PTP_ZERR_CFG_ARGUMENT},
        {"kind 4", table_args(4, "1.2.3", 0, nullptr), PTP_ZERR_CFG_ENCAP, PTP_ZERR_CFG_ENCAP},
        {"Ethernet without MAC", table_args(1, nullptr, BGEN_IP_V4, "10.0.0.1"), PTP_ZERR_CFG_ARGUMENT,
         PTP_ZERR_CFG_ARGUMENT},
        {"MAC group above 0xFFFF", table_args(1, "10000.0.0", 0, nullptr), PTP_ZERR_CFG_MAC, PTP_ZERR_CFG_MAC},
        {"MAC with trailing text", table_args(1, "a.b.c.d", 0, nullptr), PTP_ZERR_CFG_MAC, PTP_ZERR_CFG_MAC},
        {"MAC with a sign", table_args(1, "-1.0.0", 0, nullptr), PTP_ZERR_CFG_MAC, PTP_ZERR_CFG_MAC},
        {"unicast MAC", table_args(1, "0a0b.0c0d.0e0f", 0, nullptr), OK, OK},
        {"group MAC", table_args(1, "011b.1900.0000", 0, nullptr), OK, PTP_ZERR2_CFG_MASTER_MULTICAST},
        {"IPv4 without address", table_args(2, nullptr, 0, nullptr), PTP_ZERR_CFG_ARGUMENT, PTP_ZERR_CFG_ARGUMENT},
        {"IPv4 kind with IPv6 address", table_args(2, nullptr, BGEN_IP_V6, "2001:db8::1"), PTP_ZERR_CFG_ARGUMENT,
         PTP_ZERR_CFG_ARGUMENT},
        {"IPv4", table_args(2, nullptr, BGEN_IP_V4, "192.0.2.1"), OK, OK},
        {"IPv4 multicast", table_args(2, nullptr, BGEN_IP_V4, "224.0.1.129"), OK, PTP_ZERR2_CFG_MASTER_MULTICAST},
        {"IPv6", table_args(3, nullptr, BGEN_IP_V6, "2001:db8::1"), OK, OK},
        {"IPv6 ff05::1 is not taken for multicast", table_args(3, nullptr, BGEN_IP_V6, "ff05::1"), OK, OK},
        {"IPv6 ff02::1", table_args(3, nullptr, BGEN_IP_V6, "ff02::1"), OK, PTP_ZERR2_CFG_MASTER_MULTICAST},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ptp_address_type addr{};
        EXPECT_EQ(ptp_cfg_extract_addr_info(&c.args, &addr), c.extract);
        run_result r = run(master_enable, PTP_CFG_EVENT_SET, none(), c.args);
        EXPECT_EQ(r.code, c.enable);
        EXPECT_EQ(r.text, c.enable == OK ? "" : TXT_MENABLE);
    }
    ptp_address_type addr{};
    bgen_args_td mac = table_args(1, "0a0b.c.e0f", 0, nullptr);
    ASSERT_EQ(ptp_cfg_extract_addr_info(&mac, &addr), OK);
    const uint8_t want[6] = {0x0a, 0x0b, 0x00, 0x0c, 0x0e, 0x0f};
    EXPECT_EQ(addr.encap, PTP_ENCAP_ETHERNET);
    EXPECT_EQ(memcmp(addr.value, want, 6), 0);
    // A delete of a table item still hands out the entry's address.
    bgen_args_td v4 = table_args(2, nullptr, BGEN_IP_V4, "192.0.2.1");
    bgen_value_td nv{};
    uint32_t prio = 0;
    bool del = false;
    ptp_address_type got{};
    EXPECT_EQ(ptp_cfg_profile_check_master_priority(PTP_CFG_EVENT_DELETE, &nv, nullptr, nullptr, &prio, &got, &v4,
                                                    nullptr, &del),
              OK);
    EXPECT_TRUE(del);
    EXPECT_EQ(got.encap, PTP_ENCAP_IPV4);
    EXPECT_EQ(got.value[0], 192);
}

TEST(AddressKey, MulticastRule)
{
    struct {
        uint32_t encap;
        std::vector<uint8_t> bytes;
        bool multicast;
    } cases[] = {
        {PTP_ENCAP_ETHERNET, {0x01, 0x1B, 0x19, 0, 0, 0}, true},
        {PTP_ENCAP_ETHERNET, {0x02, 0x1B, 0x19, 0, 0, 0}, false},
        {PTP_ENCAP_IPV4, {223, 255, 255, 255}, false},
        {PTP_ENCAP_IPV4, {224, 0, 0, 0}, true},
        {PTP_ENCAP_IPV4, {239, 255, 255, 255}, true},
        {PTP_ENCAP_IPV4, {240, 0, 0, 0}, false},
        {PTP_ENCAP_IPV6, {0xFF, 0x00}, true},
        {PTP_ENCAP_IPV6, {0xFF, 0x02}, true},
        {PTP_ENCAP_IPV6, {0xFF, 0x05}, false},
        {PTP_ENCAP_IPV6, {0xFE, 0x80}, false},
        {0, {0xFF, 0xFF}, false},
    };
    for (const auto &c : cases) {
        ptp_address_type a{};
        a.encap = c.encap;
        memcpy(a.value, c.bytes.data(), c.bytes.size());
        EXPECT_EQ(ptp_cfg_check_addr_is_multicast(&a), c.multicast) << c.encap << " " << int(c.bytes[0]);
    }
}

// Where the interface checks differ from their profile twins.
TEST(InterfaceChecks, WhatDiffersFromTheProfileItems)
{
    bool del = true;
    uint32_t v = 77;
    value keep_zero = num(0);
    bgen_value_td zero = keep_zero.view();
    EXPECT_EQ(ptp_cfg_check_local_priority(PTP_CFG_EVENT_SET, &zero, &v, &del), PTP_ZERR_CFG_LOCAL_PRIORITY);
    EXPECT_EQ(v, 77u) << "an invalid local priority is not written";
    EXPECT_FALSE(del);
    value keep_big = num(300);
    bgen_value_td big = keep_big.view();
    EXPECT_EQ(ptp_cfg_check_master_clock_class(PTP_CFG_EVENT_SET, &big, &v, &del), PTP_ZERR_CFG_CLOCK_CLASS);
    EXPECT_EQ(v, 300u) << "the master clock class is written even when invalid";

    // A disabled source address: all ones, accepted where the caller allows it.
    value off = source(0x1, 0);
    bgen_value_td offv = off.view();
    ptp_source_ip_data_type s{};
    EXPECT_EQ(ptp_cfg_check_source_ip(PTP_CFG_EVENT_SET, &offv, &s, &del, true), OK);
    EXPECT_EQ(s.enable, 0u);
    EXPECT_EQ(s.ip_address[0] & s.ip_address[1] & s.ip_address[2] & s.ip_address[3], 0xFF);
    EXPECT_EQ(ptp_cfg_check_source_ip(PTP_CFG_EVENT_SET, &offv, &s, &del, false), PTP_ZERR_CFG_SOURCE_IP);
    ptp_source_ipv6_data_type s6{};
    EXPECT_EQ(ptp_cfg_check_source_ipv6(PTP_CFG_EVENT_SET, &offv, &s6, &del, true), OK);

    // Absent values that succeed.
    bgen_value_td absent{};
    ptp_delay_asymmetry_type ns = 42;
    EXPECT_EQ(ptp_cfg_check_delay_asymmetry(PTP_CFG_EVENT_SET, &absent, &ns, &del), OK);
    EXPECT_EQ(ns, 42);
    EXPECT_EQ(ptp_cfg_check_master_multicast(PTP_CFG_EVENT_SET, &absent, &v, &del), OK);
    EXPECT_EQ(ptp_cfg_check_encap(PTP_CFG_EVENT_SET, &absent, &v, &del), PTP_ZERR_CFG_TUPLE);

    // Flags: 1 when set, 0 on delete.
    uint32_t flag = 7;
    EXPECT_EQ(ptp_cfg_check_master_nonnegotiated(PTP_CFG_EVENT_SET, &flag, &del), OK);
    EXPECT_EQ(flag, 1u);
    EXPECT_EQ(ptp_cfg_check_slave_nonnegotiated(PTP_CFG_EVENT_DELETE, &flag, &del), OK);
    EXPECT_EQ(flag, 0u);
    EXPECT_TRUE(del);

    // The previous multicast tuple is decoded on a delete too.
    value before = mcast(0x7, 2, 1, "0180.c200.000e");
    bgen_value_td pv = before.view();
    uint32_t mode = 9, prev_mode = 9;
    ptp_address_type addr{}, prev_addr{};
    EXPECT_EQ(ptp_cfg_check_multicast(PTP_CFG_EVENT_DELETE, nullptr, &mode, &addr, &del, &pv, &prev_mode, &prev_addr),
              OK);
    EXPECT_TRUE(del);
    EXPECT_EQ(mode, 9u);
    EXPECT_EQ(prev_mode, 2u);
    EXPECT_EQ(prev_addr.value[1], 0x80);

    // Intervals hand out the configured rate.
    value rate = pair(0x1, 1, 0);
    bgen_value_td rv = rate.view();
    ptp_time_data_type r{};
    EXPECT_EQ(ptp_cfg_check_annce_ivl(PTP_CFG_EVENT_SET, &rv, &r, &del), OK);
    EXPECT_EQ(r.kind, PTP_TIME_DATA_FREQUENCY);
    EXPECT_EQ(r.value, 1);

    char name[PTP_PROFILE_NAME_MAX + 1];
    value n = text(std::string(257, 'x'));
    bgen_value_td nv = n.view();
    EXPECT_EQ(ptp_cfg_check_profile_name(PTP_CFG_EVENT_SET, &nv, name, &del), PTP_ZERR_CFG_PROFILE_NAME);
    value n2 = text("gm-prof");
    nv = n2.view();
    EXPECT_EQ(ptp_cfg_check_profile_name(PTP_CFG_EVENT_SET, &nv, name, &del), OK);
    EXPECT_STREQ(name, "gm-prof");

    value keep_t = num(60);
    bgen_value_td t = keep_t.view();
    EXPECT_EQ(ptp_cfg_check_unicast_grant_duration(PTP_MSG_SYNC, PTP_CFG_EVENT_SET, &t, &v, &del), OK);
    EXPECT_DEATH(ptp_cfg_check_unicast_grant_duration(PTP_MSG_FOLLOW_UP, PTP_CFG_EVENT_SET, &t, &v, &del),
                 "message type");
    EXPECT_DEATH(ptp_cfg_check_message_timeout(PTP_MSG_ANNOUNCE, PTP_CFG_EVENT_SET, &t, &v, &del), "message type");
}

TEST(Predicates, Boundaries)
{
    using pred = bool (*)(uint32_t);
    struct {
        const char *name;
        pred fn;
        std::vector<uint32_t> good;
        std::vector<uint32_t> bad;
    } cases[] = {
        {"domain", ptp_clock_domain_is_ok, {0, 255}, {256}},
        {"priority", ptp_priority_is_ok, {0, 255}, {256}},
        {"local priority", ptp_local_priority_is_ok, {1, 255}, {0, 256}},
        {"timescale", ptp_timescale_is_ok, {0, 1}, {2}},
        {"time source",
         ptp_time_source_is_ok,
         {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x90, 0xA0},
         {0, 0x70, 0x80, 0xF0, 0x110}},
        {"clock class", ptp_clock_class_is_ok, {0, 255}, {256}},
        {"clock accuracy", ptp_clock_accuracy_is_ok, {32, 49, 254}, {31, 50, 253, 255, 254 + 256}},
        {"oslv", ptp_clock_oslv_is_ok, {0, 0xFFFF}, {0x10000}},
        {"frequency priority", ptp_freq_priority_is_ok, {1, 254}, {0, 255, 257}},
        {"time-of-day priority", ptp_tod_priority_is_ok, {1, 254}, {0, 255, 257}},
        {"announce timeout", ptp_announce_timeout_is_ok, {2, 10}, {1, 11}},
        {"profile", ptp_clock_profile_is_ok, {0, 3}, {4}},
    };
    for (const auto &c : cases) {
        for (uint32_t v : c.good)
            EXPECT_TRUE(c.fn(v)) << c.name << " " << v;
        for (uint32_t v : c.bad)
            EXPECT_FALSE(c.fn(v)) << c.name << " " << v;
    }

    // Telecom clock type per profile.
    for (uint32_t t = 0; t <= 3; t++) {
        EXPECT_EQ(ptp_clock_type_is_ok(t, PTP_PROFILE_G8275_1), t <= 2);
        EXPECT_EQ(ptp_clock_type_is_ok(t, PTP_PROFILE_G8275_2), t <= 2);
        EXPECT_EQ(ptp_clock_type_is_ok(t, PTP_PROFILE_G8265_1), t == 0 || t == 2);
        EXPECT_FALSE(ptp_clock_type_is_ok(t, PTP_PROFILE_DEFAULT));
    }

    EXPECT_TRUE(ptp_message_timeout_is_ok(PTP_MSG_SYNC, 100));
    EXPECT_TRUE(ptp_message_timeout_is_ok(PTP_MSG_DELAY_RESP, 100000));
    EXPECT_FALSE(ptp_message_timeout_is_ok(PTP_MSG_SYNC, 99));
    EXPECT_FALSE(ptp_message_timeout_is_ok(PTP_MSG_SYNC, 100001));
    EXPECT_FALSE(ptp_message_timeout_is_ok(PTP_MSG_ANNOUNCE, 1000));
}

TEST(Predicates, ClockIdentitySettings)
{
    struct {
        const char *text;
        bool ok;
        uint64_t eui;
    } euis[] = {{"0123456789abcdef", true, 0x0123456789ABCDEFull},
                {"FFFFFFFFFFFFFFFF", true, UINT64_MAX},
                {"00000000000000001", true, 1},
                {"1FFFFFFFFFFFFFFFF", false, 0}, // more than 64 bits
                {"12g", false, 0},
                {"12 ", false, 0},
                {"0x12", false, 0},
                {"", false, 0}};
    for (auto e : euis) {
        ptp_clock_id_type id{PTP_CLOCK_ID_EUI64, {}, 7};
        EXPECT_EQ(ptp_get_eui_number(e.text, &id), e.ok) << e.text;
        EXPECT_EQ(id.eui, e.ok ? e.eui : 7u) << e.text;
    }
    ptp_clock_id_type id{};
    id.kind = PTP_CLOCK_ID_ROUTER_MAC;
    EXPECT_TRUE(ptp_clock_id_data_is_ok(&id, 0));
    id.kind = PTP_CLOCK_ID_USER_MAC;
    EXPECT_TRUE(ptp_clock_id_data_is_ok(&id, 0xF));
    EXPECT_FALSE(ptp_clock_id_data_is_ok(&id, 0x7));
    id.kind = PTP_CLOCK_ID_EUI64;
    EXPECT_TRUE(ptp_clock_id_data_is_ok(&id, 0x11));
    EXPECT_FALSE(ptp_clock_id_data_is_ok(&id, 0xF));
    id.kind = 3;
    EXPECT_FALSE(ptp_clock_id_data_is_ok(&id, 0x1F));
}

} // namespace
