// A member of a channel in its own process, for tests and benchmarks: its node and the daemon
// come from its environment ($PTP_NODE, $PTP_PLATFORM_SOCKET).
//   comms_peer CHANNEL listen        print "ready", then each message "node:body" on a line
//   comms_peer CHANNEL send N TAG    print "ready", send TAG0 .. TAG<N-1> to the group, print "sent"
//   comms_peer CHANNEL echo          print "ready", send every message back to its sender
// Message type 1, version 1. Runs until killed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "comms.h"
#include "evm.h"

namespace {

bool echo = false;

void on_msg(comms_conn_type *conn, void *, const comms_member_type *sender, const void *msg, size_t length)
{
    if (echo) {
        comms_msg_send(conn, sender, 1, 1, msg, length, 0);
        return;
    }
    printf("%u:%.*s\n", sender->node_id, static_cast<int>(length), static_cast<const char *>(msg));
    fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    comms_conn_type *conn = nullptr;
    const zerrno rc = comms_connect(evm, argv[1], 2, &conn);
    if (rc != 0) {
        printf("connect failed 0x%08x\n", rc);
        return 1;
    }
    const std::string mode = argv[2];
    echo = mode == "echo";
    comms_msg_handler_add(conn, 1, 1, on_msg, nullptr);
    printf("ready\n");
    fflush(stdout);
    if (mode == "send" && argc >= 5) {
        const comms_member_type *group = nullptr;
        comms_conn_get_group_member(conn, &group);
        const long n = strtol(argv[3], nullptr, 10);
        for (long i = 0; i < n; ++i) {
            const std::string body = std::string(argv[4]) + std::to_string(i);
            if (comms_msg_send(conn, group, 1, 1, body.data(), body.size(), 0) != 0)
                return 1;
        }
        printf("sent\n");
        fflush(stdout);
    }
    for (;;) {
        event_type *e = event_block(evm);
        if (e != nullptr)
            zq_event_dispatch(e);
    }
}
