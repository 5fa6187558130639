// Recording fakes of calls into modules these tests do not link: the inter-thread module's
// thread checks, the interface manager's handle hash and the
// state machine's unicast-peer and foreign-master lookups.
#include <cstdint>
#include <cstring>
#include <vector>

#include "ptp_address.h"
#include "ptp_types.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct ptp_fsm_peer_entry_type;
struct ptp_fsm_foreign_master_type;

bool fake_is_proto_thread = true;
bool fake_ipc_thread_blocked = false;
std::vector<ptp_address_type> fake_unicast_peers;
std::vector<ptp_address_type> fake_foreign_masters;
int fake_peer_lookups = 0;

bool tessel_thread_ctrl_is_proto_thread()
{
    return fake_is_proto_thread;
}
bool tessel_thread_ctrl_is_ipc_thread_blocked()
{
    return fake_ipc_thread_blocked;
}

uint32_t imc_ifhandle_to_hash(ifhtype ifhandle, uint32_t key_bits)
{
    uint32_t h = ifhandle * 0x9E3779B1u;
    return key_bits == 0 ? 0 : h >> (32 - key_bits);
}

namespace {
bool listed(const std::vector<ptp_address_type> &list, const ptp_address_type *a)
{
    fake_peer_lookups++;
    for (const ptp_address_type &x : list) {
        if (ptp_address_compare(&x, a) == 0) {
            return true;
        }
    }
    return false;
}
} // namespace

ptp_fsm_peer_entry_type *ptp_fsm_unicast_peer_entry_find(tessel_proto_idb_type *, const ptp_address_type *peer)
{
    static char token;
    return listed(fake_unicast_peers, peer) ? reinterpret_cast<ptp_fsm_peer_entry_type *>(&token) : nullptr;
}

ptp_fsm_foreign_master_type *ptp_fsm_proto_foreign_master_find(tessel_proto_idb_type *, const ptp_address_type *peer)
{
    static char token;
    return listed(fake_foreign_masters, peer) ? reinterpret_cast<ptp_fsm_foreign_master_type *>(&token) : nullptr;
}
