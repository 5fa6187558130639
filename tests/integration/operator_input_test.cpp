// Operator input through the command line program against a running chassis (the daemon, the
// global verifier and the controller on the route processor, an agent on each of two line
// cards): every bad batch gets a clear error naming the item, nothing of it is applied and no
// process is restarted; a commit racing the kill of the agent that verifies it is refused, never
// applied unverified; and an agent started on configuration that nobody could verify checks what
// it is replayed, reports what it refuses as a configuration error and does not apply it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "chassis_test_util.h"
#include "daemon_test_child.h"
#include "jotlog.h"
#include "ptp_trace_points.h"
#include "sockmsg.h"
#include "sysmgr_host.h"

namespace {

std::string table_text(const std::vector<proc_row> &rows)
{
    std::string out;
    for (const proc_row &r : rows) {
        out += r.node + " " + r.name + " " + std::to_string(r.pid) + " " + r.state + " " + std::to_string(r.restarts) +
               "\n";
    }
    return out;
}

// Commit numbers depend on what ran before; the texts do not.
std::string without_sequence(const std::string &out)
{
    return std::regex_replace(out, std::regex("commit [0-9]+: "), "commit N: ");
}

const std::string IF1 = "/cfg/if/act/Gi0/1/0/1/ptp/pi/";
const std::string IF2 = "/cfg/if/act/Gi0/2/0/1/ptp/pi/";

class OperatorInput : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/operator_input_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        socket_ = dir_ + "/run/platform.sock";
        prefix_ = "operator_input_test." + std::to_string(getpid()) + ".";
        std::ofstream(dir_ + "/chassis.toml")
            << "[chassis]\nlr_mac = \"02:00:5e:10:00:01\"\n"
            << "[[node]]\nname = \"0/RP0/CPU0\"\nid = 0x100\nrole = \"rp\"\nkvolm = true\n"
            << "[[node]]\nname = \"0/1/CPU0\"\nid = 0x10\nrole = \"lc\"\n"
            << "[[node.interface]]\nname = \"Gi0/1/0/1\"\nhandle = 0x01000100\ntype = 15\n"
            << "[[node]]\nname = \"0/2/CPU0\"\nid = 0x20\nrole = \"lc\"\n"
            << "[[node.interface]]\nname = \"Gi0/2/0/1\"\nhandle = 0x02000100\ntype = 15\n"
            << "[[process]]\nname = \"quorrin\"\nprogram = \"" << QUORRIN_PATH << "\"\nnodes = \"rp\"\n"
            << "[[process]]\nname = \"sardo\"\nprogram = \"" << SARDO_PATH << "\"\nnodes = \"rp\"\n"
            << "[[process]]\nname = \"tessel\"\nprogram = \"" << TESSEL_PATH
            << "\"\nnodes = \"lc\"\nrestart_on_config = true\n";
        // The database client library the processes look for before they bind.
        const std::string library = dir_ + "/libnodra.so";
        std::ofstream(library) << "";
        // What the daemon and its processes write on standard error is kept: the configuration
        // errors an agent reports go there.
        daemon_ =
            spawn({"/bin/sh", "-c", "exec '" PLATFORMD_PATH "' --socket '" + socket_ + "' 2>'" + dir_ + "/stderr'"},
                  {{"PTP_CHASSIS", dir_ + "/chassis.toml"},
                   {"PTP_RUN_DIR", dir_},
                   {"PTP_SYSLOG", "0"},
                   {"PTP_CLOCK_PREFIX", prefix_},
                   {"SHMWIN_PREFIX", prefix_},
                   {"PTP_NODRA_LIB", library},
                   {"PTP_NODRA_DB", dir_ + "/nodra.db"}});
        jotlog_set_run_dir(dir_.c_str());
        for (const char *name : {"quorrin", "sardo", "tessel"}) {
            ASSERT_TRUE(wait_for([&] {
                const std::vector<proc_row> rows = processes(socket_);
                size_t ready = 0, all = 0;
                for (const proc_row &r : rows) {
                    all += r.name == name ? 1 : 0;
                    ready += r.name == name && r.state == "ready" ? 1 : 0;
                }
                return all > 0 && ready == all;
            })) << table_text(processes(socket_));
        }
        const std::string out = ctl("set /cfg/gl/ptp/pi/enable 1\nset /cfg/gl/ptp/pi/clock/domain 24\n"
                                    "set " +
                                    IF1 + "enable 1\nset " + IF1 + "ipv4-ttl 9\nset " + IF2 + "enable 1\ncommit\n");
        ASSERT_EQ(without_sequence(out), "commit N: applied\n");
    }

    void TearDown() override
    {
        stop(daemon_);
        jotlog_set_run_dir(nullptr);
        shm_remove_prefixed(prefix_);
        if (!HasFailure()) {
            std::error_code ec;
            std::filesystem::remove_all(dir_, ec);
        } else if (!dir_.empty()) {
            std::cerr << "kept " << dir_ << "\n";
        }
    }

    // The command line program with `input` as its file of commands: what it printed.
    std::string ctl(const std::string &input)
    {
        std::ofstream(dir_ + "/commands", std::ios::binary) << input;
        const std::string cmd = std::string(NODRACTL_PATH) + " --socket " + socket_ + " -f " + dir_ + "/commands 2>&1";
        std::string out;
        if (FILE *p = popen(cmd.c_str(), "r")) {
            char buf[4096];
            size_t n = 0;
            while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
                out.append(buf, n);
            }
            pclose(p);
        }
        return out;
    }

    std::string config() { return ctl("show config\n"); }

    // What the processes wrote on standard error, and in logs of their own, so far.
    std::string logs()
    {
        std::string all;
        for (const auto &e : std::filesystem::recursive_directory_iterator(dir_)) {
            const std::string name = e.path().filename().string();
            if (e.is_regular_file() && (name == "stderr" || e.path().extension() == ".log")) {
                std::ifstream in(e.path(), std::ios::binary);
                all += std::string(std::istreambuf_iterator<char>(in), {});
            }
        }
        return all;
    }

    std::string dir_, socket_, prefix_;
    child_type daemon_;
};

