// Recording fakes of the thread control's IPC-side glue and thread checks, which this test does
// not link.
#include <cstdint>
#include <string>
#include <vector>

std::vector<std::string> im_fake_calls;

struct tessel_ipc_idb_type;

bool tessel_thread_ctrl_is_proto_thread()
{
    return false;
}
bool tessel_thread_ctrl_is_ipc_thread_blocked()
{
    return false;
}
void tessel_ipc_if_update_add(tessel_ipc_idb_type *)
{
    im_fake_calls.emplace_back("if_update_add");
}
void tessel_ipc_if_update_flush(void)
{
    im_fake_calls.emplace_back("if_update_flush");
}
void tessel_ipc_db_sync_check(void)
{
    im_fake_calls.emplace_back("db_sync_check");
}
