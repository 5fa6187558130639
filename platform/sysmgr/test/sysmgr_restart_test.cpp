// The process manager waits longer before each restart of a process that keeps dying soon after
// its start, and gives it up as failed, with how it last ended, after a limit; one that lived
// long enough starts the count again. On virtual time: the processes really die, the waits are
// the clock's.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "chassis.h"
#include "evm_test.h"
#include "jotlog.h"
#include "plat_clock_test.h"
#include "sockmsg.h"
#include "sysmgr_host.h"
#include "sysmgr_test.h"

namespace {

struct row_type {
    int pid = -1;
    std::string state;
    unsigned restarts = 0;
    std::string last;
};

row_type row_of(const std::string &name)
{
    std::istringstream in(sysmgr_host_process_table());
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string node, proc;
        row_type r;
        if (f >> node >> proc >> r.pid >> r.state >> r.restarts >> r.last && proc == name)
            return r;
    }
    return {};
}

class ProcessManagerRestarts : public ::testing::Test {
protected:
    // The manager of one line card that runs one process, described by its [[process]] lines.
    void start(const std::string &process)
    {
        plat_clock_use_virtual();
        char tmpl[] = "/tmp/sysmgr_restart_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        jotlog_set_run_dir(dir_.c_str());
        std::string error;
        ASSERT_EQ(chassis_load_text("[[node]]\nname = \"0/1/CPU0\"\nid = 0x10\nrole = \"lc\"\n[[process]]\n" + process,
                                    "chassis.toml", &chassis_, &error),
                  0u)
            << error;
        sysmgr_test_set_chassis(chassis_);
        evm_ = event_create_manager(nullptr, nullptr, 0);
        ASSERT_NE(evm_, nullptr);
        ASSERT_EQ(sockmsg_server_create(evm_, (dir_ + "/platform.sock").c_str(), &server_), 0u);
        ASSERT_EQ(sysmgr_host_init(evm_, server_), 0u);
    }

    void TearDown() override
    {
        if (server_ != nullptr)
            sockmsg_server_destroy(server_);
        sysmgr_host_shutdown();
        if (evm_ != nullptr)
            event_manager_destroy(evm_);
        sysmgr_test_reset();
        chassis_free(chassis_);
        jotlog_set_run_dir(nullptr);
        plat_clock_use_real();
        std::filesystem::remove_all(dir_);
    }

    // Serves the manager, without moving the clock, until the process's row is as wanted: its
    // deaths come when the kernel reports them.
    template <typename F>
    ::testing::AssertionResult until(F wanted)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        row_type r;
        while (!wanted(r = row_of("p"))) {
            if (std::chrono::steady_clock::now() > end)
                return ::testing::AssertionFailure() << "state " << r.state << ", restarts " << r.restarts;
            evm_run_until_idle(evm_);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return ::testing::AssertionSuccess();
    }

    // Waits for the death of the process that runs now, and checks that it is started again
    // after delay_ms of the clock, not a millisecond earlier.
    void restarted_after(uint64_t delay_ms)
    {
        SCOPED_TRACE(delay_ms);
        const unsigned restarts = row_of("p").restarts;
        ASSERT_TRUE(until([](const row_type &r) { return r.state == "restarting"; }));
        ASSERT_EQ(plat_clock_advance_ms(delay_ms - 1), 0u);
        EXPECT_EQ(row_of("p").restarts, restarts);
        ASSERT_EQ(plat_clock_advance_ms(1), 0u);
        EXPECT_EQ(row_of("p").restarts, restarts + 1);
    }

    // The operator's request on the process (SYSMGR_WIRE_KILL, _STOP, _RESTART) over the
    // manager's socket, served here meanwhile; its status.
    uint32_t operator_request(uint16_t request)
    {
        std::atomic<bool> done{false};
        uint32_t status = UINT32_MAX;
        std::thread client([&] {
            sockmsg_client_type *c = nullptr;
            const uint8_t node_and_name[] = {0, 0, 0, 0x10, 'p'};
            if (sockmsg_client_connect((dir_ + "/platform.sock").c_str(), nullptr, nullptr, nullptr, nullptr, &c) ==
                0) {
                sockmsg_client_call(c, SYSMGR_SERVICE_ID, request, node_and_name, sizeof node_and_name, &status,
                                    nullptr);
                sockmsg_client_close(c);
            }
            done = true;
        });
        EXPECT_TRUE(until([&](const row_type &) { return done.load(); }));
        client.join();
        return status;
    }

    // The process's log, its pids as PID.
    std::string log() const
    {
        std::ifstream in(dir_ + "/0_1_CPU0.p.log");
        std::stringstream s;
        s << in.rdbuf();
        return std::regex_replace(s.str(), std::regex("pid [0-9]+"), "pid PID");
    }

