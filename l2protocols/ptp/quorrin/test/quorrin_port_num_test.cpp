// The controller's port-number allocation against scripted agents on three line cards, over the
// in-process group messaging and the in-memory checkpoint store, on virtual time: allocation,
// release, exhaustion, the reply's layout and both kinds of resynchronisation, with the bytes of
// every reply compared against hand-written bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "chkpt.h"
#include "chkpt_test.h"
#include "comms.h"
#include "comms_test.h"
#include "evm.h"
#include "jotlog_test.h"
#include "plat_clock_test.h"
#include "plat_debug.h"
#include "ptp_comms_msg.h"
#include "ptp_debug.h"
#include "ptp_timer.h"
#include "qor_log.h"
#include "quorrin_debug.h"
#include "quorrin_fakes.h"
#include "quorrin_port_num.h"
#include "sysmgr_test.h"

namespace {

constexpr uint32_t RP = 0x100;
constexpr uint32_t LC1 = 0x010;
constexpr uint32_t LC2 = 0x020;
constexpr uint32_t LC3 = 0x030;

using bytes = std::vector<uint8_t>;

debug_event_type debug_table[QUORRIN_DEBUG_AREA_COUNT];

struct received_type {
    uint32_t type;
    bytes body;
};

struct agent_type {
    uint32_t node = 0;
    comms_conn_type *conn = nullptr;
    std::vector<received_type> got;
};

template <uint32_t T>
void agent_cb(comms_conn_type *, void *context, const comms_member_type *, const void *msg, size_t length)
{
    auto *agent = static_cast<agent_type *>(context);
    const auto *p = static_cast<const uint8_t *>(msg);
    agent->got.push_back({T, bytes(p, p + length)});
}

bytes handles_msg(const std::vector<uint32_t> &handles)
{
    bytes out(ptp_comms_msg_port_num_handles_size(static_cast<uint32_t>(handles.size())));
    EXPECT_EQ(ptp_comms_msg_port_num_handles_encode(handles.data(), static_cast<uint32_t>(handles.size()), out.data(),
                                                    out.size()),
              0u);
    return out;
}

bytes entries_msg(const std::vector<tessel_port_num_entry_type> &entries)
{
    bytes out(ptp_comms_msg_port_num_entries_size(static_cast<uint32_t>(entries.size())));
    EXPECT_EQ(ptp_comms_msg_port_num_entries_encode(entries.data(), static_cast<uint32_t>(entries.size()), out.data(),
                                                    out.size()),
              0u);
    return out;
}

std::vector<std::string> syslog_mnemonics()
{
    std::vector<std::string> out;
    for (const qor_captured_msg &msg : qor_errmsg_captured()) {
        out.push_back(msg.mnemonic);
    }
    return out;
}

class PortNum : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat_clock_use_virtual();
        comms_test_reset();
        sysmgr_test_set_node(RP);
        chkpt_test_reset(":memory:");
        quorrin_fake_reset();
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();

        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(ptp_debug_register(evm, debug_table, quorrin_debug_areas, QUORRIN_DEBUG_AREA_COUNT, nullptr), 0u);
        debug_set_area(PTP_DEBUG_PATH, "port_num", nullptr);
        debug_capture_clear();
        ASSERT_EQ(ptp_timer_init(evm, 1000, 32, nullptr, nullptr, quorrin_debug_area("main"), debug_table), 0u);
        chkpt_go_primary(nullptr);

