// Agent helpers: Announce clock-field conversions between the node's clock profile and an
// interface's interoperation profile, the profile check of received clocks, small value names
// and wire-timestamp arithmetic. All are pure.
#pragma once

#include <cstdint>

#include "ptp_types.h"
#include "ptp_zerr_codes.h"
#include "tessel_interop_config.h"
#include "zerrno.h"

// Direction of a conversion: ingress (received Announces, non-zero) or egress (advertised, 0).
inline constexpr int TESSEL_INTEROP_EGRESS = 0;
inline constexpr int TESSEL_INTEROP_INGRESS = 1;

// QL option of frequency synchronisation: 1 is option I, anything else option II.
inline constexpr uint32_t TESSEL_FSYNC_QL_OPTION_1 = 1;

// tessel_profile_clock_check returns PTP_ZERR2_CLOCK_CLASS_INCONSISTENT, PTP_ZERR2_OSLV_INCONSISTENT or
// PTP_ZERR2_FLAGS_INCONSISTENT; it never finds the accuracy inconsistent.

// The class of one profile as the other profile would express it; unlisted classes, equal
// profiles and G.8275.1 <-> G.8275.2 leave the class unchanged.
uint8_t tessel_interop_profile_clock_class_map(ptp_profile_type from, ptp_profile_type to, uint32_t ql_option,
                                               uint8_t clock_class);

// Conversions of one Announce clock field. The interop record is only read; the node profile
// and the direction pick the "from" and "to" profiles.
uint8_t tessel_interop_convert_clock_class(uint8_t clock_class, ptp_profile_type node_profile, uint32_t ql_option,
                                           int direction, const tessel_interop_config_type &interop);
uint8_t tessel_interop_convert_priority1(uint8_t value, ptp_profile_type node_profile, int direction,
                                         const tessel_interop_config_type &interop);
uint8_t tessel_interop_convert_priority2(uint8_t value, ptp_profile_type node_profile, int direction,
                                         const tessel_interop_config_type &interop);
uint8_t tessel_interop_convert_clock_accuracy(uint8_t value, ptp_profile_type node_profile, int direction,
                                              const tessel_interop_config_type &interop);
uint16_t tessel_interop_convert_oslv(uint16_t value, ptp_profile_type node_profile, int direction,
                                     const tessel_interop_config_type &interop);

// Checks a received clock against the node's profile; alternate_master_flag is non-zero when
// the Announce carried the alternateMasterFlag.
zerrno tessel_profile_clock_check(const ptp_clock_type &clock, ptp_profile_type profile,
                                  uint32_t alternate_master_flag);

// Value names (constant texts).
const char *tessel_thread_ctrl_msg_to_string(uint32_t type);
const char *tessel_bmc_if_state_to_string(uint32_t state);
const char *tessel_tlv_type_to_string(uint16_t tlv_type);
const char *tessel_cfg_update_qos_to_string(uint32_t qos);
const char *tessel_issu_milestone_to_string(uint32_t milestone);

// IEEE 1588 wire timestamp: 48-bit seconds then 32-bit nanoseconds, big-endian.
inline constexpr unsigned TESSEL_WIRE_TIMESTAMP_LEN = 10;

// Adds ns (signed) to the wire timestamp in place; nanoseconds stay within 0..999,999,999,
// borrowing from or carrying into the seconds, which wrap within 48 bits.
void tessel_timestamp_add_ns(int64_t ns, uint8_t (&timestamp)[TESSEL_WIRE_TIMESTAMP_LEN]);
