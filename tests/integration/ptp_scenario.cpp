// The scenario of scenario.h against ptp4l over L2, UDP/IPv4 and UDP/IPv6 in turn where the
// machine allows it (root, 'ip netns', ptp4l), else against a simulated master node over an
// in-memory link. Exit status 0 when every run reached Slave with the master's identity as
// parent, then Master by Announce-Timeout once the master had stopped, and the port's checkpoint
// record was stored and removed with it.
#include <cstdio>
#include <string>

#include "qor_log.h"
#include "scenario.h"

int main()
{
    qor_errmsg_set_syslog(false);
    std::printf("%s\n\n", scenario::FIRST_LINE);
    const std::string why = scenario::ptp4l_missing_prerequisite();
    if (!why.empty()) {
        std::printf("Running the scenario against a simulated master node in memory (%s).\n\n", why.c_str());
        return scenario::run_memory(stdout).ok() ? 0 : 1;
    }
    int rc = 0;
    for (const scenario::transport_type &t : scenario::TRANSPORTS) {
        rc |= scenario::run_ptp4l(t, stdout).ok() ? 0 : 1;
        std::printf("\n");
    }
    return rc;
}
