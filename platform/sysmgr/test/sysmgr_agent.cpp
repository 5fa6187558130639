// A program shaped like an agent: it finds its node, joins the "PTP" channel, says it is ready
// and serves its event loop until killed. With the argument "exit" it says it is leaving and
// ends instead.
#include <cstdio>
#include <cstring>

#include "comms.h"
#include "evm.h"
#include "sysmgr.h"

int main(int argc, char **argv)
{
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    uint32_t node = 0;
    if (evm == nullptr || platform_get_my_nodeid(&node) != 0)
        return 1;
    if (argc > 1 && strcmp(argv[1], "exit") == 0) {
        sysmgr_proc_exiting();
        return 0;
    }
    comms_conn_type *conn = nullptr;
    if (comms_connect(evm, "PTP", 2, &conn) != 0 || sysmgr_proc_ready() != 0)
        return 1;
    for (;;) {
        event_type *e = event_block(evm);
        if (e != nullptr)
            zq_event_dispatch(e);
    }
}
