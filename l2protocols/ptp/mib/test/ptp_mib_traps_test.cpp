// The notifications: each raised once per change by its latch, with its variable bindings, from
// the controller's and the agents' notification items and the trap-enable items of the
// configuration.
#include <gtest/gtest.h>

#include <cstring>

#include "nodra_test.h"
#include "plat_clock_test.h"
#include "zelvoPtpmib_fixture.h"

namespace {

struct TrapTest : MibTest {
    void SetUp() override
    {
        MibTest::SetUp();
        ASSERT_EQ(_nodra_bind(&controller, "/oper/ptp/gl/", 0), 0u);
        ASSERT_EQ(_nodra_bind(&line_card, "/oper/ptp/node/1a0/", 0), 0u);
    }
    void TearDown() override
    {
        _nodra_unbind(controller);
        _nodra_unbind(line_card);
        MibTest::TearDown();
    }
    // Publishes a record as its process does.
    void publish(nodra_conn_td *conn, const char *item, const void *record, const bag_descriptor_type *bag)
    {
        uint8_t *data = nullptr;
        uint32_t length = 0;
        ASSERT_EQ(bag_encode(record, bag, &data, &length), 0u);
        const nodra_edm_notification_td n{item, 3, NODRA_ITEM_DATATYPE_BAG, data, length};
        ASSERT_EQ(nodra_edm_generate_notifications(conn, &n, 1), 0u);
        free(data);
        settle();
    }
    void clock_class(uint8_t c)
    {
        ptp_bag_address addr = mib_ipv4(1);
        ptp_trap_clock_class r{&addr, 0xaabbccfffe000001ull, c};
        publish(controller, "snmp-traps/clock-class", &r, ptp_trap_clock_class_bag_getfn());
    }
    void clock_state(uint32_t s)
    {
        ptp_bag_address addr = mib_ipv4(1);
        ptp_trap_clock_state r{&addr, s};
        publish(controller, "snmp-traps/clock-state", &r, ptp_trap_clock_state_bag_getfn());
    }
    void offset(int64_t ns, uint16_t sub_ns = 0)
    {
        ptp_trap_offset_threshold_breach r{nullptr, ns, sub_ns};
        publish(controller, "snmp-traps/offset-threshold-breach", &r, ptp_trap_offset_threshold_breach_bag_getfn());
    }
    void master(bool present)
    {
        ptp_bag_address addr = mib_ipv4(1);
        ptp_bag_address peer = mib_mac(7);
        ptp_trap_master_lost r{&addr, &peer, present ? 1u : 0u};
        publish(controller, "snmp-traps/master-lost", &r, ptp_trap_master_lost_bag_getfn());
    }
    void slave(bool present)
    {
        ptp_bag_address addr = mib_ipv4(1);
        ptp_bag_address peer = mib_ipv4(10);
        ptp_trap_slave_lost r{&addr, &peer, present ? 1u : 0u};
        publish(line_card, "snmp-traps/slave-lost", &r, ptp_trap_slave_lost_bag_getfn());
    }
    // The notifications raised since the last call, one line each: the notification's number, then
    // each binding below the module root.
    std::string raised(const snmp_oid_arcs &root = MIB_V1_ROOT)
    {
        std::string out;
        const std::string prefix = snmp_oid_text(root) + ".";
        for (const snmp_host_trap &t : snmp_host_traps()) {
            EXPECT_EQ(t.generic, SNMP_ENTERPRISE_TRAP);
            EXPECT_EQ(t.enterprise, root);
            EXPECT_EQ(t.trap_oid, prefix + "0." + std::to_string(t.specific));
            out += "N" + std::to_string(t.specific);
            for (const snmp_host_binding &b : t.bindings) {
                std::string text = mib_binding_text(b);
                if (text.compare(0, prefix.size(), prefix) == 0) {
                    text = text.substr(prefix.size());
                }
                out += " | " + text;
            }
            out += "\n";
        }
        snmp_host_traps_clear();
        return out;
    }
    nodra_conn_td *controller = nullptr;
    nodra_conn_td *line_card = nullptr;
};

const uint32_t ON = 1;

TEST_F(TrapTest, ClockClassIsRaisedAtTheFirstDifferenceAndClearedWhenItIsBack)
{
    load(MIB_V1);
    const uint32_t six = 6;
    trap_enable("clock-class", &six);
    for (uint8_t c : {6, 7, 7, 6}) {
        clock_class(c);
    }
    const std::string bindings = " | 1.2.11.1.6 = INTEGER: 1 | 1.2.11.1.7 = Hex-STRING: 0A 00 00 01"
                                 " | 1.2.2.1.8 = STRING: \"0xaa:bb:cc:ff:fe:0:0:1\"";
    EXPECT_EQ(raised(), "N1" + bindings + " | 1.2.2.1.11 = INTEGER: 7\nN2" + bindings + " | 1.2.2.1.11 = INTEGER: 6\n");
    // Disabled, nothing; enabled again without a latch, the condition is raised again.
    trap_enable("clock-class", nullptr);
    clock_class(7);
    EXPECT_EQ(raised(), "");
    trap_enable("clock-class", &six);
    clock_class(7);
    EXPECT_EQ(raised(), "N1" + bindings + " | 1.2.2.1.11 = INTEGER: 7\n");
}

TEST_F(TrapTest, ClockStateCarriesThePreviousStateEvenFromRecordsWhileDisabled)
{
    load(MIB_V1);
    const uint32_t phase_aligned = 4;
    trap_enable("clock-state", &phase_aligned);
    clock_state(3);
    clock_state(4);
    const std::string head =
        " | 1.2.7.1.3 = INTEGER: 0 | 1.2.11.1.6 = INTEGER: 1 | 1.2.11.1.7 = Hex-STRING: 0A 00 00 01";
    EXPECT_EQ(raised(), "N12" + head + " | 1.2.4.1.8 = INTEGER: 4\nN13" + head +
                            " | 1.2.4.1.7 = INTEGER: 4 | 1.2.4.1.8 = INTEGER: 5\n");
}

TEST_F(TrapTest, OffsetThresholdsRaiseAndClearWarningAndCriticalInOrder)
{
    load(MIB_V1);
    trap_enable_packed("offset-threshold-breach", 3, 100, 1000);
    const std::string head = " | 1.2.7.1.3 = INTEGER: 0 | 1.2.1.1.5 = STRING: ";
    offset(50);
    EXPECT_EQ(raised(), "");
    offset(2000);
    EXPECT_EQ(raised(), "N14" + head + "\"131072000\" | 1.2.1.1.7 = INTEGER: 1\nN15" + head +
                            "\"131072000\" | 1.2.1.1.7 = INTEGER: 2\n");
    offset(500);
    EXPECT_EQ(raised(), "N17" + head + "\"32768000\" | 1.2.1.1.7 = INTEGER: 1\n");
    offset(50);
    EXPECT_EQ(raised(), "N16" + head + "\"3276800\"\n");
    // The scaled text: below zero, with the sub-nanoseconds, at the 32-bit limits past 2^48 ns,
    // and exact between 2^47 and 2^48 ns, where a shift in 64 bits would overflow.
    struct scaled_case {
        int64_t ns;
        uint16_t sub_ns;
        const char *text;
    };
    const scaled_case cases[] = {
        {-150, 0, "-9830400"},
        {-150, 1, "-9830399"},
        {(int64_t{1} << 48) + 1, 0, "2147483647"},
        {-(int64_t{1} << 48) - 1, 0, "-2147483648"},
        {(int64_t{1} << 47) + 5, 0, "9223372036855103488"},
        {int64_t{1} << 48, 0xffff, "18446744073709617151"},
    };
    for (const scaled_case &c : cases) {
        offset(c.ns, c.sub_ns);
        const std::string out = raised();
        EXPECT_NE(out.find(std::string("1.2.1.1.5 = STRING: \"") + c.text + "\""), std::string::npos) << c.ns << out;
        offset(0);
        (void)raised();
    }
    // Deleting the item clears both thresholds and latches: nothing more is raised.
    offset(2000);
    (void)raised();
    trap_enable("offset-threshold-breach", nullptr);
    offset(5000);
    offset(0);
    EXPECT_EQ(raised(), "");
}

TEST_F(TrapTest, MasterLostIsRaisedOnceAndClearedWhenTheMasterIsBack)
{
    load(MIB_V1);
    trap_enable("master-lost", &ON);
    master(true); // present without a latch: nothing
    master(false);
    master(false);
    master(true);
    // The peer's Ethernet address has no binding in the first module.
    const std::string bindings =
        " | 1.2.7.1.3 = INTEGER: 0 | 1.2.11.1.6 = INTEGER: 1 | 1.2.11.1.7 = Hex-STRING: 0A 00 00 01";
    EXPECT_EQ(raised(), "N3" + bindings + "\nN4" + bindings + "\n");
}

TEST_F(TrapTest, UtcOffsetTimeSourceAndTheirClears)
{
    load(MIB_V1);
    const uint32_t thirty_seven = 37;
    trap_enable("utc-offset-change", &thirty_seven);
    const uint32_t oscillator = 160;
    trap_enable("time-source", &oscillator);
    ptp_bag_address addr = mib_ipv4(1);
    int32_t offset = 36;
    ptp_trap_utc_offset utc{&addr, &offset};
    publish(controller, "snmp-traps/utc-offset-change", &utc, ptp_trap_utc_offset_bag_getfn());
    utc.utc_offset = nullptr; // absent: cleared with offset 0
    publish(controller, "snmp-traps/utc-offset-change", &utc, ptp_trap_utc_offset_bag_getfn());
    for (uint8_t source : {112, 160}) {
        ptp_trap_time_source ts{source};
        publish(controller, "snmp-traps/time-source", &ts, ptp_trap_time_source_bag_getfn());
    }
    const std::string head =
        " | 1.2.7.1.3 = INTEGER: 0 | 1.2.11.1.6 = INTEGER: 1 | 1.2.11.1.7 = Hex-STRING: 0A 00 00 01";
    EXPECT_EQ(raised(), "N8" + head + " | 1.2.2.1.6 = INTEGER: 36\nN9" + head + " | 1.2.2.1.6 = INTEGER: 0\n" +
                            "N10 | 1.2.5.1.11 = INTEGER: 144\nN11 | 1.2.5.1.11 = INTEGER: 160\n");
}

TEST_F(TrapTest, SlaveLostEveryTimeAndAllSlavesLostOnceTheLastUnicastPeerIsGone)
{
    mib_store_chassis(this);
    load(MIB_V1);
    trap_enable("slave-lost", &ON);
    trap_enable("all-slaves-lost", &ON);
    const std::string n5 =
        "N5 | 1.2.7.1.3 = INTEGER: 0 | 1.2.11.1.6 = INTEGER: 1 | 1.2.11.1.7 = Hex-STRING: 0A 00 00 01"
        " | 1.2.7.1.8 = INTEGER: 1 | 1.2.7.1.9 = Hex-STRING: 0A 00 00 0A\n";
    slave(false);
    EXPECT_EQ(raised(), n5); // three unicast peers remain
    agent(1, "/oper/ptp/unicast-peers/if/").items.clear();
    slave(false);
    slave(false);
    const std::string n6 = "N6" + n5.substr(2);
    EXPECT_EQ(raised(), n5 + n6 + n5);
    ptp_bag_unicast_peer peer{};
    peer.PeerIndex = 2;
    peer.Address = mib_ipv4(10);
    ptp_if_unicast_peer_info ups{};
    ups.Name = "GigabitEthernet0/0/0/1";
    ups.internal_port_number = 1;
    ups.Peers = {1, &peer};
    agent(1, "/oper/ptp/unicast-peers/if/").add("GigabitEthernet0/0/0/1", &ups, ptp_if_unicast_peer_info_bag_getfn());
    slave(true);
    EXPECT_EQ(raised(), "N7" + n5.substr(2));
}

TEST_F(TrapTest, TheSecondModuleNamesItsOwnNotificationsAndAddresses)
{
    load(MIB_V2);
    trap_enable("master-lost", &ON);
    master(false);
    EXPECT_EQ(raised(MIB_V2_ROOT),
              "N3 | 1.2.7.1.3 = INTEGER: 0 | 1.2.11.1.6 = INTEGER: 0 | 1.2.11.1.7 = Hex-STRING: 0A "
              "00 00 01 | 1.2.7.1.8 = INTEGER: 2 | 1.2.7.1.9 = Hex-STRING: 00 11 22 33 44 07\n");
}

TEST_F(TrapTest, RecordsAndItemsOfAnotherKindChangeNothing)
{
    load(MIB_V1);
    const uint8_t junk[] = {1, 2, 3};
    const nodra_edm_notification_td n{"snmp-traps/master-lost", 3, NODRA_ITEM_DATATYPE_BAG, junk, sizeof junk};
    trap_enable("master-lost", &ON);
    ASSERT_EQ(nodra_edm_generate_notifications(controller, &n, 1), 0u);
    settle();
    // A trap-enable item of the wrong type leaves the kind as it was.
    nodra_commit_td *commit = nullptr;
    ASSERT_EQ(nodra_commit_create(&commit), 0u);
    ASSERT_EQ(nodra_commit_set(commit, "/cfg/gl/snmp/enable/traps/ptp/master-lost", NODRA_ITEM_DATATYPE_STRING, "x", 1),
              0u);
    nodra_commit_result_td result;
    ASSERT_EQ(nodra_commit_apply(commit, &result), 0u);
    nodra_commit_free(commit);
    settle();
    master(false);
    EXPECT_EQ(raised().substr(0, 3), "N3 ");
}

} // namespace
