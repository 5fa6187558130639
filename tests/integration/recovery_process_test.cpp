// Recovery from a kill -9, with the chassis' real processes under the daemon (the main job of
// scripts/run.sh): once the chassis is locked, each of its processes in turn (line card 0/1's
// agent, whose port follows the grandmaster; line card 0/2's, whose port serves the slave; the
// controller; the global verifier) is killed. The process manager starts it again and it
// recovers from its checkpoint: no port is seen going through Initializing or Listen, as one
// started from scratch does, and each ends in the state it had; the servo is never seen restarted
// (free-running, acquiring) or in holdover; and against ptp4l over unicast, the serving agent
// takes the grants it gave back from the checkpoint rather than from a new negotiation. The times
// and every state seen are printed, not bounded: the recovery benchmark measures them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>

#include "interop_env.h"
#include "recovery_probe.h"
#include "scenario.h"

namespace {

// Each value a path went through, in order (its words).
std::vector<std::string> words(const std::string &path)
{
    std::istringstream in(path.substr(path.find(": ") + 2));
    std::vector<std::string> out;
    for (std::string w; in >> w;) {
        out.push_back(w);
    }
    return out;
}

// Whether the path shows none of the states a start from scratch goes through (a port from
// Initializing and Listen, a servo from free-run through acquiring, or into holdover while its
// master went unheard), and ends in `state`. ("-": it could not be read while its process was
// down.)
::testing::AssertionResult not_restarted(const std::string &path, const std::string &state,
                                         const std::vector<std::string> &from_scratch)
{
    const std::vector<std::string> seen = words(path);
    for (const std::string &w : seen) {
        if (std::find(from_scratch.begin(), from_scratch.end(), w) != from_scratch.end()) {
            return ::testing::AssertionFailure() << path << ": " << w << " seen";
        }
    }
    if (seen.empty() || seen.back() != state) {
        return ::testing::AssertionFailure() << path << ": did not end " << state;
    }
    return ::testing::AssertionSuccess();
}

const std::vector<std::string> port_from_scratch = {"Initializing", "Listen", "Faulty"};
const std::vector<std::string> servo_from_scratch = {"Freerun", "Acquiring", "Holdover"};

class RecoveryTest : public ::testing::TestWithParam<bool> {};

TEST_P(RecoveryTest, AKilledProcessComesBackInTheStateItHad)
{
    const bool simulated = GetParam();
    if (!simulated) {
        if (const std::string missing = scenario::ptp4l_missing_prerequisite(); !missing.empty()) {
            GTEST_SKIP() << missing;
        }
    }
    recovery_options_type options;
    options.script = RUN_SCRIPT;
    options.build_dir = BUILD_DIR;
    options.simulated = simulated;
    // Against ptp4l the unicast configuration at once: its grants are what is to be kept.
    options.phase_seconds = simulated ? 600 : 1;
    options.debug = "/debug/ptp:port_mgr";
    recovery_run_type run;
    std::string why;
    ASSERT_TRUE(recovery_start(options, &run, &why)) << why << "\n" << recovery_stop(&run);
    for (const std::string &process : recovery_processes) {
        SCOPED_TRACE(process);
        ASSERT_TRUE(recovery_wait_locked(run, 3, 120)) << recovery_stop(&run);
        const recovery_result_type r = recovery_kill(run, process, 8);
        std::string report = process + ": restarted after " + std::to_string(r.restarted_s) + " s, back after " +
                             std::to_string(r.recovered_s) + " s\n";
        for (const std::string &path : r.paths) {
            report += "  " + path + "\n";
        }
        printf("%s", report.c_str());
        EXPECT_TRUE(r.restarted) << report;
        EXPECT_GE(r.recovered_s, 0) << report;
        ASSERT_EQ(r.paths.size(), 4u);
        EXPECT_TRUE(not_restarted(r.paths[0], "Slave", port_from_scratch)) << report;
        EXPECT_TRUE(not_restarted(r.paths[1], "Master", port_from_scratch)) << report;
        EXPECT_TRUE(not_restarted(r.paths[2], "PhaseAligned", servo_from_scratch)) << report;
        if (!simulated && process == "0/2/CPU0 tessel") {
            EXPECT_NE(r.restarted_log.find("Recovered unicast grant for peer IPv4 10.2.9.2 oninterface Gi0/2/0/1"),
                      std::string::npos)
                << report << r.restarted_log;
        }
    }
    recovery_stop(&run);
}

INSTANTIATE_TEST_SUITE_P(Runs, RecoveryTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &i) {
                             return std::string(i.param ? "Simulated" : "Ptp4lUnicast");
                         });

} // namespace
