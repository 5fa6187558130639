// What the MIB plug-ins' tests share: a host with a plug-in loaded, on virtual time, over the
// in-process database, with the operational data of a small chassis as fixtures.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bag.h"
#include "evm.h"
#include "ptp_bags.h"
#include "ptp_show_fixture.h"
#include "snmp_host.h"

inline constexpr const char *MIB_V1 = "zelvoPtpmib";
inline constexpr const char *MIB_V2 = "zelvoPtpmibv2";
inline const snmp_oid_arcs MIB_V1_ROOT = {1, 3, 6, 1, 4, 1, 47071, 9, 760};
inline const snmp_oid_arcs MIB_V2_ROOT = {1, 3, 6, 1, 4, 1, 47071, 9, 1052};

const char *mib_path(const char *module);

// The chassis of most tests: node 1a0 (the active local and advertised clock in domain 24, its
// summary and packet counters) and node 2b1 (an inactive local clock, a summary), and four
// interfaces: Gi0/0/0/1 port 1 (SLAVE, IPv4, a current peer, a foreign master and a unicast peer
// with counters), Gi0/0/0/2 port 2 (MASTER, IPv6, a unicast peer without counters),
// Gi0/0/0/3 port 5 (Ethernet, a foreign master of Ethernet) and Gi0/0/0/9 port 0 (no rows); the
// per-interface items are served by two agents, the first two interfaces by one, the others by
// the other, so that every listing is the union of both.
struct MibTest;
void mib_store_chassis(MibTest *test);
// The chassis' local clock record (active, domain 24), for tests that change it.
ptp_local_clock_info mib_local_clock(uint8_t domain, bool active);
// An address of the bags.
ptp_bag_address mib_ipv4(uint8_t last);
ptp_bag_address mib_ipv6(uint8_t last);
ptp_bag_address mib_mac(uint8_t last);

// One answer as the tests print it: "<oid> = <type>: <value>".
std::string mib_binding_text(const snmp_host_binding &b);
// Every instance from below `from` to the end of `within`, one line each.
std::string mib_walk(const snmp_oid_arcs &within);

struct MibTest : ::testing::Test {
    void SetUp() override;
    void TearDown() override;
    // Runs the host's event manager (database notifications, cache timers).
    void settle();
    void load(const char *module);
    void unload(const char *module);
    // Commits (or deletes, with a null value) a trap-enable item "ptp/<item>".
    void trap_enable(const char *item, const uint32_t *value);
    void trap_enable_packed(const char *item, uint32_t mask, int32_t warning, int32_t critical);
    // The agent of a node serving per-interface items below bind (created on first use).
    ptp_show_provider &agent(int node, const char *bind);
    event_mgr_type *evm = nullptr;
    std::vector<std::string> loaded;
    std::vector<std::pair<std::string, std::unique_ptr<ptp_show_provider>>> agents;
};
