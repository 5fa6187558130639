// The rows of the two PTP error tables, kept once. Both the tables the error facility reads
// (src/ptp_zerr_info*.cpp) and the named codes that PTP programs return (PTP_ZERR_<NAME> for
// facility 0xFE5, PTP_ZERR2_<NAME> for facility 0x1F29) are generated from these lists, so a
// code cannot drift from its text. Rows stay in the order the error facility has always been
// given; texts are kept byte for byte.
//   X(NAME, number, text)  a row; its code is 0x40000000 | facility << 15 | number << 9
//   H(NAME, number, text)  a row whose code also carries bit 31 (the out-of-memory code)
//   D(NAME)                a row repeated later in the table, with the number and text of NAME
// Codes carrying an errno in their low bits (an event-manager failure, ...) are the named code
// with the errno or'ed in.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "zerrno.h"

inline constexpr uint32_t PTP_ZERR_FACILITY = 0xFE5;
inline constexpr uint32_t PTP_ZERR_FACILITY2 = 0x1F29;

// The tables keep one row a line.
// clang-format off
#define PTP_ZERR_ROWS(X, H, D) \
    H(NOMEM, 1, "Insufficient memory is available to complete the operation") \
    X(INVALID_ARG, 2, "Invalid argument") \
    X(CLIENT_BOUND, 7, "Client already bound") \
    X(DB_ENTRY_EXISTS, 3, "Database entry already exists") \
    X(SESSION_EXISTS, 4, "A session currently exists that uses this ifhandle") \
    X(DB_NO_ENTRY, 5, "Database entry does not exist") \
    X(DB_INIT, 6, "Database initialization error") \
    X(EVM, 8, "Event Manager failure") \
    X(LWM, 9, "Lightweight Messaging failure") \
    X(THREAD, 10, "Threading failure") \
    X(NO_PORT_NUMBER, 11, "There are no free port numbers available") \
    X(BAD_PACKET, 12, "A received packet has an invalid format") \
    X(RESTORE_NOT_ALLOWED, 13, "Attempting to restore unicast-grant when not allowed") \
    X(DISABLE_WITH_CONFIG, 14, "Unable to disable PTP there may still be existing PTP config") \
    X(CFG_PROFILE_NAME, 15, "Failed to verify the profile name. The string entered is too short or too long") \
    X(CFG_ENCAP, 16, "Failed to verify the encap value. It must be either Ethernet, IPv4 or IPv6") \
    X(CFG_CLOCK_OPERATION, 17, "Failed to verify the clock-operation value. The configured clock-operation is not supported by the interface") \
    X(CFG_ANNCE_IVL, 18, "Failed to verify the announce interval value. The announce interval must be 1, 2, 4, 8 or 16 seconds, or 1, 2, 4, 8, 16, 32 or 64 per second.") \
    X(CFG_SYNC_IVL, 19, "Failed to verify the Sync interval value. The Sync interval must be 1 or 2 seconds, or a frequency of 2 per second") \
    X(CFG_ANNCE_TOUT, 20, "Invalid announce timeout value") \
    X(CFG_DR_MIN_IVL, 21, "Failed to verify the Sync interval value. The Sync interval must be 1 or 2 seconds, or a frequency of 2 per second") \
    X(CFG_PORT_STATE, 22, "Failed to verify the port state value. It must beSlave-Only, Master-Only, or Any") \
    X(CFG_LOCAL_PRIORITY, 23, "Failed to verify the port-state value. It must be in the range 1-255") \
    X(CFG_TRANSPORT, 24, "Failed to verify the transport value. It must be one of multicast or multicast-mixed") \
    X(CFG_DELAY_ASYMMETRY, 25, "Failed to verify the delay asymmetry. It must have magnitude up to 0.5 seconds and have units nano-, micro- or milli-seconds.") \
    X(CFG_SOURCE_IP, 26, "Failed to verify the source IP address value. It must be a valid IP address") \
    X(CFG_COS, 27, "Failed to verify the CoS value. It must be between 0 and 7") \
    X(CFG_DSCP, 28, "Failed to verify the DSCP value. It must be between 0 and 63") \
    X(CFG_TUPLE, 29, "Failed to unpack the tuple received from Nodra") \
    X(CFG_ARGUMENT, 30, "Unable to retrieve an argument from backend") \
    X(CFG_INTERFACE_NAME, 31, "Failed to verify the interface name. The string entered is too short or too long") \
    X(CFG_GLOBAL_ENABLE, 32, "Failed to verify the global config. The global enable item is not set") \
    X(CFG_DOMAIN, 33, "Failed to verify the clock domain. It must be between 0 and 255") \
    X(CFG_PRIORITY, 34, "Failed to verify the clock priority. It must be between 0 and 255") \
    X(CFG_CLOCK_CLASS, 35, "Failed to verify the clock class. It must be between 0 and 255") \
    X(CFG_FREQ_PRIORITY, 36, "Failed to verify the frequency priority. It must be between 1 and 254") \
    X(CFG_TOD_PRIORITY, 37, "Failed to verify the time-of-day priority. It must be between 1 and 254") \
    X(CFG_CLOCK_ID, 38, "Failed to verify the clock id. It can either be an eui-64 number, or derived from a user-specified MAC address or the router's MAC address") \
    X(CARD_NO_PTP, 39, "PTP is not supported on this card") \
    X(CARD_NO_SLAVE, 40, "Operating as slave is not supported on this card") \
    X(CARD_NO_ETHERNET, 41, "Ethernet is not supported on this card") \
    X(CARD_NO_MULTICAST, 42, "Multicast is not supported on this card") \
    X(CARD_NO_SOURCE_IP, 43, "Source IP configuration is not supported on this card") \
    X(MGD_TIMER, 44, "Managed timer error") \
    X(CARD_NO_IPV6, 45, "IPv6 is not supported on this card") \
    X(CFG_SOURCE_IPV6, 46, "Failed to verify the source IPv6 address value. It must be a valid IP address") \
    X(NO_PEER_INDEX, 47, "Failed to find peer index for a PTP peer") \
    X(CFG_GRANT_DURATION, 48, "Failed to verify the unicast grant duration, it must be within the valid range") \
    X(CFG_MESSAGE_TIMEOUT, 49, "Failed to verify the message timeout value, it must be within the valid range") \
    X(CFG_CLOCK_SELECTION, 50, "Failed to verify the clock selection mode") \
    X(CFG_CLOCK_ADVERTISEMENT, 51, "Failed to verify the clock advertisement mode") \
    X(CFG_PROFILE, 52, "Failed to verify the clock profile. It must be one of G.8265.1 or G.8275.1") \
    X(CFG_CLOCK_TYPE, 53, "Failed to verify the clock-type. It must be one of T-GM, T-BC or T-TSC") \
    X(CFG_TIMESCALE, 54, "Failed to verify the clock timescale") \
    X(CFG_TIME_SOURCE, 55, "Failed to verify the clock time source") \
    X(CFG_MAC, 56, "Failed to verify the MAC address provided. It must be a valid MAC address") \
    X(MAX_INTERFACES, 57, "Maximum number of PTP interfaces already configured on this card") \
    X(SYSTEM_NO_PTP, 58, "PTP is not supported on this system") \
    X(CURL_INIT, 59, "Failed to initialise cURL - cannot download remote files for leap second updates") \
    X(CURL_DOWNLOAD, 60, "cURL failure while trying to download remote file") \
    X(LEAP_FILE_WITH_UTC_OFFSET, 61, "Cannot configure leap second file with existing UTC offset config") \
    X(UTC_OFFSET_WITH_LEAP_FILE, 62, "Cannot configure UTC offset with existing leap second file config") \
    X(INVALID_DATE, 63, "Invalid date string")

