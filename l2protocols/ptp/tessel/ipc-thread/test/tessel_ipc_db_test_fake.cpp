// Recording fakes of calls into modules this test does not link: the inter-thread module's
// thread check and the interface manager's handle hash.
#include <cstdint>

#include "ptp_types.h"

bool fake_is_proto_thread = false;

bool tessel_thread_ctrl_is_proto_thread()
{
    return fake_is_proto_thread;
}

uint32_t imc_ifhandle_to_hash(ifhtype ifhandle, uint32_t key_bits)
{
    uint32_t h = ifhandle * 0x9E3779B1u;
    return key_bits == 0 ? 0 : h >> (32 - key_bits);
}
