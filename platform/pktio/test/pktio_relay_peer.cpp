// A process of a chassis node, or a simulated peer of one of its interfaces, that sends every
// Ethernet frame it receives on an interface back out of it (its node, chassis and daemon come
// from its environment), for tests and benchmarks.
//   pktio_relay_peer IFHANDLE      print "ready" once attached, then echo until killed
//   pktio_relay_peer --peer NAME   the same as the simulated peer NAME
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ctx.h"
#include "evm.h"
#include "pktio_relay.h"
#include "spio.h"

namespace {

spio_conn_type *conn = nullptr;
ctx_api_type *api = nullptr;

void on_rx(uint32_t count, ctx_packet_type **packets)
{
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t in = 0, length = 0;
        uint8_t buffer[16384];
        size_t n = 0;
        ctx_get_u32(packets[i], CTX_OPT_IN_IFHANDLE, &in);
        ctx_get_u32(packets[i], CTX_OPT_CURRENT_LENGTH, &length);
        if (ctx_read(packets[i], CTX_LAYER_FRAME, 0, buffer, length < sizeof buffer ? length : sizeof buffer, &n) ==
            0) {
            ctx_packet_type *out = ctx_alloc(api, n);
            size_t written = 0;
            ctx_write(out, CTX_LAYER_FRAME, 0, buffer, n, &written);
            ctx_set_u32(out, CTX_OPT_OUT_IFHANDLE, in);
            ctx_set_u32(out, CTX_OPT_CURRENT_LENGTH, static_cast<uint32_t>(n));
            spio_pd_intf_send(conn, 1, &out, 1, 0);
        }
    }
    ctx_free(packets, count);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    uint32_t ifhandle = static_cast<uint32_t>(strtoul(argv[1], nullptr, 0));
    if (strcmp(argv[1], "--peer") == 0) {
        const uint8_t mac[6] = {0x02, 0, 0, 0, 0x0b, 0x01};
        if (argc < 3 || pktio_relay_peer_setup(argv[2], mac, &ifhandle) != 0) {
            printf("setup failed\n");
            return 1;
        }
    }
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    spio_init_params_type params{SPIO_PARAMS_VERSION, on_rx, nullptr, SPIO_CONN_KIND_ETHERNET, evm};
    uint32_t direction = 1, status = 1;
    if (ctx_api_init(&api) != 0 || spio_init(&params, &conn) != 0 ||
        spio_attach2(conn, 0, 1, &ifhandle, &direction, &status) != 0 || status != 0) {
        printf("setup failed\n");
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    for (;;) {
        event_type *e = event_block(evm);
        if (e != nullptr)
            zq_event_dispatch(e);
    }
}
