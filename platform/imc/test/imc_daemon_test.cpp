// The interface manager served by the platform daemon: this test process is a process of the
// sample chassis' node 0/1/CPU0 (its environment names the node), binding and registering as
// the agent does, while an operator client changes interfaces and drops connections.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "chassis.h"
#include "daemon_test_child.h"
#include "evm_test.h"
#include "imc.h"
#include "imc_host.h"
#include "ptp_platform_intf_capability.h"
#include "sockmsg.h"
#include "sysmgr.h"

namespace {

constexpr uint32_t LC1 = 0x010, LC2 = 0x020;
constexpr uint32_t GI0 = 0x01000100; // Gi0/1/0/0
constexpr uint32_t GI2 = 0x02000100; // Gi0/2/0/0, another node's

uint32_t be32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

std::string hex(uint32_t v)
{
    char b[16];
    snprintf(b, sizeof b, "0x%x", v);
    return b;
}

// Each notification as a line: "replay-done", or per entry "HANDLE/PROTOCOL state=S ip=A,B" or
// "... ether=MAC".
std::string entry_text(const uint8_t *p)
{
    std::string out = hex(be32(p + 4)) + "/" + std::to_string(p[12] << 8 | p[13]);
    const uint16_t attrs = static_cast<uint16_t>(p[14] << 8 | p[15]);
    const uint8_t *a = p + 16;
    for (uint16_t k = 0; k < attrs; ++k) {
        const uint16_t id = static_cast<uint16_t>(a[0] << 8 | a[1]);
        const uint16_t len = static_cast<uint16_t>(a[2] << 8 | a[3]);
        const uint8_t *v = a + 4;
        if (id == IMC_ATTR_LINE_STATE) {
            out += " state=" + std::to_string(be32(v));
        } else if (id == IMC_ATTR_ETHER) {
            char mac[20];
            snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", v[0], v[1], v[2], v[3], v[4], v[5]);
            out += std::string(" ether=") + mac;
        } else if (id == IMC_ATTR_IP) {
            iparm_al_c_list_type *list = nullptr;
            out += " ip=";
            if (iparm_al_c_tlv2addr(v, len, &list) == 0) {
                for (uint16_t i = 0; i < list->count; ++i)
                    out += (i ? "," : "") + std::to_string(list->addrs[i].addr[0]) + "." +
                           std::to_string(list->addrs[i].addr[1]) + "." + std::to_string(list->addrs[i].addr[2]) + "." +
                           std::to_string(list->addrs[i].addr[3]);
                iparm_al_c_free(list);
            }
        }
        a += 4 + len;
    }
    return out;
}

// An interface-manager client shaped as the agent's: a connection whose open binds, and which on
// coming up registers for the notifications and for the attributes of one interface.
struct agent_type {
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    event_conn_type *conn = nullptr;
    imc_ctx_type *ctx = nullptr;
    imc_reg_type *reg = nullptr;
    std::vector<std::string> events; // "up", "closed", "bind failed"
    std::vector<std::string> notices;

