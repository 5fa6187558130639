// What the scenario plays of the agent (see scenario_neighbours.h).
#include "scenario_neighbours.h"

#include "evm.h"
#include "ptp_types.h"
#include "zerrno.h"

scn_neighbours_type scn_nb;

void scn_neighbours_reset()
{
    scn_nb = scn_neighbours_type{};
}

// ---- The packet-counter reader of the operational data, which answers through the IPC thread ----
void tessel_edm_resume_packet_counters_request(void) {}

// ---- Interface capabilities, global configuration, thread control, interface manager ----
bool tessel_intf_caps_supports_slave(void)
{
    return true;
}
bool tessel_intf_caps_supports_slave_ext(void)
{
    return false;
}
bool tessel_intf_caps_supports_platform_adjacency(void)
{
    return scn_nb.platform_adjacency;
}
uint8_t tessel_cfg_get_fsync_ql_option(void)
{
    return 1;
}
bool tessel_cfg_get_verify_checksum(void)
{
    return false;
}
// One thread plays both agent threads here.
bool tessel_thread_ctrl_is_proto_thread()
{
    return true;
}
bool tessel_thread_ctrl_is_ipc_thread_blocked()
{
    return true;
}
const char *im_state_name(uint32_t state)
{
    static const char *names[] = {"unknown", "created", "down", "up"};
    return state < 4 ? names[state] : "admin-down";
}
uint32_t imc_ifhandle_to_hash(ifhtype ifhandle, uint32_t key_bits)
{
    return key_bits == 0 ? 0 : (ifhandle * 0x9E3779B1u) >> (32 - key_bits);
}
