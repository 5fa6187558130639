// Recording fakes of what the FIB module calls and these tests do not link: the state
// machine's lookups (over the trees the tests fill by hand), and the thread checks and handle
// hash of the interface database.
#include "tessel_fib_test_fake.h"

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

namespace {
template <typename T>
T *tree_find(avl2_tree_type *tree, const ptp_address_type *addr)
{
    T key{};
    key.peer_addr = *addr;
    return reinterpret_cast<T *>(avl2_search(tree, &key));
}
} // namespace

int fib_fake_peer_compare(const void *a, const void *b, void *)
{
    // Both peer records keep the address right behind the tree link.
    const auto *x =
        reinterpret_cast<const ptp_address_type *>(static_cast<const uint8_t *>(a) + sizeof(avl2_node_type));
    const auto *y =
        reinterpret_cast<const ptp_address_type *>(static_cast<const uint8_t *>(b) + sizeof(avl2_node_type));
    return ptp_address_compare(x, y);
}

ptp_fsm_peer_entry_type *ptp_fsm_unicast_peer_entry_find(tessel_proto_idb_type *port, const ptp_address_type *peer)
{
    return tree_find<ptp_fsm_peer_entry_type>(&port->fsm.unicast_peer_tree, peer);
}
ptp_fsm_foreign_master_type *ptp_fsm_proto_foreign_master_find(tessel_proto_idb_type *port,
                                                               const ptp_address_type *addr)
{
    return tree_find<ptp_fsm_foreign_master_type>(&port->fsm.foreign_master_table, addr);
}
