// The agent's controller link and port-number client against a scripted controller, across the
// platform daemon's group messaging on real time: the agent's protocol-thread modules run here as
// members of node 0x100 in the daemon, and so does the controller this test plays.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "comms.h"
#include "comms_host.h"
#include "daemon_test_child.h"
#include "evm_test.h"
#include "interop_agent_threads.h"
#include "issul.h"
#include "plat_debug.h"
#include "ptp_comms_msg.h"
#include "ptp_debug.h"
#include "scenario.h"
#include "shmwin.h"
#include "sockmsg.h"
#include "tessel_bmc.h"
#include "tessel_debug_areas.h"
#include "tessel_if_config.h"
#include "tessel_ipc_db.h"
#include "tessel_issu.h"
#include "tessel_master_db.h"
#include "tessel_port_mgr.h"
#include "tessel_port_num.h"
#include "tessel_proto_db.h"
#include "tessel_slave_db.h"
#include "tessel_stats.h"

namespace {

using bytes = std::vector<uint8_t>;

constexpr ifhtype IFH = 0x3001;
constexpr uint16_t NUMBER = 7;

struct heard_type {
    bool port_num;
    uint32_t type;
    bytes body;
};

// The scripted controller: records what it hears and answers requests with NUMBER.
struct controller_type {
    comms_conn_type *ptp = nullptr;
    comms_conn_type *port_num = nullptr;
    std::vector<heard_type> heard;

