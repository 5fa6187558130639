// Global items and configuration profiles: each leaf's effect, codes and texts; the packet rates
// the clock profile decides; the profile's life with the interfaces that use it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "qor_log.h"
#include "tessel_alloc.h"
#include "tessel_cfg_gl.h"
#include "tessel_cfg_global_test_fake.h"
#include "tessel_interop_config.h"
#include "tessel_intf_caps.h"
#include "tessel_ipc_db.h"
#include "tessel_port_mgr.h"
#include "tuple.h"

namespace {

constexpr uint16_t ALL_CAPS = 0x03ff;
constexpr uint32_t CREATE = NODRA_EVENT_CREATE;
constexpr uint32_t SET = NODRA_EVENT_SET;
constexpr uint32_t DELETE = NODRA_EVENT_DELETE;

tuple_field_type num(int32_t n)
{
    return {1, static_cast<uint32_t>(n), {}};
}
tuple_field_type text(const char *t)
{
    return {2, 0, t};
}

class CfgGlTest : public ::testing::Test {
protected:
    void SetUp() override { cfg_fake_reset(ALL_CAPS); }
    void TearDown() override { cfg_fake_teardown(); }
};

// ---- Global leaves ----

using gl_notify_fn = void (*)(const nodra_notify_event_info_td *, void *, const bgen_args_td *);

struct gl_case {
    const char *name;
    gl_notify_fn handler;
    std::function<cfg_event_type()> event;
    zerrno result;
    std::vector<std::string> debug;
    std::function<void()> check;
};

cfg_event_type clock_profile_event(uint32_t event, std::vector<tuple_field_type> now,
                                   std::vector<tuple_field_type> before)
{
    cfg_event_type e = event == DELETE ? cfg_event_delete() : cfg_event_tuple(event, now);
    if (!before.empty()) {
        tuple_pack_fields(before, &e.old_bytes);
    }
    return e;
}

TEST_F(CfgGlTest, GlobalLeaves)
{
    const gl_case cases[] = {
        {"enable set",
         tessel_cfg_gl_notify_enable,
         [] { return cfg_event_u32(CREATE, 0); },
         0,
         {"CONFIG: Received global enable config set."},
         [] { EXPECT_EQ(cfg_fake.ptp_enable, std::vector<uint32_t>{1}); }},
        {"enable delete",
         tessel_cfg_gl_notify_enable,
         [] { return cfg_event_delete(); },
         0,
         {"CONFIG: Received global enable config delete."},
         [] { EXPECT_EQ(cfg_fake.ptp_enable, std::vector<uint32_t>{0}); }},
        {"min clock class set",
         tessel_cfg_gl_notify_min_clock_class,
         [] { return cfg_event_u32(SET, 6); },
         0,
         {"CONFIG: Received min clock class config Set: 6"},
         [] { EXPECT_EQ(cfg_fake.min_clock_class, std::vector<uint32_t>{6}); }},
        {"min clock class delete is 255",
         tessel_cfg_gl_notify_min_clock_class,
         [] { return cfg_event_delete(); },
         0,
         {"CONFIG: Received min clock class config Delete: 255"},
         [] { EXPECT_EQ(cfg_fake.min_clock_class, std::vector<uint32_t>{255}); }},
        {"min clock class without a value",
         tessel_cfg_gl_notify_min_clock_class,
         [] {
             cfg_event_type e = cfg_event_u32(SET, 6);
             e.bytes.resize(2);
             return e;
         },
         PTP_ZERR_CFG_TUPLE,
         {},
         [] { EXPECT_TRUE(cfg_fake.min_clock_class.empty()); }},
        {"verify-checksum set",
         tessel_cfg_gl_notify_verify_checksum,
         [] { return cfg_event_u32(CREATE, 0); },
         0,
         {},
         [] { EXPECT_TRUE(tessel_cfg_get_verify_checksum()); }},
        {"QL option set",
         tessel_cfg_gl_notify_fsync_ql_option,
         [] { return cfg_event_u32(SET, 2); },
         0,
         {"CONFIG: FSync QL option config Set event. New value Opt-II,1"},
         [] { EXPECT_EQ(tessel_cfg_get_fsync_ql_option(), 2); }},
        {"QL option out of range",
         tessel_cfg_gl_notify_fsync_ql_option,
         [] { return cfg_event_u32(SET, 7); },
         0,
         {"CONFIG: FSync QL option config Set event. New value Unknown QL option"},
         [] { EXPECT_EQ(tessel_cfg_get_fsync_ql_option(), 7); }},
        {"QL option delete is 1",
         tessel_cfg_gl_notify_fsync_ql_option,
         [] { return cfg_event_delete(); },
         0,
         {"CONFIG: FSync QL option config Delete event. New value Opt-1"},
         [] { EXPECT_EQ(tessel_cfg_get_fsync_ql_option(), 1); }},
        {"clock profile first set",
         tessel_cfg_gl_notify_clock_profile,
         [] {
             return clock_profile_event(CREATE, {num(2), num(2)}, {});
         },
         0,
         {"CONFIG: Received clock profile config Create: Not Set -> G.8275.1 (T-TSC)"},
         [] {
             EXPECT_EQ(cfg_fake.clock_profile, (std::vector<std::pair<uint32_t, uint32_t>>{{2, 2}}));
         }},
        {"clock profile delete is (0, 1)",
         tessel_cfg_gl_notify_clock_profile,
         [] {
             return clock_profile_event(DELETE, {}, {num(3), num(0)});
         },
         0,
         {"CONFIG: Received clock profile config Delete: G.8275.2 (T-GM) -> Not Set"},
         [] {
             EXPECT_EQ(cfg_fake.clock_profile, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 1}}));
         }},
        {"clock profile that does not unpack",
         tessel_cfg_gl_notify_clock_profile,
         [] {
             cfg_event_type e = clock_profile_event(SET, {num(1), num(1)}, {});
             e.bytes.resize(e.bytes.size() - 2);
             return e;
         },
         PTP_ZERR_CFG_TUPLE,
         {},
         [] { EXPECT_TRUE(cfg_fake.clock_profile.empty()); }},
    };
    for (const gl_case &c : cases) {
        SCOPED_TRACE(c.name);
        cfg_fake_teardown();
        cfg_fake_reset(ALL_CAPS);
        cfg_event_type e = c.event();
        zerrno result = 0;
        bgen_args_td args = cfg_args_name(nullptr);
        c.handler(cfg_event_info(e), &result, &args);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(cfg_debug_lines(), c.debug);
        c.check();
    }
}

