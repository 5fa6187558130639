// rtnetlink through libnl-route, in the namespace of each bound device.
#include "nl_linux.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netlink/netlink.h>
#include <netlink/route/link.h>
#include <netlink/route/neighbour.h>
#include <netlink/route/route.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace {

struct state_type {
    std::mutex mutex;
    std::map<uint32_t, nl_linux_intf_type> intfs;
    std::vector<nl_linux_poll_fn> polls;
    std::thread poller;
    std::atomic<bool> stop{false};
    ~state_type()
    {
        stop = true;
        if (poller.joinable()) {
            poller.join();
        }
    }
};

state_type &state()
{
    static state_type s;
    return s;
}

// Runs the calling thread in a named namespace for its lifetime.
struct netns_guard {
    int saved = -1;
    bool ok = true;
    explicit netns_guard(const std::string &name)
    {
        if (name.empty()) {
            return;
        }
        saved = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        const std::string path = "/var/run/netns/" + name;
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
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

// A connected rtnetlink socket of the current namespace.
struct nl_socket_guard {
    nl_sock *sk = nl_socket_alloc();
    bool ok = sk != nullptr && nl_connect(sk, NETLINK_ROUTE) == 0;
    ~nl_socket_guard()
    {
        if (sk != nullptr) {
            nl_socket_free(sk);
        }
    }
};

void poll_loop()
{
    state_type &s = state();
    while (!s.stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::vector<nl_linux_poll_fn> polls;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            if (s.intfs.empty()) {
                continue;
            }
            polls = s.polls;
        }
        for (nl_linux_poll_fn fn : polls) {
            fn();
        }
    }
}

struct route_parse_ctx {
    nl_linux_route_type *out;
    bool found;
};

void route_parse_cb(nl_object *obj, void *arg)
{
    auto *ctx = static_cast<route_parse_ctx *>(arg);
    auto *route = reinterpret_cast<rtnl_route *>(obj);
    if (ctx->found || rtnl_route_get_nnexthops(route) < 1) {
        return;
    }
    rtnl_nexthop *nh = rtnl_route_nexthop_n(route, 0);
    ctx->out->oif = rtnl_route_nh_get_ifindex(nh);
    nl_addr *gw = rtnl_route_nh_get_gateway(nh);
    if (gw != nullptr && nl_addr_get_len(gw) <= sizeof ctx->out->gateway) {
        ctx->out->gateway_len = nl_addr_get_len(gw);
        std::memcpy(ctx->out->gateway, nl_addr_get_binary_addr(gw), ctx->out->gateway_len);
    }
    ctx->found = true;
}

int route_msg_cb(nl_msg *msg, void *arg)
{
    nl_msg_parse(msg, route_parse_cb, arg);
    return NL_OK;
}

} // namespace

zerrno nl_linux_intf_add(const char *devname, uint32_t ifhandle, const char *netns)
{
    nl_linux_intf_type intf;
    intf.ifhandle = ifhandle;
    intf.dev = devname;
    intf.netns = netns != nullptr ? netns : "";
    {
        netns_guard ns(intf.netns);
        if (!ns.ok) {
            return ENOENT;
        }
        intf.ifindex = static_cast<int>(if_nametoindex(devname));
        if (intf.ifindex == 0) {
            return ENODEV;
        }
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ifreq req{};
        std::strncpy(req.ifr_name, devname, IFNAMSIZ - 1);
        if (fd >= 0 && ioctl(fd, SIOCGIFHWADDR, &req) == 0) {
            std::memcpy(intf.mac, req.ifr_hwaddr.sa_data, 6);
        }
        if (fd >= 0) {
            close(fd);
        }
    }
    state_type &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.intfs[ifhandle] = intf;
    if (!s.poller.joinable()) {
        s.poller = std::thread(poll_loop);
    }
    return 0;
}

void nl_linux_intf_remove(uint32_t ifhandle)
{
    state_type &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.intfs.erase(ifhandle);
}

bool nl_linux_intf_get(uint32_t ifhandle, nl_linux_intf_type *out)
{
    state_type &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.intfs.find(ifhandle);
    if (it == s.intfs.end()) {
        return false;
    }
    *out = it->second;
    return true;
}