    template <bool P, uint32_t T>
    static void on_msg(comms_conn_type *conn, void *ctx, const comms_member_type *sender, const void *msg, size_t len)
    {
        auto *self = static_cast<controller_type *>(ctx);
        const auto *p = static_cast<const uint8_t *>(msg);
        self->heard.push_back({P, T, bytes(p, p + len)});
        ptp_comms_msg_port_num_view req{};
        if (P && T == PTP_COMMS_MSG_PORT_NUM_REQUEST && ptp_comms_msg_port_num_handles_decode(p, len, &req) == 0) {
            std::vector<tessel_port_num_entry_type> entries;
            for (uint32_t i = 0; i < req.count; i++) {
                entries.push_back({ptp_comms_msg_port_num_handle(&req, i), NUMBER});
            }
            bytes reply(ptp_comms_msg_port_num_entries_size(req.count));
            ptp_comms_msg_port_num_entries_encode(entries.data(), req.count, reply.data(), reply.size());
            comms_msg_send(conn, sender, PTP_COMMS_MSG_PORT_NUM_ALLOC, 1, reply.data(), reply.size(), 0);
        }
    }
    bool heard_of(bool on_port_num, uint32_t type, bytes *body = nullptr) const
    {
        for (const heard_type &h : heard) {
            if (h.port_num == on_port_num && h.type == type) {
                if (body != nullptr) {
                    *body = h.body;
                }
                return true;
            }
        }
        return false;
    }
    zerrno send(bool on_port_num, uint32_t type, uint32_t version, const bytes &body)
    {
        comms_conn_type *c = on_port_num ? port_num : ptp;
        const comms_member_type *group = nullptr;
        comms_conn_get_group_member(c, &group);
        return comms_msg_send(c, group, type, version, body.empty() ? nullptr : body.data(), body.size(), 0);
    }
};

debug_event_type debug_table[TESSEL_DEBUG_AREA_COUNT];

class ControllerLinkDaemonTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char tmpl[] = "/tmp/controller_link_daemon_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        socket = dir + "/run/platform.sock";
        daemon = spawn({PLATFORMD_PATH, "--socket", socket}, {});
        setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1);
        setenv("PTP_NODE", "0x100", 1);
        static const std::string prefix = "controller_link_daemon_test." + std::to_string(getpid()) + ".";
        shmwin_test_set_prefix(prefix.c_str());
        ASSERT_TRUE(wait_for_daemon(socket)) << "the daemon did not come up";
    }
    static void TearDownTestSuite()
    {
        stop(daemon);
        unsetenv("PTP_NODE");
        unsetenv("PTP_PLATFORM_SOCKET");
        std::filesystem::remove_all(dir);
    }
    void SetUp() override
    {
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(ptp_debug_register(evm, debug_table, tessel_debug_areas, TESSEL_DEBUG_AREA_COUNT, nullptr), 0u);
        // The controller joins first, as on a running chassis.
        ASSERT_EQ(comms_connect(evm, PTP_COMMS_CHANNEL, 0, &ctrl.ptp), 0u);
        ASSERT_EQ(comms_connect(evm, PTP_COMMS_PORT_NUM_CHANNEL, 0, &ctrl.port_num), 0u);
        comms_msg_handler_add(ctrl.ptp, PTP_COMMS_MSG_ANNOUNCE_REQUEST, 1, controller_type::on_msg<false, 1>, &ctrl);
        comms_msg_handler_add(ctrl.ptp, PTP_COMMS_MSG_BMC, 2, controller_type::on_msg<false, 2>, &ctrl);
        comms_msg_handler_add(ctrl.port_num, PTP_COMMS_MSG_PORT_NUM_REQUEST, 1, controller_type::on_msg<true, 0>,
                              &ctrl);
        comms_msg_handler_add(ctrl.port_num, PTP_COMMS_MSG_PORT_NUM_RELEASE, 1, controller_type::on_msg<true, 2>,
                              &ctrl);
        comms_msg_handler_add(ctrl.port_num, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, 1, controller_type::on_msg<true, 3>,
                              &ctrl);
        issul_test_reset();
        issul_test_set_role(ISSUL_ROLE_PRIMARY);
        ASSERT_EQ(tessel_issu_init(evm), 0u);
        ASSERT_EQ(interop::intf_caps_start(false), 0u);
        ASSERT_EQ(scenario::start_checkpoint(evm), 0u); // the daemon's checkpoint store
        scenario::use_database_library(dir);            // the slave-lost trap binds to the daemon's database
        ASSERT_EQ(tessel_port_mgr_init(evm), 0u);
        tessel_port_mgr_ptp_enable();
    }
    void TearDown() override
    {
        if (created) {
            ipc.flags |= TESSEL_IPC_FLAG_UPDATE_DELETED;
            tessel_port_mgr_if_update(&ipc);
            tessel_master_db_destroy(&ipc.applied_config.master_table);
            tessel_slave_db_destroy(&ipc.applied_config.slave_table);
        }
        tessel_port_mgr_ptp_disable();
        tessel_bmc_reset();
        tessel_port_mgr_shutdown();
        scenario::stop_checkpoint();
        interop::intf_caps_stop();
        comms_disconnect(ctrl.ptp);
        comms_disconnect(ctrl.port_num);
        ptp_debug_cleanup();
        event_manager_destroy(evm);
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
    }
    // Runs the event manager until the condition holds (real time, at most 10 s).
    template <typename F>
    bool run_until(F done)
    {
        return ::run_until(evm, done);
    }
    tessel_proto_idb_type *create_interface()
    {
        std::strncpy(ipc.header.ifname, "Gi0/0/0/9", sizeof ipc.header.ifname - 1);
        ipc.header.ifhandle = IFH;
        ipc.if_type = 1;
        ipc.im_state = 3;
        ipc.ether_info_len = 6;
        ipc.applied_config.encap = PTP_ENCAP_IPV4;
        ipc.applied_config.announce_timeout = 3;
        ipc.applied_ipv4_addr = 0x0A000001;
        tessel_master_db_init(&ipc.applied_config.master_table);
        tessel_slave_db_init(&ipc.applied_config.slave_table);
        ipc.flags = TESSEL_IPC_FLAG_UPDATE_CREATED | TESSEL_IPC_FLAG_ENABLED | TESSEL_IPC_FLAG_VRF_ID_KNOWN |
                    TESSEL_IPC_FLAG_ETHER_INFO_KNOWN;
        tessel_port_mgr_if_update(&ipc);
        created = true;
        tessel_proto_idb_type *idb = nullptr;
        EXPECT_EQ(tessel_proto_db_get_by_ifname("Gi0/0/0/9", &idb), 0u);
        return idb;
    }
    // The operator takes node 0x100's link down or up through the daemon.
    void link(bool up)
    {
        sockmsg_client_type *op = nullptr;
        ASSERT_EQ(sockmsg_client_connect(socket.c_str(), nullptr, nullptr, nullptr, nullptr, &op), 0u);
        const uint8_t req[8] = {0, 0, 1, 0, 0, 0, 0, static_cast<uint8_t>(up ? 1 : 0)};
        uint32_t status = 1;
        ASSERT_EQ(sockmsg_client_call(op, COMMS_SERVICE_ID, COMMS_WIRE_LINK, req, sizeof req, &status, nullptr), 0u);
        EXPECT_EQ(status, 0u);
        sockmsg_client_close(op);
    }

    static std::string dir, socket;
    static child_type daemon;
    event_mgr_type *evm = nullptr;
    controller_type ctrl;
    tessel_ipc_idb_type ipc{};
    bool created = false;
};
std::string ControllerLinkDaemonTest::dir, ControllerLinkDaemonTest::socket;
child_type ControllerLinkDaemonTest::daemon;

