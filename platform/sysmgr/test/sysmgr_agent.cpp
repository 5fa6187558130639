// A program shaped like an agent: it finds its node, joins the "PTP" channel, says it is ready
// and serves its event loop until killed. With the argument "exit" it says it is leaving (on
// standard error and in a syslog message too) and ends instead ("linger": says so, then waits to
// be killed); with "leave-on-config" it leaves at the first interface item it is told of, and
// until then answers every operational read below "/oper/if/" with its node id.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "comms.h"
#include "evm.h"
#include "nodra.h"
#include "qor_log.h"
#include "sysmgr.h"

namespace {

zerrno leave(const nodra_notify_event_info_td *, void *, const void *)
{
    sysmgr_proc_exiting();
    _exit(0);
}

uint32_t my_node = 0;

zerrno answer_node(nodra_edm_request_td *request, void *)
{
    return nodra_edm_reply_set(request, NODRA_ITEM_DATATYPE_UINT32, &my_node, sizeof my_node);
}

} // namespace

int main(int argc, char **argv)
{
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    uint32_t node = 0;
    if (evm == nullptr || platform_get_my_nodeid(&node) != 0)
        return 1;
    if (argc > 1 && strcmp(argv[1], "exit") == 0) {
        static const qor_msg_rec_type leaving = {
            0, "leaving by itself", nullptr, "SYSMGR", "PLAT", "LEAVING", 6 << 16, {}, 0, 0};
        fprintf(stderr, "sysmgr_agent: leaving by itself\n");
        qor_errmsg(&leaving, 6);
        sysmgr_proc_exiting();
        return 0;
    }
    if (argc > 1 && strcmp(argv[1], "linger") == 0) {
        sysmgr_proc_exiting();
        for (;;)
            pause();
    }
    comms_conn_type *conn = nullptr;
    if (comms_connect(evm, "PTP", 2, &conn) != 0)
        return 1;
    if (argc > 1 && strcmp(argv[1], "leave-on-config") == 0) {
        nodra_conn_td *db = nullptr;
        uint32_t reg = 0;
        if (nodra_bind(&db, "/cfg/if/act/", 0) != 0 ||
            nodra_register_notification(db, ".*/ptp/", NODRA_EVENT_CREATE | NODRA_EVENT_SET, 0, leave, evm, nullptr,
                                        nullptr, 0, &reg) != 0)
            return 1;
        my_node = node;
        nodra_conn_td *oper = nullptr;
        nodra_edm_fns_td fns;
        nodra_edm_fns_init(&fns);
        fns.get = answer_node;
        if (nodra_bind(&oper, "/oper/if/", 0) != 0 || nodra_register_edm2(oper, ".*", &fns, evm, nullptr, 0, &reg) != 0)
            return 1;
    }
    if (sysmgr_proc_ready() != 0)
        return 1;
    for (;;) {
        event_type *e = event_block(evm);
        if (e != nullptr)
            zq_event_dispatch(e);
    }
}
