// The second module's frame and tables: the first module's sources under the second module's
// names and root.
#define ZELVO_PTP_MIB_V2 1
#include "sr_zelvoPtpmib.cpp"
