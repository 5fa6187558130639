// System-wide selection across the chassis, every node a process of its own under the platform
// daemon: the controller (started by the process manager on the route processor), two line cards
// with an agent each (selection_node agent), and a third line card whose two interfaces are
// masters linked to the agents' ports (selection_node master), the one towards the first line
// card better. The first agent's port becomes the path to the grandmaster; the second agent's port
// goes Master and, once the servo has synchronised to the grandmaster, advertises its clock. When
// the grandmaster's feed stops, the chassis advertises its own clock, which holds the
// grandmaster's time: its timescale and UTC offset stay the grandmaster's, so that a slave of the
// second port sees no jump.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "chassis_test_util.h"
#include "daemon_test_child.h"
#include "sysmgr_host.h"

namespace {

constexpr uint64_t BETTER_ID = 0x020000fffe00aa01ull; // priority1 100, towards 0/1/CPU0
constexpr uint64_t WORSE_ID = 0x020000fffe00bb02ull;  // priority1 120, towards 0/2/CPU0

// A node process's lines, read as they come.
struct node_proc {
    child_type child;
    std::vector<std::string> lines = {};

    void read_available()
    {
        pollfd p{fileno(child.out), POLLIN, 0};
        char buf[512];
        while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0) {
            if (std::fgets(buf, sizeof buf, child.out) == nullptr) {
                return;
            }
            std::string l(buf);
            if (!l.empty() && l.back() == '\n') {
                l.pop_back();
            }
            lines.push_back(l);
        }
    }
    // The last line that begins with prefix, without it ("" when none).
    std::string last(const std::string &prefix) const
    {
        for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
            if (it->rfind(prefix, 0) == 0) {
                return it->substr(prefix.size());
            }
        }
        return "";
    }
    std::string all() const
    {
        std::string out;
        for (const std::string &l : lines) {
            out += l + "\n";
        }
        return out;
    }
};

std::string hex(uint64_t v)
{
    std::ostringstream o;
    o << std::hex << v;
    return o.str();
}

// What the masters announce: class 13 on the PTP timescale, UTC offset 37, valid.
const std::string GM_TIME = "PTP 37 valid";
const std::string GM_ADVERTISED = hex(BETTER_ID) + " 13 " + GM_TIME;

// The time properties of an "advertised <id> <class> <time properties>" line.
std::string time_of(const std::string &advertised)
{
    const size_t id_end = advertised.find(' ', std::string("advertised ").size());
    const size_t class_end = id_end == std::string::npos ? id_end : advertised.find(' ', id_end + 1);
    return class_end == std::string::npos ? "" : advertised.substr(class_end + 1);
}

