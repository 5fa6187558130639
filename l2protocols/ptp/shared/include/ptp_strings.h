// Value-to-text helpers: every PTP process names port states, profiles, transports, addresses,
// accuracies, header flags and message types the same way. Also the packers that split values
// into 32-bit trace arguments and the fillers that copy addresses into bags.
//
// Constant-name formatters return a constant text. Pool formatters return one buffer of a ring of
// ten 256-byte buffers (PTP_STR_POOL_COUNT x PTP_STR_POOL_SIZE): a text stays valid for the next
// nine buffer-taking calls of the same thread and is never freed by the caller. Each thread has
// its own ring, so threads never write into each other's texts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ptp_bags.h"
#include "ptp_enums.h"
#include "ptp_nodes.h"
#include "ptp_types.h"

inline constexpr size_t PTP_STR_POOL_COUNT = 10;
inline constexpr size_t PTP_STR_POOL_SIZE = 256;

// The next buffer of the calling thread's ring, for callers that format their own text.
char *ptp_str_pool_get();

// ---- Constant names (a value outside the table gives the fallback text) ----
const char *ptp_address_encap_to_str(uint32_t encap);       // "Invalid address"
const char *ptp_clock_source_to_str(uint32_t source);       // "unknown"
const char *ptp_transport_to_str(uint32_t transport);       // "Unknown"
const char *ptp_restrict_port_state_to_str(uint32_t state); // "Unknown"
const char *ptp_basic_profile_to_str(uint32_t profile);     // "Unknown"
const char *ptp_profile_to_str(uint32_t profile);           // "Unknown"
const char *ptp_port_state_to_str(uint32_t state);          // "Unknown Port State"
const char *ptp_comms_event_to_str(int32_t event);          // -1..10, else "UNKNOWN"
const char *ptp_clock_timescale_to_str(uint32_t timescale); // "Unknown"
const char *ptp_sync_state_to_str(uint32_t state);          // "Unknown"
const char *ptp_leap_second_short_to_str(uint32_t leap);    // "UNKNOWN"
const char *ptp_leap_second_to_str(uint32_t leap);          // "UNKNOWN"
const char *ptp_primary_ref_type_to_str(uint32_t type);     // "Unknown"
const char *ptp_negotiation_to_str(uint32_t nonnegotiated); // 0 "Negotiated", else "Non-negotiated"
const char *ptp_telecom_clock_type_to_str(uint32_t type, uint32_t profile);
const char *ptp_clock_accuracy_to_str(uint32_t accuracy);    // 0x20..0x31, else "Unknown"
const char *ptp_msg_flag_to_str(uint32_t flag);              // one flag bit, else "Unknown"
const char *ptp_clock_selection_mode_to_str(uint32_t mode);  // "Unknown"
const char *ptp_clock_selection_mode_to_str2(uint32_t mode); // "Unknown"
const char *ptp_chkpt_table_to_str(int32_t table);           // -1..3, else "Unknown"
const char *ptp_msg_type_to_str(uint32_t type);              // "Unknown message type"
const char *ptp_servo_mode_to_str(uint32_t mode);            // "Unknown"
const char *ptp_network_type_to_str(uint32_t type);          // "Unknown"
const char *ptp_multicast_to_str(uint32_t enabled);          // "Multicast Disabled" / "Multicast Enabled"
const char *ptp_cfg_event_to_str(uint32_t event);            // "Create" / "Set" / "Delete" / "Unknown"
const char *ptp_op_flag_to_str(uint32_t flags);
const char *ptp_profile_name_to_str(const char *name); // the name, or "No Profile set"

// Configured source addresses and masked IPv4 addresses: "Disabled" unless enabled (pool buffer
// otherwise). IPv4 addresses are 4 bytes in network order.
const char *ptp_source_ipv4_to_str(const ptp_source_ip_data_type *source);
const char *ptp_source_ipv6_to_str(const ptp_source_ipv6_data_type *source);
const char *ptp_ipv4_addr_to_str_masked(uint32_t mask, const uint8_t address[PTP_IPV4_ADDR_LEN], uint32_t bit);