constexpr const char *ANNCE_TEXT =
    "Failed to verify the announce interval value. The announce interval must be less than 16 seconds and greater "
    "than 128 packets per second.The maximum frequency supported by the platform is 128 packets per second";
constexpr const char *TOUT_TEXT = "Failed to verify the announce timeout value. It must be within the specified range";

TEST_F(OperatorInput, BadBatchesAreRefusedWithAClearErrorAndChangeNothing)
{
    const std::string long_name(200, 'x');
    const std::string mib(1u << 20, '7');
    struct case_type {
        const char *name;
        std::string input;
        std::string output;
    } cases[] = {
        {"an interval unit that does not exist", "set " + IF1 + "announce-interval (7,7)\ncommit\n",
         "commit N: rejected\n  " + IF1 + "announce-interval: 0x47f2a400 " + ANNCE_TEXT + "\n"},
        {"a letter inside a tuple", "set " + IF1 + "announce-interval (1,abc)\ncommit\n",
         "commit N: rejected\n  " + IF1 + "announce-interval: 0x47f2ba00 " + ANNCE_TEXT + "\n"},
        {"a plain number for a tuple", "set " + IF1 + "announce-interval 3\ncommit\n",
         "commit N: rejected\n  " + IF1 +
             "announce-interval: 0x40818216 Malformed configuration item "
             "'Gi0/1/0/1/ptp/pi/announce-interval': the value must be a tuple (unit,value)\n"},
        {"letters for a number", "set " + IF1 + "announce-timeout abc\ncommit\n",
         "commit N: rejected\n  " + IF1 +
             "announce-timeout: 0x40818216 Malformed configuration item "
             "'Gi0/1/0/1/ptp/pi/announce-timeout': the value must be a number\n"},
        {"out of range", "set " + IF1 + "announce-timeout 0\ncommit\n",
         "commit N: rejected\n  " + IF1 + "announce-timeout: 0x47f2a800 " + TOUT_TEXT + "\n"},
        {"one bad item among good ones",
         "set " + IF1 + "ipv4-ttl 12\nset " + IF1 + "announce-timeout 11\nset " + IF2 +
             "ipv4-ttl 10\n"
             "set /cfg/gl/ptp/pi/clock/domain 25\ncommit\n",
         "commit N: rejected\n  " + IF1 + "announce-timeout: 0x47f2a800 " + TOUT_TEXT + "\n"},
        {"a path no schema knows", "set /cfg/gl/ptpx/pi/enable 1\ncommit\n",
         "commit N: rejected\n  /cfg/gl/ptpx/pi/enable: 0x40818600 Unknown configuration item "
         "'/cfg/gl/ptpx/pi/enable'\n"},
        {"an item no agent knows", "set " + IF1 + "announce-timeoutt 3\ncommit\n",
         "commit N: rejected\n  " + IF1 +
             "announce-timeoutt: 0x40818600 Unknown configuration item "
             "'Gi0/1/0/1/ptp/pi/announce-timeoutt'\n"},
        {"an interface name of 200 characters", "set /cfg/if/act/" + long_name + "/ptp/pi/enable 1\ncommit\n",
         "commit N: rejected\n  /cfg/if/act/" + long_name +
             "/ptp/pi/enable: 0x47f2be00 Failed to verify the "
             "interface name. The string entered is too short or too long\n"},
        {"an empty path", "set \"\" 1\n", "error: set \"\" 1: not an absolute item path\n"},
        {"a path of a slash", "set / 1\n", "error: set / 1: not an absolute item path\n"},
        {"bytes that are not UTF-8", "set " + IF1 + "profile \"\xff\xfe\"\n",
         "error: set " + IF1 + "profile \"\\xff\\xfe\": bytes that are not UTF-8\n"},
        // An error echoes the first 200 bytes of its line and of its word, with their lengths.
        {"a line of 1 MiB", "set /cfg/gl/ptp/pi/clock/domain " + mib + "x\n",
         "error: " + ("set /cfg/gl/ptp/pi/clock/domain " + mib).substr(0, 200) + "... (" +
             std::to_string(mib.size() + 33) + " bytes): malformed number " + mib.substr(0, 200) + "... (" +
             std::to_string(mib.size() + 1) + " bytes)\n"},
        {"a path longer than the database takes", "set /cfg/gl/" + std::string(1100, 'p') + " 1\n",
         "error: set /cfg/gl/" + std::string(188, 'p') + "... (1114 bytes): item path longer than 1024 bytes\n"},
    };
    const std::string before = config();
    const std::string table = table_text(processes(socket_));
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(without_sequence(ctl(c.input)), c.output);
        EXPECT_EQ(config(), before);
        EXPECT_EQ(table_text(processes(socket_)), table);
    }
}