        for (auto [agent, node] : {std::pair{&lc1, LC1}, {&lc2, LC2}, {&lc3, LC3}}) {
            connect(*agent, node);
        }
        start_controller();
    }
    void TearDown() override
    {
        quorrin_port_num_shutdown(false);
        for (agent_type *agent : {&lc1, &lc2, &lc3}) {
            if (agent->conn != nullptr) {
                comms_disconnect(agent->conn);
                agent->conn = nullptr;
            }
        }
        ptp_timer_shutdown();
        ptp_debug_cleanup();
        event_manager_destroy(evm);
        comms_test_reset();
        chkpt_test_reset(":memory:");
        sysmgr_test_reset();
        plat_clock_use_real();
    }

    // The controller's checkpoint instance, primary-active.
    void chkpt_go_primary(chkpt_instance_type *instance)
    {
        chkpt_test_instance_use(instance);
        chkpt_appdesc_type desc;
        chkpt_appdesc_init(&desc);
        std::strcpy(desc.name, "ptp_ctrl");
        desc.flags = 1;
        ASSERT_EQ(chkpt_init(evm, &desc), 0u);
        ASSERT_EQ(chkpt_go_primary_active(), 0u);
    }

    // Init and restore; the resync request that the restore sends is answered by every agent with
    // what it lists, so the controller ends idle.
    void start_controller(const std::map<uint32_t, std::vector<tessel_port_num_entry_type>> &claims = {})
    {
        comms_test_set_node(RP);
        ASSERT_EQ(quorrin_port_num_init(evm), 0u);
        quorrin_port_num_restore();
        plat_clock_settle();
        for (agent_type *agent : {&lc1, &lc2, &lc3}) {
            ASSERT_EQ(agent->got.size(), 1u);
            EXPECT_EQ(agent->got[0].type, PTP_COMMS_MSG_PORT_NUM_RESYNC_REQUEST);
            EXPECT_TRUE(agent->got[0].body.empty());
            const auto it = claims.find(agent->node);
            send(*agent, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC,
                 entries_msg(it == claims.end() ? std::vector<tessel_port_num_entry_type>{} : it->second));
        }
        // With no node on record there is nobody to wait for: the round ends as it starts.
        EXPECT_FALSE(quorrin_port_num_is_resync_running());
        clear();
    }

    void connect(agent_type &agent, uint32_t node)
    {
        agent.node = node;
        comms_test_set_node(node);
        ASSERT_EQ(comms_connect(evm, PTP_COMMS_PORT_NUM_CHANNEL, 0, &agent.conn), 0u);
        comms_msg_handler_add(agent.conn, PTP_COMMS_MSG_PORT_NUM_ALLOC, 1, agent_cb<PTP_COMMS_MSG_PORT_NUM_ALLOC>,
                              &agent);
        comms_msg_handler_add(agent.conn, PTP_COMMS_MSG_PORT_NUM_CTRLR_RESYNC, 1,
                              agent_cb<PTP_COMMS_MSG_PORT_NUM_CTRLR_RESYNC>, &agent);
        comms_msg_handler_add(agent.conn, PTP_COMMS_MSG_PORT_NUM_RESYNC_REQUEST, 1,
                              agent_cb<PTP_COMMS_MSG_PORT_NUM_RESYNC_REQUEST>, &agent);
        comms_test_set_node(RP);
    }

    void send(agent_type &agent, uint32_t type, const bytes &body)
    {
        const comms_member_type *group = nullptr;
        ASSERT_EQ(comms_conn_get_group_member(agent.conn, &group), 0u);
        ASSERT_EQ(comms_msg_send(agent.conn, group, type, 1, body.data(), body.size(), 0), 0u);
        plat_clock_settle();
    }

    void request(agent_type &agent, const std::vector<uint32_t> &handles)
    {
        send(agent, PTP_COMMS_MSG_PORT_NUM_REQUEST, handles_msg(handles));
    }
    void release(agent_type &agent, const std::vector<uint32_t> &handles)
    {
        send(agent, PTP_COMMS_MSG_PORT_NUM_RELEASE, handles_msg(handles));
    }

    void clear()
    {
        for (agent_type *agent : {&lc1, &lc2, &lc3}) {
            agent->got.clear();
        }
        qor_errmsg_capture_clear();
        debug_capture_clear();
    }

    uint32_t node_count(uint32_t node)
    {
        uint32_t count = 0;
        return quorrin_port_num_node_count(node, &count) ? count : 0xFFFFFFFFu;
    }

    agent_type &agent(uint32_t node) { return node == LC1 ? lc1 : (node == LC2 ? lc2 : lc3); }

    event_mgr_type *evm = nullptr;
    agent_type lc1, lc2, lc3;
};

// ---- Allocation and release ----

struct step_type {
    const char *what;
    uint32_t node;
    bool is_release;
    std::vector<uint32_t> handles;
    bytes reply; // the allocate message the node gets; empty: none
    uint32_t lc1_count, lc2_count, active;
};