// ---- Packet rates by clock profile ----

TEST_F(CfgGlTest, ClockProfileSetsThePacketRatesInterfacesLeaveOpen)
{
    tessel_ipc_idb_type *plain = cfg_idb("Gi0/0/0/1");
    plain->flags |= TESSEL_IPC_FLAG_ENABLED;
    tessel_ipc_idb_type *own = cfg_idb("Gi0/0/0/2");
    own->if_config.announce_interval = own->applied_config.announce_interval = 2;
    own->if_config_flags |= TESSEL_CFG_MASK_ANNOUNCE_INTERVAL;
    own->applied_config_flags |= TESSEL_CFG_MASK_ANNOUNCE_INTERVAL;
    tessel_ipc_idb_type *with_profile = cfg_idb("Gi0/0/0/3");
    tessel_prf_db_type *prf = nullptr;
    ASSERT_EQ(tessel_cfg_get_prf_db("slow", &prf), 0u);
    prf->prf_config.sync_interval = 3;
    prf->prf_config_flags |= TESSEL_CFG_MASK_SYNC_INTERVAL;
    with_profile->profile_db = prf;
    with_profile->applied_config.sync_interval = 3;
    with_profile->applied_config_flags |= TESSEL_CFG_MASK_SYNC_INTERVAL;

    struct rates {
        int32_t announce, sync, delay_req;
        bool operator==(const rates &) const = default;
    };
    const auto applied = [](const tessel_ipc_idb_type *idb) {
        return rates{idb->applied_config.announce_interval, idb->applied_config.sync_interval,
                     idb->applied_config.delay_req_interval};
    };

    cfg_event_type e = clock_profile_event(SET, {num(2), num(1)}, {});
    zerrno result = 0;
    tessel_cfg_gl_notify_clock_profile(cfg_event_info(e), &result, nullptr);
    EXPECT_EQ(applied(plain), (rates{-3, -4, -4}));
    EXPECT_EQ(applied(own), (rates{2, -4, -4}));
    EXPECT_EQ(applied(with_profile), (rates{-3, 3, -4}));
    EXPECT_EQ(plain->if_config.sync_interval, -4); // the default an item delete restores
    EXPECT_EQ(own->if_config.announce_interval, 2);
    constexpr uint64_t rate_bits = TESSEL_IPC_FLAG_UPDATE_ANNOUNCE_INTERVAL | TESSEL_IPC_FLAG_UPDATE_SYNC_INTERVAL |
                                   TESSEL_IPC_FLAG_UPDATE_DELAY_RESP_MIN_INTERVAL;
    EXPECT_EQ(plain->flags & rate_bits, rate_bits);
    EXPECT_EQ(with_profile->flags & rate_bits,
              TESSEL_IPC_FLAG_UPDATE_ANNOUNCE_INTERVAL | TESSEL_IPC_FLAG_UPDATE_DELAY_RESP_MIN_INTERVAL);
    EXPECT_EQ(with_profile->applied_config_flags & TESSEL_CFG_MASK_SYNC_INTERVAL, TESSEL_CFG_MASK_SYNC_INTERVAL);
    // Only the enabled interface goes to the protocol thread.
    EXPECT_EQ(cfg_fake.if_update_add, std::vector<std::string>{"Gi0/0/0/1"});
    EXPECT_EQ(cfg_fake.clock_profile, (std::vector<std::pair<uint32_t, uint32_t>>{{2, 1}}));

    // Deleting the clock profile brings the default rates back.
    plain->flags &= ~rate_bits;
    cfg_event_type d = clock_profile_event(DELETE, {}, {num(2), num(1)});
    tessel_cfg_gl_notify_clock_profile(cfg_event_info(d), &result, nullptr);
    EXPECT_EQ(applied(plain), (rates{1, 0, 0}));
    EXPECT_EQ(applied(own), (rates{2, 0, 0}));
    EXPECT_EQ(applied(with_profile), (rates{1, 3, 0}));
    EXPECT_EQ(plain->flags & rate_bits, rate_bits);

    // A second identical delete changes nothing and queues nothing.
    cfg_fake.if_update_add.clear();
    plain->flags &= ~rate_bits;
    tessel_cfg_gl_notify_clock_profile(cfg_event_info(d), &result, nullptr);
    EXPECT_EQ(plain->flags & rate_bits, 0u);
    EXPECT_TRUE(cfg_fake.if_update_add.empty());
    EXPECT_EQ(result, 0u);
    with_profile->profile_db = nullptr;
}

