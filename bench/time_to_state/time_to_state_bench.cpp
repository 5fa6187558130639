// From the operator's commit to every port in its state, step by step. A chassis of this tree's
// programs under the platform daemon whose line card has N PTP interfaces with no peer (in-memory,
// unlinked), so that nothing but the pipeline itself is measured: the commit of every interface
// at once (as the line-card benchmark commits it: the first half slave only, the rest master
// only, a G.8275.1-style profile over Ethernet multicast), then the line card's port states as the
// summary counts them (one read a poll), until every master-only port is Master and every
// slave-only port Listening (no master is heard), and at the end the summary trace records of the
// agent, the controller and the global verifier from the commit on, each with its time since the
// commit (a run of one record text is shown once, with its count).
//
//   time_to_state_bench [--ports N] [--seconds S]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include "bench_chassis.h"
#include "oper_item_read.h"
#include "ptp_bags.h"

namespace {

double now_s()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string intf_name(int i)
{
    return "Gi0/1/0/" + std::to_string(i);
}

std::string chassis_toml(int ports)
{
    std::string s = "[chassis]\nlr_mac = \"02:00:5e:10:00:01\"\n\n"
                    "[[node]]\nname = \"0/RP0/CPU0\"\nid = 0x100\nrole = \"rp\"\nkvolm = true\n\n"
                    "[[node]]\nname = \"0/1/CPU0\"\nid = 0x010\nrole = \"lc\"\n\n";
    char mac[32];
    for (int i = 0; i < ports; i++) {
        std::snprintf(mac, sizeof mac, "02:00:5e:11:%02x:%02x", i >> 8, i & 0xff);
        s += "[[node.interface]]\nname = \"" + intf_name(i) + "\"\nhandle = " + std::to_string(0x01010000 + i) +
             "\ntype = 15\nmac = \"" + mac + "\"\n\n";
    }
    s += "[[process]]\nname = \"tessel\"\nprogram = \"tessel\"\nnodes = \"lc\"\nrestart_on_config = true\n\n"
         "[[process]]\nname = \"quorrin\"\nprogram = \"quorrin\"\nnodes = \"rp\"\n\n"
         "[[process]]\nname = \"sardo\"\nprogram = \"sardo\"\nnodes = \"rp\"\nrestart_on_global_config = true\n";
    return s;
}

std::string chassis_config(int ports, int slaves)
{
    std::string s = "set /cfg/gl/ptp/pi/enable 1\n"
                    "set /cfg/gl/ptp/pi/clock/profile (2,1)\n"
                    "set /cfg/gl/ptp/pi/clock/domain 24\n"
                    "set /cfg/gl/ptp/pi/profile/l2-8275-1/transport 1\n"
                    "set /cfg/gl/ptp/pi/profile/l2-8275-1/multicast (2,0,)\n";
    for (int i = 0; i < ports; i++) {
        const std::string p = "/cfg/if/act/" + intf_name(i) + "/ptp/pi/";
        s += "set " + p + "enable 1\nset " + p + "profile l2-8275-1\nset " + p + "port-state " +
             (i < slaves ? "1" : "2") + "\n";
    }
    return s + "commit\n";
}

struct summary_type {
    bool read = false;
    uint32_t init = 0, listening = 0, master = 0, total = 0, other = 0;
    bool operator==(const summary_type &) const = default;
};

summary_type summary()
{
    summary_type s;
    s.read = read_bag<ptp_summary_info>("/oper/ptp/gl/", "summary", ptp_summary_info_bag_getfn(),
                                        [&](const ptp_summary_info &i) {
                                            s.init = i.PortStateInitCount;
                                            s.listening = i.PortStateListeningCount;
                                            s.master = i.PortStateMasterCount;
                                            s.total = i.TotalInterfaces;
                                            s.other = s.total - s.init - s.listening - s.master;
                                        });
    return s;
}

// "2026-12-11 11:23:43.371181" as seconds since the epoch (local time, as the tool prints it).
double record_time(const std::string &date, const std::string &time)
{
    std::tm tm{};
    if (strptime((date + " " + time).c_str(), "%Y-%m-%d %H:%M:%S", &tm) == nullptr) {
        return 0;
    }
    tm.tm_isdst = -1;
    const size_t dot = time.find('.');
    return static_cast<double>(mktime(&tm)) + (dot == std::string::npos ? 0 : std::atof(time.substr(dot).c_str()));
}

// The summary trace records of a node from the commit on.
void print_trace(const bench_chassis_type &chassis, const char *node, double t_commit)
{
    const std::string cmd = "PTP_RUN_DIR='" + chassis.run_dir + "' PTP_NODE=" + node + " '" + BUILD_DIR +
                            "/l2protocols/ptp/mgmt/ptp_show_jotlog' -B 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    if (p == nullptr) {
        return;
    }
    std::string last;
    double last_t = 0;
    int repeats = 0;
    auto flush = [&] {
        if (repeats > 0) {
            std::printf("  %8.3f s %s%s\n", last_t - t_commit, last.c_str(),
                        repeats > 1 ? (" (x" + std::to_string(repeats) + ")").c_str() : "");
        }
    };
    char buf[4096];
    while (std::fgets(buf, sizeof buf, p) != nullptr) {
        std::string line(buf);
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        // "<date> <time> <buffer> <pid>: <text>"
        const size_t a = line.find(' '), b = line.find(' ', a + 1), c = line.find(' ', b + 1),
                     d = line.find(": ", c + 1);
        if (d == std::string::npos) {
            continue;
        }
        const std::string buffer = line.substr(b + 1, c - b - 1);
        if (buffer.size() < 4 || buffer.compare(buffer.size() - 4, 4, "/sum") != 0) {
            continue;
        }
        const double t = record_time(line.substr(0, a), line.substr(a + 1, b - a - 1));
        if (t < t_commit) {
            continue;
        }
        const std::string text = buffer + " " + line.substr(d + 2);
        if (text == last) {
            repeats++;
            continue;
        }
        flush();
        last = text;
        last_t = t;
        repeats = 1;
    }
    flush();
    pclose(p);
}

} // namespace