// A batch that kills the agent and commits one of its items at once: whether the commit meets the
// agent dying, gone or back again, the refused value is refused and nothing of the batch applied.
TEST_F(OperatorInput, ACommitRacingTheAgentsKillIsNeverAppliedUnverified)
{
    const std::string before = config();
    const std::vector<std::string> refusals = {
        "commit N: rejected\n  " + IF1 +
            "announce-timeout: 0x40818a00 The item cannot be verified while its verifier "
            "tessel@10 is not running\n",
        "commit N: rejected\n  " + IF1 +
            "announce-timeout: 0x40818a00 The item was not verified: its verifier "
            "tessel@10 ended before answering\n",
        "commit N: rejected\n  " + IF1 + "announce-timeout: 0x47f2a800 " + TOUT_TEXT + "\n"};
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const int pid = row_of(socket_, "0/1/CPU0", "tessel").pid;
        const std::string out = without_sequence(ctl("process kill 0/1/CPU0 tessel\nset " + IF1 +
                                                     "announce-timeout 0\n"
                                                     "set " +
                                                     IF2 + "ipv4-ttl 10\ncommit\n"));
        EXPECT_NE(std::find(refusals.begin(), refusals.end(), out), refusals.end()) << out;
        EXPECT_EQ(config(), before);
        ASSERT_TRUE(wait_for([&] {
            const proc_row r = row_of(socket_, "0/1/CPU0", "tessel");
            return r.state == "ready" && r.pid != pid;
        })) << table_text(processes(socket_));
    }
    // Left stopped, the agent's items are refused until it is back; a delete goes through.
    EXPECT_EQ(ctl("process stop 0/1/CPU0 tessel\n"), "");
    ASSERT_TRUE(wait_for([&] { return row_of(socket_, "0/1/CPU0", "tessel").state == "stopped"; }));
    EXPECT_EQ(without_sequence(ctl("set " + IF1 + "announce-timeout 5\ncommit\n")), refusals[0]);
    EXPECT_EQ(without_sequence(ctl("delete " + IF1 + "ipv4-ttl\ncommit\n")), "commit N: applied\n");
    EXPECT_EQ(ctl("process restart 0/1/CPU0 tessel\n"), "");
    ASSERT_TRUE(wait_for([&] { return row_of(socket_, "0/1/CPU0", "tessel").state == "ready"; }));
    EXPECT_TRUE(wait_for(
        [&] { return without_sequence(ctl("set " + IF1 + "announce-timeout 5\ncommit\n")) == "commit N: applied\n"; }));
}

