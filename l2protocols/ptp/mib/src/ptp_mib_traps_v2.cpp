// The second module's notifications: the first module's sources under the second module's names,
// root and address encodings.
#define ZELVO_PTP_MIB_V2 1
#include "ptp_mib_traps.cpp"
