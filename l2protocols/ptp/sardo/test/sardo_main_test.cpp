// The process entry with every module real, on the platform services in-process: start-up on the
// KVOLM node and elsewhere (the global items served only on the KVOLM node, from the logical-router
// event on), its start-up failures with their texts and exit status 1, and the exit with status 0
// after the last item of the configuration is removed, the last apply completing at teardown.
#include "sardo_main.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "chassis.h"
#include "evm_test_thread.h"
#include "jotlog_test.h"
#include "nodra_test.h"
#include "plat_clock_test.h"
#include "ptp_platform_test.h"
#include "ptp_trace_points.h"
#include "ptp_zerr.h"
#include "qor_log.h"
#include "sysmgr_test.h"

namespace {

constexpr uint32_t RP_NODE = 0x100;

nodra_commit_result_td commit(const char *path, const uint32_t *value)
{
    nodra_commit_td *c = nullptr;
    EXPECT_EQ(nodra_commit_create(&c), 0u);
    if (value != nullptr) {
        nodra_commit_set(c, path, NODRA_ITEM_DATATYPE_UINT32, value, sizeof *value);
    } else {
        nodra_commit_delete(c, path);
    }
    nodra_commit_result_td result{};
    EXPECT_EQ(nodra_commit_apply(c, &result), 0u);
    nodra_commit_free(c);
    return result;
}

// A global operational item as a show tool reads it.
zerrno oper_get(const char *item)
{
    nodra_conn_td *conn = nullptr;
    EXPECT_EQ(_nodra_bind(&conn, "/oper/ptp/gl/", 0), 0u);
    uint32_t type = NODRA_ITEM_DATATYPE_BAG;
    void *data = nullptr;
    uint32_t length = 0;
    const zerrno rc = nodra_item_get(conn, item, &type, &data, &length, 0);
    std::free(data);
    _nodra_unbind(conn);
    return rc;
}

template <typename F>
bool wait_for(F done)
{
    for (int i = 0; i < 5000 && !done(); i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

std::vector<std::string> syslog_lines()
{
    std::vector<std::string> out;
    for (const qor_captured_msg &m : qor_errmsg_captured()) {
        out.push_back(m.mnemonic + ": " + m.text);
    }
    return out;
}

class ProcessEntry : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat_clock_use_virtual();
        ptp_zerr_register_all();
        run_dir_ = jotlog_test_run_dir_create("sardo-main-test");
        std::string error;
        ASSERT_EQ(chassis_load(chassis_sample_path(), &chassis_, &error), 0u) << error;
        sysmgr_test_set_chassis(chassis_);
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        nodra_test_reset();
        reset_services();
    }
    // The route processor holding the KVOLM role, the database library, a platform doing PTP.
    static void reset_services()
    {
        sysmgr_test_set_node(RP_NODE);
        nodra_test_set_client_library_path("/dev/null");
        ptp_platform_test_reset();
        ptp_platform_test_set_scripted(true);
        ptp_platform_capability_info_type caps{};
        caps.flags = PTP_PLATFORM_CAP_PTP;
        ptp_platform_test_set_capability(2, caps);
    }
    void TearDown() override
    {
        if (process_.joinable()) {
            process_.join();
        }
        if (controller_bind_ != nullptr) {
            controller_.run([this] {
                nodra_edm_unregister(controller_registration_);
                _nodra_unbind(controller_bind_);
            });
        }
        EXPECT_EQ(nodra_test_open_bindings(), 0u);
        nodra_test_set_client_library_path(nullptr);
        ptp_platform_test_reset();
        sysmgr_test_reset();
        chassis_free(chassis_);
        jotlog_test_run_dir_remove(run_dir_);
        plat_clock_use_real();
    }

    // The controller's "grandmaster" under its node's path, as the controller publishes it.
    void publish_controller_item()
    {
        controller_.run([this] {
            ASSERT_EQ(_nodra_bind(&controller_bind_, "/oper/ptp/node/100/", 0), 0u);
            nodra_edm_fns_td fns{};
            nodra_edm_fns_init(&fns);
            nodra_edm_fns_get_init(&fns, [](nodra_edm_request_td *request, void *) {
                return nodra_edm_reply_set(request, NODRA_ITEM_DATATYPE_BAG, "gm", 2);
            });
            ASSERT_EQ(nodra_register_edm2(controller_bind_, "grandmaster", &fns, controller_.evm, nullptr, 0,
                                          &controller_registration_),
                      0u);
        });
    }

    // Runs the process on a thread of its own, as the process manager would; returns once it
    // signalled readiness.
    void start()
    {
        status_ = -1;
        process_ = std::thread([this] { status_ = sardo_main(0, nullptr); });
        ASSERT_TRUE(wait_for([] { return sysmgr_test_ready_count() == 1; }));
    }
    int finish()
    {
        process_.join();
        return status_;
    }

    // PTP enabled and disabled again: the process ends by itself.
    void enable_and_remove()
    {
        const uint32_t one = 1;
        ASSERT_EQ(commit("/cfg/gl/ptp/pi/enable", &one).outcome, NODRA_COMMIT_RESULT_APPLIED);
        const nodra_commit_result_td r = commit("/cfg/gl/ptp/pi/enable", nullptr);
        EXPECT_EQ(r.outcome, NODRA_COMMIT_RESULT_PENDING);
        EXPECT_EQ(finish(), 0);
        nodra_commit_result_td status{};
        ASSERT_EQ(nodra_commit_status(r.sequence, &status), 0u);
        EXPECT_EQ(status.outcome, NODRA_COMMIT_RESULT_APPLIED) << "the parked apply completed at teardown";
    }

    std::string run_dir_;
    chassis_desc_type *chassis_ = nullptr;
    evm_thread controller_;
    nodra_conn_td *controller_bind_ = nullptr;
    uint32_t controller_registration_ = 0;
    std::thread process_;
    std::atomic<int> status_{-1};
};

TEST_F(ProcessEntry, OnTheKvolmNodeServesTheGlobalItemsAndExitsAfterTheLastItem)
{
    publish_controller_item();
    start();
    EXPECT_EQ(oper_get("grandmaster"), 0u) << "read from the controller's node";
    EXPECT_EQ(sardo_main_get_node_id(), RP_NODE);
    enable_and_remove();
    EXPECT_EQ(sysmgr_test_exiting_count(), 1u);
    EXPECT_TRUE(syslog_lines().empty());
    EXPECT_EQ(sysmgr_test_target_node(), UINT32_MAX) << "no logical-router registration on the KVOLM node";

    // Its trace buffers saw the start and the exit.
    const std::vector<std::string> records = jotlog_test_records("ptp/sardo/sum");
    auto traced = [&](const ptp_trace_point_type &p) {
        char id[32];
        std::snprintf(id, sizeof id, "0x%lx(", static_cast<unsigned long>(ptp_trace_point_id(p)));
        return std::any_of(records.begin(), records.end(), [&](const std::string &r) { return r.rfind(id, 0) == 0; });
    };
    EXPECT_TRUE(traced(PTP_TRACE_SARDO_MAIN_START));
    EXPECT_TRUE(traced(PTP_TRACE_SARDO_MAIN_EXIT));
    EXPECT_TRUE(traced(PTP_TRACE_SARDO_CFG_GLOBAL_ENABLE));
}

TEST_F(ProcessEntry, ElsewhereServesTheGlobalItemsOnlyFromTheKvolmEvent)
{
    sysmgr_test_set_kvolm(false);
    publish_controller_item();
    start();
    EXPECT_EQ(sysmgr_test_target_node(), 0u);
    EXPECT_EQ(oper_get("grandmaster"), NODRA_ERR_NOT_FOUND) << "not served before the event";
    sysmgr_test_fire_lr_event(SYSMGR_LR_EVENT_KVOLM_ACTIVE);
    EXPECT_TRUE(wait_for([] { return oper_get("grandmaster") == 0; }));
    enable_and_remove();
}

TEST_F(ProcessEntry, StartUpFailuresRaiseTheirTextAndExitWithStatusOne)
{
    struct case_type {
        const char *what;
        void (*arrange)();
        std::string line;
    } cases[] = {
        {"capability API version 3",
         [] {
             ptp_platform_capability_info_type caps{};
             ptp_platform_test_set_capability(3, caps);
         },
         "INIT_FAILED: Failed to initialize: Failed to initialize platform capabilities: Unsupported API version"},
        {"capability init fails",
         [] { ptp_platform_test_set_result(ptp_platform_test_op::CAPABILITY_INIT, PTP_PLATFORM_ERR_NO_NODE); },
         "INIT_FAILED: Failed to initialize: Failed to initialize platform capabilities: " +
             std::string(zerr_strerror(PTP_PLATFORM_ERR_NO_NODE))},
        {"no database library", [] { nodra_test_set_client_library_path("/nonexistent/libnodra.so"); },
         "INIT_FAILED: Failed to initialize: Failed to bind to global Nodra bindpoint: " +
             std::string(zerr_strerror(NODRA_ERR_BIND_NO_LIBRARY))},
        {"node unknown", [] { sysmgr_test_set_node(0x999); },
         "INIT_FAILED: Failed to initialize: Failed to find KVOLM state: " +
             std::string(zerr_strerror(SYSMGR_ERR_NO_NODE))},
    };
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.what);
        qor_errmsg_capture_clear();
        c.arrange();
        EXPECT_EQ(sardo_main(0, nullptr), 1);
        EXPECT_EQ(syslog_lines(), (std::vector<std::string>{c.line}));
        EXPECT_EQ(sysmgr_test_ready_count(), 0u);
        EXPECT_EQ(nodra_test_open_bindings(), 0u) << "torn down";
        reset_services();
    }
}

} // namespace