// The second line card's agent leaves with its last interface; configuration for it comes back
// with a value it refuses. Nobody could verify it at the commit (which says so); the agent that
// starts on it reports the refused item and runs without it.
TEST_F(OperatorInput, AnAgentStartedOnUnverifiedConfigurationRefusesWhatItWouldHaveRefused)
{
    ASSERT_EQ(without_sequence(ctl("delete " + IF2 + "enable\ncommit\n")), "commit N: applied (completion pending)\n");
    ASSERT_TRUE(wait_for([&] { return row_of(socket_, "0/2/CPU0", "tessel").state == "stopped"; }))
        << table_text(processes(socket_));
    const std::string unverified = ": 0x40818a00 Stored without verification: no process that verifies the item is "
                                   "running; the one that takes it verifies it when it starts\n";
    EXPECT_EQ(without_sequence(ctl("set " + IF2 + "enable 1\nset " + IF2 + "announce-timeout 0\ncommit\n")),
              "commit N: applied\n  " + IF2 + "announce-timeout" + unverified + "  " + IF2 + "enable" + unverified);
    ASSERT_TRUE(wait_for([&] { return row_of(socket_, "0/2/CPU0", "tessel").state == "ready"; }))
        << table_text(processes(socket_));
    const std::string reported =
        "configuration error: " + IF2 + "announce-timeout: 0x47f2a800 " + TOUT_TEXT + ": stored, not applied\n";
    EXPECT_TRUE(wait_for([&] { return logs().find(reported) != std::string::npos; })) << logs();
    // It runs, with its interface, and verifies the next commit itself.
    EXPECT_EQ(without_sequence(ctl("set " + IF2 + "announce-timeout 4\ncommit\n")), "commit N: applied\n");
    EXPECT_EQ(row_of(socket_, "0/2/CPU0", "tessel").state, "ready");
}

} // namespace

