// Core types shared by every PTP process: clock records, addresses, identities and the small
// enumerations that configuration, the agent and the controller all speak.
#pragma once

#include <cstddef>
#include <cstdint>

// The platform's 32-bit interface handle.
using ifhtype = uint32_t;

// Encapsulation of a port, and the kind tag of every peer address.
enum ptp_encap_type : uint32_t {
    PTP_ENCAP_UNKNOWN = 0,
    PTP_ENCAP_ETHERNET = 1,
    PTP_ENCAP_IPV4 = 2,
    PTP_ENCAP_IPV6 = 3,
};

inline constexpr size_t PTP_MAC_ADDR_LEN = 6;
inline constexpr size_t PTP_IPV4_ADDR_LEN = 4;
inline constexpr size_t PTP_IPV6_ADDR_LEN = 16;
inline constexpr size_t PTP_ADDRESS_VALUE_LEN = 16;

// A peer address: the kind, then the 6 MAC bytes, the 4 IPv4 bytes (network order) or the
// 16 IPv6 bytes at the start of value; unused bytes are zero.
struct ptp_address_type {
    uint32_t encap; // ptp_encap_type
    uint8_t value[PTP_ADDRESS_VALUE_LEN];
};
static_assert(sizeof(ptp_address_type) == 20);

// Source of the local clock identity.
enum ptp_clock_id_kind_type : uint32_t {
    PTP_CLOCK_ID_ROUTER_MAC = 0,
    PTP_CLOCK_ID_USER_MAC = 1,
    PTP_CLOCK_ID_EUI64 = 2,
};

struct ptp_clock_id_type {
    uint32_t kind; // ptp_clock_id_kind_type
    uint8_t mac[PTP_MAC_ADDR_LEN];
    uint64_t eui;
};

// A port identity: clock identity and port number.
struct ptp_port_id_type {
    uint64_t clock_id;
    uint16_t port_num;
};
static_assert(sizeof(ptp_port_id_type) == 16);

// One clock's data set. The layout is fixed (80 bytes, natural alignment) because the same
// field order and offsets make up the clock wire form; encode it with ptp_clock_to_wire,
// never by copying the struct.
struct ptp_clock_type {
    uint64_t clock_id; // grandmaster identity, host order, compared unsigned
    uint8_t priority1;
    uint8_t clock_class; // as received
    uint8_t accuracy;
    uint16_t offset_log_variance; // offsetScaledLogVariance
    uint8_t priority2;
    uint16_t steps_removed;
    uint8_t time_source;
    int16_t utc_offset;
    uint32_t utc_offset_valid;
    uint32_t frequency_traceable;
    uint32_t time_traceable;
    uint8_t timescale;              // ptp_clock_timescale_type
    uint8_t leap_seconds;           // ptp_leap_seconds_type
    ptp_port_id_type sender;        // port that sent the Announce
    ptp_port_id_type receiver;      // local port that received it
    uint32_t local;                 // the record describes this node's own clock
    uint8_t configured_clock_class; // 0 = none configured
    uint8_t configured_priority;    // local priority of this master (or the local clock)
    // 1 when configured_priority holds a configured value, so that 0 ranks as 0; a record with
    // the flag clear ranks a priority of 0 as "none" (the default).
    uint8_t configured_priority_set;
};
static_assert(sizeof(ptp_clock_type) == 80);
static_assert(offsetof(ptp_clock_type, offset_log_variance) == 12);
static_assert(offsetof(ptp_clock_type, steps_removed) == 16);
static_assert(offsetof(ptp_clock_type, utc_offset) == 20);
static_assert(offsetof(ptp_clock_type, utc_offset_valid) == 24);
static_assert(offsetof(ptp_clock_type, timescale) == 36);
static_assert(offsetof(ptp_clock_type, sender) == 40);
static_assert(offsetof(ptp_clock_type, receiver) == 56);
static_assert(offsetof(ptp_clock_type, local) == 72);
static_assert(offsetof(ptp_clock_type, configured_clock_class) == 76);
static_assert(offsetof(ptp_clock_type, configured_priority_set) == 78);

