// What the main job prints of a running chassis, read from its operational data once a second:
// each port's state as it changes, the controller's grandmaster choice, the servo's state and
// its offset from the grandmaster; at SIGINT or SIGTERM it writes a summary (time to lock, offset
// percentiles since the lock) to FILE.
//
//   chassis_watch --controller-node HEX --summary FILE [--interface NAME]...
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

struct watch_type {
    std::string controller; // "/oper/ptp/node/<id>/"
    std::vector<std::string> interfaces;
    std::map<std::string, uint32_t> ports;
    std::string grandmaster = "?";
    std::string advertised = "?";
    double grandmaster_since = 0;
    uint32_t servo = 0;
    std::optional<double> locked_after;
    std::vector<int64_t> offsets_since_lock;
};

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
        w.grandmaster_since = now_s();
        w.locked_after.reset();
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
    if (status != w.servo) {
        say(std::string("servo: ") + servo_name(w.servo) + " -> " + servo_name(status));
        if (status == PTP_PLATFORM_SERVO_STATUS_PHASE_ALIGNED && !w.locked_after) {
            w.locked_after = now_s() - w.grandmaster_since;
            w.offsets_since_lock.clear();
        }
        w.servo = status;
    }
    if (w.servo == PTP_PLATFORM_SERVO_STATUS_ACQUIRING || w.servo == PTP_PLATFORM_SERVO_STATUS_FREQ_LOCKED ||
        w.servo == PTP_PLATFORM_SERVO_STATUS_PHASE_ALIGNED) {
        say("servo: offset from grandmaster " + std::to_string(offset) + " ns, mean path delay " +
            std::to_string(delay) + " ns");
        if (w.locked_after)
            w.offsets_since_lock.push_back(offset);
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
        else if (strcmp(argv[i], "--interface") == 0)
            w.interfaces.emplace_back(argv[i + 1]);
    }
    if (argc % 2 == 0 || w.controller.empty() || summary_path == nullptr) {
        fprintf(stderr, "usage: chassis_watch --controller-node HEX --summary FILE [--interface NAME]...\n");
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
        watch_ports(w);
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
    if (w.locked_after)
        fprintf(summary, "time to lock of the chassis clock: %.1f s after the grandmaster was chosen\n",
                *w.locked_after);
    else
        fprintf(summary, "time to lock of the chassis clock: not locked\n");
    fprintf(summary, "chassis clock against the grandmaster since the lock, |offset|: %s\n",
            percentiles(w.offsets_since_lock).c_str());
    fclose(summary);
    return 0;
}