// ---- Profile leaves ----

struct prf_case {
    const char *name;
    gl_notify_fn handler;
    uint32_t bg_ident;
    std::function<cfg_event_type()> event;
    uint32_t bit;                                             // the item's configured bit
    std::function<bool(const tessel_if_config_type &)> value; // the stored value is the expected one
};

TEST_F(CfgGlTest, ProfileLeavesStoreTheirValueAndBit)
{
    const prf_case cases[] = {
        {"transport", tessel_cfg_gl_prf_notify_transport, 0, [] { return cfg_event_u32(SET, 3); },
         TESSEL_CFG_MASK_ENCAP, [](auto &c) { return c.encap == 3; }},
        {"clock-operation", tessel_cfg_gl_prf_notify_clock_operation, 0, [] { return cfg_event_u32(SET, 1); },
         TESSEL_CFG_MASK_CLOCK_OPERATION, [](auto &c) { return c.clock_operation == 1; }},
        {"announce-interval 2^3 per second", tessel_cfg_gl_prf_notify_annce_ivl, 0,
         [] {
             return cfg_event_tuple(SET, {num(1), num(3)});
         },
         TESSEL_CFG_MASK_ANNOUNCE_INTERVAL, [](auto &c) { return c.announce_interval == -3; }},
        {"sync-interval 2 s", tessel_cfg_gl_prf_notify_sync_ivl, 0,
         [] {
             return cfg_event_tuple(SET, {num(0), num(1)});
         },
         TESSEL_CFG_MASK_SYNC_INTERVAL, [](auto &c) { return c.sync_interval == 1; }},
        {"announce-timeout", tessel_cfg_gl_prf_notify_annce_tout, 0, [] { return cfg_event_u32(SET, 7); },
         TESSEL_CFG_MASK_ANNOUNCE_TIMEOUT, [](auto &c) { return c.announce_timeout == 7; }},
        {"delay-request-minimum-interval", tessel_cfg_gl_prf_notify_dr_min_ivl, 0,
         [] {
             return cfg_event_tuple(SET, {num(1), num(4)});
         },
         TESSEL_CFG_MASK_DELAY_REQ_INTERVAL, [](auto &c) { return c.delay_req_interval == -4; }},
        {"port-state", tessel_cfg_gl_prf_notify_port_state, 0, [] { return cfg_event_u32(SET, 2); },
         TESSEL_CFG_MASK_PORT_STATE, [](auto &c) { return c.port_state == 2; }},
        {"source-ipv4-address", tessel_cfg_gl_prf_notify_source_ip, 0,
         [] {
             return cfg_event_tuple(SET, {num(1), text("192.0.2.7")});
         },
         TESSEL_CFG_MASK_SOURCE_IP,
         [](auto &c) {
             const uint8_t want[4] = {192, 0, 2, 7};
             return c.source_ip.enable == 1 && std::memcmp(&c.source_ip.address, want, 4) == 0;
         }},
        {"general-cos", tessel_cfg_gl_prf_notify_cos, 1, [] { return cfg_event_u32(SET, 4); },
         TESSEL_CFG_MASK_GENERAL_COS, [](auto &c) { return c.general_cos == 4 && c.cos == 0; }},
        {"event-dscp", tessel_cfg_gl_prf_notify_dscp, 2, [] { return cfg_event_u32(SET, 40); },
         TESSEL_CFG_MASK_EVENT_DSCP, [](auto &c) { return c.event_dscp == 40; }},
        {"ipv6-hop-limit", tessel_cfg_gl_prf_notify_ipv6_hop_limit, 0, [] { return cfg_event_u32(SET, 9); },
         TESSEL_CFG_MASK_IPV6_HOP_LIMIT, [](auto &c) { return c.ipv6_hop_limit == 9; }},
        {"delay-response-grant-duration", tessel_cfg_gl_prf_notify_unicast_grant_duration, 9,
         [] { return cfg_event_u32(SET, 600); }, TESSEL_CFG_MASK_DELAY_RESP_GRANT_DURATION,
         [](auto &c) { return c.delay_resp_grant_duration == 600 && c.announce_grant_duration == 0; }},
        {"sync-timeout", tessel_cfg_gl_prf_notify_message_timeout, 0, [] { return cfg_event_u32(SET, 250); },
         TESSEL_CFG_MASK_SYNC_TIMEOUT, [](auto &c) { return c.sync_timeout == 250; }},
        {"unicast-grant-invalid-request", tessel_cfg_gl_prf_notify_unicast_grant_invalid_request, 0,
         [] { return cfg_event_u32(SET, 1); }, TESSEL_CFG_MASK_DENY_INVALID_GRANTS,
         [](auto &c) { return c.deny_invalid_grants == 1; }},
        {"local-priority", tessel_cfg_gl_prf_notify_local_priority, 0, [] { return cfg_event_u32(SET, 5); },
         TESSEL_CFG_MASK_LOCAL_PRIORITY, [](auto &c) { return c.local_priority == 5; }},
        {"delay-asymmetry 3 us", tessel_cfg_gl_prf_notify_delay_asymmetry, 0,
         [] {
             return cfg_event_tuple(SET, {num(-3), num(1)});
         },
         TESSEL_CFG_MASK_DELAY_ASYMMETRY, [](auto &c) { return c.delay_asymmetry == -3000; }},
    };
    for (const prf_case &c : cases) {
        SCOPED_TRACE(c.name);
        cfg_event_type e = c.event();
        bgen_args_td args = cfg_args_name("p1", c.bg_ident);
        zerrno result = 0;
        c.handler(cfg_event_info(e), &result, &args);
        ASSERT_EQ(result, 0u);
        tessel_prf_db_type *prf = tessel_cfg_prf_db_find("p1");
        ASSERT_NE(prf, nullptr);
        EXPECT_EQ(prf->prf_config_flags, c.bit);
        EXPECT_TRUE(c.value(prf->prf_config));
        EXPECT_EQ(prf->has_config, 1u);

        // Its delete clears the bit; with nothing left and no interface the profile goes.
        cfg_event_type d = cfg_event_delete();
        c.handler(cfg_event_info(d), &result, &args);
        EXPECT_EQ(result, 0u);
        EXPECT_EQ(tessel_cfg_prf_db_find("p1"), nullptr);
    }
}