// Clock profile, which is also the clock-selection mode of ptp_clock_compare.
enum ptp_profile_type : uint32_t {
    PTP_PROFILE_DEFAULT = 0,
    PTP_PROFILE_G8265_1 = 1,
    PTP_PROFILE_G8275_1 = 2,
    PTP_PROFILE_G8275_2 = 3,
};
inline constexpr uint32_t PTP_PROFILE_MAX = PTP_PROFILE_G8275_2;

// Telecom clock type (G.8275 profiles).
enum ptp_telecom_clock_type : uint32_t {
    PTP_TELECOM_CLOCK_T_GM = 0,
    PTP_TELECOM_CLOCK_T_BC = 1,
    PTP_TELECOM_CLOCK_T_TSC = 2,
};

// IEEE 1588 message types.
enum ptp_message_type : uint32_t {
    PTP_MSG_SYNC = 0x0,
    PTP_MSG_DELAY_REQ = 0x1,
    PTP_MSG_PDELAY_REQ = 0x2,
    PTP_MSG_PDELAY_RESP = 0x3,
    PTP_MSG_FOLLOW_UP = 0x8,
    PTP_MSG_DELAY_RESP = 0x9,
    PTP_MSG_PDELAY_RESP_FOLLOW_UP = 0xA,
    PTP_MSG_ANNOUNCE = 0xB,
    PTP_MSG_SIGNALING = 0xC,
    PTP_MSG_MANAGEMENT = 0xD,
};

// Communication model of a port or master-table entry.
enum ptp_transport_type : uint32_t {
    PTP_TRANSPORT_UNICAST = 0,
    PTP_TRANSPORT_MIXED = 1,
    PTP_TRANSPORT_MULTICAST = 2,
};

// Configured restriction of the port state.
enum ptp_restrict_port_state_type : uint32_t {
    PTP_RESTRICT_PORT_STATE_ANY = 0,
    PTP_RESTRICT_PORT_STATE_SLAVE_ONLY = 1,
    PTP_RESTRICT_PORT_STATE_MASTER_ONLY = 2,
};

// Port states of the state machine.
enum ptp_port_state_type : uint32_t {
    PTP_PORT_STATE_INITIALIZING = 0,
    PTP_PORT_STATE_LISTEN = 1,
    PTP_PORT_STATE_PASSIVE = 2,
    PTP_PORT_STATE_PRE_MASTER = 3,
    PTP_PORT_STATE_MASTER = 4,
    PTP_PORT_STATE_UNCALIBRATED = 5,
    PTP_PORT_STATE_SLAVE = 6,
    PTP_PORT_STATE_FAULTY = 7,
};

enum ptp_clock_timescale_type : uint32_t {
    PTP_TIMESCALE_PTP = 0,
    PTP_TIMESCALE_ARB = 1,
};

enum ptp_leap_seconds_type : uint32_t {
    PTP_LEAP_NONE = 0,
    PTP_LEAP_59 = 1,
    PTP_LEAP_61 = 2,
};

// A configured message rate: an interval of 2^value seconds (kind 0) or a frequency of
// 2^value messages per second (kind 1).
enum ptp_time_data_kind_type : uint8_t {
    PTP_TIME_DATA_INTERVAL = 0,
    PTP_TIME_DATA_FREQUENCY = 1,
};
struct ptp_time_data_type {
    uint8_t kind; // ptp_time_data_kind_type
    uint8_t value;
};

// A delay asymmetry in nanoseconds, and the units it may be configured in.
using ptp_delay_asymmetry_type = int32_t;
enum ptp_delay_asymmetry_units_type : uint32_t {
    PTP_DELAY_ASYMMETRY_NANOSECONDS = 0,
    PTP_DELAY_ASYMMETRY_MICROSECONDS = 1,
    PTP_DELAY_ASYMMETRY_MILLISECONDS = 2,
};

// A clock class with its configured-or-not flag.
struct ptp_clock_class_type {
    uint8_t clock_class;
    uint8_t is_set;
};

// Configured source addresses of a port; a disabled IPv4 source holds all ones.
struct ptp_source_ip_data_type {
    uint32_t enable;
    uint8_t ip_address[PTP_IPV4_ADDR_LEN]; // network order
};
struct ptp_source_ipv6_data_type {
    uint32_t enable;
    uint8_t ip_address[PTP_IPV6_ADDR_LEN];
};
