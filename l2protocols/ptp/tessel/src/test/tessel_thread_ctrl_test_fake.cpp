// Recording fakes of the modules the thread control calls and that this test does not link: the
// interface-manager client, the process entry's active flag, the checkpoint code and the global
// configuration values the protocol thread reads.
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "tessel_thread_ctrl_test_fake.h"
#include "zerrno.h"

struct tessel_ipc_idb_type;

tc_fake_state_type tc_fake;
std::mutex tc_fake_mutex;

namespace {
void rec(const std::string &what)
{
    std::lock_guard<std::mutex> g(tc_fake_mutex);
    tc_fake.calls.push_back(what);
}
} // namespace

uint8_t tessel_cfg_get_fsync_ql_option(void)
{
    return 0;
}
bool tessel_cfg_get_verify_checksum(void)
{
    return true;
}

bool tessel_main_is_active(void)
{
    return tc_fake.active;
}
void tessel_im_if_enable(tessel_ipc_idb_type *)
{
    rec("im_if_enable");
}
void tessel_im_if_disable(tessel_ipc_idb_type *)
{
    rec("im_if_disable");
}
void tessel_im_process_batches(void)
{
    rec("im_process_batches");
}
void tessel_chkpt_go_active(void)
{
    rec("chkpt_go_active");
}
void tessel_chkpt_go_primary_active(void)
{
    rec("chkpt_go_primary_active");
}
void tessel_chkpt_idt_received(uint32_t notice)
{
    rec("idt " + std::to_string(notice));
}
void tessel_chkpt_ndt_received(const void *notice)
{
    uint32_t type = 0;
    memcpy(&type, notice, sizeof type);
    rec("ndt " + std::to_string(type));
}