TEST_F(PortNum, AllocationAndReleaseOverSeveralNodes)
{
    const step_type steps[] = {
        {"first numbers from 1",
         LC1,
         false,
         {0x1001, 0x1002, 0x1003},
         {0, 0, 0, 3, 0, 0, 0x10, 0x01, 0, 1, 0, 0, 0, 0, 0x10, 0x02, 0, 2, 0, 0, 0, 0, 0x10, 0x03, 0, 3, 0, 0},
         3,
         0,
         3},
        {"another node continues", LC2, false, {0x2001}, {0, 0, 0, 1, 0, 0, 0x20, 0x01, 0, 4, 0, 0}, 3, 1, 4},
        {"release gives 1 back", LC1, true, {0x1001}, {}, 2, 1, 3},
        {"lowest free number next", LC2, false, {0x2002}, {0, 0, 0, 1, 0, 0, 0x20, 0x02, 0, 1, 0, 0}, 2, 2, 4},
        {"a held interface keeps its number",
         LC1,
         false,
         {0x1002},
         {0, 0, 0, 1, 0, 0, 0x10, 0x02, 0, 2, 0, 0},
         2,
         2,
         4},
        {"unknown handles are skipped", LC2, true, {0x9999, 0x2001}, {}, 2, 1, 3},
        {"release of another node's number counts off its owner", LC2, true, {0x1003}, {}, 1, 1, 2},
        {"an empty request is ignored", LC3, false, {}, {}, 1, 1, 2},
    };
    for (const step_type &step : steps) {
        SCOPED_TRACE(step.what);
        clear();
        if (step.is_release) {
            release(agent(step.node), step.handles);
        } else {
            request(agent(step.node), step.handles);
        }
        if (step.reply.empty()) {
            EXPECT_TRUE(agent(step.node).got.empty());
        } else {
            ASSERT_EQ(agent(step.node).got.size(), 1u);
            EXPECT_EQ(agent(step.node).got[0].type, PTP_COMMS_MSG_PORT_NUM_ALLOC);
            EXPECT_EQ(agent(step.node).got[0].body, step.reply);
        }
        EXPECT_EQ(node_count(LC1), step.lc1_count);
        EXPECT_EQ(node_count(LC2), step.lc2_count);
        EXPECT_EQ(quorrin_port_num_get_active_count(), step.active);
    }
    // Only the allocations that stand are in the checkpoint.
    EXPECT_EQ(chkpt_test_record_count(QUORRIN_PORT_NUM_TABLE_ID), 2u);

    // The owner's list counts exactly what it holds after another node released one of its numbers.
    clear();
    send(lc1, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, entries_msg({{0x1002, 2}}));
    ASSERT_EQ(lc1.got.size(), 1u);
    EXPECT_EQ(lc1.got[0].type, PTP_COMMS_MSG_PORT_NUM_CTRLR_RESYNC);
    EXPECT_EQ(lc1.got[0].body, (bytes{0, 0, 0, 1, 0, 0, 0x10, 0x02, 0, 2, 0, 0}));
}

// Each step writes the records of its debug lines into the detail buffer, with their values.
TEST_F(PortNum, StepsTraceWhatTheyPrint)
{
    const std::string run_dir = jotlog_test_run_dir_create("quorrin-port-num-test");
    ptp_jotlog_buffer_type buffers[] = {{"ptp/quorrin/det", {1024, 8192, 0, 0}, nullptr},
                                        {"ptp/quorrin/sum", {1024, 8192, 0, 0}, nullptr},
                                        {"ptp/quorrin/unq", {0, 0, 64, 256}, nullptr}};
    ASSERT_EQ(ptp_jotlog_init(buffers, 3), 0u);
    ptp_jotlog_ctx_set(buffers[0], buffers[1], buffers[2]);
    auto rec = [](const ptp_trace_point_type &point, const std::string &args) {
        char id[32];
        std::snprintf(id, sizeof id, "0x%llx(", static_cast<unsigned long long>(ptp_trace_point_id(point)));
        return id + args + ")";
    };
    // The port-number module's records (points 500-599 of the controller) written since `from`.
    auto port_num_records = [](size_t from) {
        std::vector<std::string> out;
        const std::vector<std::string> all = jotlog_test_records("ptp/quorrin/det", "'");
        for (size_t i = from; i < all.size(); i++) {
            const uint64_t id = std::strtoull(all[i].c_str(), nullptr, 16);
            if (ptp_trace_id_class(id) == PTP_TRACE_CLASS_QUORRIN && ptp_trace_id_number(id) / 100 == 5) {
                out.push_back(all[i]);
            }
        }
        return out;
    };
    const std::string node = std::to_string(LC1);
    struct step_case {
        const char *what;
        std::function<void()> act;
        std::vector<std::string> records;
    };
    const step_case steps[] = {
        {"a request answered",
         [&] {
             request(lc1, {0x1001, 0x1002});
         },
         {rec(PTP_TRACE_QUORRIN_PORT_NUM_RECEIVED_PORT_NUMBER_REQUEST, "2," + node),
          rec(PTP_TRACE_QUORRIN_PORT_NUM_SUCCESSFULLY_SENT_PORT_NUMBER, "2," + node)}},
        {"a release",
         [&] { release(lc1, {0x1001}); },
         {rec(PTP_TRACE_QUORRIN_PORT_NUM_RECEIVED_PORT_NUMBER_RELEASE, "1," + node)}},
        {"a lost message starts a resync",
         [&] {
             comms_test_possible_lost(PTP_COMMS_PORT_NUM_CHANNEL);
             plat_clock_settle();
         },
         {rec(PTP_TRACE_QUORRIN_PORT_NUM_RECEIVED_DROPPED_MESSAGE_NOTIFICATION, ""),
          rec(PTP_TRACE_QUORRIN_PORT_NUM_STARTING_CONTROLLER_RESYNC_SENDING, "")}},
        {"a request during the resync",
         [&] { request(lc1, {0x1003}); },
         {rec(PTP_TRACE_QUORRIN_PORT_NUM_PORT_NUM_REQUEST_MESSAGE, "")}},
        {"a release during the resync",
         [&] { release(lc1, {0x1002}); },
         {rec(PTP_TRACE_QUORRIN_PORT_NUM_PORT_NUMBER_RELEASE_MESSAGE, "")}},
    };
    for (const step_case &step : steps) {
        SCOPED_TRACE(step.what);
        const size_t before = jotlog_test_records("ptp/quorrin/det").size();
        step.act();
        EXPECT_EQ(port_num_records(before), step.records);
    }
    ptp_jotlog_ctx_set({}, {}, {});
    ptp_jotlog_close(buffers, 3);
    jotlog_test_run_dir_remove(run_dir);
}

