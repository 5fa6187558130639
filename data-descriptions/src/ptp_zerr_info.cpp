// Error texts of facility 0xFE5, in table order; texts are kept byte for byte.
#include "ptp_zerr.h"

// The shared library exports the header as "zerr_data"; the in-process copy is ptp_zerr_data.
#ifndef PTP_ZERR_DATA_NAME
#define PTP_ZERR_DATA_NAME ptp_zerr_data
#endif

extern "C" {

const zerr_info_type ptp_zerr_info[PTP_ZERR_INFO_COUNT] = {
    {1, "Insufficient memory is available to complete the operation"},
    {2, "Invalid argument"},
    {7, "Client already bound"},
    {3, "Database entry already exists"},
    {4, "A session currently exists that uses this ifhandle"},
    {5, "Database entry does not exist"},
    {6, "Database initialization error"},
    {8, "Event Manager failure"},
    {9, "Lightweight Messaging failure"},
    {10, "Threading failure"},
    {11, "There are no free port numbers available"},
    {12, "A received packet has an invalid format"},
    {13, "Attempting to restore unicast-grant when not allowed"},
    {14, "Unable to disable PTP there may still be existing PTP config"},
    {15, "Failed to verify the profile name. The string entered is too short or too long"},
    {16, "Failed to verify the encap value. It must be either Ethernet, IPv4 or IPv6"},
    {17,
     "Failed to verify the clock-operation value. The configured clock-operation is not supported by the interface"},
    {18,
     "Failed to verify the announce interval value. The announce interval must be 1, 2, 4, 8 or 16 seconds, or 1, 2, 4, 8, 16, 32 or 64 per second."},
    {19,
     "Failed to verify the Sync interval value. The Sync interval must be 1 or 2 seconds, or a frequency of 2 per second"},
    {20, "Invalid announce timeout value"},
    {21,
     "Failed to verify the Sync interval value. The Sync interval must be 1 or 2 seconds, or a frequency of 2 per second"},
    {22, "Failed to verify the port state value. It must beSlave-Only, Master-Only, or Any"},
    {23, "Failed to verify the port-state value. It must be in the range 1-255"},
    {24, "Failed to verify the transport value. It must be one of multicast or multicast-mixed"},
    {25,
     "Failed to verify the delay asymmetry. It must have magnitude up to 0.5 seconds and have units nano-, micro- or milli-seconds."},
    {26, "Failed to verify the source IP address value. It must be a valid IP address"},
    {27, "Failed to verify the CoS value. It must be between 0 and 7"},
    {28, "Failed to verify the DSCP value. It must be between 0 and 63"},
    {29, "Failed to unpack the tuple received from Nodra"},
    {30, "Unable to retrieve an argument from backend"},
    {31, "Failed to verify the interface name. The string entered is too short or too long"},
    {32, "Failed to verify the global config. The global enable item is not set"},
    {33, "Failed to verify the clock domain. It must be between 0 and 255"},
    {34, "Failed to verify the clock priority. It must be between 0 and 255"},
    {35, "Failed to verify the clock class. It must be between 0 and 255"},
    {36, "Failed to verify the frequency priority. It must be between 1 and 254"},
    {37, "Failed to verify the time-of-day priority. It must be between 1 and 254"},
    {38,
     "Failed to verify the clock id. It can either be an eui-64 number, or derived from a user-specified MAC address or the router's MAC address"},
    {39, "PTP is not supported on this card"},
    {40, "Operating as slave is not supported on this card"},
    {41, "Ethernet is not supported on this card"},
    {42, "Multicast is not supported on this card"},
    {43, "Source IP configuration is not supported on this card"},
    {44, "Managed timer error"},
    {45, "IPv6 is not supported on this card"},
    {46, "Failed to verify the source IPv6 address value. It must be a valid IP address"},
    {47, "Failed to find peer index for a PTP peer"},
    {48, "Failed to verify the unicast grant duration, it must be within the valid range"},
    {49, "Failed to verify the message timeout value, it must be within the valid range"},
    {50, "Failed to verify the clock selection mode"},
    {51, "Failed to verify the clock advertisement mode"},
    {52, "Failed to verify the clock profile. It must be one of G.8265.1 or G.8275.1"},
    {53, "Failed to verify the clock-type. It must be one of T-GM, T-BC or T-TSC"},
    {54, "Failed to verify the clock timescale"},
    {55, "Failed to verify the clock time source"},
    {56, "Failed to verify the MAC address provided. It must be a valid MAC address"},
    {57, "Maximum number of PTP interfaces already configured on this card"},
    {58, "PTP is not supported on this system"},
    {59, "Failed to initialise cURL - cannot download remote files for leap second updates"},
    {60, "cURL failure while trying to download remote file"},
    {61, "Cannot configure leap second file with existing UTC offset config"},
    {62, "Cannot configure UTC offset with existing leap second file config"},
    {63, "Invalid date string"},
};

// extern: a const object would otherwise stay local to this file.
extern const zerr_data_type PTP_ZERR_DATA_NAME = {
    PTP_ZERR_DATA_VERSION, "ptp", PTP_ZERR_FACILITY, PTP_ZERR_INFO_COUNT, ptp_zerr_info, 1, 0,
};

} // extern "C"