// Row 11's text names the clock class, but the 16-bit value it bounds is the OSLV.
#define PTP_ZERR2_ROWS(X, H, D) \
    X(NO_AIB_TABLE, 1, "Could not get the AIB lookup table") \
    X(NO_ADJACENCY, 2, "Could not create packet because the required adjacency information was missing from AIB") \
    X(TC_SOME_DOMAINS, 3, "Transparent clock cannot be configured on only certain domains") \
    X(TC_NOT_SUPPORTED, 4, "Transparent clock cannot be configured as it is not supported on this platform") \
    X(CFG_CLOCK_TYPE_NOT_ALLOWED, 5, "Failed to verify the clock type.  Clock type configured with profile that does not allow clock type to be specified.") \
    X(LEAP_NOT_SUPPORTED, 6, "Leap seconds configuration cannot be used as it is not supported on this platform") \
    X(PROFILE_NOT_SUPPORTED, 7, "The given clock profile cannot be configured as it is not supported on this platform") \
    X(CFG_MASTER_MULTICAST, 8, "Multicast addresses are not permitted under the 'master' submode") \
    X(PROFILE_NEEDS_CLOCK_TYPE, 9, "The given clock profile requires a clock type") \
    X(CFG_CLOCK_ACCURACY, 10, "Failed to verify the clock accuracy") \
    X(CFG_OSLV, 11, "Failed to verify the clock class. It must be between 0 and 0xFFFF") \
    X(CLOCK_CLASS_INCONSISTENT, 12, "The given clock class is inconsistent with the profile") \
    X(CLOCK_ACCURACY_INCONSISTENT, 13, "The given clock accuracy is inconsistent with the profile") \
    X(OSLV_INCONSISTENT, 14, "The given clock OSLV is inconsistent with the profile") \
    X(FLAGS_INCONSISTENT, 15, "The given clock flags are inconsistent with the profile") \
    D(CFG_MASTER_MULTICAST) \
    D(CFG_CLOCK_ACCURACY) \
    D(CFG_OSLV) \
    X(CLOCK_ID_ALL_ONES, 17, "Clock Identity may not consist of entirely ones (i.e. may not be 0xFFFFFFFFFFFFFFFF)") \
    X(NO_ISSU_ROLE, 18, "Unable to get NG ISSU role from ZURO Vuri") \
    X(GPB_DECODE, 19, "Failed to decode encoded GPB item") \
    X(GPB_ELEMENT_SIZE, 20, "An element of a decoded GPB item was of an enexpected size") \
    X(GPB_ELEMENT_MISSING, 21, "A required element of a decoded GPB item was missing") \
    X(SLOW_TRACKING_NOT_SUPPORTED, 22, "Servo slow tracking config is not supported on this platform") \
    X(CFG_SLOW_TRACKING_RATE, 23, "The servo slow tracking rate must be within the specified range and a multiple of 8") \
    X(HOLDOVER_NOT_SUPPORTED, 24, "Failed to verify the holdover duration item. Holdover duration config is not supported on this platform.") \
    X(CFG_HOLDOVER_DURATION, 25, "Failed to verify the holdover duration item. Holdover duration value is invalid") \
    X(APTS_NOT_SUPPORTED, 26, "Failed to verify the assisted partial timing support item. APTS is not supported on this platform.") \
    X(CFG_CLOCK_TYPE_GM_TSC, 27, "Failed to verify the clock-type. It must be one of T-GM or T-TSC") \
    X(CFG_LEAP_FILE_URL, 28, "An invalid or empty URL was specified for the leap-second-file.")
