// The Linux-device backend: a packet socket per device for everything received and for Ethernet
// sends, raw IP sockets for IPv4/IPv6 sends, and UDP sockets on ports 319 and 320 that hold the
// ports (and the multicast memberships) so that the kernel neither rejects nor filters PTP.
//
// Receive: each device's packet socket fills a memory-mapped ring of blocks that the kernel hands
// over when full or after RING_BLOCK_TIMEOUT_MS, receive timestamps taken as the frames came. The
// event manager of the first open connection waits on every device's ring itself and hands what
// it read to the connections in one batch: a batch costs that thread one wake-up, and no thread
// stands between the kernel and the manager.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/errqueue.h>
#include <linux/if_packet.h>
#include <linux/net_tstamp.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <stdint.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "evm_fd.h"
#include "ip_helpers.h"
#include "pktio_internal.h"
#include "pktio_linux.h"

namespace {

constexpr uint16_t ET_PTP = 0x88F7;
constexpr uint16_t ET_VLAN = 0x8100;
constexpr uint16_t ET_QINQ = 0x88A8;
constexpr uint16_t ET_IPV4 = 0x0800;
constexpr uint16_t ET_IPV6 = 0x86DD;

// Our IPv6 header goes out as built (the option's number where the C library lacks its name).
#ifdef IPV6_HDRINCL
constexpr int IPV6_HDRINCL_OPT = IPV6_HDRINCL;
#else
constexpr int IPV6_HDRINCL_OPT = 36;
#endif

zerrno io_error(int err)
{
    return zerr_make(PKTIO_ZERR_FACILITY, zerr_number(PKTIO_ERR_IO), static_cast<uint32_t>(err));
}

// The receive ring of a device: blocks of frames, each the kernel's until it hands it over.
// About what the socket's default receive buffer held (some 700 PTP frames).
constexpr uint32_t RING_BLOCK_SIZE = 1u << 14; // a jumbo frame fits in one
constexpr uint32_t RING_BLOCKS = 8;
constexpr uint32_t RING_FRAME_SIZE = 2048; // the kernel's accounting unit only: frames vary in size
// A frame waits at most this long to be read. Its receive stamp is taken on arrival, so only the
// reaction to it is later; fewer hand-overs a second are what the wait buys.
constexpr uint32_t RING_BLOCK_TIMEOUT_MS = 16;
// At a low rate (blocks handed over by the timeout, not full) the ring is then read with the
// thread's next wake-up for anything else, at the latest after this: the batches cost no wake-ups
// of their own. A frame waits at most the two together; eight blocks hold what comes meanwhile
// below some 20,000 frames a second, and a faster stream fills its blocks and is not parked.
constexpr uint64_t RING_PATIENCE_NS = 32 * 1000000ull;
// Rings are parked only while the thread reads this few: with many, one or another wakes it all
// the time, so a park would only add its two system calls a batch (and the thread's look at every
// parked ring at each wake-up).
constexpr size_t RING_PARK_RINGS_MAX = 16;

struct linux_intf_type {
    uint32_t ifhandle = 0;
    std::string devname;
    int ifindex = 0;
    uint8_t mac[6] = {};
    int pkt_fd = -1;
    int tx_fd = -1; // Ethernet sends: a packet socket that receives nothing, so that its transmit
                    // stamps wait for the sender alone
    int raw4_fd = -1;
    int raw6_fd = -1;
    std::vector<int> udp_fds;
    uint8_t *ring = nullptr; // RING_BLOCKS blocks of RING_BLOCK_SIZE
    uint32_t next_block = 0;
    // Sends: one at a time on the device, so that a transmit stamp is its sender's. A timed send
    // whose stamp did not come in time leaves it owed: its socket's error queue is emptied before
    // the next timed send, and only then.
    std::mutex tx_mu;
    bool stamp_owed[3] = {}; // tx_fd, raw4_fd, raw6_fd

