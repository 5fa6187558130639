// What the main job prints of a running chassis, read from its operational data once a second:
// each port's state as it changes, the controller's grandmaster choice, the servo's state and
// its offset from the grandmaster, and the unicast grants each port holds or gave; at SIGINT or
// SIGTERM it writes a summary of each step of the job to FILE (time to lock after the grandmaster
// was chosen and after the step's commit, offset percentiles since the lock, the grants).
//
//   chassis_watch --controller-node HEX --summary FILE [--steps FILE] [--interface NAME]...
//
// The steps file has a line per configuration step as it is committed: "WALL_NS NAME", the
// wall-clock time of the commit in nanoseconds and what the step is. Without one the whole watch
// is one step from its start.
//
// The daemon is $PTP_PLATFORM_SOCKET; the controller serves its items below
// "/oper/ptp/node/<HEX>/".
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "nodra.h"
#include "plat_clock.h"
#include "ptp_bags.h"
#include "ptp_platform.h"
#include "ptp_strings.h"

namespace {

volatile sig_atomic_t stopping = 0;

void on_signal(int)
{
    stopping = 1;
}

// The servo's states by ptp_platform_servo_status_type.
const char *servo_name(uint32_t status)
{
    static constexpr const char *names[] = {"Unknown",    "Freerun",      "Acquiring",
                                            "FreqLocked", "PhaseAligned", "Holdover"};
    return status < std::size(names) ? names[status] : "Invalid";
}

void say(const std::string &line)
{
    printf("%s\n", line.c_str());
    fflush(stdout);
}

double now_s()
{
    return static_cast<double>(plat_clock_mono_ns()) / 1e9;
}

// One operational item decoded into its native record and handed to use() while its strings and
// arrays are still there. 0, or why not: the database's not-found codes when the item is absent,
// another code when it could not be read this time.
template <typename Record, typename Use>
zerrno read_bag(const std::string &dir, const std::string &name, const bag_descriptor_type *bag, Use use)
{
    nodra_conn_td *conn = nullptr;
    zerrno rc = _nodra_bind(&conn, dir.c_str(), 6);
    if (rc != 0)
        return rc;
    uint32_t type = NODRA_ITEM_DATATYPE_BAG;
    void *data = nullptr;
    uint32_t length = 0;
    rc = nodra_item_get(conn, name.c_str(), &type, &data, &length, 0);
    if (rc == 0) {
        Record r{};
        rc = type != NODRA_ITEM_DATATYPE_BAG ? NODRA_ERR_INVALID
                                             : bag_decode(static_cast<const uint8_t *>(data), length, &r, bag);
        if (rc == 0) {
            use(r);
            bag_free_indirections(&r, bag);
        }
    }
    free(data);
    _nodra_unbind(conn);
    return rc;
}

bool absent(zerrno rc)
{
    return rc == NODRA_ERR_NOT_FOUND || rc == NODRA_ERR_EDM_NOT_FOUND;
}

std::string clock_id_text(uint64_t id)
{
    char text[32];
    snprintf(text, sizeof text, "%06" PRIx64 ".%04" PRIx64 ".%06" PRIx64, id >> 40, (id >> 24) & 0xffff, id & 0xffffff);
    return text;
}

std::string percentiles(std::vector<int64_t> values)
{
    if (values.empty())
        return "no samples";
    for (int64_t &v : values)
        v = std::llabs(v);
    std::sort(values.begin(), values.end());
    std::string out;
    for (int p : {50, 90, 99}) {
        const size_t rank = std::max<size_t>(1, static_cast<size_t>(std::ceil(p / 100.0 * values.size())));
        out += "p" + std::to_string(p) + " " + std::to_string(values[rank - 1]) + " ns, ";
    }
    return out + "(" + std::to_string(values.size()) + " samples)";
}

// One configuration step: what it measured from its commit on.
struct step_type {
    std::string name;
    double started = 0;                       // its commit, monotonic seconds
    double grandmaster_since = 0;             // the last grandmaster choice in the step (else its start)
    std::optional<double> locked_after;       // from the choice
    std::optional<double> locked_after_start; // from the commit
    std::vector<int64_t> offsets_since_lock;
    std::map<std::string, std::string> grants; // per interface: the last grants seen in the step
};

struct watch_type {
    std::string controller; // "/oper/ptp/node/<id>/"
    std::vector<std::string> interfaces;
    std::map<std::string, uint32_t> ports;
    std::map<std::string, std::string> grants; // per interface, as last printed
    std::string grandmaster = "?";
    std::string advertised = "?";
    uint32_t servo = 0;
    const char *steps_path = nullptr;
    size_t steps_read = 0;
    std::vector<step_type> steps;
    step_type before; // with a steps file, what comes before its first step (not reported)
};

step_type new_step(const std::string &name, double started)
{
    step_type s;
    s.name = name;
    s.started = s.grandmaster_since = started;
    return s;
}

// The step at hand.
step_type &step(watch_type &w)
{
    if (w.steps.empty() && w.steps_path != nullptr)
        return w.before;
    if (w.steps.empty())
        w.steps.push_back(new_step("the chassis as it runs", now_s()));
    return w.steps.back();
}

// A step begins with each line of the steps file.
void watch_steps(watch_type &w)
{
    if (w.steps_path == nullptr)
        return;
    std::ifstream in(w.steps_path);
    std::string line;
    for (size_t n = 0; std::getline(in, line); ++n) {
        if (n < w.steps_read)
            continue;
        w.steps_read = n + 1;
        char *end = nullptr;
        const long long wall_ns = std::strtoll(line.c_str(), &end, 10);
        if (end == line.c_str() || *end != ' ')
            continue;
        const double started = now_s() - static_cast<double>(plat_clock_wall_ns() - wall_ns) / 1e9;
        w.steps.push_back(new_step(end + 1, started));
        say("step " + std::to_string(w.steps.size()) + ": " + (end + 1));
    }
}

void watch_ports(watch_type &w)
{
    for (const std::string &name : w.interfaces) {
        uint32_t state = 0;
        if (0 != read_bag<ptp_if_info>("/oper/ptp/interface/if/", name, ptp_if_info_bag_getfn(),
                                       [&](const ptp_if_info &info) { state = info.PortState; }))
            continue;
        auto it = w.ports.find(name);
        if (it == w.ports.end())
            say("port " + name + ": " + ptp_port_state_to_str(state));
        else if (it->second != state)
            say("port " + name + ": " + ptp_port_state_to_str(it->second) + " -> " + ptp_port_state_to_str(state));
        w.ports[name] = state;
    }
}

void watch_grandmaster(watch_type &w)
{
    std::string text = "none (the chassis' own clock)";
    const zerrno rc = read_bag<ptp_grandmaster_info>(
        w.controller, "grandmaster", ptp_grandmaster_info_bag_getfn(), [&](const ptp_grandmaster_info &gm) {
            char handle[16];
            snprintf(handle, sizeof handle, "0x%08x", gm.InterfaceHandle);
            text = "clock " + clock_id_text(gm.ClockProperties.ClockID) + " class " +
                   std::to_string(gm.ClockProperties.Class) + ", heard on interface " + handle;
        });
    if (rc != 0 && !absent(rc))
        return; // not read this time: nothing is known to have changed
    if (text != w.grandmaster) {
        say("controller's grandmaster: " + text);
        w.grandmaster = text;
        step(w).grandmaster_since = now_s();
        step(w).locked_after.reset();
        step(w).locked_after_start.reset();
    }
}

void watch_advertised(watch_type &w)
{
    std::string text;
    if (0 != read_bag<ptp_advertised_clock_info>(
                 w.controller, "advertised-clock", ptp_advertised_clock_info_bag_getfn(),
                 [&](const ptp_advertised_clock_info &adv) {
                     const ptp_bag_clock &c = adv.ClockProperties;
                     text = "clock " + clock_id_text(c.ClockID) + " class " + std::to_string(c.Class) +
                            ", steps removed " + std::to_string(c.StepsRemoved) + ", " +
                            ptp_clock_timescale_to_str(c.Timescale) + " timescale, UTC offset " +
                            std::to_string(c.UTCOffset.CurrentOffset) + (c.UTCOffset.OffsetValid ? " (valid)" : "");
                 }))
        return;
    if (text != w.advertised) {
        say("advertised: " + text);
        w.advertised = text;
    }
}

void watch_servo(watch_type &w)
{
    uint32_t status = 0;
    int64_t offset = 0, delay = 0;
    if (0 != read_bag<ptp_local_clock_info>(w.controller, "local-clock", ptp_local_clock_info_bag_getfn(),
                                            [&](const ptp_local_clock_info &local) {
                                                status = local.ServoStatus;
                                                offset = local.OffsetFromMaster;
                                                delay = local.MeanPathDelay;
                                            }))
        return;
    step_type &s = step(w);
    if (status != w.servo) {
        say(std::string("servo: ") + servo_name(w.servo) + " -> " + servo_name(status));
        if (status == PTP_PLATFORM_SERVO_STATUS_PHASE_ALIGNED && !s.locked_after) {
            s.locked_after = now_s() - s.grandmaster_since;
            s.locked_after_start = now_s() - s.started;
            s.offsets_since_lock.clear();
        }
        w.servo = status;
    }
    if (w.servo == PTP_PLATFORM_SERVO_STATUS_ACQUIRING || w.servo == PTP_PLATFORM_SERVO_STATUS_FREQ_LOCKED ||
        w.servo == PTP_PLATFORM_SERVO_STATUS_PHASE_ALIGNED) {
        say("servo: offset from grandmaster " + std::to_string(offset) + " ns, mean path delay " +
            std::to_string(delay) + " ns");
        if (s.locked_after)
            s.offsets_since_lock.push_back(offset);
    }
}

std::string ipv4_text(const ptp_bag_address &a)
{
    if (a.Encapsulation != PTP_BAG_ENCAP_IPv4)
        return "a peer of another kind";
    uint8_t b[4];
    memcpy(b, &a.value.IPv4Address, 4);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

// "Announce every 2^1 s for 300 s, ..." of the kinds granted; empty when none is.
std::string grants_text(const ptp_bag_unicast_peer &p)
{
    std::string out;
    for (const auto &[name, g] : {std::pair{"Announce", p.AnnounceGrant}, std::pair{"Sync", p.SyncGrant},
                                  std::pair{"Delay-Resp", p.DelayResponseGrant}}) {
        if (g != nullptr)
            out += std::string(out.empty() ? "" : ", ") + name + " every 2^" + std::to_string(g->LogGrantInterval) +
                   " s for " + std::to_string(g->GrantDuration) + " s";
    }
    return out;
}

// The unicast grants of each port: those it holds from its masters and those it gave its slaves.
void watch_grants(watch_type &w)
{
    for (const std::string &name : w.interfaces) {
        std::string text;
        if (0 != read_bag<ptp_if_unicast_peer_info>(
                     "/oper/ptp/unicast-peers/if/", name, ptp_if_unicast_peer_info_bag_getfn(),
                     [&](const ptp_if_unicast_peer_info &info) {
                         auto add = [&](const bag_array<ptp_bag_unicast_peer> &rows, const char *how) {
                             for (uint32_t i = 0; i < rows.count; ++i) {
                                 const std::string g = grants_text(rows.array[i]);
                                 if (!g.empty())
                                     text += std::string(text.empty() ? "" : "; ") + how +
                                             ipv4_text(rows.array[i].Address) + ": " + g;
                             }
                         };
                         add(info.ForeignMasters, "from ");
                         add(info.Peers, "to ");
                     }))
            continue;
        if (text == w.grants[name])
            continue;
        say("grants of " + name + ": " + (text.empty() ? "none" : text));
        w.grants[name] = text;
        if (!text.empty())
            step(w).grants[name] = text;
    }
}

} // namespace

int main(int argc, char **argv)
{
    watch_type w;
    const char *summary_path = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--controller-node") == 0)
            w.controller = std::string("/oper/ptp/node/") + argv[i + 1] + "/";
        else if (strcmp(argv[i], "--summary") == 0)
            summary_path = argv[i + 1];
        else if (strcmp(argv[i], "--steps") == 0)
            w.steps_path = argv[i + 1];
        else if (strcmp(argv[i], "--interface") == 0)
            w.interfaces.emplace_back(argv[i + 1]);
    }
    if (argc % 2 == 0 || w.controller.empty() || summary_path == nullptr) {
        fprintf(stderr,
                "usage: chassis_watch --controller-node HEX --summary FILE [--steps FILE] [--interface NAME]...\n");
        return 2;
    }
    if (bag_register_all_ptp_bags() != 0) {
        fprintf(stderr, "chassis_watch: could not register the PTP bags\n");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    while (!stopping) {
        watch_steps(w);
        watch_ports(w);
        watch_grants(w);
        watch_grandmaster(w);
        watch_advertised(w);
        watch_servo(w);
        for (int i = 0; i < 10 && !stopping; ++i)
            usleep(100000);
    }
    FILE *summary = fopen(summary_path, "w");
    if (summary == nullptr) {
        perror("chassis_watch: the summary file");
        return 1;
    }
    for (size_t i = 0; i < w.steps.size(); ++i) {
        const step_type &s = w.steps[i];
        fprintf(summary, "step %zu: %s\n", i + 1, s.name.c_str());
        if (s.locked_after)
            fprintf(summary,
                    "  time to lock of the chassis clock: %.1f s after the grandmaster was chosen, %.1f s %s\n",
                    *s.locked_after, *s.locked_after_start,
                    i == 0 ? "from the start (the first commit)" : "after the step's commit");
        else
            fprintf(summary, "  time to lock of the chassis clock: not locked\n");
        fprintf(summary, "  chassis clock against the grandmaster since the lock, |offset|: %s\n",
                percentiles(s.offsets_since_lock).c_str());
        if (s.grants.empty())
            fprintf(summary, "  unicast grants: none\n");
        for (const auto &[name, text] : s.grants)
            fprintf(summary, "  unicast grants of %s: %s\n", name.c_str(), text.c_str());
    }
    fclose(summary);
    return 0;
}