// clang-format on

// ---- generated from the lists -----------------------------------------------------------------

#define PTP_ZERR_CODE_(PREFIX, FACILITY, NAME, number, ...)                                                            \
    inline constexpr zerrno PREFIX##_##NAME = zerr_make(FACILITY, number);
#define PTP_ZERR_CODE_HIGH_(PREFIX, FACILITY, NAME, number, ...)                                                       \
    inline constexpr zerrno PREFIX##_##NAME = zerr_make(FACILITY, number) | 0x80000000u;
#define PTP_ZERR_NONE_(...)
#define PTP_ZERR_X_(NAME, number, text) PTP_ZERR_CODE_(PTP_ZERR, PTP_ZERR_FACILITY, NAME, number)
#define PTP_ZERR_H_(NAME, number, text) PTP_ZERR_CODE_HIGH_(PTP_ZERR, PTP_ZERR_FACILITY, NAME, number)
#define PTP_ZERR2_X_(NAME, number, text) PTP_ZERR_CODE_(PTP_ZERR2, PTP_ZERR_FACILITY2, NAME, number)
#define PTP_ZERR2_H_(NAME, number, text) PTP_ZERR_CODE_HIGH_(PTP_ZERR2, PTP_ZERR_FACILITY2, NAME, number)
PTP_ZERR_ROWS(PTP_ZERR_X_, PTP_ZERR_H_, PTP_ZERR_NONE_)
PTP_ZERR2_ROWS(PTP_ZERR2_X_, PTP_ZERR2_H_, PTP_ZERR_NONE_)