    ~linux_intf_type()
    {
        if (ring != nullptr) {
            munmap(ring, static_cast<size_t>(RING_BLOCK_SIZE) * RING_BLOCKS);
        }
        for (int fd : {pkt_fd, tx_fd, raw4_fd, raw6_fd}) {
            if (fd >= 0) {
                close(fd);
            }
        }
        for (int fd : udp_fds) {
            close(fd);
        }
    }
};

// The devices by handle. Sends hold it shared (each device's own lock serialises its sends), so
// that devices send in parallel; binding and removal hold it alone, and wait for the sends.
std::shared_mutex linux_mu;
std::map<uint32_t, std::unique_ptr<linux_intf_type>> &linux_intfs()
{
    static auto *m = new std::map<uint32_t, std::unique_ptr<linux_intf_type>>;
    return *m;
}

// The devices' rings and the event manager that waits on them: the manager of the process's first
// open packet connection (the agent's protocol thread), so that the thread that takes a batch is
// the one that serves it. None while no connection is open: what comes meanwhile waits in the ring.
struct readers_type {
    std::mutex life_mu; // serialises binding, removal and a change of manager
    std::mutex rx_mu;   // held while a ring is read; removal waits for it
    std::map<uint32_t, linux_intf_type *> polled;
    event_mgr_type *evm = nullptr;
};
readers_type &readers()
{
    static auto *r = new readers_type;
    return *r;
}

uint16_t rd16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

// The kernel hands a datagram sent on this host (veth, loopback) over before its UDP checksum
// was computed, and says so, or says it verified the checksum already. Either way the datagram
// is sound: it gets the checksum it would have carried on a wire, so that a receiver that
// verifies it does not take it for a corrupted one.
void udp_checksum_complete(uint16_t ethertype, uint8_t *ip, size_t total)
{
    if (ethertype == ET_IPV4) {
        const size_t ihl = static_cast<size_t>(ip[0] & 0x0F) * 4;
        uint8_t *udp = ip + ihl;
        const size_t udp_len = rd16(udp + 4);
        if (udp_len < UDP_HDR_LEN || udp_len > total - ihl) {
            return;
        }
        udp[6] = udp[7] = 0;
        const uint16_t sum = ipv4_ulp_checksum(IP_PROTO_UDP, ip + 12, ip + 16, udp, udp_len);
        udp[6] = static_cast<uint8_t>(sum >> 8);
        udp[7] = static_cast<uint8_t>(sum);
    } else {
        uint8_t *udp = ip + IPV6_HDR_LEN;
        const size_t udp_len = rd16(udp + 4);
        if (udp_len < UDP_HDR_LEN || udp_len > total - IPV6_HDR_LEN) {
            return;
        }
        udp[6] = udp[7] = 0;
        const uint16_t sum = ipv6_ulp_checksum_heap(IP_PROTO_UDP, ip + 8, ip + 24, udp, udp_len);
        udp[6] = static_cast<uint8_t>(sum >> 8);
        udp[7] = static_cast<uint8_t>(sum);
    }
}

// Classifies one received frame and hands it on: PTP over Ethernet (behind at most two tags),
// or UDP to port 319/320 over IPv4/IPv6. csum_sound: the kernel's status says the UDP checksum
// is not yet computed or already verified.
void classify(uint32_t ifhandle, uint8_t *f, size_t len, const std::vector<uint8_t> &ts, bool csum_sound,
              std::vector<pktio::rx_item_type> *batch)
{
    if (len < 14) {
        return;
    }
    size_t off = 12;
    for (int tags = 0; tags < 2 && off + 4 <= len; tags++) {
        const uint16_t t = rd16(f + off);
        if (t != ET_VLAN && t != ET_QINQ) {
            break;
        }
        off += 4;
    }
    if (off + 2 > len) {
        return;
    }
    const uint16_t type = rd16(f + off);
    if (type == ET_PTP) {
        batch->push_back({SPIO_CONN_KIND_ETHERNET, ifhandle,
                          pktio::rx_packet_make(SPIO_CONN_KIND_ETHERNET, ifhandle, f, len, ts, true)});
        return;
    }
    if (off != 12) {
        return; // IP behind tags is not carried here
    }
    uint8_t *ip = f + 14;
    const size_t iplen = len - 14;
    if (type == ET_IPV4 && iplen >= 28 && (ip[0] >> 4) == 4 && ip[9] == 17) {
        const size_t ihl = static_cast<size_t>(ip[0] & 0x0F) * 4;
        const size_t total = std::min<size_t>(rd16(ip + 2), iplen);
        if (ihl < 20 || total < ihl + 8) {
            return;
        }
        const uint16_t dport = rd16(ip + ihl + 2);
        if (dport == 319 || dport == 320) {
            if (csum_sound) {
                udp_checksum_complete(type, ip, total);
            }
            batch->push_back({SPIO_CONN_KIND_IPV4, ifhandle,
                              pktio::rx_packet_make(SPIO_CONN_KIND_IPV4, ifhandle, ip, total, ts, true)});
        }
    } else if (type == ET_IPV6 && iplen >= 48 && (ip[0] >> 4) == 6 && ip[6] == 17) {
        const size_t total = std::min<size_t>(40u + rd16(ip + 4), iplen);
        const uint16_t dport = rd16(ip + 42);
        if (total >= 48 && (dport == 319 || dport == 320)) {
            if (csum_sound) {
                udp_checksum_complete(type, ip, total);
            }
            batch->push_back({SPIO_CONN_KIND_IPV6, ifhandle,
                              pktio::rx_packet_make(SPIO_CONN_KIND_IPV6, ifhandle, ip, total, ts, true)});
        }
    }
}

// One frame of a block: the kernel's header, then the frame at tp_mac. frame_buf has 4 bytes in
// front of a frame's largest size, for a tag the kernel took out.
void ring_frame(linux_intf_type *intf, const tpacket3_hdr *h, std::vector<uint8_t> &frame_buf,
                std::vector<pktio::rx_item_type> *batch)
{
    const auto *from = reinterpret_cast<const sockaddr_ll *>(reinterpret_cast<const uint8_t *>(h) +
                                                             TPACKET_ALIGN(sizeof(tpacket3_hdr)));
    if (from->sll_pkttype == PACKET_OUTGOING) {
        return;
    }
    size_t len = h->tp_snaplen;
    if (len + 4 > frame_buf.size()) {
        return; // larger than any frame the ring keeps whole
    }
    std::memcpy(frame_buf.data() + 4, reinterpret_cast<const uint8_t *>(h) + h->tp_mac, len);
    uint8_t *frame = frame_buf.data() + 4;
    // A tag the kernel took out of the frame goes back where it stood.
    if ((h->tp_status & TP_STATUS_VLAN_VALID) != 0 && len >= 12) {
        const uint16_t tpid = (h->tp_status & TP_STATUS_VLAN_TPID_VALID) != 0 ? h->hv1.tp_vlan_tpid : ET_VLAN;
        std::memmove(frame_buf.data(), frame, 12);
        frame = frame_buf.data();
        frame[12] = static_cast<uint8_t>(tpid >> 8);
        frame[13] = static_cast<uint8_t>(tpid);
        frame[14] = static_cast<uint8_t>(h->hv1.tp_vlan_tci >> 8);
        frame[15] = static_cast<uint8_t>(h->hv1.tp_vlan_tci);
        len += 4;
    }
    static thread_local std::vector<uint8_t> ts;
    pktio::timestamp_fill(static_cast<int64_t>(h->tp_sec) * 1000000000 + h->tp_nsec, ts);
    const bool csum_sound = (h->tp_status & (TP_STATUS_CSUMNOTREADY | TP_STATUS_CSUM_VALID)) != 0;
    classify(intf->ifhandle, frame, len, ts, csum_sound, batch);
}

// Reads every block the kernel has handed over, in order, and gives each back. True when it read
// some and the kernel handed each over by the timeout (a low rate).
bool ring_read(linux_intf_type *intf, std::vector<uint8_t> &frame_buf, std::vector<pktio::rx_item_type> *batch)
{
    uint32_t taken = 0;
    bool full = false;
    for (; taken < RING_BLOCKS; taken++) {
        auto *block = reinterpret_cast<tpacket_block_desc *>(intf->ring +
                                                             static_cast<size_t>(intf->next_block) * RING_BLOCK_SIZE);
        const uint32_t status = __atomic_load_n(&block->hdr.bh1.block_status, __ATOMIC_ACQUIRE);
        if ((status & TP_STATUS_USER) == 0) {
            break;
        }
        full = full || (status & TP_STATUS_BLK_TMO) == 0;
        const uint8_t *base = reinterpret_cast<const uint8_t *>(block);
        size_t off = block->hdr.bh1.offset_to_first_pkt;
        for (uint32_t i = 0; i < block->hdr.bh1.num_pkts; i++) {
            // The block's own offsets are kept inside the block.
            if (off < sizeof(tpacket_block_desc) || off + TPACKET3_HDRLEN > RING_BLOCK_SIZE) {
                break;
            }
            const auto *h = reinterpret_cast<const tpacket3_hdr *>(base + off);
            if (static_cast<size_t>(h->tp_mac) + h->tp_snaplen > RING_BLOCK_SIZE - off) {
                break;
            }
            ring_frame(intf, h, frame_buf, batch);
            if (h->tp_next_offset == 0) {
                break;
            }
            off += h->tp_next_offset;
        }
        __atomic_store_n(&block->hdr.bh1.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
        intf->next_block = (intf->next_block + 1) % RING_BLOCKS;
    }
    return taken > 0 && !full;
}

// A device's ring is ready: its blocks go to the connections as one batch (one event on each
// connection's manager, none when it is this thread's own and already queued).
void ring_ready(int, void *context)
{
    readers_type &r = readers();
    static thread_local std::vector<uint8_t> frame_buf(RING_BLOCK_SIZE + 4);
    static thread_local std::vector<pktio::rx_item_type> batch;
    {
        std::lock_guard<std::mutex> lock(r.rx_mu);
        // A device removed since it became ready is no longer in the map.
        auto it = r.polled.find(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(context)));
        if (it != r.polled.end() && ring_read(it->second, frame_buf, &batch) && r.evm != nullptr &&
            r.polled.size() <= RING_PARK_RINGS_MAX) {
            evm_fd_park(r.evm, it->second->pkt_fd, RING_PATIENCE_NS); // else waited on as before
        }
    }
    if (!batch.empty()) {
        pktio::deliver_batch(batch);
        batch.clear();
    }
}

// Gives back, unread, what a ring holds (frames that came while nobody waited on it).
void ring_drop(linux_intf_type *intf)
{
    for (uint32_t taken = 0; taken < RING_BLOCKS; taken++) {
        auto *block = reinterpret_cast<tpacket_block_desc *>(intf->ring +
                                                             static_cast<size_t>(intf->next_block) * RING_BLOCK_SIZE);
        if ((__atomic_load_n(&block->hdr.bh1.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) == 0) {
            return;
        }
        __atomic_store_n(&block->hdr.bh1.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
        intf->next_block = (intf->next_block + 1) % RING_BLOCKS;
    }
}

void *ring_context(const linux_intf_type *intf)
{
    return reinterpret_cast<void *>(static_cast<uintptr_t>(intf->ifhandle));
}

// Moves every ring to the manager that should wait on them now; life_mu held.
zerrno readers_follow_locked()
{
    readers_type &r = readers();
    event_mgr_type *want = pktio::rx_manager();
    if (want == r.evm) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(r.rx_mu);
    zerrno rc = 0;
    for (auto &[ifhandle, intf] : r.polled) {
        if (r.evm != nullptr) {
            evm_fd_detach(r.evm, intf->pkt_fd); // fails only for a manager already gone
        }
        if (want == nullptr) {
            continue;
        }
        ring_drop(intf);
        if (evm_fd_attach(want, intf->pkt_fd, ring_ready, ring_context(intf)) != 0 && rc == 0) {
            rc = io_error(errno);
        }
    }
    r.evm = want;
    return rc;
}

// Starts waiting on a device's ring (on the current manager, if any).
zerrno reader_add(linux_intf_type *intf)
{
    readers_type &r = readers();
    std::lock_guard<std::mutex> life(r.life_mu);
    std::lock_guard<std::mutex> lock(r.rx_mu);
    if (r.evm != nullptr && evm_fd_attach(r.evm, intf->pkt_fd, ring_ready, ring_context(intf)) != 0) {
        return io_error(errno);
    }
    r.polled[intf->ifhandle] = intf;
    return 0;
}

// Stops waiting on a device's ring: nothing reads it once this returns.
void reader_remove(linux_intf_type *intf)
{
    readers_type &r = readers();
    std::lock_guard<std::mutex> life(r.life_mu);
    std::lock_guard<std::mutex> lock(r.rx_mu);
    if (r.polled.erase(intf->ifhandle) != 0 && r.evm != nullptr) {
        evm_fd_detach(r.evm, intf->pkt_fd);
    }
}

// Enters a named network namespace for the life of the object (this thread only).
struct netns_guard {
    int saved = -1;
    bool ok = true;
    explicit netns_guard(const char *name)
    {
        if (name == nullptr) {
            return;
        }
        saved = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        const std::string path = std::string("/var/run/netns/") + name;
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ok = saved >= 0 && fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0) {
            close(fd);
        }
    }
    ~netns_guard()
    {
        if (saved >= 0) {
            setns(saved, CLONE_NEWNET);
            close(saved);
        }
    }
};

zerrno open_sockets(linux_intf_type *intf)
{
    const char *dev = intf->devname.c_str();
    intf->ifindex = static_cast<int>(if_nametoindex(dev));
    if (intf->ifindex == 0) {
        return PKTIO_ERR_NOT_FOUND;
    }
    // No protocol until the bind: a packet socket that already receives must be taken off the
    // receive path again for its ring and its binding, each time after a wait for every reader of
    // the path (tens of milliseconds a device, minutes for thousands).
    intf->pkt_fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (intf->pkt_fd < 0) {
        return io_error(errno);
    }
    // What this host sends out of the device is not received (where the kernel allows it; else
    // the reader skips it).
    const int ignore = 1;
    setsockopt(intf->pkt_fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &ignore, sizeof ignore);
    // The ring before the binding, which starts the receipt, so that every frame goes to it.
    const int version = TPACKET_V3;
    tpacket_req3 req{};
    req.tp_block_size = RING_BLOCK_SIZE;
    req.tp_block_nr = RING_BLOCKS;
    req.tp_frame_size = RING_FRAME_SIZE;
    req.tp_frame_nr = RING_BLOCK_SIZE / RING_FRAME_SIZE * RING_BLOCKS;
    req.tp_retire_blk_tov = RING_BLOCK_TIMEOUT_MS;
    if (setsockopt(intf->pkt_fd, SOL_PACKET, PACKET_VERSION, &version, sizeof version) < 0 ||
        setsockopt(intf->pkt_fd, SOL_PACKET, PACKET_RX_RING, &req, sizeof req) < 0) {
        return io_error(errno);
    }
    void *ring = mmap(nullptr, static_cast<size_t>(RING_BLOCK_SIZE) * RING_BLOCKS, PROT_READ | PROT_WRITE, MAP_SHARED,
                      intf->pkt_fd, 0);
    if (ring == MAP_FAILED) {
        return io_error(errno);
    }
    intf->ring = static_cast<uint8_t *>(ring);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, dev, IFNAMSIZ - 1);
    if (ioctl(intf->pkt_fd, SIOCGIFHWADDR, &ifr) < 0) {
        return io_error(errno);
    }
    std::memcpy(intf->mac, ifr.ifr_hwaddr.sa_data, 6);
    sockaddr_ll sll{};
    sll.sll_family = AF_PACKET;
    sll.sll_protocol = htons(ETH_P_ALL);
    sll.sll_ifindex = intf->ifindex;
    int on = 1;
    packet_mreq mr{};
    mr.mr_ifindex = intf->ifindex;
    mr.mr_type = PACKET_MR_ALLMULTI;
    if (bind(intf->pkt_fd, reinterpret_cast<sockaddr *>(&sll), sizeof sll) < 0 ||
        setsockopt(intf->pkt_fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) < 0 || // frames stamped on arrival
        setsockopt(intf->pkt_fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &mr, sizeof mr) < 0) {
        return io_error(errno);
    }
    intf->tx_fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    sockaddr_ll tx_sll{};
    tx_sll.sll_family = AF_PACKET;
    tx_sll.sll_ifindex = intf->ifindex;
    if (intf->tx_fd < 0 || bind(intf->tx_fd, reinterpret_cast<sockaddr *>(&tx_sll), sizeof tx_sll) < 0) {
        return io_error(errno);
    }
    const socklen_t devlen = static_cast<socklen_t>(intf->devname.size() + 1);
    intf->raw4_fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    ip_mreqn mreqn{};
    mreqn.imr_ifindex = intf->ifindex;
    int zero = 0;
    if (intf->raw4_fd < 0 || setsockopt(intf->raw4_fd, IPPROTO_IP, IP_HDRINCL, &on, sizeof on) < 0 ||
        setsockopt(intf->raw4_fd, SOL_SOCKET, SO_BINDTODEVICE, dev, devlen) < 0 ||
        setsockopt(intf->raw4_fd, IPPROTO_IP, IP_MULTICAST_IF, &mreqn, sizeof mreqn) < 0 ||
        setsockopt(intf->raw4_fd, IPPROTO_IP, IP_MULTICAST_LOOP, &zero, sizeof zero) < 0) {
        return io_error(errno);
    }
    intf->raw6_fd = socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    if (intf->raw6_fd < 0 || setsockopt(intf->raw6_fd, IPPROTO_IPV6, IPV6_HDRINCL_OPT, &on, sizeof on) < 0 ||
        setsockopt(intf->raw6_fd, SOL_SOCKET, SO_BINDTODEVICE, dev, devlen) < 0 ||
        setsockopt(intf->raw6_fd, IPPROTO_IPV6, IPV6_MULTICAST_IF, &intf->ifindex, sizeof intf->ifindex) < 0 ||
        setsockopt(intf->raw6_fd, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, &zero, sizeof zero) < 0) {
        return io_error(errno);
    }
    // Port holders with the PTP multicast memberships. Best effort: a device without IPv6 still
    // carries Ethernet and IPv4.
    for (uint16_t port : {uint16_t{319}, uint16_t{320}}) {
        int fd4 = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd4 >= 0) {
            intf->udp_fds.push_back(fd4);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(port);
            ip_mreqn m{};
            inet_pton(AF_INET, "224.0.1.129", &m.imr_multiaddr);
            m.imr_ifindex = intf->ifindex;
            setsockopt(fd4, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            setsockopt(fd4, SOL_SOCKET, SO_BINDTODEVICE, dev, devlen);
            if (bind(fd4, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
                setsockopt(fd4, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m);
            }
        }
        int fd6 = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd6 >= 0) {
            intf->udp_fds.push_back(fd6);
            sockaddr_in6 a{};
            a.sin6_family = AF_INET6;
            a.sin6_port = htons(port);
            ipv6_mreq m{};
            inet_pton(AF_INET6, "ff0e::181", &m.ipv6mr_multiaddr);
            m.ipv6mr_interface = static_cast<unsigned>(intf->ifindex);
            setsockopt(fd6, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
            setsockopt(fd6, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            setsockopt(fd6, SOL_SOCKET, SO_BINDTODEVICE, dev, devlen);
            if (bind(fd6, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
                setsockopt(fd6, IPPROTO_IPV6, IPV6_JOIN_GROUP, &m, sizeof m);
            }
        }
    }
    // Transmit stamps are asked per send; they come back as software stamps without the packet.
    const int ts_report = SOF_TIMESTAMPING_SOFTWARE | SOF_TIMESTAMPING_OPT_TSONLY;
    for (int fd : {intf->tx_fd, intf->raw4_fd, intf->raw6_fd}) {
        if (setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPING, &ts_report, sizeof ts_report) < 0) {
            return io_error(errno);
        }
    }
    return 0;
}

// Reads what the socket's error queue holds (one message when once); the last software transmit
// stamp into *tx (wall ns).
void errqueue_read(int fd, int64_t *tx, bool once = false)
{
    for (bool more = true; more; more = !once) {
        alignas(cmsghdr) uint8_t control[256];
        msghdr msg{};
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        if (recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
            return;
        }
        for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_TIMESTAMPING && tx != nullptr) {
                timespec ts[3] = {};
                std::memcpy(ts, CMSG_DATA(c), std::min(sizeof ts, static_cast<size_t>(c->cmsg_len - CMSG_LEN(0))));
                if (ts[0].tv_sec != 0 || ts[0].tv_nsec != 0) {
                    *tx = static_cast<int64_t>(ts[0].tv_sec) * 1000000000 + ts[0].tv_nsec;
                }
            }
        }
    }
}

// One send; with tx, asks the kernel to stamp it as it leaves and waits briefly for the stamp.
// Only timed sends make stamps, and on a device whose driver stamps as it transmits (a veth) the
// stamp is queued before the send returns: a timed send costs the send and one read.
ssize_t send_one(int fd, const uint8_t *bytes, size_t len, sockaddr *dst, socklen_t dst_len, int64_t *tx,
                 bool *stamp_owed)
{
    if (tx == nullptr) {
        return sendto(fd, bytes, len, 0, dst, dst_len);
    }
    *tx = 0;
    if (*stamp_owed) {
        errqueue_read(fd, nullptr); // stamps nobody waits for any more
        *stamp_owed = false;
    }
    iovec iov{const_cast<uint8_t *>(bytes), len};
    alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(uint32_t))] = {};
    msghdr msg{};
    msg.msg_name = dst;
    msg.msg_namelen = dst_len;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr *c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SO_TIMESTAMPING;
    c->cmsg_len = CMSG_LEN(sizeof(uint32_t));
    const uint32_t flags = SOF_TIMESTAMPING_TX_SOFTWARE;
    std::memcpy(CMSG_DATA(c), &flags, sizeof flags);
    const ssize_t n = sendmsg(fd, &msg, 0);
    for (int wait_ms = 0; n >= 0 && *tx == 0 && wait_ms <= 2; wait_ms++) {
        pollfd p{fd, 0, 0}; // the error queue shows as POLLERR
        if (wait_ms > 0 && poll(&p, 1, 1) <= 0) {
            continue;
        }
        errqueue_read(fd, tx, true);
    }
    *stamp_owed = n >= 0 && *tx == 0;
    return n;
}

} // namespace