TEST_F(PortNum, RequestsAreIgnoredWhileInactiveOrResynchronising)
{
    // A lost-message notice starts a resynchronisation; until it ends nothing is answered.
    comms_test_possible_lost(PTP_COMMS_PORT_NUM_CHANNEL);
    plat_clock_settle();
    ASSERT_TRUE(quorrin_port_num_is_resync_running());
    clear();
    request(lc1, {0x1001});
    EXPECT_TRUE(lc1.got.empty());
    EXPECT_EQ(quorrin_port_num_get_active_count(), 0u);

    // A controller that has not restored answers nothing either.
    quorrin_port_num_shutdown(false);
    ASSERT_EQ(quorrin_port_num_init(evm), 0u);
    request(lc1, {0x1001});
    EXPECT_TRUE(lc1.got.empty());
}

TEST_F(PortNum, MalformedMessagesAreDropped)
{
    const bytes cases[] = {
        {0, 0, 0},                            // shorter than the count
        {0, 0, 0, 2, 0, 0, 0x10, 0x01},       // count beyond the bytes
        {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1}, // a count that overflows
    };
    for (const bytes &body : cases) {
        send(lc1, PTP_COMMS_MSG_PORT_NUM_REQUEST, body);
        send(lc1, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, body);
    }
    EXPECT_TRUE(lc1.got.empty());
    EXPECT_EQ(quorrin_port_num_get_active_count(), 0u);
}

// ---- Exhaustion and the reply's layout ----

TEST_F(PortNum, ExhaustionAnswersOnlyWhatGotANumberAndPutsItFirst)
{
    // Fill the space without checkpoint writes, in requests whose replies fit one message.
    quorrin_fake_main().kvolm_or_lc = false;
    debug_clear_area(PTP_DEBUG_PATH, "port_num");
    uint32_t ifhandle = 0x100000;
    for (uint32_t left = 65535; left > 0;) {
        const uint32_t n = std::min<uint32_t>(left, 8000);
        std::vector<uint32_t> handles;
        for (uint32_t i = 0; i < n; i++) {
            handles.push_back(ifhandle++);
        }
        request(lc1, handles);
        left -= n;
    }
    ASSERT_EQ(quorrin_port_num_get_active_count(), 65535u);
    uint32_t node = 0;
    EXPECT_EQ(quorrin_port_num_lookup(0x100000 + 65534, &node), 65535);
    EXPECT_EQ(node, LC1);
    clear();

    // A new interface first, then one that holds 7: only the second is answered, and first.
    request(lc2, {0x2001, 0x100006, 0x2002});
    ASSERT_EQ(lc2.got.size(), 1u);
    EXPECT_EQ(lc2.got[0].body, (bytes{0, 0, 0, 1, 0, 0x10, 0x00, 0x06, 0, 7, 0, 0}));
    // The message is rate-limited: once for the request.
    EXPECT_EQ(syslog_mnemonics(), (std::vector<std::string>{"PORT_NUM_EXHAUST"}));

    // Nothing answered: no reply at all.
    clear();
    ASSERT_EQ(plat_clock_advance_s(61), 0u);
    request(lc2, {0x2003});
    EXPECT_TRUE(lc2.got.empty());
    EXPECT_EQ(syslog_mnemonics(), (std::vector<std::string>{"PORT_NUM_EXHAUST"}));

    // A freed number is the next one handed out, though the cursor had wrapped to 1.
    release(lc1, {0x100000 + 99});
    request(lc2, {0x2003});
    ASSERT_EQ(lc2.got.size(), 1u);
    EXPECT_EQ(lc2.got[0].body, (bytes{0, 0, 0, 1, 0, 0, 0x20, 0x03, 0, 100, 0, 0}));
}

