// Shared set-up of the controller-link and port-number tests: the real port manager with the
// real controller link and port-number client, on virtual time, on node AGENT_NODE, and a
// scripted controller on node CTRL_NODE that is a member of both channels and records every
// message the agent sends it.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "comms.h"
#include "comms_test.h"
#include "plat_clock_test.h"
#include "ptp_comms_msg.h"
#include "qor_log.h"
#include "shmwin.h"
#include "sysmgr_test.h"
#include "tessel_bmc.h"
#include "tessel_comms.h"
#include "tessel_if_config.h"
#include "tessel_ipc_db.h"
#include "tessel_ipc_record_test.h"
#include "tessel_master_db.h"
#include "tessel_pm_test_env.h"
#include "tessel_port_mgr.h"
#include "tessel_port_num.h"
#include "tessel_proto_db.h"
#include "tessel_slave_db.h"
#include "tessel_stats.h"

inline constexpr uint32_t AGENT_NODE = 0x110;
inline constexpr uint32_t CTRL_NODE = 0x220;

using bytes = std::vector<uint8_t>;

struct ctrl_msg {
    bool port_num; // on "PTP_port_num", else on "PTP"
    uint32_t type;
    uint32_t version;
    uint32_t from_node;
    bytes body;
};

// The controller's end of both channels.
struct ctrl_peer {
    comms_conn_type *ptp = nullptr;
    comms_conn_type *port_num = nullptr;
    std::vector<ctrl_msg> got; // in arrival order, both channels
    comms_member_type agent{}; // the last agent member heard from

    template <bool P, uint32_t T, uint32_t V>
    static void handler(comms_conn_type *, void *ctx, const comms_member_type *sender, const void *msg, size_t len)
    {
        auto *self = static_cast<ctrl_peer *>(ctx);
        const auto *p = static_cast<const uint8_t *>(msg);
        self->got.push_back({P, T, V, sender->node_id, bytes(p, p + len)});
        self->agent = *sender;
    }

    void open(event_mgr_type *evm)
    {
        comms_test_set_node(CTRL_NODE);
        ASSERT_EQ(comms_connect(evm, PTP_COMMS_CHANNEL, 0, &ptp), 0u);
        ASSERT_EQ(comms_connect(evm, PTP_COMMS_PORT_NUM_CHANNEL, 0, &port_num), 0u);
        comms_test_set_node(AGENT_NODE);
        comms_msg_handler_add(ptp, 1, 1, handler<false, 1, 1>, this);
        comms_msg_handler_add(ptp, 2, 2, handler<false, 2, 2>, this);
        comms_msg_handler_add(ptp, 3, 1, handler<false, 3, 1>, this);
        comms_msg_handler_add(port_num, 0, 1, handler<true, 0, 1>, this);
        comms_msg_handler_add(port_num, 2, 1, handler<true, 2, 1>, this);
        comms_msg_handler_add(port_num, 3, 1, handler<true, 3, 1>, this);
    }
    void close()
    {
        if (ptp != nullptr) {
            comms_disconnect(ptp);
            ptp = nullptr;
        }
        if (port_num != nullptr) {
            comms_disconnect(port_num);
            port_num = nullptr;
        }
    }
    // Sends to every agent of the channel.
    zerrno send(bool on_port_num, uint32_t type, uint32_t version, const bytes &body)
    {
        comms_conn_type *c = on_port_num ? port_num : ptp;
        const comms_member_type *group = nullptr;
        comms_conn_get_group_member(c, &group);
        const zerrno rc = comms_msg_send(c, group, type, version, body.empty() ? nullptr : body.data(), body.size(), 0);
        plat_clock_settle();
        return rc;
    }
    // The messages of one (type, version) of a channel received since the last clear.
    std::vector<bytes> of(uint32_t type, uint32_t version, bool on_port_num = false) const
    {
        std::vector<bytes> out;
        for (const ctrl_msg &m : got) {
            if (m.port_num == on_port_num && m.type == type && m.version == version) {
                out.push_back(m.body);
            }
        }
        return out;
    }
    // Every message received on one channel.
    std::vector<ctrl_msg> on(bool on_port_num) const
    {
        std::vector<ctrl_msg> out;
        for (const ctrl_msg &m : got) {
            if (m.port_num == on_port_num) {
                out.push_back(m);
            }
        }
        return out;
    }
};

class CtrlPeerTest : public ::testing::Test {
protected:
    event_mgr_type *evm = nullptr;
    ctrl_peer ctrl;
    zerrno init_rc = 0;
    uint32_t role = ISSUL_ROLE_PRIMARY; // the upgrade role the agent starts in
    std::vector<std::unique_ptr<ipc_record>> records;

    // The counters' window of this program alone: tests of other programs may run meanwhile.
    static void SetUpTestSuite()
    {
        static const std::string prefix = "tessel_ctrl_peer_test." + std::to_string(getpid()) + ".";
        shmwin_test_set_prefix(prefix.c_str());
    }
    void SetUp() override
    {
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
        pm_fake_reset();
        plat_clock_use_virtual();
        sysmgr_test_reset();
        sysmgr_test_set_node(AGENT_NODE);
        comms_test_reset();
        issul_test_reset();
        issul_test_set_role(role);
        evm = event_create_manager(nullptr, nullptr, 0);
        pm_debug_setup(evm);
        ctrl.open(evm);
        ASSERT_EQ(tessel_issu_init(evm), 0u);
        init_rc = tessel_port_mgr_init(evm);
        ASSERT_EQ(init_rc, 0u);
        tessel_port_mgr_ptp_enable();
        plat_clock_settle();
        ctrl.got.clear();
        debug_set_area(PTP_DEBUG_PATH, "comms", nullptr);
        debug_set_area(PTP_DEBUG_PATH, "port_num", nullptr);
        debug_capture_clear();
        qor_errmsg_capture_clear();
    }
    void TearDown() override
    {
        for (auto &rec : records) {
            rec->r.flags |= TESSEL_IPC_FLAG_UPDATE_DELETED;
            tessel_port_mgr_if_update(&rec->r);
        }
        records.clear();
        tessel_port_mgr_ptp_disable();
        tessel_bmc_reset();
        tessel_port_mgr_shutdown();
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
        ctrl.close();
        plat_clock_settle();
        ptp_debug_cleanup();
        event_manager_destroy(evm);
        tessel_comms_exit_fn_set(nullptr);
        comms_test_reset();
        sysmgr_test_reset();
        plat_clock_use_real();
    }
    tessel_proto_idb_type *create(const char *name, ifhtype ifh)
    {
        records.push_back(std::make_unique<ipc_record>(name, ifh));
        tessel_port_mgr_if_update(&records.back()->r);
        tessel_proto_idb_type *idb = nullptr;
        EXPECT_EQ(tessel_proto_db_get_by_ifname(name, &idb), 0u);
        return idb;
    }
    static void settle() { plat_clock_settle(); }
    static void advance_ms(uint64_t ms) { plat_clock_advance_ms(ms); }
};

// Hand-written message bodies.
inline bytes be32(uint32_t v)
{
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}
inline bytes cat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes &p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}
// One port-number entry: handle, number, two zero bytes.
inline bytes entry(uint32_t ifh, uint16_t num)
{
    return cat({be32(ifh), {static_cast<uint8_t>(num >> 8), static_cast<uint8_t>(num), 0, 0}});
}
