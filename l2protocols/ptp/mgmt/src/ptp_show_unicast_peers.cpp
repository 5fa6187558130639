// ptp_show_unicast_peers: each interface's unicast peers and foreign masters, with their grants.
#include <arpa/inet.h>

#include "ptp_bags.h"
#include "ptp_show_utils.h"

namespace {

void print_peer(const ptp_bag_unicast_peer &peer)
{
    char text[INET6_ADDRSTRLEN] = "";
    switch (peer.Address.Encapsulation) {
    case PTP_BAG_ENCAP_Ethernet:
        printf("  MAC-address %s\n", ptp_show_mac_to_str(peer.Address.value.MACAddress.macaddr));
        break;
    case PTP_BAG_ENCAP_IPv4:
        inet_ntop(AF_INET, &peer.Address.value.IPv4Address, text, sizeof text);
        printf("  IPv4-address %s\n", text);
        break;
    default:
        inet_ntop(AF_INET6, peer.Address.value.IPv6Address.IPv6Address, text, sizeof text);
        printf("  IPv6-address %s\n", text);
        break;
    }
    const struct {
        const char *format;
        const ptp_bag_unicast_grant *grant;
    } grants[] = {{"    Announce granted:   %s\n", peer.AnnounceGrant},
                  {"    Sync granted:       %s\n", peer.SyncGrant},
                  {"    Delay-Resp granted: %s\n", peer.DelayResponseGrant}};
    bool any = false;
    for (const auto &g : grants)
        if (g.grant != nullptr) {
            printf(g.format, ptp_show_grant_to_str(g.grant->LogGrantInterval, g.grant->GrantDuration));
            any = true;
        }
    if (!any)
        printf("    No grants\n");
}

void print_unicast_peers(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_if_unicast_peer_info>(
        data, length, ptp_if_unicast_peer_info_bag_getfn(), "Failed to decode unicast peers bag: %s\n",
        [](const ptp_if_unicast_peer_info &info) {
            printf("Interface %s\n", info.Name != nullptr ? info.Name : "");
            printf("Downstream Peer%s:\n", info.Peers.count == 1 ? "" : "s");
            for (uint32_t i = 0; i < info.Peers.count; ++i)
                print_peer(info.Peers.array[i]);
            if (info.Peers.count == 0)
                printf("  No known peers\n");
            printf("Foreign Master%s:\n", info.ForeignMasters.count == 1 ? "" : "s");
            for (uint32_t i = 0; i < info.ForeignMasters.count; ++i)
                print_peer(info.ForeignMasters.array[i]);
            if (info.ForeignMasters.count == 0)
                printf("  No known foreign masters.\n");
            printf("\n");
        });
}

} // namespace

int ptp_show_unicast_peers_main(int argc, char **argv)
{
    if (!ptp_show_parse_options(argc, argv, ":ai:h:"))
        return 0;
    if (!ptp_show_check_interface_or_location())
        return 0;
    char path[128];
    if (!ptp_show_build_path("unicast-peers/if/", path, sizeof path))
        return 0;
    ptp_show_intfs(path, "Failed to bind to Nodra path '%s': %s\n", nullptr, print_unicast_peers);
    return 0;
}
