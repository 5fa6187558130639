// Recording fakes of the agent modules the process entry starts and stops, so that the test sees
// the entry's order alone. Calls come from the thread that runs the entry.
#include <cstdint>
#include <string>

#include "evm.h"
#include "imc.h"
#include "tessel_fsm.h"
#include "tessel_main.h"
#include "tessel_main_test_fake.h"
#include "tessel_packet.h"

struct tessel_ipc_idb_type;
using tessel_ipc_db_walk_fn = bool (*)(tessel_ipc_idb_type *idb, void *context);

main_fake_state_type main_fake;
std::mutex main_fake_mutex;

std::vector<std::string> main_fake_calls()
{
    std::lock_guard<std::mutex> g(main_fake_mutex);
    return main_fake.calls;
}

namespace {
void rec(const char *what)
{
    std::lock_guard<std::mutex> g(main_fake_mutex);
    main_fake.calls.emplace_back(what);
}
zerrno rec_init(const char *what)
{
    std::lock_guard<std::mutex> g(main_fake_mutex);
    main_fake.calls.emplace_back(what);
    return main_fake.failing == what ? main_fake.failing_result : 0;
}
imc_ctx_type *no_ctx;
} // namespace

zerrno tessel_chkpt_init(event_mgr_type *)
{
    return rec_init("chkpt_init");
}
zerrno tessel_intf_caps_init(event_mgr_type *)
{
    return rec_init("caps_init");
}
void tessel_intf_caps_shutdown(void)
{
    rec("caps_shutdown");
}
zerrno tessel_thread_ctrl_init(void)
{
    return rec_init("thread_ctrl_init");
}
void tessel_thread_ctrl_shutdown(void)
{
    rec("thread_ctrl_shutdown");
}
zerrno tessel_im_init(event_mgr_type *)
{
    return rec_init("im_init");
}
void tessel_im_shutdown(void)
{
    rec("im_shutdown");
}
imc_ctx_type **tessel_im_ctrl_ctx_ref(void)
{
    return &no_ctx;
}
zerrno tessel_edm_init(event_mgr_type *)
{
    return rec_init("edm_init");
}
void tessel_edm_shutdown(void)
{
    rec("edm_shutdown");
}
zerrno tessel_ipc_db_init()
{
    return rec_init("ipc_db_init");
}
void tessel_ipc_db_destroy()
{
    rec("ipc_db_destroy");
}
uint32_t tessel_ipc_db_get_count()
{
    return 0;
}
void tessel_ipc_db_walk(tessel_ipc_db_walk_fn, void *, const char *, bool) {}
void tessel_ipc_db_delete(tessel_ipc_idb_type *) {}
zerrno tessel_cfg_init(event_mgr_type *)
{
    const zerrno rc = rec_init("cfg_init");
    bool leave = false;
    {
        std::lock_guard<std::mutex> g(main_fake_mutex);
        leave = main_fake.cfg_init_requests_exit;
    }
    if (leave) {
        tessel_main_request_exit();
    }
    return rc;
}
void tessel_cfg_shutdown(void)
{
    rec("cfg_shutdown");
}
void tessel_ipc_state_reset(void)
{
    rec("ipc_state_reset");
}

// Each marks the buffer it is given with a record of its own, so that the test finds out which
// buffer that was.
void tessel_packet_trace_set(jotlog_handle_type handle)
{
    if (handle != nullptr)
        _jotlog0(handle, 0x1);
    std::lock_guard<std::mutex> g(main_fake_mutex);
    main_fake.packet_trace = handle;
}

void ptp_fsm_packet_trace_set(jotlog_handle_type handle)
{
    if (handle != nullptr)
        _jotlog0(handle, 0x2);
    std::lock_guard<std::mutex> g(main_fake_mutex);
    main_fake.fsm_packet_trace = handle;
}
