// Small PTP endpoints that stand in for the chassis' neighbours where no independent PTP
// implementation can run: a grandmaster (Announce, two-step Sync and Follow-Up, Delay-Resp) and
// a slave (best master by the clock comparison of the common library, Delay-Req, offset and path
// delay per exchange). Both speak PTP on one packet-I/O interface with end-to-end delay
// measurement, either over Ethernet multicast or over UDP/IPv4 unicast with negotiation: the
// slave asks its master for Announce, then Sync and Delay-Resp grants (Signaling with Request
// TLVs) and renews them; the grandmaster grants what it is asked (up to its longest duration),
// sends to each slave at its granted intervals, and both answer a Cancel. Neither touches a host
// clock: each keeps its own clock as an offset from the platform clock's wall time, and
// timestamps are the platform's software ones.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "evm.h"
#include "zerrno.h"

namespace simpeer {

enum class transport_type {
    ETHERNET, // multicast to the PTP Ethernet address
    UDP_IPV4, // unicast UDP/IPv4 with negotiated grants
};

using ipv4_type = std::array<uint8_t, 4>;

struct gm_config_type {
    uint64_t clock_id = 0;
    uint8_t domain = 0;
    uint8_t priority1 = 128;
    uint8_t priority2 = 128;
    uint8_t clock_class = 6; // locked to a primary reference
    uint8_t clock_accuracy = 0x21;
    uint16_t offset_log_variance = 0x4E5D;
    uint8_t time_source = 0x20; // GPS
    // The G.8275.1 rates, which the chassis' ports use too: a port qualifies a master on two
    // Announces within five ticks of its own announce interval, so a master that announced at half
    // its rate would drop out of qualification whenever one Announce came a little late.
    int8_t log_announce_interval = -3;
    int8_t log_sync_interval = -4;
    int64_t clock_offset_ns = 0; // this clock against the platform clock's wall time
    transport_type transport = transport_type::ETHERNET;
    ipv4_type ipv4{};                    // UDP/IPv4: this end's address
    uint32_t max_grant_duration_s = 300; // a longer request is granted this long
};

struct slave_config_type {
    uint64_t clock_id = 0;
    uint8_t domain = 0;
    uint32_t announce_timeout = 3; // announce intervals of the master without one: master lost
    int64_t clock_offset_ns = 0;
    transport_type transport = transport_type::ETHERNET;
    ipv4_type ipv4{};        // UDP/IPv4: this end's address
    ipv4_type master_ipv4{}; // UDP/IPv4: the master it asks for grants
    // What it asks for: log intervals and the duration of every grant.
    int8_t log_announce_interval = 1;
    int8_t log_sync_interval = 0;
    int8_t log_delay_req_interval = 0;
    uint32_t grant_duration_s = 300;
};

// One grant: for the grandmaster, what it granted a slave; for the slave, what its master granted.
struct grant_type {
    ipv4_type peer{};
    uint8_t message_type = 0; // Announce, Sync or Delay-Resp
    int8_t log_interval = 0;
    uint32_t duration_s = 0;
    bool operator==(const grant_type &) const = default;
};

struct counts_type {
    uint64_t sent = 0;
    uint64_t received = 0; // PTP messages taken in
    uint64_t dropped = 0;  // short, malformed, another domain, or not meant for this endpoint
    // The stream the endpoint follows: a slave its master's Syncs, a grandmaster its slaves'
    // Delay-Reqs. Gaps since the last endpoint_gaps_reset; late: gaps of more than one and a
    // half of the stream's interval (an interval missed).
    uint64_t followed = 0;
    uint64_t first_followed_mono_ns = 0; // 0 before the first
    int64_t worst_gap_ns = 0;
    uint64_t late = 0;
    uint64_t master_losses = 0; // slave: announce timeouts of its master
};

struct slave_status_type {
    bool has_master = false;
    uint64_t master_id = 0; // grandmaster identity of the selected master
    uint64_t exchanges = 0; // completed Sync/Delay-Req exchanges
    int64_t last_offset_ns = 0;
    int64_t last_delay_ns = 0;
    std::vector<int64_t> offsets_ns; // offset from master, every exchange, in order
};

struct endpoint_type;

// Each line the endpoint has to say (state changes, offsets), as it happens.
using report_fn = std::function<void(const std::string &line)>;

// Attaches ifhandle (an interface of this process, whose MAC is mac) to the packet-I/O connection
// of evm and the transport (opened with the first endpoint there) and starts. Several UDP/IPv4
// endpoints may share an interface, each at an address of its own; over Ethernet an interface has
// one. The endpoint runs on evm's thread.
zerrno gm_start(event_mgr_type *evm, uint32_t ifhandle, const uint8_t mac[6], const gm_config_type &config,
                report_fn report, endpoint_type **out);
zerrno slave_start(event_mgr_type *evm, uint32_t ifhandle, const uint8_t mac[6], const slave_config_type &config,
                   report_fn report, endpoint_type **out);
// Stops sending, detaches and frees; null is fine.
void endpoint_stop(endpoint_type *endpoint);

counts_type endpoint_counts(const endpoint_type *endpoint);
// Forgets the worst gap and the late count (on the endpoint's thread), so that they cover what
// comes from now on.
void endpoint_gaps_reset(endpoint_type *endpoint);
slave_status_type slave_status(const endpoint_type *endpoint);
// The grants in force, by peer and then message type (empty over Ethernet).
std::vector<grant_type> endpoint_grants(const endpoint_type *endpoint);

// The p-th percentile (0 to 100, nearest rank) of the absolute values; 0 for none.
int64_t abs_percentile(std::vector<int64_t> values, double p);

} // namespace simpeer