TEST_F(CfgGlTest, ProfileLeafFailuresChangeNothing)
{
    struct fail_case {
        const char *name;
        gl_notify_fn handler;
        uint16_t caps;
        std::function<cfg_event_type()> event;
        const char *profile;
        zerrno code;
    } const cases[] = {
        {"announce timeout 11", tessel_cfg_gl_prf_notify_annce_tout, ALL_CAPS, [] { return cfg_event_u32(SET, 11); },
         "p1", PTP_ZERR_CFG_ANNCE_TOUT},
        {"local priority 0", tessel_cfg_gl_prf_notify_local_priority, ALL_CAPS, [] { return cfg_event_u32(SET, 0); },
         "p1", PTP_ZERR_CFG_LOCAL_PRIORITY},
        {"no profile name", tessel_cfg_gl_prf_notify_local_priority, ALL_CAPS, [] { return cfg_event_u32(SET, 5); },
         nullptr, PTP_ZERR_CFG_ARGUMENT},
        {"mixed-mode without multicast", tessel_cfg_gl_prf_notify_multicast,
         static_cast<uint16_t>(ALL_CAPS & ~TESSEL_INTF_CAPS_MULTICAST),
         [] {
             return cfg_event_tuple(SET, {num(1), num(0), {}});
         },
         "p1", PTP_ZERR_CARD_NO_MULTICAST},
    };
    for (const fail_case &c : cases) {
        SCOPED_TRACE(c.name);
        cfg_fake_teardown();
        cfg_fake_reset(c.caps);
        cfg_event_type e = c.event();
        bgen_args_td args = cfg_args_name(c.profile);
        zerrno result = 0;
        c.handler(cfg_event_info(e), &result, &args);
        EXPECT_EQ(result, c.code);
        EXPECT_EQ(tessel_cfg_prf_db_count(), 0u);
    }
}