// ---- Resynchronisation ----

TEST_F(PortNum, AgentResyncClaims)
{
    request(lc1, {0x1001, 0x1002}); // 1, 2
    request(lc2, {0x2001});         // 3
    clear();

    struct claim_case {
        const char *what;
        uint32_t node;
        std::vector<tessel_port_num_entry_type> claims;
        bytes ctrlr_resync; // what the claiming node is told back
        std::vector<std::string> syslog;
        uint32_t lc1_count, lc2_count, active;
    };
    const claim_case cases[] = {
        {"a free number for an unknown interface is taken",
         LC3,
         {{0x3001, 40}},
         {0, 0, 0, 1, 0, 0, 0x30, 0x01, 0, 40, 0, 0},
         {},
         2,
         1,
         4},
        {"a number held for another interface conflicts; the controller's stands",
         LC3,
         {{0x3001, 40}, {0x3002, 1}},
         {0, 0, 0, 1, 0, 0, 0x30, 0x01, 0, 40, 0, 0},
         {"PORT_NUM_CONFLICT"},
         2,
         1,
         4},
        {"an interface that moved node takes its number along",
         LC1,
         {{0x1001, 1}, {0x1002, 2}, {0x2001, 3}},
         {0, 0, 0, 3, 0, 0, 0x10, 0x01, 0, 1, 0, 0, 0, 0, 0x10, 0x02, 0, 2, 0, 0, 0, 0, 0x20, 0x01, 0, 3, 0, 0},
         {},
         3,
         0xFFFFFFFF,
         4},
        {"what the agent no longer lists is swept; a second number is refused",
         LC1,
         {{0x1001, 1}, {0x1001, 9}},
         {0, 0, 0, 1, 0, 0, 0x10, 0x01, 0, 1, 0, 0},
         {},
         1,
         0xFFFFFFFF,
         2},
    };
    for (const claim_case &c : cases) {
        SCOPED_TRACE(c.what);
        clear();
        send(agent(c.node), PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, entries_msg(c.claims));
        ASSERT_EQ(agent(c.node).got.size(), 1u);
        EXPECT_EQ(agent(c.node).got[0].type, PTP_COMMS_MSG_PORT_NUM_CTRLR_RESYNC);
        EXPECT_EQ(agent(c.node).got[0].body, c.ctrlr_resync);
        EXPECT_EQ(syslog_mnemonics(), c.syslog);
        EXPECT_EQ(node_count(LC1), c.lc1_count);
        EXPECT_EQ(node_count(LC2), c.lc2_count);
        EXPECT_EQ(quorrin_port_num_get_active_count(), c.active);
    }
    EXPECT_EQ(qor_errmsg_captured().size(), 0u);
}