    std::string dir_;
    chassis_desc_type *chassis_ = nullptr;
    event_mgr_type *evm_ = nullptr;
    sockmsg_server_type *server_ = nullptr;
};

struct crash_case {
    const char *name;
    const char *args;
    const char *last;
};

class CrashLoop : public ProcessManagerRestarts, public ::testing::WithParamInterface<crash_case> {};

// A process that dies at once is started again after 0.5, 1, 2, 4 and 8 s, then given up: failed,
// with its last exit status or signal, and it stays so until the operator restarts it.
TEST_P(CrashLoop, BacksOffThenGivesUp)
{
    const crash_case c = GetParam();
    start(std::string("name = \"p\"\nprogram = \"/bin/sh\"\nargs = ") + c.args + "\n");
    for (uint64_t delay_ms : {500, 1000, 2000, 4000, 8000})
        restarted_after(delay_ms);
    ASSERT_TRUE(until([](const row_type &r) { return r.state == "failed"; }));
    ASSERT_EQ(plat_clock_advance_s(600), 0u);
    const row_type r = row_of("p");
    EXPECT_EQ(r.state, "failed");
    EXPECT_EQ(r.pid, -1);
    EXPECT_EQ(r.restarts, 5u);
    EXPECT_EQ(r.last, c.last);
    std::string log = this->log();

    // The operator's restart starts it again, with the count started again.
    EXPECT_EQ(operator_request(SYSMGR_WIRE_RESTART), 0u);
    ASSERT_TRUE(until([](const row_type &r) { return r.restarts == 6; }));
    restarted_after(500);

    // How it ended, as LAST.
    log = std::regex_replace(log, std::regex(std::string("\\(") + c.last + "\\)"), "(LAST)");
    EXPECT_EQ(log, "2024-01-01 00:00:00.000000 process manager: 0/1/CPU0 p started, pid PID\n"
                   "2024-01-01 00:00:00.000000 process manager: 0/1/CPU0 p died (LAST); started again in 500 ms\n"
                   "2024-01-01 00:00:00.500000 process manager: 0/1/CPU0 p started, pid PID\n"
                   "2024-01-01 00:00:00.500000 process manager: 0/1/CPU0 p died (LAST); started again in 1000 ms\n"
                   "2024-01-01 00:00:01.500000 process manager: 0/1/CPU0 p started, pid PID\n"
                   "2024-01-01 00:00:01.500000 process manager: 0/1/CPU0 p died (LAST); started again in 2000 ms\n"
                   "2024-01-01 00:00:03.500000 process manager: 0/1/CPU0 p started, pid PID\n"
                   "2024-01-01 00:00:03.500000 process manager: 0/1/CPU0 p died (LAST); started again in 4000 ms\n"
                   "2024-01-01 00:00:07.500000 process manager: 0/1/CPU0 p started, pid PID\n"
                   "2024-01-01 00:00:07.500000 process manager: 0/1/CPU0 p died (LAST); started again in 8000 ms\n"
                   "2024-01-01 00:00:15.500000 process manager: 0/1/CPU0 p started, pid PID\n"
                   "2024-01-01 00:00:15.500000 process manager: 0/1/CPU0 p failed (LAST): 6 deaths in a row, each "
                   "within 10 s of its start; not started again until the operator's restart\n");
}

INSTANTIATE_TEST_SUITE_P(Ends, CrashLoop,
                         ::testing::Values(crash_case{"Exit", R"(["-c", "exit 3"])", "exit=3"},
                                           crash_case{"Signal", R"(["-c", "kill -SEGV $$"])", "signal=SEGV"}),
                         [](const ::testing::TestParamInfo<crash_case> &i) { return std::string(i.param.name); });

// Deaths soon after the start lengthen the wait; a process that then lives 10 s is restarted
// after the first wait again when it dies.
TEST_F(ProcessManagerRestarts, AProcessThatLivedLongEnoughStartsTheCountAgain)
{
    start("name = \"p\"\nprogram = \"/bin/sleep\"\nargs = [\"1000\"]\n");
    for (uint64_t delay_ms : {500, 1000, 2000}) {
        ASSERT_TRUE(until([](const row_type &r) { return r.pid > 0; }));
        kill(row_of("p").pid, SIGKILL);
        restarted_after(delay_ms);
    }
    ASSERT_TRUE(until([](const row_type &r) { return r.pid > 0; }));
    ASSERT_EQ(plat_clock_advance_ms(SYSMGR_RESTART_STABLE_MS), 0u);
    kill(row_of("p").pid, SIGKILL);
    restarted_after(500);
    EXPECT_EQ(row_of("p").last, "signal=KILL");
}

} // namespace