TEST_F(CfgGlTest, ProfileMulticastSetsTransportAndDestination)
{
    cfg_event_type e = cfg_event_tuple(SET, {num(2), num(0), {}});
    bgen_args_td args = cfg_args_name("mc");
    zerrno result = 0;
    tessel_cfg_gl_prf_notify_multicast(cfg_event_info(e), &result, &args);
    ASSERT_EQ(result, 0u);
    tessel_prf_db_type *prf = tessel_cfg_prf_db_find("mc");
    ASSERT_NE(prf, nullptr);
    EXPECT_EQ(prf->prf_config.transport, PTP_TRANSPORT_MULTICAST);
    EXPECT_EQ(prf->prf_config.multicast_address.encap, PTP_ENCAP_ETHERNET);
    EXPECT_EQ(std::memcmp(prf->prf_config.multicast_address.value, PTP_MULTICAST_MAC_DEFAULT, 6), 0);
    EXPECT_EQ(prf->prf_config_flags, TESSEL_CFG_MASK_TRANSPORT | TESSEL_CFG_MASK_MULTICAST_ADDRESS);
}

// ---- The profile and its interfaces ----

class CfgPrfLifeTest : public CfgGlTest {
protected:
    // The interface's own "profile" item.
    void attach(const char *ifname, const char *profile)
    {
        cfg_event_type e = cfg_event_text(CREATE, profile);
        bgen_args_td args = cfg_args_name(ifname);
        uint32_t batch_state = 0;
        ASSERT_EQ(tessel_cfg_if_apply_profile(cfg_event_info(e), &batch_state, &args), 0u);
    }
    void detach(const char *ifname)
    {
        cfg_event_type e = cfg_event_delete();
        bgen_args_td args = cfg_args_name(ifname);
        uint32_t batch_state = 0;
        ASSERT_EQ(tessel_cfg_if_apply_profile(cfg_event_info(e), &batch_state, &args), 0u);
    }
    zerrno notify(gl_notify_fn handler, cfg_event_type e, bgen_args_td args)
    {
        zerrno result = 0;
        handler(cfg_event_info(e), &result, &args);
        return result;
    }
};