zerrno pktio_linux_intf_add(const char *devname, uint32_t ifhandle, const char *netns)
{
    pktio::register_errors();
    if (devname == nullptr || ifhandle == 0 || std::strlen(devname) >= IFNAMSIZ) {
        return PKTIO_ERR_INVALID;
    }
    auto intf = std::make_unique<linux_intf_type>();
    intf->ifhandle = ifhandle;
    intf->devname = devname;
    zerrno rc = 0;
    {
        netns_guard ns(netns);
        rc = ns.ok ? open_sockets(intf.get()) : PKTIO_ERR_NOT_FOUND;
    }
    if (rc != 0) {
        return rc;
    }
    rc = pktio::intf_register(devname, ifhandle, intf->mac, true, false, true);
    if (rc != 0) {
        return rc;
    }
    rc = reader_add(intf.get());
    if (rc != 0) {
        pktio::intf_unregister(ifhandle);
        return rc;
    }
    std::lock_guard<std::shared_mutex> lock(linux_mu);
    linux_intfs()[ifhandle] = std::move(intf);
    return 0;
}

void pktio_linux_intf_remove(uint32_t ifhandle)
{
    std::unique_ptr<linux_intf_type> gone;
    {
        std::lock_guard<std::shared_mutex> lock(linux_mu);
        auto it = linux_intfs().find(ifhandle);
        if (it == linux_intfs().end()) {
            return;
        }
        gone = std::move(it->second);
        linux_intfs().erase(it);
    }
    reader_remove(gone.get()); // the reader lets go of it before it disappears
    gone.reset();
    pktio::intf_unregister(ifhandle);
}

