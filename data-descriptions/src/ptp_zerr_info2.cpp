// Error texts of facility 0x1F29, in table order; texts are kept byte for byte. Rows 8, 10 and 11
// appear a second time after row 15 and there is no row 16: the order the error facility has
// always been given.
#include "ptp_zerr.h"

// The shared library exports the header as "zerr_data"; the in-process copy is ptp_zerr_data2.
#ifndef PTP_ZERR_DATA_NAME
#define PTP_ZERR_DATA_NAME ptp_zerr_data2
#endif

extern "C" {

const zerr_info_type ptp_zerr_info2[PTP_ZERR_INFO2_COUNT] = {
    {1, "Could not get the AIB lookup table"},
    {2, "Could not create packet because the required adjacency information was missing from AIB"},
    {3, "Transparent clock cannot be configured on only certain domains"},
    {4, "Transparent clock cannot be configured as it is not supported on this platform"},
    {5,
     "Failed to verify the clock type.  Clock type configured with profile that does not allow clock type to be specified."},
    {6, "Leap seconds configuration cannot be used as it is not supported on this platform"},
    {7, "The given clock profile cannot be configured as it is not supported on this platform"},
    {8, "Multicast addresses are not permitted under the 'master' submode"},
    {9, "The given clock profile requires a clock type"},
    {10, "Failed to verify the clock accuracy"},
    {11, "Failed to verify the clock class. It must be between 0 and 0xFFFF"},
    {12, "The given clock class is inconsistent with the profile"},
    {13, "The given clock accuracy is inconsistent with the profile"},
    {14, "The given clock OSLV is inconsistent with the profile"},
    {15, "The given clock flags are inconsistent with the profile"},
    {8, "Multicast addresses are not permitted under the 'master' submode"},
    {10, "Failed to verify the clock accuracy"},
    {11, "Failed to verify the clock class. It must be between 0 and 0xFFFF"},
    {17, "Clock Identity may not consist of entirely ones (i.e. may not be 0xFFFFFFFFFFFFFFFF)"},
    {18, "Unable to get NG ISSU role from ZURO Vuri"},
    {19, "Failed to decode encoded GPB item"},
    {20, "An element of a decoded GPB item was of an enexpected size"},
    {21, "A required element of a decoded GPB item was missing"},
    {22, "Servo slow tracking config is not supported on this platform"},
    {23, "The servo slow tracking rate must be within the specified range and a multiple of 8"},
    {24, "Failed to verify the holdover duration item. Holdover duration config is not supported on this platform."},
    {25, "Failed to verify the holdover duration item. Holdover duration value is invalid"},
    {26, "Failed to verify the assisted partial timing support item. APTS is not supported on this platform."},
    {27, "Failed to verify the clock-type. It must be one of T-GM or T-TSC"},
    {28, "An invalid or empty URL was specified for the leap-second-file."},
};

// extern: a const object would otherwise stay local to this file.
extern const zerr_data_type PTP_ZERR_DATA_NAME = {
    PTP_ZERR_DATA_VERSION, "ptp", PTP_ZERR_FACILITY2, PTP_ZERR_INFO2_COUNT, ptp_zerr_info2, 1, 0,
};

} // extern "C"