TEST_F(PortNum, AnAgentListThatCrossedItsNumbersIsAskedAgainNotSwept)
{
    // The agent asked for two numbers and, before the answer reached it, sent its list of its own
    // accord (naming none yet). The controller keeps the numbers and asks that agent alone again;
    // the agent's answer, sent after it took the allocate message, settles the list.
    request(lc1, {0x1001, 0x1002}); // 1, 2
    request(lc2, {0x2001});         // 3
    clear();
    send(lc1, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, entries_msg({}));
    ASSERT_EQ(lc1.got.size(), 1u);
    EXPECT_EQ(lc1.got[0].type, PTP_COMMS_MSG_PORT_NUM_RESYNC_REQUEST);
    EXPECT_TRUE(lc2.got.empty() && lc3.got.empty());
    EXPECT_EQ(quorrin_port_num_lookup(0x1001, nullptr), 1);
    EXPECT_EQ(quorrin_port_num_lookup(0x1002, nullptr), 2);
    // Nothing waits on a timer: a request meanwhile is answered.
    request(lc2, {0x2002}); // 4
    ASSERT_EQ(lc2.got.size(), 1u);
    EXPECT_EQ(lc2.got[0].type, PTP_COMMS_MSG_PORT_NUM_ALLOC);

    struct answer_case {
        const char *what;
        std::vector<tessel_port_num_entry_type> answer;
        bytes ctrlr_resync;
        uint32_t lc1_count;
    };
    const answer_case cases[] = {
        {"the answer names both: both stay",
         {{0x1001, 1}, {0x1002, 2}},
         {0, 0, 0, 2, 0, 0, 0x10, 0x01, 0, 1, 0, 0, 0, 0, 0x10, 0x02, 0, 2, 0, 0},
         2},
        // Asked once, and now every grant is one the agent has seen: a list of its own accord
        // that omits a number gives it up, as before.
        {"a later list of its own accord that omits one sweeps it",
         {{0x1002, 2}},
         {0, 0, 0, 1, 0, 0, 0x10, 0x02, 0, 2, 0, 0},
         1},
    };
    for (const answer_case &c : cases) {
        SCOPED_TRACE(c.what);
        clear();
        send(lc1, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, entries_msg(c.answer));
        ASSERT_EQ(lc1.got.size(), 1u);
        EXPECT_EQ(lc1.got[0].type, PTP_COMMS_MSG_PORT_NUM_CTRLR_RESYNC);
        EXPECT_EQ(lc1.got[0].body, c.ctrlr_resync);
        EXPECT_EQ(node_count(LC1), c.lc1_count);
    }
    EXPECT_EQ(node_count(LC2), 2u);
    EXPECT_EQ(quorrin_port_num_get_active_count(), 3u);
    EXPECT_TRUE(lc2.got.empty() && lc3.got.empty());

    // An answer that still does not name a number it was granted before the question gives it up.
    request(lc3, {0x3001}); // 1
    clear();
    send(lc3, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, entries_msg({}));
    ASSERT_EQ(lc3.got.size(), 1u);
    EXPECT_EQ(lc3.got[0].type, PTP_COMMS_MSG_PORT_NUM_RESYNC_REQUEST);
    send(lc3, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, entries_msg({}));
    ASSERT_EQ(lc3.got.size(), 2u);
    EXPECT_EQ(lc3.got[1].type, PTP_COMMS_MSG_PORT_NUM_CTRLR_RESYNC);
    EXPECT_EQ(lc3.got[1].body, (bytes{0, 0, 0, 0}));
    EXPECT_EQ(quorrin_port_num_lookup(0x3001, nullptr), 0);
}

TEST_F(PortNum, AControllerWithNoNodeOnRecordWaitsForNobody)
{
    // A first start (empty table): the agents' answers to the resync request are answered at once
    // with their (empty) lists, and a request that follows gets its number without waiting out
    // the resync timer.
    quorrin_port_num_shutdown(false);
    chkpt_instance_type *fresh = chkpt_test_instance_new(nullptr);
    chkpt_go_primary(fresh);
    clear();
    ASSERT_EQ(quorrin_port_num_init(evm), 0u);
    quorrin_port_num_restore();
    plat_clock_settle();
    EXPECT_FALSE(quorrin_port_num_is_resync_running());
    ASSERT_EQ(lc1.got.size(), 1u);
    EXPECT_EQ(lc1.got[0].type, PTP_COMMS_MSG_PORT_NUM_RESYNC_REQUEST);
    send(lc1, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, entries_msg({}));
    ASSERT_EQ(lc1.got.size(), 2u);
    EXPECT_EQ(lc1.got[1].type, PTP_COMMS_MSG_PORT_NUM_CTRLR_RESYNC);
    EXPECT_EQ(lc1.got[1].body, (bytes{0, 0, 0, 0}));
    request(lc1, {0x1001});
    ASSERT_EQ(lc1.got.size(), 3u);
    EXPECT_EQ(lc1.got[2].type, PTP_COMMS_MSG_PORT_NUM_ALLOC);
    EXPECT_EQ(lc1.got[2].body, (bytes{0, 0, 0, 1, 0, 0, 0x10, 0x01, 0, 1, 0, 0}));

    quorrin_port_num_shutdown(true);
    chkpt_test_instance_use(nullptr);
    chkpt_test_instance_free(fresh);
}

