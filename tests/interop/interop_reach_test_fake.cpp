// What the FIB and adjacency modules call and the reachability interop test does not link: the
// state machine's lookups (over the trees the test fills), the peers' offload sessions, the
// platform-adjacency capability (the agent resolves adjacencies here), and the thread checks
// and handle hash of the interface database.
#include "ptp_address.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_types.h"

bool tessel_thread_ctrl_is_proto_thread()
{
    return true;
}
bool tessel_thread_ctrl_is_ipc_thread_blocked()
{
    return false;
}
uint32_t imc_ifhandle_to_hash(ifhtype ifhandle, uint32_t key_bits)
{
    const uint32_t h = ifhandle * 0x9E3779B1u;
    return key_bits == 0 ? 0 : h >> (32 - key_bits);
}
bool tessel_intf_caps_supports_platform_adjacency(void)
{
    return false;
}
void tessel_offload_foreign_master_session_update(ptp_fsm_foreign_master_type *) {}
void tessel_offload_unicast_peer_session_update(ptp_fsm_peer_entry_type *) {}

namespace {
template <typename T>
T *tree_find(avl2_tree_type *tree, const ptp_address_type *addr)
{
    T key{};
    key.peer_addr = *addr;
    return reinterpret_cast<T *>(avl2_search(tree, &key));
}
} // namespace

ptp_fsm_peer_entry_type *ptp_fsm_unicast_peer_entry_find(tessel_proto_idb_type *port, const ptp_address_type *peer)
{
    return tree_find<ptp_fsm_peer_entry_type>(&port->fsm.unicast_peer_tree, peer);
}
ptp_fsm_foreign_master_type *ptp_fsm_proto_foreign_master_find(tessel_proto_idb_type *port,
                                                               const ptp_address_type *addr)
{
    return tree_find<ptp_fsm_foreign_master_type>(&port->fsm.foreign_master_table, addr);
}
