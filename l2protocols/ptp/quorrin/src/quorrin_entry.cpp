// The controller program's entry.
#include "ptp_zerr.h"
#include "quorrin_main.h"

int main(int argc, char **argv)
{
    // The PTP error texts, so that logs and answers name the failure instead of its code.
    ptp_zerr_register_all();
    return quorrin_main(argc, argv);
}