TEST_F(PortNum, ControllerResyncAfterRestartRecoversFromTheCheckpoint)
{
    request(lc1, {0x1001, 0x1002}); // 1, 2
    request(lc2, {0x2001, 0x2002}); // 3, 4
    request(lc3, {0x3001});         // 5
    ASSERT_EQ(chkpt_test_record_count(QUORRIN_PORT_NUM_TABLE_ID), 5u);

    // A new controller instance reads the table back and asks every agent for its list. LC1
    // answers in full, LC2 lists only one of its two, LC3 stays silent.
    quorrin_port_num_shutdown(false);
    chkpt_instance_type *restarted = chkpt_test_instance_new(nullptr);
    chkpt_go_primary(restarted);
    clear();
    ASSERT_EQ(quorrin_port_num_init(evm), 0u);
    quorrin_port_num_restore();
    plat_clock_settle();
    EXPECT_EQ(quorrin_port_num_get_active_count(), 5u);
    EXPECT_EQ(quorrin_port_num_node_record_count(), 3u);
    ASSERT_TRUE(quorrin_port_num_is_resync_running());
    clear();

    send(lc1, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, entries_msg({{0x1001, 1}, {0x1002, 2}}));
    send(lc2, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, entries_msg({{0x2002, 4}}));
    // Until every node answered or the timer ran out, nobody is told anything.
    EXPECT_TRUE(lc1.got.empty() && lc2.got.empty());

    ASSERT_EQ(plat_clock_advance_ms(QUORRIN_PORT_NUM_RESYNC_MS), 0u);
    EXPECT_FALSE(quorrin_port_num_is_resync_running());
    ASSERT_EQ(lc1.got.size(), 1u);
    EXPECT_EQ(lc1.got[0].body, (bytes{0, 0, 0, 2, 0, 0, 0x10, 0x01, 0, 1, 0, 0, 0, 0, 0x10, 0x02, 0, 2, 0, 0}));
    ASSERT_EQ(lc2.got.size(), 1u);
    EXPECT_EQ(lc2.got[0].body, (bytes{0, 0, 0, 1, 0, 0, 0x20, 0x02, 0, 4, 0, 0}));
    // The silent node lost its numbers; never heard from, it cannot be told.
    EXPECT_TRUE(lc3.got.empty());
    const std::vector<std::string> lines = debug_captured();
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string &line) {
                               return line.find("PORT-NUM: Can't send resync message to node 0x30, comms handle "
                                                "unknown") != std::string::npos;
                           }),
              lines.end());
    EXPECT_EQ(quorrin_port_num_get_active_count(), 3u);
    EXPECT_EQ(chkpt_test_record_count(QUORRIN_PORT_NUM_TABLE_ID), 3u);

    quorrin_port_num_shutdown(true);
    EXPECT_EQ(chkpt_test_record_count(QUORRIN_PORT_NUM_TABLE_ID), 0u);
    chkpt_test_instance_use(nullptr);
    chkpt_test_instance_free(restarted);
}

TEST_F(PortNum, BadCheckpointEntriesAreDroppedOnRestore)
{
    quorrin_port_num_shutdown(true);
    // Entries written as a previous controller would have, and some it never would.
    chkpt_tbldesc_type desc;
    chkpt_tbldesc_init(&desc);
    desc.table_id = QUORRIN_PORT_NUM_TABLE_ID;
    desc.record_size = 16;
    desc.max_records = 16;
    chkpt_tbl_type *table = nullptr;
    ASSERT_EQ(chkpt_register(&desc, &table), 0u);
    auto put = [&](std::vector<uint32_t> words, size_t length) {
        uint8_t data[16] = {};
        std::memcpy(data, words.data(), words.size() * 4);
        chkpt_objid id = 0;
        ASSERT_EQ(chkpt_create(table, words[0], &id), 0u);
        if (length != 0) {
            ASSERT_EQ(chkpt_save(table, id, data, length), 0u);
        }
    };
    put({0x1001, 7, LC1}, 12);
    put({0x1002, 7, LC1}, 12);     // a number already taken
    put({0x1001, 8, LC1}, 12);     // an interface already numbered
    put({0x1003, 0, LC1}, 12);     // no number
    put({0x1004, 70000, LC1}, 12); // beyond the space
    put({0x1005, 9, LC1}, 8);      // short
    put({0x1006, 10, LC1}, 0);     // created, never written
    ASSERT_EQ(chkpt_unregister(table), 0u);

    clear();
    ASSERT_EQ(quorrin_port_num_init(evm), 0u);
    quorrin_port_num_restore();
    plat_clock_settle();
    EXPECT_EQ(quorrin_port_num_get_active_count(), 1u);
    EXPECT_EQ(quorrin_port_num_lookup(0x1001, nullptr), 7);
    EXPECT_EQ(chkpt_test_record_count(QUORRIN_PORT_NUM_TABLE_ID), 1u);
}

TEST_F(PortNum, LeavingNodeLosesItsNumbersUnlessItClaimsThem)
{
    request(lc1, {0x1001}); // 1
    request(lc2, {0x2001}); // 2
    clear();

    comms_disconnect(lc1.conn);
    lc1.conn = nullptr;
    comms_disconnect(lc2.conn);
    lc2.conn = nullptr;
    plat_clock_settle();
    ASSERT_EQ(plat_clock_advance_ms(QUORRIN_PORT_NUM_NODE_MS - 1000), 0u);
    EXPECT_EQ(quorrin_port_num_get_active_count(), 2u);

    // LC1 comes back and claims its number in time; LC2 does not.
    connect(lc1, LC1);
    send(lc1, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, entries_msg({{0x1001, 1}}));
    ASSERT_EQ(plat_clock_advance_ms(1000), 0u);
    EXPECT_EQ(quorrin_port_num_lookup(0x1001, nullptr), 1);
    EXPECT_EQ(quorrin_port_num_lookup(0x2001, nullptr), 0);
    EXPECT_EQ(node_count(LC2), 0xFFFFFFFFu);
    EXPECT_EQ(quorrin_port_num_get_active_count(), 1u);
}