int main(int argc, char **argv)
{
    int ports = 2000;
    double seconds = 30;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--ports") {
            ports = std::max(2, std::atoi(argv[i + 1]));
        } else if (a == "--seconds") {
            seconds = std::max(1.0, std::atof(argv[i + 1]));
        } else {
            std::fprintf(stderr, "usage: time_to_state_bench [--ports N] [--seconds S]\n");
            return 2;
        }
    }
    if (argc % 2 == 0) {
        std::fprintf(stderr, "usage: time_to_state_bench [--ports N] [--seconds S]\n");
        return 2;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const int slaves = ports / 2;
    std::printf("time_to_state_bench: %d interfaces without peers on line card 0/1/CPU0 (%d slave only, %d master "
                "only); load average %s\n",
                ports, slaves, ports - slaves, bench_loadavg().c_str());
    bench_chassis_type chassis;
    std::string why;
    if (!bench_chassis_start(chassis_toml(ports), &chassis, &why)) {
        std::printf("time_to_state_bench: %s\n", why.c_str());
        bench_chassis_stop(&chassis);
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));

    const double t_commit = now_s();
    const std::string said = bench_chassis_ctl(chassis, "-f -", chassis_config(ports, slaves));
    std::printf("  %8.3f s commit acknowledged (%s)\n", now_s() - t_commit, said.substr(0, said.find('\n')).c_str());
    summary_type last;
    double in_state = -1;
    while (now_s() - t_commit < seconds) {
        const summary_type s = summary();
        if (!(s == last)) {
            std::printf("  %8.3f s ports: %u, Init %u, Listening %u, Master %u, other %u\n", now_s() - t_commit,
                        s.total, s.init, s.listening, s.master, s.other);
            last = s;
        }
        if (s.total == static_cast<uint32_t>(ports) && s.master == static_cast<uint32_t>(ports - slaves) &&
            s.listening == static_cast<uint32_t>(slaves)) {
            in_state = now_s() - t_commit;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (in_state < 0) {
        std::printf("time_to_state_bench: not every port in its state after %.0f s\n", seconds);
    } else {
        std::printf("from the commit to every port in its state: %.3f s\n", in_state);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::printf("trace records from the commit on, route processor:\n");
    print_trace(chassis, "0/RP0/CPU0", t_commit);
    std::printf("trace records from the commit on, line card:\n");
    print_trace(chassis, "0/1/CPU0", t_commit);
    std::printf("load average at the end: %s\n", bench_loadavg().c_str());
    bench_chassis_stop(&chassis);
    return in_state < 0 ? 1 : 0;
}