// The texts of facility 0xFE5's rows, PTP_ZERR_TEXT_<NAME>, for code that hands an error's own
// text out with its code.
#define PTP_ZERR_TEXT_(NAME, number, text) inline constexpr const char *PTP_ZERR_TEXT_##NAME = text;
PTP_ZERR_ROWS(PTP_ZERR_TEXT_, PTP_ZERR_TEXT_, PTP_ZERR_NONE_)
#undef PTP_ZERR_TEXT_

// Row counts as the tables hold them (repeated rows included): the counts the libraries export.
#define PTP_ZERR_COUNT_(...) +1
inline constexpr uint32_t PTP_ZERR_INFO_COUNT = 0 PTP_ZERR_ROWS(PTP_ZERR_COUNT_, PTP_ZERR_COUNT_, PTP_ZERR_COUNT_);
inline constexpr uint32_t PTP_ZERR_INFO2_COUNT = 0 PTP_ZERR2_ROWS(PTP_ZERR_COUNT_, PTP_ZERR_COUNT_, PTP_ZERR_COUNT_);

// ---- compile-time checks ----------------------------------------------------------------------

// The numbers of a table's own rows (repeats left out), as written.
#define PTP_ZERR_NUMBER_(NAME, number, text) number,
inline constexpr auto ptp_zerr_numbers_ =
    std::to_array<uint32_t>({PTP_ZERR_ROWS(PTP_ZERR_NUMBER_, PTP_ZERR_NUMBER_, PTP_ZERR_NONE_)});
inline constexpr auto ptp_zerr2_numbers_ =
    std::to_array<uint32_t>({PTP_ZERR2_ROWS(PTP_ZERR_NUMBER_, PTP_ZERR_NUMBER_, PTP_ZERR_NONE_)});
#undef PTP_ZERR_NUMBER_

// Every number fits the code's six bits (zerr_make would silently wrap one that does not) and
// names one row only.
template <typename Numbers>
constexpr bool ptp_zerr_numbers_ok(const Numbers &numbers)
{
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (numbers[i] < 1 || numbers[i] > 63)
            return false;
        for (std::size_t j = 0; j < i; ++j)
            if (numbers[j] == numbers[i])
                return false;
    }
    return true;
}
static_assert(ptp_zerr_numbers_ok(ptp_zerr_numbers_), "a facility 0xFE5 row number is out of range or repeated");
static_assert(ptp_zerr_numbers_ok(ptp_zerr2_numbers_), "a facility 0x1F29 row number is out of range or repeated");
static_assert(PTP_ZERR_INFO_COUNT == 63 && PTP_ZERR_INFO2_COUNT == 30, "the exported row counts changed");

// Anchors: the layout of the codes as peers and stored files know them.
static_assert(PTP_ZERR_NOMEM == 0xC7F28200u);
static_assert(PTP_ZERR_INVALID_ARG == 0x47F28400u);
static_assert(PTP_ZERR_DB_INIT == 0x47F28C00u);
static_assert(PTP_ZERR_INVALID_DATE == 0x47F2FE00u);
static_assert(PTP_ZERR2_NO_AIB_TABLE == 0x4F948200u);
static_assert(PTP_ZERR2_CFG_LEAP_FILE_URL == 0x4F94B800u);