TEST(QuorrinSelection, TheBetterMastersAgentIsThePathTheOtherAdvertisesTheGrandmasterAndItsTimeOnceLost)
{
    char tmpl[] = "/tmp/quorrin_selection_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string chassis = dir + "/chassis.toml", socket = dir + "/run/platform.sock";
    const auto intf = [](const char *name, const char *handle, const char *mac, const char *link) {
        return std::string("[[node.interface]]\nname = \"") + name + "\"\nhandle = " + handle +
               "\ntype = 15\nmac = \"" + mac + "\"\nlink = \"" + link + "\"\n";
    };
    std::ofstream(chassis) << "[chassis]\nlr_mac = \"02:00:5e:10:00:01\"\n"
                           << "[[node]]\nname = \"0/RP0/CPU0\"\nid = 0x100\nrole = \"rp\"\nkvolm = true\n"
                           << "[[node]]\nname = \"0/1/CPU0\"\nid = 0x10\nrole = \"lc\"\n"
                           << intf("Gi0/1/0/0", "0x1001", "02:00:00:00:10:01", "0/3/CPU0:Gm0/3/0/0")
                           << "[[node]]\nname = \"0/2/CPU0\"\nid = 0x20\nrole = \"lc\"\n"
                           << intf("Gi0/2/0/0", "0x2001", "02:00:00:00:20:01", "0/3/CPU0:Gm0/3/0/1")
                           << "[[node]]\nname = \"0/3/CPU0\"\nid = 0x30\nrole = \"lc\"\n"
                           << intf("Gm0/3/0/0", "0x3001", "02:00:00:00:30:01", "0/1/CPU0:Gi0/1/0/0")
                           << intf("Gm0/3/0/1", "0x3002", "02:00:00:00:30:02", "0/2/CPU0:Gi0/2/0/0")
                           << "[[process]]\nname = \"quorrin\"\nprogram = \"" << QUORRIN_PATH << "\"\nnodes = \"rp\"\n";
    const std::string prefix = "quorrin_selection_test." + std::to_string(getpid()) + ".";
    const std::string library = dir + "/libnodra.so";
    std::ofstream(library) << "";
    const std::map<std::string, std::string> common = {{"PTP_CHASSIS", chassis},   {"PTP_RUN_DIR", dir},
                                                       {"PTP_SYSLOG", "0"},        {"PTP_CLOCK_PREFIX", prefix},
                                                       {"PTP_NODRA_LIB", library}, {"PTP_NODRA_DB", dir + "/nodra.db"}};
    child_type daemon = spawn({PLATFORMD_PATH, "--socket", socket}, common);
    ASSERT_TRUE(wait_for([&] { return state_of(socket, "quorrin") == "ready"; }, std::chrono::seconds(20)))
        << state_of(socket, "quorrin");
    // PTP is configured: the controller's platform clock comes up.
    std::ofstream(dir + "/commands") << "set /cfg/gl/ptp/pi/enable 1\ncommit\n";
    const std::string command = std::string(NODRACTL_PATH) + " --socket " + socket + " -f " + dir + "/commands";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    const auto node_env = [&](const char *node) {
        std::map<std::string, std::string> env = common;
        env["PTP_PLATFORM_SOCKET"] = socket;
        env["PTP_NODE"] = node;
        env["SHMWIN_PREFIX"] = prefix + node + ".";
        return env;
    };
    node_proc master{spawn(
        {SELECTION_NODE_PATH, "master", "0x3001", "100", "0x" + hex(BETTER_ID), "0x3002", "120", "0x" + hex(WORSE_ID)},
        node_env("0x30"))};
    node_proc path{spawn({SELECTION_NODE_PATH, "agent", "Gi0/1/0/0", "0x1001"}, node_env("0x10"))};
    node_proc other{spawn({SELECTION_NODE_PATH, "agent", "Gi0/2/0/0", "0x2001"}, node_env("0x20"))};

    const bool settled = wait_for(
        [&] {
            path.read_available();
            other.read_available();
            return path.last("state ") == "Slave" && other.last("state ") == "Master" &&
                   path.last("gm ") == hex(BETTER_ID) && other.last("gm ") == hex(BETTER_ID) &&
                   other.last("advertised ") == GM_ADVERTISED;
        },
        std::chrono::seconds(60));
    master.read_available();
    EXPECT_TRUE(settled) << "path agent:\n"
                         << path.all() << "other agent:\n"
                         << other.all() << "master:\n"
                         << master.all();
    // Both agents hold the better master as the system's best master (read with the states above).
    EXPECT_EQ(path.last("gm "), hex(BETTER_ID));
    EXPECT_EQ(other.last("gm "), hex(BETTER_ID));
    EXPECT_EQ(other.last("advertised "), GM_ADVERTISED);
    EXPECT_EQ(state_of(socket, "quorrin"), "ready") << "the controller kept running";

    // The grandmaster's feed stops: the path's port times out, and the chassis advertises its own
    // clock with the time properties of the grandmaster's time it holds.
    stop(master.child);
    const bool lost = wait_for(
        [&] {
            other.read_available();
            const std::string a = other.last("advertised ");
            return !a.empty() && a.rfind(hex(BETTER_ID) + " ", 0) != 0;
        },
        std::chrono::seconds(30));
    path.read_available();
    ASSERT_TRUE(lost) << "other agent:\n" << other.all() << "path agent:\n" << path.all();
    bool since_lock = false;
    for (const std::string &l : other.lines) {
        since_lock = since_lock || l == "advertised " + GM_ADVERTISED;
        if (since_lock && l.rfind("advertised ", 0) == 0) {
            EXPECT_EQ(time_of(l), GM_TIME) << other.all();
        }
    }
    EXPECT_EQ(state_of(socket, "quorrin"), "ready") << "the controller kept running";

    for (node_proc *p : {&other, &path}) {
        stop(p->child);
    }
    stop(daemon);
    std::filesystem::remove_all(dir);
    // The node clocks and the agents' counters windows outlive the processes killed above.
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0) {
            std::filesystem::remove(entry.path(), ec);
        }
    }
}

} // namespace