TEST_F(ControllerLinkDaemonTest, AnnounceAndPortNumbersGoBothWaysAndTheLinkRecovers)
{
    // Going active, the agent told the controller the numbers it holds: none.
    bytes body;
    ASSERT_TRUE(run_until([&] { return ctrl.heard_of(true, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, &body); }));
    EXPECT_EQ(body, (bytes{0, 0, 0, 0}));

    // The controller's announce is applied and answered with the node's report (no best master).
    ptp_comms_msg_announce a{};
    a.local_clock_id = 0x0011FFFE00000001ull;
    a.domain = 4;
    a.global_bmc.clock_id = 0x0022FFFE00000002ull;
    a.advertised.clock_id = a.local_clock_id;
    a.bmc_selected = 1;
    a.slave_supported = 1;
    bytes msg(PTP_COMMS_MSG_ANNOUNCE_SIZE);
    ptp_comms_msg_announce_encode(&a, msg.data());
    ASSERT_EQ(ctrl.send(false, PTP_COMMS_MSG_ANNOUNCE, PTP_COMMS_MSG_ANNOUNCE_VERSION, msg), 0u);
    ASSERT_TRUE(run_until([&] { return ctrl.heard_of(false, PTP_COMMS_MSG_BMC, &body); }));
    EXPECT_EQ(body, bytes(PTP_COMMS_MSG_BMC_SIZE, 0));
    ASSERT_NE(tessel_port_mgr_get_local_clock(), nullptr);
    EXPECT_EQ(tessel_port_mgr_get_local_clock()->clock_id, a.local_clock_id);
    EXPECT_EQ(tessel_port_mgr_get_local_clock()->domain, 4u);

    // A new interface is requested and numbered by the controller's answer.
    tessel_proto_idb_type *idb = create_interface();
    ASSERT_NE(idb, nullptr);
    tessel_port_num_process_batches();
    ASSERT_TRUE(run_until([&] { return idb->port_num == NUMBER; }));
    ASSERT_TRUE(ctrl.heard_of(true, PTP_COMMS_MSG_PORT_NUM_REQUEST, &body));
    EXPECT_EQ(body, (bytes{0, 0, 0, 1, 0, 0, 0x30, 0x01}));

    // The controller asks for a resync: the agent lists its number.
    ctrl.heard.clear();
    ASSERT_EQ(ctrl.send(true, PTP_COMMS_MSG_PORT_NUM_RESYNC_REQUEST, 1, {}), 0u);
    ASSERT_TRUE(run_until([&] { return ctrl.heard_of(true, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, &body); }));
    EXPECT_EQ(body, (bytes{0, 0, 0, 1, 0, 0, 0x30, 0x01, 0, NUMBER, 0, 0}));

    // The node's link goes down and comes back: the agent resyncs its numbers on its own.
    ctrl.heard.clear();
    link(false);
    ASSERT_TRUE(run_until([] { return tessel_port_num_gsp_up() == 0; }));
    link(true);
    ASSERT_TRUE(run_until([&] { return ctrl.heard_of(true, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, &body); }));
    EXPECT_EQ(body, (bytes{0, 0, 0, 1, 0, 0, 0x30, 0x01, 0, NUMBER, 0, 0}));
}

} // namespace