    static int on_open(event_conn_type *, void *context)
    {
        auto *a = static_cast<agent_type *>(context);
        const imc_bind_params_type params{9, 0};
        int32_t id = -1;
        if (imc_control_server_bind(&params, 1, &a->ctx) != 0 || imc_conn_ctx_to_connid(a->ctx, &id) != 0) {
            a->events.push_back("bind failed");
            return -1;
        }
        return id;
    }
    static void on_notify(const imc_notify_type *n, void *context)
    {
        auto *a = static_cast<agent_type *>(context);
        if (n->kind == IMC_NOTIFY_REPLAY_DONE)
            a->notices.push_back("replay-done");
        const uint8_t *p = n->entries;
        for (uint32_t i = 0; i < n->count; ++i, p += be32(p))
            a->notices.push_back(entry_text(p));
    }
    static int on_event(event_conn_type *, uint32_t event, void *context)
    {
        auto *a = static_cast<agent_type *>(context);
        if (event != EVENT_CONN_UP) {
            a->events.push_back("closed");
            imc_control_server_unbind(a->ctx);
            a->ctx = nullptr;
            return 0;
        }
        a->events.push_back("up");
        char names[1][IMC_NAME_SIZE] = {"Gi0/1/0/0"};
        uint32_t handle = 0;
        if (imc_interface_find(a->ctx, names, 1, &handle, nullptr) != 0 ||
            imc_register_callback(a->evm, IMC_NOTIFY_CLASS_BULK, on_notify, a, &a->reg) != 0)
            return 0;
        static const uint16_t eth[2] = {IMC_ATTR_LINE_STATE, IMC_ATTR_ETHER};
        static const uint16_t ip[2] = {IMC_ATTR_LINE_STATE, IMC_ATTR_IP};
        imc_attr_reg_type e[2] = {};
        e[0].ifhandle = e[1].ifhandle = handle;
        e[0].all_nodes = e[1].all_nodes = 0xFF;
        e[0].protocol[1] = 0xFFFF;
        e[1].protocol[0] = 12;
        e[1].protocol[1] = IMC_PROTO_IPV4;
        e[0].attr_count = e[1].attr_count = 2;
        e[0].attrs = eth;
        e[1].attrs = ip;
        imc_attr_register(a->reg, IMC_ATTR_OP_REGISTER_BASECAPS, &e[0], 1, nullptr);
        imc_attr_register(a->reg, IMC_ATTR_OP_REGISTER, &e[1], 1, nullptr);
        return 0;
    }

    agent_type()
    {
        event_conn_create(evm, on_open, 14, this, &conn);
        event_conn_notify(conn, 0x7000, on_event, this);
        event_conn_open(conn);
    }
    ~agent_type()
    {
        event_conn_destroy(conn);
        if (ctx != nullptr)
            imc_control_server_unbind(ctx);
        event_manager_destroy(evm);
    }
    // The notices from index `from` on, once `count` of them are there.
    std::vector<std::string> wait_notices(size_t from, size_t count)
    {
        if (!run_until(evm, [&] { return notices.size() >= from + count; }))
            return {"timed out with " + std::to_string(notices.size())};
        return std::vector<std::string>(notices.begin() + static_cast<long>(from), notices.end());
    }
};

const std::vector<std::string> REPLAY = {
    "replay-done", "0x1000100/65535 state=3 ether=02:00:5e:10:01:00", "replay-done", "0x1000100/26 state=3 ip=10.1.2.1",
    "replay-done",
};

class ImcDaemonTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char tmpl[] = "/tmp/imc_daemon_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        socket = dir + "/run/platform.sock";
        chassis = dir + "/chassis.toml";
        // The sample chassis without its processes: this test is the node's process.
        std::ofstream out(chassis);
        copy_chassis_without_programs(chassis_sample_path(), out);
        out.close();
        setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1);
        setenv("PTP_CHASSIS", chassis.c_str(), 1);
        setenv("PTP_NODE", "0/1/CPU0", 1);
        start_daemon();
    }
    static void TearDownTestSuite()
    {
        stop(daemon);
        std::filesystem::remove_all(dir);
    }
    static void start_daemon()
    {
        daemon = spawn({PLATFORMD_PATH, "--socket", socket}, {});
        ASSERT_TRUE(wait_for_daemon(socket)) << "the daemon did not come up";
    }
    void SetUp() override
    {
        ASSERT_EQ(sockmsg_client_connect(socket.c_str(), nullptr, nullptr, nullptr, nullptr, &op), 0u);
    }
    void TearDown() override { sockmsg_client_close(op); }
    // One request of the operator's: its status, and the reply in *reply.
    uint32_t call(uint16_t type, const std::vector<uint8_t> &req, std::vector<uint8_t> *reply = nullptr)
    {
        uint32_t status = 0;
        const zerrno rc = sockmsg_client_call(op, IMC_SERVICE_ID, type, req.data(), static_cast<uint32_t>(req.size()),
                                              &status, reply);
        return rc != 0 ? rc : status;
    }
    static std::vector<uint8_t> words(std::initializer_list<uint32_t> list)
    {
        std::vector<uint8_t> b;
        for (uint32_t v : list)
            for (int s = 24; s >= 0; s -= 8)
                b.push_back(static_cast<uint8_t>(v >> s));
        return b;
    }
    static std::string dir, socket, chassis;
    static child_type daemon;
    sockmsg_client_type *op = nullptr;
};
std::string ImcDaemonTest::dir, ImcDaemonTest::socket, ImcDaemonTest::chassis;
child_type ImcDaemonTest::daemon;