TEST_F(CfgPrfLifeTest, ChangesReachEveryInterfaceThatLeavesTheItemOpen)
{
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_local_priority, cfg_event_u32(CREATE, 9), cfg_args_name("p")), 0u);
    attach("Gi0/0/0/1", "p");
    attach("Gi0/0/0/2", "p");
    tessel_ipc_idb_type *a = cfg_idb("Gi0/0/0/1");
    tessel_ipc_idb_type *b = cfg_idb("Gi0/0/0/2");
    EXPECT_EQ(a->applied_config.local_priority, 9u);
    // Gi0/0/0/2 sets its own local priority: the interface's value wins.
    b->if_config.local_priority = 200;
    b->if_config_flags |= TESSEL_CFG_MASK_LOCAL_PRIORITY;
    tessel_cfg_if_merge_config(b, 0);
    EXPECT_EQ(b->applied_config.local_priority, 200u);

    // A profile change reaches the interface that leaves the item open.
    a->flags |= TESSEL_IPC_FLAG_ENABLED;
    b->flags |= TESSEL_IPC_FLAG_ENABLED;
    cfg_fake.if_update_add.clear();
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_local_priority, cfg_event_u32(SET, 10), cfg_args_name("p")), 0u);
    EXPECT_EQ(a->applied_config.local_priority, 10u);
    EXPECT_EQ(b->applied_config.local_priority, 200u);
    EXPECT_EQ(cfg_fake.if_update_add, std::vector<std::string>{"Gi0/0/0/1"});

    // The item deleted on the profile: the default comes back.
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_local_priority, cfg_event_delete(), cfg_args_name("p")), 0u);
    EXPECT_EQ(a->applied_config.local_priority, 128u);
    tessel_prf_db_type *prf = tessel_cfg_prf_db_find("p");
    ASSERT_NE(prf, nullptr); // interfaces still use it
    EXPECT_EQ(prf->has_config, 0u);

    // The profile changes under the interfaces, then they leave it: the profile goes with the
    // last of them, as it holds nothing.
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_annce_tout, cfg_event_u32(SET, 9), cfg_args_name("p")), 0u);
    EXPECT_EQ(a->applied_config.announce_timeout, 9u);
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_annce_tout, cfg_event_delete(), cfg_args_name("p")), 0u);
    EXPECT_EQ(a->applied_config.announce_timeout, 3u);
    detach("Gi0/0/0/1");
    EXPECT_EQ(a->profile_db, nullptr);
    ASSERT_EQ(tessel_cfg_prf_db_find("p"), prf);
    detach("Gi0/0/0/2");
    EXPECT_EQ(tessel_cfg_prf_db_find("p"), nullptr);
}

TEST_F(CfgPrfLifeTest, AProfileHoldingOnlyAnEventCosOutlivesItsInterfaces)
{
    // An event CoS alone keeps the profile holding configuration, so the last interface leaving
    // does not lose it for the next one naming the profile.
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_cos, cfg_event_u32(SET, 3), cfg_args_name("p", 2)), 0u);
    attach("Gi0/0/0/1", "p");
    tessel_ipc_idb_type *a = cfg_idb("Gi0/0/0/1");
    EXPECT_EQ(a->applied_config.event_cos, 3u);
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_ipv4_ttl, cfg_event_u32(SET, 64), cfg_args_name("p")), 0u);
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_ipv4_ttl, cfg_event_delete(), cfg_args_name("p")), 0u);
    tessel_prf_db_type *prf = tessel_cfg_prf_db_find("p");
    ASSERT_NE(prf, nullptr);
    EXPECT_EQ(prf->has_config, 1u);
    detach("Gi0/0/0/1");
    ASSERT_EQ(tessel_cfg_prf_db_find("p"), prf);
    attach("Gi0/0/0/2", "p");
    EXPECT_EQ(cfg_idb("Gi0/0/0/2")->applied_config.event_cos, 3u);
    detach("Gi0/0/0/2");
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_cos, cfg_event_delete(), cfg_args_name("p", 2)), 0u);
    EXPECT_EQ(tessel_cfg_prf_db_find("p"), nullptr);
}