// An operator reads an agent's item with the command line: the bag as its named fields, with the
// help texts and enumeration names of the description library (TZ=UTC: nothing in it is a time).
TEST_F(OperatorInput, AnAgentsItemReadsAsItsNamedFieldsWithHelpTexts)
{
    setenv("PTP_BAG_LIB", BAGWRIGHT_LIB, 1);
    const std::string out = ctl("get /oper/ptp/config-errors/if/Gi0/1/0/1\n");
    unsetenv("PTP_BAG_LIB");
    EXPECT_EQ(
        out,
        "ptp_if_config_errors_entry  # Interface Config Errors Entry\n"
        "  InterfaceName: Gi0/1/0/1  # Interface name\n"
        "  ConfigurationProfileName: (absent)  # Configuration profile name\n"
        "  ClockProfile: Default (0)  # Clock profile\n"
        "  TelecomClockType: Boundary (1)  # Telecom clock type\n"
        "  RestrictPortState: Any (0)  # Restrict port state\n"
        "  InteropProfile: (absent)  # Interop profile\n"
        "  ConfigurationErrors:  # Configuration errors\n"
        "    GlobalPTP: false  # Global PTP\n"
        "    EthernetTransport: false  # Ethernet transport\n"
        "    OneStep: false  # One step\n"
        "    Slave: false  # Slave\n"
        "    IPv6: false  # IPv6\n"
        "    Multicast: false  # Multicast\n"
        "    ProfileNotGlobal: false  # Profile not global\n"
        "    LocalPriority: false  # Local priority\n"
        "    ProfileEthernet: false  # Profile ethernet\n"
        "    ProfileIPv4: false  # Profile IPv4\n"
        "    ProfileIPv6: false  # Profile IPv6\n"
        "    ProfileUnicast: false  # Profile unicast\n"
        "    ProfileMulticast: false  # Profile multicast\n"
        "    ProfileMixed: false  # Profile mixed\n"
        "    ProfileMasterUnicast: false  # Profile master unicast\n"
        "    ProfileMasterMulticast: false  # Profile master multicast\n"
        "    ProfileMasterMixed: false  # Profile master mixed\n"
        "    TargetAddressIPv4: false  # Target address IPv4\n"
        "    TargetAddressIPv6: false  # Target address IPv6\n"
        "    IPv4TTL: false  # IPv4 TTL\n"
        "    IPv6HopLimit: false  # IPv6 hop limit\n"
        "    ProfilePortState: false  # Profile port state\n"
        "    ProfileAnnounceInterval: false  # Profile announce interval\n"
        "    ProfileSyncInterval: false  # Profile sync interval\n"
        "    ProfileDelayReqInterval: false  # Profile delay req interval\n"
        "    ProfileSyncTimeout: false  # Profile sync timeout\n"
        "    ProfileDelayRespTimeout: false  # Profile delay resp timeout\n"
        "    InvalidGrantReduction: false  # Invalid grant reduction\n"
        "    InvalidInteropDomain: false  # Invalid interop domain\n"
        "    InvalidInteropIngressClockClassMapFromVals: 0 entries  # Invalid interop ingress clock class map from vals\n"
        "    InvalidInteropIngressClockClassMapToVals: 0 entries  # Invalid interop ingress clock class map to vals\n"
        "    InvalidInteropIngressClockClassDefault: false  # Invalid interop ingress clock class default\n"
        "    InvalidInteropIngressPriority1: false  # Invalid interop ingress priority1\n"
        "    InvalidInteropIngressClockAccuracy: false  # Invalid interop ingress clock accuracy\n"
        "    InvalidInteropIngressOSLV: false  # Invalid interop ingress OSLV\n"
        "    InvalidInteropEgressClockClassMapFromVals: 0 entries  # Invalid interop egress clock class map from vals\n"
        "    InvalidInteropEgressClockClassMapToVals: 0 entries  # Invalid interop egress clock class map to vals\n"
        "    InvalidInteropEgressClockClassDefault: false  # Invalid interop egress clock class default\n"
        "    InvalidInteropEgressPriority1: false  # Invalid interop egress priority1\n"
        "    InvalidInteropEgressPriority2: false  # Invalid interop egress priority2\n"
        "    InvalidInteropEgressClockAccuracy: false  # Invalid interop egress clock accuracy\n"
        "    InvalidInteropEgressOSLV: false  # Invalid interop egress OSLV\n"
        "    InvalidMasterConfigClockType: false  # Invalid master config clock type\n"
        "    InvalidSlaveConfigClockType: false  # Invalid slave config clock type\n"
        "    InvalidMasterConfigPortState: false  # Invalid master config port state\n"
        "    InvalidSlaveConfigPortState: false  # Invalid slave config port state\n"
        "    DelayAsymmetryConfigClockType: false  # Delay asymmetry config clock type\n"
        "    DelayAsymmetryConfigPortState: false  # Delay asymmetry config port state\n");
}
