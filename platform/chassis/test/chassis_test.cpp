#include "chassis.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct desc_deleter {
    void operator()(chassis_desc_type *d) const { chassis_free(d); }
};
using desc_ptr = std::unique_ptr<chassis_desc_type, desc_deleter>;

desc_ptr load(const std::string &text, std::string *error, zerrno *rc = nullptr)
{
    chassis_desc_type *d = nullptr;
    const zerrno r = chassis_load_text(text, "c.toml", &d, error);
    if (rc != nullptr)
        *rc = r;
    return desc_ptr(d);
}

const char *const two_nodes = R"(
[[node]]
name = "0/RP0/CPU0"
id = 0x100
role = "rp"
kvolm = true

[[node]]
name = "0/1/CPU0"
id = 0x10
role = "lc"

[[node.interface]]
name = "Gi0/1/0/0"
handle = 0x01000100
ipv4 = ["10.0.0.1", "10.0.1.1"]
mac = "02:00:00:00:00:01"
)";

TEST(ChassisTest, SampleDescribesOneRouteProcessorAndTwoLineCards)
{
    chassis_desc_type *raw = nullptr;
    std::string error;
    ASSERT_EQ(chassis_load(chassis_sample_path(), &raw, &error), 0u) << error;
    desc_ptr d(raw);
    ASSERT_EQ(d->nodes.size(), 3u);
    EXPECT_TRUE(d->nodes[0].is_rp);
    EXPECT_TRUE(d->nodes[0].kvolm);
    EXPECT_FALSE(d->nodes[1].is_rp);
    EXPECT_FALSE(d->nodes[2].is_rp);

    const chassis_intf_type *a = chassis_find_intf(chassis_find_node(d.get(), 0x010), "Gi0/1/0/0");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->carrier, chassis_carrier_type::LINK);
    EXPECT_EQ(a->link_node, "0/2/CPU0");
    EXPECT_EQ(a->handle, 0x01000100u);
    ASSERT_EQ(a->ipv4.size(), 1u);
    EXPECT_EQ(a->ipv4[0], (std::array<uint8_t, 4>{10, 1, 2, 1}));
    EXPECT_EQ(chassis_find_node(d.get(), 0x020)->caps.flags, 0x01bd);
    EXPECT_EQ(d->processes.size(), 3u);
    EXPECT_FALSE(d->processes[1].on_lc);
    EXPECT_TRUE(d->processes[0].restart_on_config); // the agent
    EXPECT_FALSE(d->processes[1].restart_on_config);
}

TEST(ChassisTest, ReadsInterfaceDetails)
{
    std::string error;
    desc_ptr d = load(two_nodes, &error);
    ASSERT_NE(d, nullptr) << error;
    const chassis_intf_type *i = chassis_find_intf(chassis_find_node_by_name(d.get(), "0/1/CPU0"), "Gi0/1/0/0");
    ASSERT_NE(i, nullptr);
    EXPECT_EQ(i->line_state, CHASSIS_LINE_UP);
    EXPECT_TRUE(i->has_mac);
    EXPECT_EQ(i->mac[5], 1);
    EXPECT_EQ(i->ipv4.size(), 2u);
    EXPECT_EQ(i->carrier, chassis_carrier_type::NONE);
}

// Each bad description gives one line naming the line and the key; nothing is returned.
TEST(ChassisTest, EveryErrorNamesItsLineAndKey)
{
    struct bad_case {
        const char *text;
        const char *error;
    };
    const bad_case cases[] = {
        {"[[node]]\nname = \"a\"\nid = 1\nrole = \"xp\"\n", "c.toml:4: node[0].role: \"xp\" is not rp or lc"},
        {"[[node]]\nname = \"a\"\nrole = \"rp\"\n", "c.toml:1: node[0].id: missing"},
        {"[[node]]\nname = \"a\"\nid = -1\nrole = \"rp\"\n", "c.toml:3: node[0].id: out of range (0 to 4294967295)"},
        {"[[node]]\nname = \"a\"\nid = 1\nrole = \"rp\"\ncolour = 1\n", "c.toml:5: node[0].colour: unknown key"},
        {"[[node]]\nname = \"a\"\nid = 1\nrole = \"lc\"\n[[node.interface]]\nname = \"x\"\nhandle = 5\nmac = "
         "\"02:00:00:00:00\"\n",
         "c.toml:8: node[0].interface[0].mac: \"02:00:00:00:00\" is not a MAC address"},
        {"[[node]]\nname = \"a\"\nid = 1\nrole = \"lc\"\n[[node.interface]]\nname = \"x\"\nhandle = 5\nipv4 = "
         "[\"10.0.0.300\"]\n",
         "c.toml:8: node[0].interface[0].ipv4: \"10.0.0.300\" is not an IPv4 address"},
        {"[[node]]\nname = \"a\"\nid = 1\nrole = \"lc\"\n[[node.interface]]\nname = \"x\"\nhandle = 5\nlink = "
         "\"b:y\"\n",
         "c.toml:5: node[0].interface[0].link: no node \"b\""},
        {"[[node]]\nname = \"a\"\nid = 1\nrole = \"lc\"\n[[node]]\nname = \"b\"\nid = 1\nrole = \"lc\"\n",
         "c.toml:5: node[1].id: node id used twice"},
        {"[[node]]\nname = \"a\"\nid = 1\nrole = \"lc\"\nkvolm = true\n",
         "c.toml:1: node[0].kvolm: only a route processor can hold it"},
        {"[[node]]\nname = \"a\"\nid = 1\nrole = \"lc\"\n[[node.interface]]\nname = \"x\"\nhandle = 5\n"
         "[[node.interface]]\nname = \"x\"\nhandle = 6\n",
         "c.toml:8: node[0].interface[1].name: \"x\" is described twice on this node"},
        {"[[node]]\nname = \"a\"\nid = 1\nrole = \"lc\"\n[[process]]\nname = \"p\"\n",
         "c.toml:5: process[0].program: missing"},
        {"", "c.toml:1: node: at least one [[node]] is needed"},
    };
    for (const bad_case &c : cases) {
        std::string error;
        zerrno rc = 0;
        desc_ptr d = load(c.text, &error, &rc);
        EXPECT_EQ(d, nullptr) << c.text;
        EXPECT_EQ(rc, CHASSIS_ERR_CONTENT) << c.text;
        EXPECT_EQ(error, c.error);
    }
}