TEST_F(ImcDaemonTest, AProcessIsNotifiedOfItsInterfacesAndSeesTheConnectionDropAndComeBack)
{
    agent_type agent;
    EXPECT_EQ(agent.wait_notices(0, 5), REPLAY);
    EXPECT_EQ(agent.events, std::vector<std::string>{"up"});
    char name[16];
    uint32_t type = 0;
    ASSERT_EQ(imc_s_interface_name(agent.ctx, GI0, name, sizeof name), 0u);
    EXPECT_STREQ(name, "Gi0/1/0/0");
    ASSERT_EQ(imc_s_interface_get_type(agent.ctx, GI0, &type), 0u);
    EXPECT_EQ(type, 15u);
    uint32_t h = 0;
    EXPECT_EQ(imc_s_interface_find(agent.ctx, "Gi0/2/0/0", &h), IMC_ERR_NO_INTERFACE); // another node's

    // The operator changes the line state and addresses; another node's change is not seen.
    EXPECT_EQ(call(IMC_WIRE_SET_STATE, words({LC2, GI2, 2})), 0u);
    EXPECT_EQ(call(IMC_WIRE_SET_STATE, words({LC1, GI0, 2})), 0u);
    std::vector<uint8_t> addrs = words({LC1, GI0});
    addrs.insert(addrs.end(), {4, 0, 0, 2, 10, 9, 9, 9, 10, 9, 9, 10});
    EXPECT_EQ(call(IMC_WIRE_SET_ADDRS, addrs), 0u);
    EXPECT_EQ(agent.wait_notices(5, 3), (std::vector<std::string>{
                                            "0x1000100/26 state=2 ip=10.1.2.1",
                                            "0x1000100/65535 state=2 ether=02:00:5e:10:01:00",
                                            "0x1000100/26 state=2 ip=10.9.9.9,10.9.9.10",
                                        }));
    std::vector<uint8_t> table;
    EXPECT_EQ(call(IMC_WIRE_SHOW, words({LC1}), &table), 0u);
    EXPECT_EQ(std::string(table.begin(), table.end()),
              "0/1/CPU0 Gi0/1/0/0 0x1000100 down 10.9.9.9,10.9.9.10 2001:db8:12:0:0:0:0:1\n"
              "0/1/CPU0 Gi0/1/0/1 0x1000101 up 10.1.9.1 -\n");

    // The interface manager drops the node's clients: the connection closes, opens again, and
    // the registration replays what the interface is now.
    std::vector<uint8_t> told;
    EXPECT_EQ(call(IMC_WIRE_DROP, words({LC1}), &told), 0u);
    EXPECT_EQ(told, words({1}));
    ASSERT_TRUE(run_until(agent.evm, [&] { return agent.events.size() >= 3; }));
    EXPECT_EQ(agent.events, (std::vector<std::string>{"up", "closed", "up"}));
    EXPECT_EQ(agent.wait_notices(8, 5)[3], "0x1000100/26 state=2 ip=10.9.9.9,10.9.9.10");

    // The daemon dies and comes back: the connection closes, is retried until the daemon
    // answers, and everything is as the chassis describes it again.
    sockmsg_client_close(op);
    op = nullptr;
    stop(daemon);
    ASSERT_TRUE(run_until(agent.evm, [&] { return agent.events.size() >= 4; }));
    EXPECT_EQ(agent.events[3], "closed");
    start_daemon();
    ASSERT_EQ(sockmsg_client_connect(socket.c_str(), nullptr, nullptr, nullptr, nullptr, &op), 0u);
    ASSERT_TRUE(run_until(agent.evm, [&] { return agent.events.back() == "up"; }));
    EXPECT_EQ(agent.wait_notices(13, 5), REPLAY);
}