TEST_F(CfgPrfLifeTest, MasterEntryStaysWhileAnyOfItsItemsIsSet)
{
    const bgen_args_td key = cfg_args_addr("p", 2, "10.0.0.1");
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_master_enable, cfg_event_u32(CREATE, 0), key), 0u);
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_master_priority, cfg_event_u32(CREATE, 0), key), 0u);
    tessel_prf_db_type *prf = tessel_cfg_prf_db_find("p");
    ASSERT_NE(prf, nullptr);
    ASSERT_EQ(tessel_master_db_count(&prf->prf_config.master_table), 1u);
    tessel_master_db_type *e = nullptr;
    ptp_address_type a{};
    ASSERT_EQ(ptp_cfg_extract_addr_info(&key, &a), 0u);
    ASSERT_EQ(tessel_master_db_find(&prf->prf_config.master_table, &a, &e), 0u);
    EXPECT_EQ(e->flags, TESSEL_MASTER_DB_ENABLE_SET | TESSEL_MASTER_DB_PRIORITY_SET);
    EXPECT_EQ(e->priority, 0u);

    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_master_enable, cfg_event_delete(), key), 0u);
    ASSERT_EQ(tessel_cfg_prf_db_find("p"), prf);
    ASSERT_EQ(tessel_master_db_find(&prf->prf_config.master_table, &a, &e), 0u);
    EXPECT_EQ(e->flags, TESSEL_MASTER_DB_PRIORITY_SET);

    // Slave entries: a set makes the entry, a delete removes it.
    const bgen_args_td slave_key = cfg_args_addr("p", 3, "2001:db8::5");
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_slave_nonnegotiated, cfg_event_u32(CREATE, 0), slave_key), 0u);
    EXPECT_EQ(tessel_slave_db_count(&prf->prf_config.slave_table), 1u);

    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_master_priority, cfg_event_delete(), key), 0u);
    EXPECT_EQ(tessel_master_db_count(&prf->prf_config.master_table), 0u);
    ASSERT_EQ(tessel_cfg_prf_db_find("p"), prf); // the slave entry holds it
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_slave_nonnegotiated, cfg_event_delete(), slave_key), 0u);
    EXPECT_EQ(tessel_cfg_prf_db_find("p"), nullptr);
}

TEST_F(CfgPrfLifeTest, InteropRecordFollowsItsValues)
{
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_interop_domain, cfg_event_u32(SET, 44), cfg_args_name("p")), 0u);
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_interop_priority, cfg_event_u32(SET, 7), cfg_args_name("p", 7)), 0u);
    tessel_prf_db_type *prf = tessel_cfg_prf_db_find("p");
    ASSERT_NE(prf, nullptr);
    ASSERT_NE(prf->prf_config.interop_cfg, nullptr);
    EXPECT_EQ(prf->prf_config_flags, TESSEL_CFG_MASK_INTEROP);
    EXPECT_EQ(prf->prf_config.interop_cfg->presence, TESSEL_INTEROP_DOMAIN | TESSEL_INTEROP_EGRESS_PRIORITY2);
    EXPECT_EQ(prf->prf_config.interop_cfg->egress.priority2, 7);

    // An interface on the profile gets the profile's record through the merge.
    attach("Gi0/0/0/1", "p");
    tessel_ipc_idb_type *idb = cfg_idb("Gi0/0/0/1");
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_interop_domain, cfg_event_u32(SET, 45), cfg_args_name("p")), 0u);
    ASSERT_NE(idb->applied_config.interop_cfg, nullptr);
    EXPECT_EQ(idb->applied_config.interop_cfg->domain, 45);

    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_interop_domain, cfg_event_delete(), cfg_args_name("p")), 0u);
    ASSERT_NE(prf->prf_config.interop_cfg, nullptr);
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_interop_priority, cfg_event_delete(), cfg_args_name("p", 7)), 0u);
    // The last value gone: the record is freed and bit 27 cleared; the interface loses it too.
    EXPECT_EQ(prf->prf_config.interop_cfg, nullptr);
    EXPECT_EQ(prf->prf_config_flags, 0u);
    EXPECT_EQ(idb->applied_config.interop_cfg, nullptr);
    EXPECT_EQ(prf->has_config, 0u);
    detach("Gi0/0/0/1");
    EXPECT_EQ(tessel_cfg_prf_db_find("p"), nullptr);
}

TEST_F(CfgPrfLifeTest, InteropAllocationFailureIsReported)
{
    tessel_prf_db_type *prf = nullptr;
    ASSERT_EQ(tessel_cfg_get_prf_db("p", &prf), 0u);
    tessel_alloc_test_fail(0, 1);
    EXPECT_EQ(notify(tessel_cfg_gl_prf_notify_interop_oslv, cfg_event_u32(SET, 100), cfg_args_name("p", 3)),
              PTP_ZERR_NOMEM);
    EXPECT_EQ(prf->prf_config.interop_cfg, nullptr);
    EXPECT_EQ(prf->prf_config_flags, 0u);
    bool reported = false;
    for (const qor_captured_msg &m : qor_errmsg_captured()) {
        reported |= m.text.find("Interop config create") != std::string::npos;
    }
    EXPECT_TRUE(reported);
}

} // namespace
