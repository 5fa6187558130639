// The program tessel.
#include "ptp_zerr.h"
#include "tessel_main.h"

int main()
{
    // The PTP error texts, so that logs and answers name the failure instead of its code.
    ptp_zerr_register_all();
    return tessel_main();
}
