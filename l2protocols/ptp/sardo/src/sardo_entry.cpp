// The global verifier program's entry.
#include "ptp_zerr.h"
#include "sardo_main.h"

int main(int argc, char **argv)
{
    // The PTP error texts, so that logs and refusals name the failure instead of its code.
    ptp_zerr_register_all();
    return sardo_main(argc, argv);
}
