// The port manager's neighbours that the interop programs do not run, though they link the real
// port manager and best-master list (through the real state machine's services): the interface
// capabilities, the global configuration's getter and the interface manager's names answer as
// they would here. Linking a module that defines one of them is a duplicate definition, never a
// silent choice.
#include <cstdint>

#include "tessel_port_mgr_deps.h"

// Interface capabilities, global configuration, interface manager.
bool tessel_intf_caps_supports_slave(void)
{
    return true;
}
bool tessel_intf_caps_supports_slave_ext(void)
{
    return true;
}
uint8_t tessel_cfg_get_fsync_ql_option(void)
{
    return 1;
}
const char *im_state_name(uint32_t state)
{
    static const char *names[] = {"unknown", "created", "down", "up"};
    return state < 4 ? names[state] : "admin-down";
}