// The PTP clock of a node: described values, defaults for the rest, and what is refused.
TEST(ChassisTest, ReadsANodesPtpClock)
{
    const std::string node = "[[node]]\nname = \"a\"\nid = 1\nrole = \"rp\"\n[node.clock]\n";
    std::string error;
    desc_ptr d = load(node + "flags = 0x1003\nholdover_min = 10\nholdover_max = 10\ntimescale = \"ptp\"\n"
                             "primary_ref_type = 3\ntime_traceable = true\nutc_offset = -2\nql_option = 3\n"
                             "ql_value = 61\n",
                      &error);
    ASSERT_NE(d, nullptr) << error;
    const chassis_clock_type &c = d->nodes[0].clock;
    EXPECT_EQ(c.flags, 0x1003);
    EXPECT_EQ(c.api_version, 2u);
    EXPECT_EQ(c.holdover_min, 10u);
    EXPECT_EQ(c.timescale, 0);
    EXPECT_EQ(c.time_source, 0xA0);
    EXPECT_EQ(c.primary_ref_type, 3u);
    EXPECT_FALSE(c.frequency_traceable);
    EXPECT_TRUE(c.time_traceable);
    EXPECT_TRUE(c.has_utc_offset);
    EXPECT_EQ(c.utc_offset, -2);
    EXPECT_TRUE(c.has_ql);
    EXPECT_EQ(c.ql_value, 61);

    d = load("[[node]]\nname = \"a\"\nid = 1\nrole = \"rp\"\n", &error);
    ASSERT_NE(d, nullptr) << error;
    EXPECT_EQ(d->nodes[0].clock.flags, 0x037b);
    EXPECT_FALSE(d->nodes[0].clock.has_utc_offset);
    EXPECT_FALSE(d->nodes[0].clock.has_ql);

    const std::pair<const char *, const char *> bad[] = {
        {"flags = 0x2000\n", "c.toml:6: node[0].clock.flags: out of range (0 to 8191)"},
        {"holdover_min = 9\nholdover_max = 8\n", "c.toml:6: node[0].clock.holdover_min: above holdover_max"},
        {"timescale = \"tai\"\n", "c.toml:6: node[0].clock.timescale: \"tai\" is not ptp or arb"},
        {"primary_ref_type = 5\n", "c.toml:6: node[0].clock.primary_ref_type: out of range (0 to 4)"},
        {"utc_offset = 40000\n", "c.toml:6: node[0].clock.utc_offset: out of range (-32768 to 32767)"},
        {"ql_value = 20\n", "c.toml:5: node[0].clock.ql_option: missing"},
        {"ql_option = 0\nql_value = 20\n", "c.toml:6: node[0].clock.ql_option: out of range (1 to 3)"},
        {"sync_state = 0\n", "c.toml:6: node[0].clock.sync_state: unknown key"},
    };
    for (const auto &[text, expected] : bad) {
        EXPECT_EQ(load(node + text, &error), nullptr) << text;
        EXPECT_EQ(error, expected);
    }
}

TEST(ChassisTest, LinksMustBeMutual)
{
    const std::string text = std::string(two_nodes) + R"(link = "0/RP0/CPU0:Mg0"
[[node.interface]]
name = "Gi0/1/0/1"
handle = 0x01000101
)";
    // The RP has no such interface.
    std::string error;
    EXPECT_EQ(load(text, &error), nullptr);
    EXPECT_EQ(error, "c.toml:13: node[1].interface[0].link: no interface \"Mg0\" on 0/RP0/CPU0");
}

TEST(ChassisTest, SyntaxErrorsAndMissingFilesAreReportedNotThrown)
{
    std::string error;
    zerrno rc = 0;
    EXPECT_EQ(load("[[node]]\nname = \"a\nid = 1\n", &error, &rc), nullptr);
    EXPECT_EQ(rc, CHASSIS_ERR_SYNTAX);
    EXPECT_EQ(error.rfind("c.toml:2: (syntax): ", 0), 0u) << error;

    chassis_desc_type *d = nullptr;
    EXPECT_EQ(chassis_load("/nonexistent/chassis.toml", &d, &error), CHASSIS_ERR_FILE);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(error, "/nonexistent/chassis.toml:0: (file): cannot be read");
}

} // namespace
