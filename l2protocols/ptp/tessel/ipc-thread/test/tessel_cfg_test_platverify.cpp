// A platform verification library for the configuration tests: refuses the Ethernet
// encapsulation with its own code and text.
#include <cstdint>
#include <cstring>

struct event_mgr_type;

extern "C" {

uint32_t ptp_pd_vrfn_init(event_mgr_type *)
{
    return 0;
}

uint32_t ptp_pd_verify_encap(const char *, uint32_t encap, char **error_text)
{
    if (encap != 1) {
        return 0;
    }
    *error_text = strdup("Ethernet framing is not available on this line card");
    return 0x47F2D200u;
}
}