zerrno pktio_linux_intf_mac(uint32_t ifhandle, uint8_t mac[6])
{
    std::shared_lock<std::shared_mutex> lock(linux_mu);
    auto it = linux_intfs().find(ifhandle);
    if (it == linux_intfs().end()) {
        return PKTIO_ERR_NOT_FOUND;
    }
    std::memcpy(mac, it->second->mac, 6);
    return 0;
}

namespace pktio {

zerrno linux_send(uint32_t kind, uint32_t ifhandle, const uint8_t *bytes, size_t len, int64_t *tx_wall_ns)
{
    std::shared_lock<std::shared_mutex> lock(linux_mu);
    auto it = linux_intfs().find(ifhandle);
    if (it == linux_intfs().end()) {
        return PKTIO_ERR_NOT_FOUND;
    }
    linux_intf_type *intf = it->second.get();
    std::lock_guard<std::mutex> tx_lock(intf->tx_mu);
    ssize_t n = -1;
    if (kind == SPIO_CONN_KIND_ETHERNET) {
        sockaddr_ll sll{};
        sll.sll_family = AF_PACKET;
        sll.sll_ifindex = intf->ifindex;
        sll.sll_halen = 6;
        if (len >= 6) {
            std::memcpy(sll.sll_addr, bytes, 6);
        }
        n = send_one(intf->tx_fd, bytes, len, reinterpret_cast<sockaddr *>(&sll), sizeof sll, tx_wall_ns,
                     &intf->stamp_owed[0]);
    } else if (kind == SPIO_CONN_KIND_IPV4) {
        if (len < 20) {
            return PKTIO_ERR_INVALID;
        }
        sockaddr_in dst{};
        dst.sin_family = AF_INET;
        std::memcpy(&dst.sin_addr, bytes + 16, 4);
        n = send_one(intf->raw4_fd, bytes, len, reinterpret_cast<sockaddr *>(&dst), sizeof dst, tx_wall_ns,
                     &intf->stamp_owed[1]);
    } else if (kind == SPIO_CONN_KIND_IPV6) {
        if (len < 40) {
            return PKTIO_ERR_INVALID;
        }
        sockaddr_in6 dst{};
        dst.sin6_family = AF_INET6;
        std::memcpy(&dst.sin6_addr, bytes + 24, 16);
        dst.sin6_scope_id = static_cast<uint32_t>(intf->ifindex);
        n = send_one(intf->raw6_fd, bytes, len, reinterpret_cast<sockaddr *>(&dst), sizeof dst, tx_wall_ns,
                     &intf->stamp_owed[2]);
    } else {
        return PKTIO_ERR_INVALID;
    }
    if (n < 0) {
        return io_error(static_cast<uint32_t>(errno));
    }
    return static_cast<size_t>(n) == len ? 0 : PKTIO_ERR_IO;
}

} // namespace pktio

namespace pktio {

zerrno linux_rx_manager_changed()
{
    std::lock_guard<std::mutex> life(readers().life_mu);
    return readers_follow_locked();
}

} // namespace pktio