// Node identity and interface capabilities come from the chassis through the environment.
TEST_F(ImcDaemonTest, TheProcessKnowsItsNodeAndItsCapabilities)
{
    uint32_t node = 0;
    ASSERT_EQ(platform_get_my_nodeid(&node), 0u);
    EXPECT_EQ(node, LC1);
    EXPECT_TRUE(platform_am_i_lc());
    ptp_platform_intf_capability_ctx_type *caps_ctx = nullptr;
    uint32_t version = 0;
    ASSERT_EQ(ptp_platform_intf_capability_init(&caps_ctx, &version), 0u);
    ptp_platform_intf_capability_type caps{};
    ASSERT_EQ(ptp_platform_intf_capability_get(&caps), 0u);
    EXPECT_EQ(version, 2u);
    EXPECT_EQ(caps.flags, 0x03ff);
    EXPECT_EQ(caps.log_max_rate, 7);
    ptp_platform_intf_capability_shutdown(caps_ctx);
}

// Requests that are well formed for the transport but not for the service are refused to that
// client only; the daemon goes on serving the others.
TEST_F(ImcDaemonTest, BadRequestsAreRefusedToTheirClientOnly)
{
    std::vector<uint8_t> reply;
    EXPECT_EQ(call(IMC_WIRE_BIND, {0, 0, 1}), IMC_ERR_INVALID);      // truncated
    EXPECT_EQ(call(IMC_WIRE_BIND, words({0x999})), IMC_ERR_NO_NODE); // not in the chassis
    EXPECT_EQ(call(IMC_WIRE_FIND, words({0, 0})), IMC_ERR_INVALID);  // not a whole name
    std::vector<uint8_t> find = words({0});
    find.resize(4 + IMC_NAME_SIZE, 'x');
    EXPECT_EQ(call(IMC_WIRE_FIND, find), IMC_ERR_NOT_CONNECTED); // no such binding of this client
    // A client the process manager did not start names its node once per connection.
    EXPECT_EQ(call(IMC_WIRE_BIND, words({LC2})), 0u);
    EXPECT_EQ(call(IMC_WIRE_REGISTER, words({LC1})), IMC_ERR_INVALID);
    ASSERT_EQ(call(IMC_WIRE_REGISTER, words({LC2}), &reply), 0u);
    ASSERT_EQ(reply.size(), 4u);
    const uint32_t reg = be32(reply.data());
    EXPECT_EQ(call(IMC_WIRE_ATTR, words({reg, 17, 1000, 0})), IMC_ERR_INVALID);            // more elements than bytes
    EXPECT_EQ(call(IMC_WIRE_ATTR, words({reg, 17, 1, GI2, 0x00000009})), IMC_ERR_INVALID); // 9 attributes, none there
    EXPECT_EQ(call(IMC_WIRE_ATTR, words({reg + 1000, 17, 0})), IMC_ERR_INVALID);           // not its registration
    EXPECT_EQ(call(IMC_WIRE_ATTR, words({reg, 17, 1, GI0, 0x00000001, 0x00010000}), &reply), IMC_ERR_INVALID);
    std::vector<uint8_t> ok_attr = words({reg, 17, 1, GI2, 0x00000001});
    ok_attr.insert(ok_attr.end(), {0, 1});
    ASSERT_EQ(call(IMC_WIRE_ATTR, ok_attr, &reply), 0u);
    EXPECT_EQ(reply, words({0}));
    std::vector<uint8_t> short_addrs = words({LC1, GI0});
    short_addrs.insert(short_addrs.end(), {6, 0, 0, 2, 1, 2, 3});
    EXPECT_EQ(call(IMC_WIRE_SET_ADDRS, short_addrs), IMC_ERR_INVALID);
    EXPECT_EQ(call(IMC_WIRE_SET_STATE, words({LC1, 0x999, 3})), IMC_ERR_NO_INTERFACE);
    EXPECT_EQ(call(IMC_WIRE_SET_STATE, words({0x999, GI0, 3})), IMC_ERR_NO_NODE);

    // The others are served as before.
    agent_type agent;
    EXPECT_EQ(agent.wait_notices(0, 5), REPLAY);
}

} // namespace