std::vector<nl_linux_intf_type> nl_linux_intf_list()
{
    state_type &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::vector<nl_linux_intf_type> out;
    for (const auto &[handle, intf] : s.intfs) {
        out.push_back(intf);
    }
    return out;
}

void nl_linux_poll_register(nl_linux_poll_fn fn)
{
    state_type &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (std::find(s.polls.begin(), s.polls.end(), fn) == s.polls.end()) {
        s.polls.push_back(fn);
    }
}

zerrno nl_linux_route_get(const nl_linux_intf_type &intf, const uint8_t *addr, uint32_t addr_len,
                          nl_linux_route_type *out)
{
    if (addr_len != 4 && addr_len != 16) {
        return EINVAL;
    }
    netns_guard ns(intf.netns);
    nl_socket_guard sock;
    if (!ns.ok || !sock.ok) {
        return EIO;
    }
    rtmsg rtm{};
    rtm.rtm_family = addr_len == 4 ? AF_INET : AF_INET6;
    rtm.rtm_dst_len = static_cast<unsigned char>(addr_len * 8);
    nl_msg *msg = nlmsg_alloc_simple(RTM_GETROUTE, NLM_F_REQUEST);
    if (msg == nullptr) {
        return ENOMEM;
    }
    int rc = nlmsg_append(msg, &rtm, sizeof rtm, NLMSG_ALIGNTO);
    if (rc == 0) {
        rc = nla_put(msg, RTA_DST, static_cast<int>(addr_len), addr);
    }
    if (rc == 0) {
        rc = nl_send_auto(sock.sk, msg);
    }
    nlmsg_free(msg);
    if (rc < 0) {
        return EIO;
    }
    *out = nl_linux_route_type{};
    route_parse_ctx ctx{out, false};
    nl_socket_modify_cb(sock.sk, NL_CB_VALID, NL_CB_CUSTOM, route_msg_cb, &ctx);
    rc = nl_recvmsgs_default(sock.sk);
    if (rc < 0 || !ctx.found) {
        return ENETUNREACH;
    }
    return 0;
}

zerrno nl_linux_neigh_list(const nl_linux_intf_type &intf, std::vector<nl_linux_neigh_type> *out)
{
    out->clear();
    netns_guard ns(intf.netns);
    nl_socket_guard sock;
    if (!ns.ok || !sock.ok) {
        return EIO;
    }
    nl_cache *cache = nullptr;
    if (rtnl_neigh_alloc_cache(sock.sk, &cache) < 0) {
        return EIO;
    }
    constexpr int usable = NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT;
    for (nl_object *obj = nl_cache_get_first(cache); obj != nullptr; obj = nl_cache_get_next(obj)) {
        auto *neigh = reinterpret_cast<rtnl_neigh *>(obj);
        nl_addr *dst = rtnl_neigh_get_dst(neigh);
        nl_addr *ll = rtnl_neigh_get_lladdr(neigh);
        if (rtnl_neigh_get_family(neigh) != AF_INET || rtnl_neigh_get_ifindex(neigh) != intf.ifindex ||
            (rtnl_neigh_get_state(neigh) & usable) == 0 || dst == nullptr || ll == nullptr ||
            nl_addr_get_len(dst) != 4 || nl_addr_get_len(ll) != 6) {
            continue;
        }
        nl_linux_neigh_type n;
        std::memcpy(n.ip, nl_addr_get_binary_addr(dst), 4);
        std::memcpy(n.mac, nl_addr_get_binary_addr(ll), 6);
        out->push_back(n);
    }
    nl_cache_free(cache);
    return 0;
}

zerrno nl_linux_neigh_resolve(const nl_linux_intf_type &intf, const uint8_t ip[4])
{
    netns_guard ns(intf.netns);
    if (!ns.ok) {
        return EIO;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return static_cast<zerrno>(errno);
    }
    zerrno rc = 0;
    if (setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, intf.dev.c_str(), static_cast<socklen_t>(intf.dev.size())) != 0) {
        rc = static_cast<zerrno>(errno);
    } else {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(9);
        std::memcpy(&to.sin_addr, ip, 4);
        const uint8_t byte = 0;
        if (sendto(fd, &byte, 1, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0 && errno != EAGAIN) {
            rc = static_cast<zerrno>(errno);
        }
    }
    close(fd);
    return rc;
}