TEST_F(PortNum, LinkLossAndFailedSendsRestartTheResync)
{
    request(lc1, {0x1001});
    clear();

    // Link down: nothing is asked until it is up again, and then at once.
    comms_test_set_link(RP, false);
    plat_clock_settle();
    comms_test_possible_lost(PTP_COMMS_PORT_NUM_CHANNEL);
    plat_clock_settle();
    EXPECT_FALSE(quorrin_port_num_is_resync_running());
    comms_test_set_link(RP, true);
    plat_clock_settle();
    EXPECT_TRUE(quorrin_port_num_is_resync_running());
    ASSERT_EQ(lc1.got.size(), 1u);
    EXPECT_EQ(lc1.got[0].type, PTP_COMMS_MSG_PORT_NUM_RESYNC_REQUEST);
    ASSERT_EQ(plat_clock_advance_ms(QUORRIN_PORT_NUM_RESYNC_MS), 0u);
    // Nobody answered: the number is gone.
    EXPECT_EQ(quorrin_port_num_get_active_count(), 0u);
    clear();

    // A reply that cannot be sent (the agent left meanwhile) queues a resynchronisation 5000 ms
    // later, which the agent, back again, answers.
    const comms_member_type *group = nullptr;
    ASSERT_EQ(comms_conn_get_group_member(lc1.conn, &group), 0u);
    const bytes body = handles_msg({0x1001});
    ASSERT_EQ(comms_msg_send(lc1.conn, group, PTP_COMMS_MSG_PORT_NUM_REQUEST, 1, body.data(), body.size(), 0), 0u);
    comms_disconnect(lc1.conn);
    connect(lc1, LC1);
    plat_clock_settle();
    EXPECT_TRUE(lc1.got.empty());
    EXPECT_TRUE(quorrin_port_num_is_resync_queued());
    ASSERT_EQ(plat_clock_advance_ms(QUORRIN_PORT_NUM_RESYNC_QUEUE_MS), 0u);
    ASSERT_EQ(lc1.got.size(), 1u);
    EXPECT_EQ(lc1.got[0].type, PTP_COMMS_MSG_PORT_NUM_RESYNC_REQUEST);
    send(lc1, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, entries_msg({{0x1001, 1}}));
    send(lc2, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, entries_msg({}));
    send(lc3, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, entries_msg({}));
    EXPECT_FALSE(quorrin_port_num_is_resync_running());
    ASSERT_EQ(lc1.got.size(), 2u);
    EXPECT_EQ(lc1.got[1].body, (bytes{0, 0, 0, 1, 0, 0, 0x10, 0x01, 0, 1, 0, 0}));
}

TEST_F(PortNum, EveryAllocationOfALargeRequestIsWrittenAfterTheAnswer)
{
    // More entries than one turn of the event loop writes.
    std::vector<uint32_t> handles;
    for (uint32_t i = 0; i < 150; i++) {
        handles.push_back(0x1000 + i);
    }
    request(lc1, handles);
    ASSERT_EQ(lc1.got.size(), 1u);
    EXPECT_EQ(lc1.got[0].type, PTP_COMMS_MSG_PORT_NUM_ALLOC);
    EXPECT_EQ(chkpt_test_record_count(QUORRIN_PORT_NUM_TABLE_ID), 150u);
    // A released number takes its entry with it.
    request(lc2, {0x2001, 0x2002});
    release(lc2, {0x2001});
    EXPECT_EQ(chkpt_test_record_count(QUORRIN_PORT_NUM_TABLE_ID), 151u);
}

TEST_F(PortNum, OnlyThePrimaryWritesTheCheckpoint)
{
    quorrin_fake_ha_role() = 2;
    request(lc1, {0x1001});
    EXPECT_EQ(chkpt_test_record_count(QUORRIN_PORT_NUM_TABLE_ID), 0u);
    quorrin_fake_ha_role() = 1;
    request(lc1, {0x1001}); // asked again: the entry is written now
    EXPECT_EQ(chkpt_test_record_count(QUORRIN_PORT_NUM_TABLE_ID), 1u);
}

} // namespace