// ---- Pool formatters ----
const char *ptp_ethaddr_to_str(const uint8_t mac[PTP_MAC_ADDR_LEN]); // "%02x%02x.%02x%02x.%02x%02x"
const char *ptp_trace_ethaddr_to_str(uint32_t upper, uint32_t lower);
// "Ethernet <mac>", "IPv4 <dotted>", "IPv6 <text>"; kind 0 "Unknown address"; absent or kind
// above 3 "Invalid address".
const char *ptp_address_to_str(const ptp_address_type *address);
// The same texts from the trace words of ptp_address_trace_value / ptp_address_trace_mac_low.
const char *ptp_address_trace_to_str(uint32_t encap, uint64_t word1, uint64_t word2);
const char *ptp_transport_address_to_str(uint32_t transport, uint32_t encap, uint64_t word1, uint64_t word2);
const char *ptp_transport_change_to_str(uint32_t code); // "%s -> %s"
const char *ptp_transport_change_to_str_masked(uint32_t code, uint32_t mask, uint32_t bit);
const char *ptp_delay_asymmetry_to_str(int32_t nanoseconds); // "%d <unit>", 0 "None"
const char *ptp_node_id_to_str(uint32_t node_id);
const char *ptp_ifhandle_to_str(uint32_t ifhandle);
const char *ptp_utc_offset_to_str(int32_t offset, uint32_t valid); // "%+d second%s (%svalid)"
// "%Y-%m-%d" in UTC; the printed length goes to *length when given.
const char *ptp_date_to_str(int64_t seconds, int *length);
const char *ptp_slow_tracking_to_str(uint32_t rate);                              // "%u ns/sec" or "NOT SET"
const char *ptp_profile_clock_type_to_str(uint32_t profile, uint32_t clock_type); // "%s (%s)"

// ---- Trace packers ----
uint32_t ptp_address_encap_get(const ptp_address_type *address); // 0 when absent
// Ethernet: first four MAC bytes big-endian; IPv4: the address big-endian; IPv6: a pointer to its
// text (a pool buffer).
uint64_t ptp_address_trace_value(const ptp_address_type *address);
uint32_t ptp_address_trace_mac_low(const ptp_address_type *address); // last two MAC bytes, else 0
uint32_t ptp_trace_ethaddr_high(const uint8_t mac[PTP_MAC_ADDR_LEN]);
uint32_t ptp_trace_ethaddr_low(const uint8_t mac[PTP_MAC_ADDR_LEN]);
uint32_t ptp_trace_flags_pack(bool f0, bool f1, bool f2, bool f3); // bits 0-3
uint32_t ptp_trace_flags_pack_ptrs(const uint32_t *f0, const uint32_t *f1, const uint32_t *f2, const uint32_t *f3);
uint32_t ptp_trace_bytes_pack(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3); // b0 lowest
uint32_t ptp_transport_change_encode(uint32_t old_transport, uint32_t new_transport);
bool ptp_transport_is_unicast(uint32_t transport);

// ---- Bag fillers ----
// Copies the address into the bags' address form. A kind without an arm in the bag union
// becomes kind 0 with AddressUnknown set, so the union always has a defined arm.
void ptp_address_to_bag(const ptp_address_type *address, ptp_bag_address *out);
// Allocates count addresses (IPv4: 4 bytes network order, IPv6: 16 bytes each) into the list;
// count 0 or a failed allocation (reported) leaves an empty list. The owner frees list->AddrList.array.
void ptp_bag_ipv4_addr_list_fill(const uint32_t *addresses, uint32_t count, ptp_bag_ipv4_addr_list *list);
void ptp_bag_ipv6_addr_list_fill(const uint8_t (*addresses)[PTP_IPV6_ADDR_LEN], uint32_t count,
                                 ptp_bag_ipv6_addr_list *list);
