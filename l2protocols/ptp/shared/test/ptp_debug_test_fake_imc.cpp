// Recording fake of the interface manager's name lookup (the platform has no interface-manager
// client in this test).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "zerrno.h"

std::vector<std::string> fake_imc_lookups;

zerrno imc_s_interface_find(void *conn_ctx, const char *name, uint32_t *ifhandle)
{
    fake_imc_lookups.push_back(name);
    if (conn_ctx == nullptr)
        return 0x409A0200u;
    if (strcmp(name, "Gi0/0/0/1") == 0) {
        *ifhandle = 0x1234;
        return ZERR_OK;
    }
    if (strcmp(name, "Gi0/0/0/2") == 0) {
        // The lookup's "found" answer.
        *ifhandle = 0x5678;
        return 0x409A0600u;
    }
    return 0x409A0200u;
}
