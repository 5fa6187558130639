// The PTP bag catalogue, kept once as data. Every user derives from these tables: the native
// records and their compile-time layout checks, the schema texts, the descriptors and their
// registration (ptp_bags.h), and the bag-description library.
//
// X-macro tables:
//   PTP_BAG_ENUMS(X)         X(enum type, constant prefix, enumerator list macro)
//   PTP_BAG_ENUM_<type>(E)   E(prefix, NAME, value) per enumerator, in value order
//   PTP_BAG_DEFINITIONS(X)   X(id, C struct, described type name, REC or BARE), ascending id
//   PTP_BAG_DEF_<id>(F, S)   F(S, field name, "type text", C type) per field, in schema order
//   PTP_BAG_BARE_<id>        the C definition of an unnamed definition (BARE)
//   PTP_BAG_BARE_TEXT_<id>   its type text
//   PTP_BAG_CATALOGUE(X)     X(bag, root id, native size, further definitions), registration order
//
// Field names are the names the display tools and MIB plug-ins decode by; they stay exactly as
// they are, misspellings included. N fields hold an IPv4 address in network byte order.
#pragma once

#include <cstdint>

#include "bag.h"

// Native forms of inline arrays and raw byte fields.
using ptp_bag_u16x2 = uint16_t[2];
using ptp_bag_u32x5 = uint32_t[5];
using ptp_bag_u32x12 = uint32_t[12];
using ptp_bag_u32x16 = uint32_t[16];
using ptp_bag_u32x26 = uint32_t[26];
using ptp_bag_bytes6 = uint8_t[6];
using ptp_bag_bytes16 = uint8_t[16];

// The tables keep one row a line.
// clang-format off
#define PTP_BAG_ENUMS(X) \
    X(ptp_bag_clock_time_source, PTP_BAG_TIME_SOURCE, PTP_BAG_ENUM_ptp_bag_clock_time_source) \
    X(ptp_bag_clock_timescale, PTP_BAG_TIMESCALE, PTP_BAG_ENUM_ptp_bag_clock_timescale) \
    X(ptp_bag_clock_leap_seconds, PTP_BAG_LEAP_SECONDS, PTP_BAG_ENUM_ptp_bag_clock_leap_seconds) \
    X(ptp_bag_encap, PTP_BAG_ENCAP, PTP_BAG_ENUM_ptp_bag_encap) \
    X(ptp_bag_communication_model, PTP_BAG_COMMUNICATION_MODEL, PTP_BAG_ENUM_ptp_bag_communication_model) \
    X(ptp_bag_transport_type, PTP_BAG_TRANSPORT, PTP_BAG_ENUM_ptp_bag_transport_type) \
    X(ptp_bag_port_state, PTP_BAG_PORT_STATE, PTP_BAG_ENUM_ptp_bag_port_state) \
    X(ptp_bag_restrict_port_state_type, PTP_BAG_RESTRICT_PORT_STATE, PTP_BAG_ENUM_ptp_bag_restrict_port_state_type) \
    X(ptp_bag_profile_type, PTP_BAG_PROFILE, PTP_BAG_ENUM_ptp_bag_profile_type) \
    X(ptp_bag_delay_mechanism, PTP_BAG_DELAY_MECHANISM, PTP_BAG_ENUM_ptp_bag_delay_mechanism) \
    X(ptp_bag_telecom_clock_type, PTP_BAG_TELECOM_CLOCK, PTP_BAG_ENUM_ptp_bag_telecom_clock_type) \
    X(ptp_bag_clock_selection_mode, PTP_BAG_CLOCK_SELECTION_MODE, PTP_BAG_ENUM_ptp_bag_clock_selection_mode) \
    X(ptp_bag_platform_capability_api_version, PTP_BAG_PLATFORM_CAPABILITY_API, PTP_BAG_ENUM_ptp_bag_platform_capability_api_version) \

#define PTP_BAG_ENUM_ptp_bag_clock_time_source(E) \
    E(PTP_BAG_TIME_SOURCE, Unknown, 0) \
    E(PTP_BAG_TIME_SOURCE, Atomic, 16) \
    E(PTP_BAG_TIME_SOURCE, GPS, 32) \
    E(PTP_BAG_TIME_SOURCE, TerrestrialRadio, 48) \
    E(PTP_BAG_TIME_SOURCE, PTP, 64) \
    E(PTP_BAG_TIME_SOURCE, NTP, 80) \
    E(PTP_BAG_TIME_SOURCE, HandSet, 96) \
    E(PTP_BAG_TIME_SOURCE, Other, 144) \
    E(PTP_BAG_TIME_SOURCE, InternalOscillator, 160) \

#define PTP_BAG_ENUM_ptp_bag_clock_timescale(E) \
    E(PTP_BAG_TIMESCALE, PTP, 0) \
    E(PTP_BAG_TIMESCALE, ARB, 1) \

#define PTP_BAG_ENUM_ptp_bag_clock_leap_seconds(E) \
    E(PTP_BAG_LEAP_SECONDS, None, 0) \
    E(PTP_BAG_LEAP_SECONDS, Leap59, 1) \
    E(PTP_BAG_LEAP_SECONDS, Leap61, 2) \

#define PTP_BAG_ENUM_ptp_bag_encap(E) \
    E(PTP_BAG_ENCAP, Unknown, 0) \
    E(PTP_BAG_ENCAP, Ethernet, 1) \
    E(PTP_BAG_ENCAP, IPv4, 2) \
    E(PTP_BAG_ENCAP, IPv6, 3) \

#define PTP_BAG_ENUM_ptp_bag_communication_model(E) \
    E(PTP_BAG_COMMUNICATION_MODEL, Unicast, 0) \
    E(PTP_BAG_COMMUNICATION_MODEL, MixedMode, 1) \
    E(PTP_BAG_COMMUNICATION_MODEL, Multicast, 2) \

#define PTP_BAG_ENUM_ptp_bag_transport_type(E) \
    E(PTP_BAG_TRANSPORT, Unicast, 0) \
    E(PTP_BAG_TRANSPORT, MixedMode, 1) \
    E(PTP_BAG_TRANSPORT, Multicast, 2) \

#define PTP_BAG_ENUM_ptp_bag_port_state(E) \
    E(PTP_BAG_PORT_STATE, INITIALIZING, 0) \
    E(PTP_BAG_PORT_STATE, LISTEN, 1) \
    E(PTP_BAG_PORT_STATE, PASSIVE, 2) \
    E(PTP_BAG_PORT_STATE, PRE_MASTER, 3) \
    E(PTP_BAG_PORT_STATE, MASTER, 4) \
    E(PTP_BAG_PORT_STATE, UNCALIBRATED, 5) \
    E(PTP_BAG_PORT_STATE, SLAVE, 6) \
    E(PTP_BAG_PORT_STATE, FAULTY, 7) \

#define PTP_BAG_ENUM_ptp_bag_restrict_port_state_type(E) \
    E(PTP_BAG_RESTRICT_PORT_STATE, Any, 0) \
    E(PTP_BAG_RESTRICT_PORT_STATE, SlaveOnly, 1) \
    E(PTP_BAG_RESTRICT_PORT_STATE, MasterOnly, 2) \

#define PTP_BAG_ENUM_ptp_bag_profile_type(E) \
    E(PTP_BAG_PROFILE, Default, 0) \
    E(PTP_BAG_PROFILE, G82651, 1) \
    E(PTP_BAG_PROFILE, G82751, 2) \
    E(PTP_BAG_PROFILE, G82752, 3) \

#define PTP_BAG_ENUM_ptp_bag_delay_mechanism(E) \
    E(PTP_BAG_DELAY_MECHANISM, E2E, 0) \
    E(PTP_BAG_DELAY_MECHANISM, P2P, 1) \

#define PTP_BAG_ENUM_ptp_bag_telecom_clock_type(E) \
    E(PTP_BAG_TELECOM_CLOCK, Grandmaster, 0) \
    E(PTP_BAG_TELECOM_CLOCK, Boundary, 1) \
    E(PTP_BAG_TELECOM_CLOCK, Slave, 2) \

#define PTP_BAG_ENUM_ptp_bag_clock_selection_mode(E) \
    E(PTP_BAG_CLOCK_SELECTION_MODE, IEEE_1588, 0) \
    E(PTP_BAG_CLOCK_SELECTION_MODE, Telecom, 1) \

#define PTP_BAG_ENUM_ptp_bag_platform_capability_api_version(E) \
    E(PTP_BAG_PLATFORM_CAPABILITY_API, VersionZero, 0) \
    E(PTP_BAG_PLATFORM_CAPABILITY_API, VersionOne, 1) \
    E(PTP_BAG_PLATFORM_CAPABILITY_API, VersionTwo, 2) \

#define PTP_BAG_DEFINITIONS(X) \
    X(96, ptp_bag_ipv6_addr, "ptp_bag_ipv6_addr", BARE) \
    X(97, ptp_bag_ipv6_addr_type, "ptp_bag_ipv6_addr_type", REC) \
    X(98, ptp_bag_mac_addr_type, "ptp_bag_mac_addr_type", REC) \
    X(99, ptp_bag_clock_utc_offset, "ptp_bag_clock_utc_offset", REC) \
    X(100, ptp_bag_port_id, "ptp_bag_port_id", REC) \
    X(101, ptp_bag_clock, "ptp_bag_clock", REC) \
    X(102, ptp_bag_virtual_port, "ptp_bag_virtual_port", REC) \
    X(103, ptp_bag_unicast_grant, "ptp_bag_unicast_grant", REC) \
    X(104, ptp_bag_address, "ptp_bag_address", BARE) \
    X(105, ptp_bag_drop_reasons, "ptp_bag_drop_reasons", REC) \
    X(106, ptp_bag_foreign_clock, "ptp_bag_foreign_clock", REC) \
    X(107, ptp_bag_unicast_peer, "ptp_bag_unicast_peer", REC) \
    X(108, ptp_bag_master_table_entry, "ptp_bag_master_table_entry", REC) \
    X(109, ptp_bag_slave_table_entry, "ptp_bag_slave_table_entry", REC) \
    X(110, ptp_bag_bmc_clock, "ptp_bag_bmc_clock", REC) \
    X(111, ptp_bag_leap_seconds_entry, "ptp_bag_leap_seconds_entry", REC) \
    X(112, ptp_bag_utc_offset_info, "ptp_bag_utc_offset_info", REC) \
    X(113, ptp_bag_clock_operation_data, "ptp_bag_clock_operation_data", REC) \
    X(114, ptp_bag_source_ip_data, "ptp_bag_source_ip_data", REC) \
    X(115, ptp_bag_source_ipv6_data, "ptp_bag_source_ipv6_data", REC) \
    X(116, ptp_bag_idb_config, "ptp_bag_idb_config", REC) \
    X(117, ptp_bag_idb_config_flags, "ptp_bag_idb_config_flags", REC) \
    X(118, ptp_bag_idb_plat_caps, "ptp_bag_idb_plat_caps", REC) \
    X(119, ptp_bag_string, "ptp_bag_string", BARE) \
    X(120, ptp_bag_ipv4_addr_list, "ptp_bag_ipv4_addr_list", REC) \
    X(121, ptp_bag_ipv6_addr_list, "ptp_bag_ipv6_addr_list", REC) \
    X(122, ptp_bag_ipc_idb, "ptp_bag_ipc_idb", REC) \
    X(123, ptp_bag_idb_offload_entry, "ptp_bag_idb_offload_entry", REC) \
    X(124, ptp_bag_idb_foreign_master_entry, "ptp_bag_idb_foreign_master_entry", REC) \
    X(125, ptp_bag_idb_unicast_peer_entry, "ptp_bag_idb_unicast_peer_entry", REC) \
    X(126, ptp_bag_idb_fsm, "ptp_bag_idb_fsm", REC) \
    X(127, ptp_bag_proto_idb, "ptp_bag_proto_idb", REC) \
    X(128, ptp_bag_packet_counters, "ptp_bag_packet_counters", REC) \
    X(129, ptp_bag_peer_packet_counters, "ptp_bag_peer_packet_counters", REC) \
    X(130, ptp_bag_config_errors, "ptp_bag_config_errors", REC) \
    X(131, ptp_bag_gl_config_errors, "ptp_bag_gl_config_errors", REC) \
    X(132, ptp_bag_global_bmc_info, "ptp_bag_global_bmc_info", REC) \
    X(133, ptp_bag_global_config_info, "ptp_bag_global_config_info", REC) \
    X(134, ptp_bag_platform_capability_int_clock_ql, "ptp_bag_platform_capability_int_clock_ql_type", REC) \
    X(135, ptp_bag_platform_servo_init_info, "ptp_platform_servo_init_info_type", REC) \
    X(136, ptp_bag_platform_capability_init_info, "ptp_platform_capability_init_info_type", REC) \
    X(137, ptp_bag_platform_capability_info, "ptp_platform_capability_info_type", REC) \
    X(138, ptp_bag_platform_info, "ptp_bag_platform_info", REC) \
    X(139, ptp_current_ds_info, "ptp_current_ds_info", REC) \
    X(140, ptp_default_ds_info, "ptp_default_ds_info", REC) \
    X(141, ptp_parent_ds_info, "ptp_parent_ds_info", REC) \
    X(142, ptp_time_properties_ds_info, "ptp_time_properties_ds_info", REC) \
    X(143, ptp_port_ds_info, "ptp_port_ds_info", REC) \
    X(144, ptp_bag_clock_class_mapping, "ptp_bag_clock_class_mapping", REC) \
    X(145, ptp_bag_profile_interop_cfg, "ptp_bag_profile_interop_cfg", REC) \
    X(146, ptp_bag_profile_interop, "ptp_bag_profile_interop", REC) \
    X(147, ptp_bag_profile_interop_peer, "ptp_bag_profile_interop_peer", REC) \
    X(149, ptp_if_info, "ptp_if_info", REC) \
    X(150, ptp_if_interop_info, "ptp_if_interop_info", REC) \
    X(151, ptp_if_clock_info, "ptp_if_clock_info", REC) \
    X(152, ptp_if_packet_counter_info, "ptp_if_packet_counter_info", REC) \
    X(153, ptp_node_packet_counter_info, "ptp_node_packet_counter_info", REC) \
    X(154, ptp_if_idb_info, "ptp_if_idb_info", REC) \
    X(155, ptp_if_unicast_peer_info, "ptp_if_unicast_peer_info", REC) \
    X(156, ptp_if_event_counter_info, "ptp_if_event_counter_info", REC) \
    X(157, ptp_node_event_counter_info, "ptp_node_event_counter_info", REC) \
    X(158, sardo_event_counter_info, "sardo_event_counter_info", REC) \
    X(159, ptp_summary_info, "ptp_summary_info", REC) \
    X(160, ptp_grandmaster_info, "ptp_grandmaster_info", REC) \
    X(161, ptp_advertised_clock_info, "ptp_advertised_clock_info", REC) \
    X(162, ptp_local_clock_info, "ptp_local_clock_info", REC) \
    X(163, ptp_leap_seconds_info, "ptp_leap_seconds_info", REC) \
    X(164, ptp_global_database_info, "ptp_global_database_info", REC) \
    X(165, ptp_if_config_errors_entry, "ptp_if_config_errors_entry", REC) \
    X(166, sardo_config_errors_info, "sardo_config_errors_info", REC) \
    X(167, ptp_trap_clock_class, "ptp_trap_clock_class", REC) \
    X(168, ptp_trap_clock_state, "ptp_trap_clock_state", REC) \
    X(169, ptp_trap_time_source, "ptp_trap_time_source", REC) \
    X(170, ptp_trap_utc_offset, "ptp_trap_utc_offset", REC) \
    X(171, ptp_trap_offset_threshold_breach, "ptp_trap_offset_threshold_breach", REC) \
    X(172, ptp_trap_master_lost, "ptp_trap_master_lost", REC) \
    X(173, ptp_trap_slave_lost, "ptp_trap_slave_lost", REC) \

#define PTP_BAG_BARE_96 \
    struct ptp_bag_ipv6_addr { uint8_t addr[16]; };
#define PTP_BAG_BARE_TEXT_96 "16x%s"

#define PTP_BAG_DEF_97(F, S) \
    F(S, IPv6Address, "16x%s", ptp_bag_bytes16) \

#define PTP_BAG_DEF_98(F, S) \
    F(S, macaddr, "6x%m", ptp_bag_bytes6) \

#define PTP_BAG_DEF_99(F, S) \
    F(S, CurrentOffset, "i", int32_t) \
    F(S, OffsetValid, "b", uint32_t) \

#define PTP_BAG_DEF_100(F, S) \
    F(S, ClockID, "H", uint64_t) \
    F(S, PortNumber, "I", uint16_t) \

#define PTP_BAG_DEF_101(F, S) \
    F(S, ClockID, "H", uint64_t) \
    F(S, Priority1, "C", uint8_t) \
    F(S, Priority2, "C", uint8_t) \
    F(S, Class, "C", uint8_t) \
    F(S, Accuracy, "C", uint8_t) \
    F(S, OffsetLogVariance, "I", uint16_t) \
    F(S, StepsRemoved, "I", uint16_t) \
    F(S, TimeSource, "[ptp_bag_clock_time_source]e", ptp_bag_clock_time_source) \
    F(S, UTCOffset, "$99", ptp_bag_clock_utc_offset) \
    F(S, FrequencyTraceable, "b", uint32_t) \
    F(S, TimeTraceable, "b", uint32_t) \
    F(S, Timescale, "[ptp_bag_clock_timescale]e", ptp_bag_clock_timescale) \
    F(S, LeapSeconds, "[ptp_bag_clock_leap_seconds]e", ptp_bag_clock_leap_seconds) \
    F(S, Receiver, "$100", ptp_bag_port_id) \
    F(S, IsReceiverValid, "b", uint32_t) \
    F(S, Sender, "$100", ptp_bag_port_id) \
    F(S, IsSenderValid, "b", uint32_t) \
    F(S, Local, "b", uint32_t) \
    F(S, ConfiguredClockClass, "C", uint8_t) \
    F(S, ConfiguredPriority, "C", uint8_t) \

#define PTP_BAG_DEF_102(F, S) \
    F(S, Configured, "b", uint32_t) \
    F(S, Connected, "b", uint32_t) \
    F(S, Priority1, "p(C)", uint8_t *) \
    F(S, Priority2, "p(C)", uint8_t *) \
    F(S, Class, "p(C)", uint8_t *) \
    F(S, Accuracy, "p(C)", uint8_t *) \
    F(S, OffsetLogVariance, "p(I)", uint16_t *) \
    F(S, LocalPriority, "p(C)", uint8_t *) \

#define PTP_BAG_DEF_103(F, S) \
    F(S, LogGrantInterval, "c", int8_t) \
    F(S, GrantDuration, "D", uint32_t) \

#define PTP_BAG_BARE_104 \
    union alignas(8) ptp_bag_address_value { uint32_t AddressUnknown; ptp_bag_mac_addr_type MACAddress; \
        uint32_t IPv4Address; ptp_bag_ipv6_addr_type IPv6Address; }; \
    struct ptp_bag_address { ptp_bag_encap Encapsulation; ptp_bag_address_value value; };
#define PTP_BAG_BARE_TEXT_104 "?(<Encapsulation,ptp_bag_encap>,0:{AddressUnknown}b,1:{MACAddress}$98,2:{IPv4Address}N,3:{IPv6Address}$97)"

#define PTP_BAG_DEF_105(F, S) \
    F(S, NotReady, "D", uint32_t) \
    F(S, WrongDomain, "D", uint32_t) \
    F(S, TooShort, "D", uint32_t) \
    F(S, LoopedSamePort, "D", uint32_t) \
    F(S, LoopedHigherPort, "D", uint32_t) \
    F(S, LoopedLowerPort, "D", uint32_t) \
    F(S, NoTimestamp, "D", uint32_t) \
    F(S, ZeroTimestamp, "D", uint32_t) \
    F(S, InvalidTLVs, "D", uint32_t) \
    F(S, NotForUs, "D", uint32_t) \
    F(S, NotListening, "D", uint32_t) \
    F(S, WrongMaster, "D", uint32_t) \
    F(S, UnknownMaster, "D", uint32_t) \
    F(S, NotMaster, "D", uint32_t) \
    F(S, NotSlave, "D", uint32_t) \
    F(S, NotGranted, "D", uint32_t) \
    F(S, TooSlow, "D", uint32_t) \
    F(S, InvalidPacket, "D", uint32_t) \
    F(S, WrongSequenceID, "D", uint32_t) \
    F(S, NoOffloadSession, "D", uint32_t) \
    F(S, NotSupported, "D", uint32_t) \
    F(S, MinClockClass, "D", uint32_t) \
    F(S, BadClockClass, "D", uint32_t) \
    F(S, ReservedClockID, "D", uint32_t) \
    F(S, StepsRemoved, "D", uint32_t) \
    F(S, G8265_1Incompatible, "D", uint32_t) \
    F(S, G8275_1Incompatible, "D", uint32_t) \
    F(S, G8275_2Incompatible, "D", uint32_t) \
    F(S, IncorrectAddress, "D", uint32_t) \
    F(S, NonNegotiated, "D", uint32_t) \
    F(S, VerifyChecksumFailed, "D", uint32_t) \
    F(S, IPV4VerifyChecksum, "D", uint32_t) \

#define PTP_BAG_DEF_106(F, S) \
    F(S, PeerIndex, "PI", uint16_t) \
    F(S, ForeignClock, "$101", ptp_bag_clock) \
    F(S, IsQualified, "b", uint32_t) \
    F(S, IsGrandmaster, "b", uint32_t) \
    F(S, CommunicationModel, "[ptp_bag_communication_model]e", ptp_bag_communication_model) \
    F(S, IsKnown, "b", uint32_t) \
    F(S, TimeKnownFor, "D", uint32_t) \
    F(S, ForeignDomain, "C", uint8_t) \
    F(S, Address, "$104", ptp_bag_address) \
    F(S, ConfiguredPriority, "p(C)", uint8_t *) \
    F(S, ConfiguredClockClass, "p(C)", uint8_t *) \
    F(S, DelayAsymmetry, "d", int32_t) \
    F(S, AnnounceGrant, "p($103)", ptp_bag_unicast_grant *) \
    F(S, SyncGrant, "p($103)", ptp_bag_unicast_grant *) \
    F(S, DelayResponseGrant, "p($103)", ptp_bag_unicast_grant *) \
    F(S, PTSFLossAnnounce, "b", uint32_t) \
    F(S, PTSFLossSync, "b", uint32_t) \
    F(S, IsDNU, "b", uint32_t) \

#define PTP_BAG_DEF_107(F, S) \
    F(S, PeerIndex, "PI", uint16_t) \
    F(S, Address, "$104", ptp_bag_address) \
    F(S, AnnounceGrant, "p($103)", ptp_bag_unicast_grant *) \
    F(S, SyncGrant, "p($103)", ptp_bag_unicast_grant *) \
    F(S, DelayResponseGrant, "p($103)", ptp_bag_unicast_grant *) \

#define PTP_BAG_DEF_108(F, S) \
    F(S, Address, "$104", ptp_bag_address) \
    F(S, CommunicationModel, "[ptp_bag_communication_model]e", ptp_bag_communication_model) \
    F(S, Priority, "p(C)", uint8_t *) \
    F(S, Known, "b", uint32_t) \
    F(S, IsKnownValid, "b", uint32_t) \
    F(S, Qualified, "b", uint32_t) \
    F(S, IsQualifiedValid, "b", uint32_t) \
    F(S, IsGrandmaster, "b", uint32_t) \
    F(S, IsIsGrandmasterValid, "b", uint32_t) \
    F(S, PTSFLossAnnounce, "C", uint8_t) \
    F(S, PTSFLossSync, "C", uint8_t) \
    F(S, ArePTSFValid, "b", uint32_t) \
    F(S, IsNonnegotiated, "p(b)", uint32_t *) \

#define PTP_BAG_DEF_109(F, S) \
    F(S, SlaveTableEntryAddress, "$104", ptp_bag_address) \
    F(S, IsNonnegotiated, "p(b)", uint32_t *) \

#define PTP_BAG_DEF_110(F, S) \
    F(S, ForeignClock, "$101", ptp_bag_clock) \
    F(S, Node, "D", uint32_t) \
    F(S, PreviousNode, "D", uint32_t) \
    F(S, NextNode, "D", uint32_t) \
    F(S, CheckpointID, "D", uint32_t) \

#define PTP_BAG_DEF_111(F, S) \
    F(S, Offset, "i", int32_t) \
    F(S, OffsetStartDate, "H", uint64_t) \
    F(S, OffsetChange, "i", int32_t) \
    F(S, OffsetApplied, "b", uint32_t) \

#define PTP_BAG_DEF_112(F, S) \
    F(S, Offset, "i", int32_t) \
    F(S, Valid, "b", uint32_t) \
    F(S, Flag, "C", uint8_t) \

#define PTP_BAG_DEF_113(F, S) \
    F(S, OneStep, "b", uint32_t) \

#define PTP_BAG_DEF_114(F, S) \
    F(S, Enable, "b", uint32_t) \
    F(S, IPAddress, "N", uint32_t) \

#define PTP_BAG_DEF_115(F, S) \
    F(S, Enable, "b", uint32_t) \
    F(S, SourceIPv6Address, "16x%s", ptp_bag_bytes16) \

#define PTP_BAG_DEF_116(F, S) \
    F(S, EncapsulationConfiguration, "[ptp_bag_encap]e", ptp_bag_encap) \
    F(S, LogAnnounceIntervalConfiguration, "D", uint32_t) \
    F(S, AnnounceTimeoutConfiguration, "D", uint32_t) \
    F(S, LogSyncIntervalConfiguration, "D", uint32_t) \
    F(S, LogMinimumDelayRequestIntervalConfiguration, "D", uint32_t) \
    F(S, MasterTable, "a($108)", bag_array<ptp_bag_master_table_entry>) \
    F(S, SlaveTable, "a($109)", bag_array<ptp_bag_slave_table_entry>) \
    F(S, PortStateConfiguration, "[ptp_bag_restrict_port_state_type]e", ptp_bag_restrict_port_state_type) \
    F(S, ClockOperationConfiguration, "$113", ptp_bag_clock_operation_data) \
    F(S, SourceIPConfiguration, "$114", ptp_bag_source_ip_data) \
    F(S, SourceIPv6Configuration, "$115", ptp_bag_source_ipv6_data) \
    F(S, COSConfiguration, "D", uint32_t) \
    F(S, GeneralCOSConfiguration, "D", uint32_t) \
    F(S, EventCOSConfiguration, "D", uint32_t) \
    F(S, DSCPConfiguration, "D", uint32_t) \
    F(S, GeneralDSCPConfiguration, "D", uint32_t) \
    F(S, EventDSCPConfiguration, "D", uint32_t) \
    F(S, IPv4TTLConfiguration, "D", uint32_t) \
    F(S, IPv6HopLimitConfiguration, "D", uint32_t) \
    F(S, DelayAsymmetryConfiguration, "d", int32_t) \
    F(S, TransportConfiguration, "[ptp_bag_transport_type]e", ptp_bag_transport_type) \
    F(S, AnnounceGrantDurationConfiguration, "D", uint32_t) \
    F(S, SyncGrantDurationConfiguration, "D", uint32_t) \
    F(S, DelayRespGrantDurationConfiguration, "D", uint32_t) \
    F(S, DelayRespReceiveTimeoutConfiguration, "D", uint32_t) \
    F(S, DenyInvalidGrantsConfiguration, "b", uint32_t) \
    F(S, SyncReceiveTimeoutConfiguration, "D", uint32_t) \

#define PTP_BAG_DEF_117(F, S) \
    F(S, EncapsulationConfigurationSet, "b", uint32_t) \
    F(S, AnnounceIntervalConfigurationSet, "b", uint32_t) \
    F(S, AnnounceTimeoutConfigurationSet, "b", uint32_t) \
    F(S, SyncIntervalConfigurationSet, "b", uint32_t) \
    F(S, MinimumDelayRequestIntervalConfigurationSet, "b", uint32_t) \
    F(S, UnicastGrantConfigurationSet, "b", uint32_t) \
    F(S, UnicastRequestConfigurationSet, "b", uint32_t) \
    F(S, PortStateConfigurationSet, "b", uint32_t) \
    F(S, ClockOperationConfigurationSet, "b", uint32_t) \
    F(S, SourceIPConfigurationSet, "b", uint32_t) \
    F(S, SourceIPv6ConfigurationSet, "b", uint32_t) \
    F(S, COSConfigurationSet, "b", uint32_t) \
    F(S, GeneralCOSConfigurationSet, "b", uint32_t) \
    F(S, EventCOSConfigurationSet, "b", uint32_t) \
    F(S, DSCPConfigurationSet, "b", uint32_t) \
    F(S, GeneralDSCPConfigurationSet, "b", uint32_t) \
    F(S, EventDSCPConfigurationSet, "b", uint32_t) \
    F(S, IPv4TTLConfigurationSet, "b", uint32_t) \
    F(S, IPv6HopLimitConfigurationSet, "b", uint32_t) \
    F(S, DelayAsymmetryConfigurationSet, "b", uint32_t) \
    F(S, MulticastConfigurationSet, "b", uint32_t) \
    F(S, AnnounceGrantDurationSet, "b", uint32_t) \
    F(S, SyncGrantDurationSet, "b", uint32_t) \
    F(S, DelayRespGrantDurationSet, "b", uint32_t) \
    F(S, DelayRespReceiveTimeoutSet, "b", uint32_t) \
    F(S, DenyInvalidGrantsSet, "b", uint32_t) \
    F(S, SyncReceiveTimeoutSet, "b", uint32_t) \
    F(S, InteropCfgSet, "b", uint32_t) \

#define PTP_BAG_DEF_118(F, S) \
    F(S, SupportsUnicast, "b", uint32_t) \
    F(S, SupportsMaster, "b", uint32_t) \
    F(S, SupportsOneStep, "b", uint32_t) \
    F(S, SupportsTwoStep, "b", uint32_t) \
    F(S, SupportsEthernet, "b", uint32_t) \
    F(S, SupportsMulticast, "b", uint32_t) \
    F(S, SupportsIPv4, "b", uint32_t) \
    F(S, SupportsIPv6, "b", uint32_t) \
    F(S, SupportsSlave, "b", uint32_t) \
    F(S, SupportsSourceIP, "b", uint32_t) \
    F(S, LogSyncRate, "C", uint8_t) \

#define PTP_BAG_BARE_119 \
    using ptp_bag_string = const char *;
#define PTP_BAG_BARE_TEXT_119 "s"

#define PTP_BAG_DEF_120(F, S) \
    F(S, AddrList, "a(N)", bag_array<uint32_t>) \

#define PTP_BAG_DEF_121(F, S) \
    F(S, AddrList, "a($96)", bag_array<ptp_bag_ipv6_addr>) \

#define PTP_BAG_DEF_122(F, S) \
    F(S, IPCThreadInterfaceName, "s", const char *) \
    F(S, IPCThreadInterfaceHandle, "D%h", uint32_t) \
    F(S, IPCThreadInterfaceType, "I%i", uint16_t) \
    F(S, IPCThreadLineState, "[im_state_type_]e", uint32_t) \
    F(S, IPCThreadRegisteredEncap, "D", uint32_t) \
    F(S, IPCThreadMACAdress, "$98", ptp_bag_mac_addr_type) \
    F(S, ether_info, "a(c)", bag_array<int8_t>) \
    F(S, IPCThreadIPv4AddressList, "p($120)", ptp_bag_ipv4_addr_list *) \
    F(S, IPCThreadIPv4VRF, "D", uint32_t) \
    F(S, IPCThreadIPv4AddressApplied, "N", uint32_t) \
    F(S, IPCThreadIPv6AddressList, "p($121)", ptp_bag_ipv6_addr_list *) \
    F(S, IPCThreadIPv6AddressApplied, "16x%s", ptp_bag_bytes16) \
    F(S, IPCThreadFlags, "D", uint32_t) \
    F(S, IPCThreadFlagUpdateCreated, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateDeleted, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateEncap, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateClockOperation, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateAnnounceInterval, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateSyncInterval, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateAnnounceTimeout, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateDelayRespMinInterval, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateMasterTable, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateSlaveTable, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateTransport, "b", uint32_t) \
    F(S, IPCThreadFlagUpdatePortState, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateCOS, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateDSCP, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateIPv4TTL, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateIPv6HopLimit, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateDelayAsymmetry, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateEtherInfo, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateIMState, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateIPAddress, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateIPv6Address, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateVRFID, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateInterfaceHandle, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateInterfaceType, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateSyncReceiveTimeout, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateDelayRespReceiveTimeout, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateAnnounceGrantDuration, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateSyncGrantDuration, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateDelayRespGrantDuration, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateGrantReduceDeny, "b", uint32_t) \
    F(S, IPCThreadFlagUpdateLocalPriority, "b", uint32_t) \
    F(S, IPCThreadFlagEnabled, "b", uint32_t) \
    F(S, IPCThreadFlagVRFIDKnown, "b", uint32_t) \
    F(S, IPCThreadFlagEtherInfoKnown, "b", uint32_t) \
    F(S, IPCThreadFlagIPv4Registered, "b", uint32_t) \
    F(S, IPCThreadFlagIPv6Registered, "b", uint32_t) \
    F(S, IPCThreadFlagIMRegistered, "b", uint32_t) \
    F(S, IPCThreadAppliedConfiguration, "$116", ptp_bag_idb_config) \
    F(S, IPCThreadInterfaceConfiguration, "$116", ptp_bag_idb_config) \
    F(S, IPCThreadInterfaceConfigurationFlags, "$117", ptp_bag_idb_config_flags) \
    F(S, IPCThreadConfigurationProfileName, "p($119)", ptp_bag_string *) \
    F(S, IPCThreadProfileConfiguration, "p($116)", ptp_bag_idb_config *) \
    F(S, IPCThreadProfileConfigurationFlags, "p($117)", ptp_bag_idb_config_flags *) \
    F(S, IPCThreadPlatformCapabilities, "$118", ptp_bag_idb_plat_caps) \

#define PTP_BAG_DEF_123(F, S) \
    F(S, session_entry_exists, "b", uint32_t) \
    F(S, session_exists, "b", uint32_t) \
    F(S, create_update_pending, "b", uint32_t) \
    F(S, delete_pending, "b", uint32_t) \
    F(S, on_update_list, "b", uint32_t) \

#define PTP_BAG_DEF_124(F, S) \
    F(S, peer_addr, "$104", ptp_bag_address) \
    F(S, configured_priority, "C", uint8_t) \
    F(S, configured_clock_class, "C", uint8_t) \
    F(S, delay_asymmetry, "d", int32_t) \
    F(S, parent_port_id, "$100", ptp_bag_port_id) \
    F(S, master_clock, "$101", ptp_bag_clock) \
    F(S, is_priority_configured, "b", uint32_t) \
    F(S, is_clock_class_configured, "b", uint32_t) \
    F(S, transport, "[ptp_bag_transport_type]e", ptp_bag_transport_type) \
    F(S, is_in_ranked_list, "b", uint32_t) \
    F(S, is_slaving, "b", uint32_t) \
    F(S, is_listening, "b", uint32_t) \
    F(S, is_resync_pending, "b", uint32_t) \
    F(S, is_fib_registered, "b", uint32_t) \
    F(S, is_fib_updated, "b", uint32_t) \
    F(S, rewrite_str, "y%x", bag_bytes) \
    F(S, announce_count, "C", uint8_t) \
    F(S, announce_id_array, "2A(I)", ptp_bag_u16x2) \
    F(S, sync_received, "b", uint32_t) \
    F(S, delay_resp_received, "b", uint32_t) \
    F(S, ptsf_lossannounce, "b", uint32_t) \
    F(S, ptsf_losssync_sync, "b", uint32_t) \
    F(S, ptsf_losssync_delay_resp, "b", uint32_t) \
    F(S, signaling_id, "I", uint16_t) \
    F(S, announce_grant_timer_running, "b", uint32_t) \
    F(S, announce_grant_retry_timer_running, "b", uint32_t) \
    F(S, announce_grant_duration, "D", uint32_t) \
    F(S, LogAnnounceInterval, "c", int8_t) \
    F(S, sync_grant_timer_running, "b", uint32_t) \
    F(S, sync_grant_retry_timer_running, "b", uint32_t) \
    F(S, sync_grant_duration, "D", uint32_t) \
    F(S, LogSyncInterval, "c", int8_t) \
    F(S, delay_resp_grant_timer_running, "b", uint32_t) \
    F(S, delay_resp_grant_retry_timer_running, "b", uint32_t) \
    F(S, delay_resp_grant_duration, "D", uint32_t) \
    F(S, log_delay_resp_interval, "c", int8_t) \
    F(S, is_announce_granted, "b", uint32_t) \
    F(S, is_sync_granted, "b", uint32_t) \
    F(S, is_delay_resp_granted, "b", uint32_t) \
    F(S, is_nonnegotiated, "b", uint32_t) \
    F(S, delay_req_id, "I", uint16_t) \
    F(S, is_sending_delay_req, "b", uint32_t) \
    F(S, is_handling_sync, "b", uint32_t) \
    F(S, offload_entry, "$123", ptp_bag_idb_offload_entry) \

#define PTP_BAG_DEF_125(F, S) \
    F(S, peer_addr, "$104", ptp_bag_address) \
    F(S, peer_port_id, "$100", ptp_bag_port_id) \
    F(S, peer_sequence_id, "I", uint16_t) \
    F(S, chkpt_id, "D", uint32_t) \
    F(S, announce_expiry_time, "d", int32_t) \
    F(S, announce_grant_timer_running, "b", uint32_t) \
    F(S, announce_grant_duration, "D", uint32_t) \
    F(S, log_announce_interval, "c", int8_t) \
    F(S, req_log_announce_interval, "c", int8_t) \
    F(S, app_log_announce_interval, "c", int8_t) \
    F(S, announce_id, "I", uint16_t) \
    F(S, sync_expiry_time, "d", int32_t) \
    F(S, sync_grant_timer_running, "b", uint32_t) \
    F(S, sync_grant_duration, "D", uint32_t) \
    F(S, log_sync_interval, "c", int8_t) \
    F(S, req_log_sync_interval, "c", int8_t) \
    F(S, app_log_sync_interval, "c", int8_t) \
    F(S, delay_resp_expiry_time, "d", int32_t) \
    F(S, delay_resp_grant_timer_running, "b", uint32_t) \
    F(S, delay_resp_grant_duration, "D", uint32_t) \
    F(S, log_delay_resp_interval, "c", int8_t) \
    F(S, req_log_delay_resp_interval, "c", int8_t) \
    F(S, app_log_delay_resp_interval, "c", int8_t) \
    F(S, is_announce_granted, "b", uint32_t) \
    F(S, is_sync_granted, "b", uint32_t) \
    F(S, is_delay_resp_granted, "b", uint32_t) \
    F(S, is_delay_req_replying, "b", uint32_t) \
    F(S, is_resync_pending, "b", uint32_t) \
    F(S, is_nonnegotiated, "b", uint32_t) \
    F(S, is_fib_registered, "b", uint32_t) \
    F(S, is_fib_updated, "b", uint32_t) \
    F(S, rewrite_str, "y%x", bag_bytes) \
    F(S, offload_entry, "$123", ptp_bag_idb_offload_entry) \

#define PTP_BAG_DEF_126(F, S) \
    F(S, PortState, "[ptp_port_state]e", uint32_t) \
    F(S, qualification_timer_running, "b", uint32_t) \
    F(S, is_held_passive, "b", uint32_t) \
    F(S, current_announce_id, "I", uint16_t) \
    F(S, foreign_master_table, "a($124)", bag_array<ptp_bag_idb_foreign_master_entry>) \
    F(S, is_best_master, "b", uint32_t) \
    F(S, best_master_peer_addr, "$104", ptp_bag_address) \
    F(S, is_slaving_master, "b", uint32_t) \
    F(S, slaving_master_peer_addr, "$104", ptp_bag_address) \
    F(S, announce_timeout_counter, "C", uint8_t) \
    F(S, looped_port_num, "I", uint16_t) \
    F(S, last_looped_announce_id, "I", uint16_t) \
    F(S, is_listening, "b", uint32_t) \
    F(S, is_sending_multicast_announce, "b", uint32_t) \
    F(S, is_announce_timeout_running, "b", uint32_t) \
    F(S, announce_timer_running, "b", uint32_t) \
    F(S, sync_receive_timer_running, "b", uint32_t) \
    F(S, delay_resp_receive_timer_running, "b", uint32_t) \
    F(S, is_master_drrm_running, "b", uint32_t) \
    F(S, is_slave_drrm_running, "b", uint32_t) \
    F(S, sync_timer_running, "b", uint32_t) \
    F(S, scheduled_function_fmc, "b", uint32_t) \
    F(S, is_fsm_init, "b", uint32_t) \
    F(S, is_locked, "b", uint32_t) \
    F(S, is_unicast_grant_allowed, "b", uint32_t) \
    F(S, unicast_peer_count, "D", uint32_t) \
    F(S, unicast_peer_table, "a($125)", bag_array<ptp_bag_idb_unicast_peer_entry>) \

#define PTP_BAG_DEF_127(F, S) \
    F(S, proto_name, "s", const char *) \
    F(S, proto_ifh, "D%h", uint32_t) \
    F(S, proto_port_num, "I", uint16_t) \
    F(S, proto_if_type, "I%i", uint16_t) \
    F(S, proto_im_state, "[im_state_type_]e", uint32_t) \
    F(S, proto_attached_encap, "[ptp_bag_encap]e", ptp_bag_encap) \
    F(S, proto_mac_addr, "$98", ptp_bag_mac_addr_type) \
    F(S, proto_ipv4_addr, "N", uint32_t) \
    F(S, proto_ipv6_addr, "16x%s", ptp_bag_bytes16) \
    F(S, proto_ipv4_vrf, "D", uint32_t) \
    F(S, proto_spio_attach_required, "b", uint32_t) \
    F(S, proto_is_spio_attached, "b", uint32_t) \
    F(S, proto_flag_port_mgr_mark, "b", uint32_t) \
    F(S, proto_flag_port_mgr_ready, "b", uint32_t) \
    F(S, proto_flag_ether_info_known, "b", uint32_t) \
    F(S, proto_flag_vrf_id_known, "b", uint32_t) \
    F(S, proto_flag_port_num_mark, "b", uint32_t) \
    F(S, proto_config, "$116", ptp_bag_idb_config) \
    F(S, fsm, "$126", ptp_bag_idb_fsm) \
    F(S, offload_entry, "$123", ptp_bag_idb_offload_entry) \

#define PTP_BAG_DEF_128(F, S) \
    F(S, AnnounceSent, "D", uint32_t) \
    F(S, AnnounceReceived, "D", uint32_t) \
    F(S, AnnounceDropped, "D", uint32_t) \
    F(S, SyncSent, "D", uint32_t) \
    F(S, SyncReceived, "D", uint32_t) \
    F(S, SyncDropped, "D", uint32_t) \
    F(S, FollowUpSent, "D", uint32_t) \
    F(S, FollowUpReceived, "D", uint32_t) \
    F(S, FollowUpDropped, "D", uint32_t) \
    F(S, DelayRequestSent, "D", uint32_t) \
    F(S, DelayRequestReceived, "D", uint32_t) \
    F(S, DelayRequestDropped, "D", uint32_t) \
    F(S, DelayResponseSent, "D", uint32_t) \
    F(S, DelayResponseReceived, "D", uint32_t) \
    F(S, DelayResponseDropped, "D", uint32_t) \
    F(S, PeerDelayRequestSent, "D", uint32_t) \
    F(S, PeerDelayRequestReceived, "D", uint32_t) \
    F(S, PeerDelayRequestDropped, "D", uint32_t) \
    F(S, PeerDelayResponseSent, "D", uint32_t) \
    F(S, PeerDelayResponseReceived, "D", uint32_t) \
    F(S, PeerDelayResponseDropped, "D", uint32_t) \
    F(S, PeerDelayResponseFollowUpSent, "D", uint32_t) \
    F(S, PeerDelayResponseFollowUpReceived, "D", uint32_t) \
    F(S, PeerDelayResponseFollowUpDropped, "D", uint32_t) \
    F(S, SignalingSent, "D", uint32_t) \
    F(S, SignalingReceived, "D", uint32_t) \
    F(S, SignalingDropped, "D", uint32_t) \
    F(S, ManagementSent, "D", uint32_t) \
    F(S, ManagementReceived, "D", uint32_t) \
    F(S, ManagementDropped, "D", uint32_t) \
    F(S, OtherPacketsSent, "D", uint32_t) \
    F(S, OtherPacketsReceived, "D", uint32_t) \
    F(S, OtherPacketsDropped, "D", uint32_t) \
    F(S, TotalPacketsSent, "D", uint32_t) \
    F(S, TotalPacketsReceived, "D", uint32_t) \
    F(S, TotalPacketsDropped, "D", uint32_t) \

#define PTP_BAG_DEF_129(F, S) \
    F(S, PeerIndex, "PI", uint16_t) \
    F(S, Address, "$104", ptp_bag_address) \
    F(S, Counters, "$128", ptp_bag_packet_counters) \

#define PTP_BAG_DEF_130(F, S) \
    F(S, GlobalPTP, "b", uint32_t) \
    F(S, EthernetTransport, "b", uint32_t) \
    F(S, OneStep, "b", uint32_t) \
    F(S, Slave, "b", uint32_t) \
    F(S, IPv6, "b", uint32_t) \
    F(S, Multicast, "b", uint32_t) \
    F(S, ProfileNotGlobal, "b", uint32_t) \
    F(S, LocalPriority, "b", uint32_t) \
    F(S, ProfileEthernet, "b", uint32_t) \
    F(S, ProfileIPv4, "b", uint32_t) \
    F(S, ProfileIPv6, "b", uint32_t) \
    F(S, ProfileUnicast, "b", uint32_t) \
    F(S, ProfileMulticast, "b", uint32_t) \
    F(S, ProfileMixed, "b", uint32_t) \
    F(S, ProfileMasterUnicast, "b", uint32_t) \
    F(S, ProfileMasterMulticast, "b", uint32_t) \
    F(S, ProfileMasterMixed, "b", uint32_t) \
    F(S, TargetAddressIPv4, "b", uint32_t) \
    F(S, TargetAddressIPv6, "b", uint32_t) \
    F(S, IPv4TTL, "b", uint32_t) \
    F(S, IPv6HopLimit, "b", uint32_t) \
    F(S, ProfilePortState, "b", uint32_t) \
    F(S, ProfileAnnounceInterval, "b", uint32_t) \
    F(S, ProfileSyncInterval, "b", uint32_t) \
    F(S, ProfileDelayReqInterval, "b", uint32_t) \
    F(S, ProfileSyncTimeout, "b", uint32_t) \
    F(S, ProfileDelayRespTimeout, "b", uint32_t) \
    F(S, InvalidGrantReduction, "b", uint32_t) \
    F(S, InvalidInteropDomain, "b", uint32_t) \
    F(S, InvalidInteropIngressClockClassMapFromVals, "a(C)", bag_array<uint8_t>) \
    F(S, InvalidInteropIngressClockClassMapToVals, "a(C)", bag_array<uint8_t>) \
    F(S, InvalidInteropIngressClockClassDefault, "b", uint32_t) \
    F(S, InvalidInteropIngressPriority1, "b", uint32_t) \
    F(S, InvalidInteropIngressClockAccuracy, "b", uint32_t) \
    F(S, InvalidInteropIngressOSLV, "b", uint32_t) \
    F(S, InvalidInteropEgressClockClassMapFromVals, "a(C)", bag_array<uint8_t>) \
    F(S, InvalidInteropEgressClockClassMapToVals, "a(C)", bag_array<uint8_t>) \
    F(S, InvalidInteropEgressClockClassDefault, "b", uint32_t) \
    F(S, InvalidInteropEgressPriority1, "b", uint32_t) \
    F(S, InvalidInteropEgressPriority2, "b", uint32_t) \
    F(S, InvalidInteropEgressClockAccuracy, "b", uint32_t) \
    F(S, InvalidInteropEgressOSLV, "b", uint32_t) \
    F(S, InvalidMasterConfigClockType, "b", uint32_t) \
    F(S, InvalidSlaveConfigClockType, "b", uint32_t) \
    F(S, InvalidMasterConfigPortState, "b", uint32_t) \
    F(S, InvalidSlaveConfigPortState, "b", uint32_t) \
    F(S, DelayAsymmetryConfigClockType, "b", uint32_t) \
    F(S, DelayAsymmetryConfigPortState, "b", uint32_t) \

#define PTP_BAG_DEF_131(F, S) \
    F(S, Domain, "b", uint32_t) \
    F(S, ProfilePriority1Config, "b", uint32_t) \
    F(S, ProfilePriority2Value, "b", uint32_t) \
    F(S, UTCOffsetChange, "b", uint32_t) \
    F(S, PhysicalLayerFrequency, "b", uint32_t) \
    F(S, NetworkType, "b", uint32_t) \
    F(S, ProfileVirtualPort, "b", uint32_t) \
    F(S, VirtualPortPriority1Config, "b", uint32_t) \
    F(S, VirtualPortPriority2Value, "b", uint32_t) \
    F(S, VirtualPortProfileClockClass, "b", uint32_t) \
    F(S, VirtualPortClockAccuracy, "b", uint32_t) \
    F(S, VirtualPortOslv, "b", uint32_t) \
    F(S, VirtualPortLocalPriority, "b", uint32_t) \
    F(S, APTSClockType, "b", uint32_t) \
    F(S, APTSClockProfile, "b", uint32_t) \

#define PTP_BAG_DEF_132(F, S) \
    F(S, node_active, "b", uint32_t) \
    F(S, servo_started, "b", uint32_t) \
    F(S, servo_synced, "b", uint32_t) \
    F(S, gm_used_for_freq, "b", uint32_t) \
    F(S, gm_used_for_time, "b", uint32_t) \
    F(S, gm_time_seconds, "H", uint64_t) \
    F(S, gm_time_nseconds, "H", uint64_t) \
    F(S, advertized_time_seconds, "H", uint64_t) \
    F(S, advertized_time_nseconds, "H", uint64_t) \
    F(S, gm_log_sync_rate, "d", int32_t) \
    F(S, gm_log_delay_req_rate, "d", int32_t) \
    F(S, gm_valid, "b", uint32_t) \
    F(S, seen_prtc, "b", uint32_t) \

#define PTP_BAG_DEF_133(F, S) \
    F(S, log_bmc_changes_set, "b", uint32_t) \
    F(S, applied_config_counter, "D", uint32_t) \
    F(S, is_scanning, "b", uint32_t) \
    F(S, is_enabled, "b", uint32_t) \
    F(S, any_successful_applies, "b", uint32_t) \
    F(S, batch_verify, "b", uint32_t) \
    F(S, profile, "D", uint32_t) \
    F(S, is_profile_set, "b", uint32_t) \
    F(S, telecom_clock_type, "D", uint32_t) \
    F(S, clock_selection_mode, "D", uint32_t) \
    F(S, clock_advertisement_mode, "D", uint32_t) \
    F(S, domain, "C", uint8_t) \
    F(S, clock_id, "H", uint64_t) \
    F(S, clock_priority1, "C", uint8_t) \
    F(S, clock_priority2, "C", uint8_t) \
    F(S, is_clock_class_set, "b", uint32_t) \
    F(S, clock_class, "C", uint8_t) \
    F(S, is_freerun_clock_class_set, "b", uint32_t) \
    F(S, freerun_clock_class, "C", uint8_t) \
    F(S, is_uncalibrated_clock_class_set, "b", uint32_t) \
    F(S, uncalibrated_clock_class, "C", uint8_t) \
    F(S, unless_from_holdover, "b", uint32_t) \
    F(S, is_holdover_clock_class_set, "b", uint32_t) \
    F(S, holdover_clock_class, "C", uint8_t) \
    F(S, is_double_failure_clock_class_set, "b", uint32_t) \
    F(S, double_failure_clock_class, "C", uint8_t) \
    F(S, is_holdover_duration_set, "b", uint32_t) \
    F(S, holdover_duration, "D", uint32_t) \
    F(S, is_holdover_time_trace_override_set, "b", uint32_t) \
    F(S, is_uncal_time_trace_override_set, "b", uint32_t) \
    F(S, is_clock_timescale_set, "b", uint32_t) \
    F(S, clock_timescale, "C", uint8_t) \
    F(S, is_clock_time_source_set, "b", uint32_t) \
    F(S, clock_time_source, "C", uint8_t) \
    F(S, freq_pri, "C", uint8_t) \
    F(S, tod_pri, "C", uint8_t) \
    F(S, servo_slow_tracking, "I", uint16_t) \
    F(S, verify_checksum, "b", uint32_t) \

#define PTP_BAG_DEF_134(F, S) \
    F(S, o1_value, "C", uint8_t) \
    F(S, o2_g1_value, "C", uint8_t) \
    F(S, o2_g2_value, "C", uint8_t) \

#define PTP_BAG_DEF_135(F, S) \
    F(S, servo_started, "b", uint32_t) \
    F(S, servo_synced, "b", uint32_t) \

#define PTP_BAG_DEF_136(F, S) \
    F(S, version, "[ptp_bag_platform_capability_api_version]e", ptp_bag_platform_capability_api_version) \

#define PTP_BAG_DEF_137(F, S) \
    F(S, holdover_duration_min, "D", uint32_t) \
    F(S, holdover_duration_max, "D", uint32_t) \
    F(S, supports_ptp, "b", uint32_t) \
    F(S, supports_slave, "b", uint32_t) \
    F(S, supports_transp_clock, "b", uint32_t) \
    F(S, supports_leap_seconds, "b", uint32_t) \
    F(S, supports_profile, "b", uint32_t) \
    F(S, supports_seln_local_clock, "b", uint32_t) \
    F(S, g8265_requires_local_clock, "b", uint32_t) \
    F(S, supports_servo_slow_track, "b", uint32_t) \
    F(S, supports_holdover_duration, "b", uint32_t) \
    F(S, int_clock_ql, "$134", ptp_bag_platform_capability_int_clock_ql) \
    F(S, supports_apts, "b", uint32_t) \
    F(S, report_holdover_post_spec, "b", uint32_t) \

#define PTP_BAG_DEF_138(F, S) \
    F(S, servo_init_info, "$135", ptp_bag_platform_servo_init_info) \
    F(S, capability_init_info, "$136", ptp_bag_platform_capability_init_info) \
    F(S, capabilities, "$137", ptp_bag_platform_capability_info) \

#define PTP_BAG_DEF_139(F, S) \
    F(S, StepsRemoved, "I", uint16_t) \
    F(S, OffsetFromMaster, "h", int64_t) \
    F(S, MeanPathDelay, "h", int64_t) \

#define PTP_BAG_DEF_140(F, S) \
    F(S, profile, "P[ptp_bag_profile_type]e", ptp_bag_profile_type) \
    F(S, TwoStepFlag, "b", uint32_t) \
    F(S, ClockID, "H", uint64_t) \
    F(S, NumberPorts, "D", uint32_t) \
    F(S, ClockClass, "C", uint8_t) \
    F(S, ClockAccuracy, "C", uint8_t) \
    F(S, OSLV, "I", uint16_t) \
    F(S, Priority1, "C", uint8_t) \
    F(S, Priority2, "C", uint8_t) \
    F(S, DomainNumber, "C", uint8_t) \
    F(S, SlaveOnly, "b", uint32_t) \
    F(S, LocalPriority, "p(D)", uint32_t *) \
    F(S, SignalFail, "p(b)", uint32_t *) \

#define PTP_BAG_DEF_141(F, S) \
    F(S, ParentClockID, "H", uint64_t) \
    F(S, ParentPortNumber, "I", uint16_t) \
    F(S, ParentStats, "b", uint32_t) \
    F(S, ObservedParentOSLV, "I", uint16_t) \
    F(S, ObservedParentClockPhaseChangeRate, "D", uint32_t) \
    F(S, GMClockID, "H", uint64_t) \
    F(S, GMClockClass, "C", uint8_t) \
    F(S, GMClockAccuracy, "C", uint8_t) \
    F(S, GMOSLV, "I", uint16_t) \
    F(S, GMPriority1, "C", uint8_t) \
    F(S, GMPriority2, "C", uint8_t) \

#define PTP_BAG_DEF_142(F, S) \
    F(S, CurrentUTCOffset, "i", int32_t) \
    F(S, CurrentUTCOffsetValid, "b", uint32_t) \
    F(S, Leap59, "b", uint32_t) \
    F(S, Leap61, "b", uint32_t) \
    F(S, TimeTraceable, "b", uint32_t) \
    F(S, FrequencyTraceable, "b", uint32_t) \
    F(S, PTPTimescale, "b", uint32_t) \
    F(S, TimeSource, "[ptp_bag_clock_time_source]e", ptp_bag_clock_time_source) \

#define PTP_BAG_DEF_143(F, S) \
    F(S, profile, "P[ptp_bag_profile_type]e", ptp_bag_profile_type) \
    F(S, InterfaceName, "Ps", const char *) \
    F(S, ClockID, "H", uint64_t) \
    F(S, PortNumber, "I", uint16_t) \
    F(S, PortState, "[ptp_bag_port_state]e", ptp_bag_port_state) \
    F(S, LogMinDelayReqInterval, "i", int32_t) \
    F(S, PeerMeanPathDelay, "h", int64_t) \
    F(S, LogAnnounceInterval, "i", int32_t) \
    F(S, AnnoucneReceiptTimeout, "D", uint32_t) \
    F(S, LogSyncInterval, "i", int32_t) \
    F(S, DelayMechanism, "[ptp_bag_delay_mechanism]e", ptp_bag_delay_mechanism) \
    F(S, LogMinPDelayReqInterval, "i", int32_t) \
    F(S, VersionNumber, "C", uint8_t) \
    F(S, LocalPriority, "p(D)", uint32_t *) \
    F(S, MasterOnly, "p(b)", uint32_t *) \
    F(S, SignalFail, "p(b)", uint32_t *) \

#define PTP_BAG_DEF_144(F, S) \
    F(S, FromClockClass, "C", uint8_t) \
    F(S, ToClockClass, "C", uint8_t) \

#define PTP_BAG_DEF_145(F, S) \
    F(S, Priority1, "p(C)", uint8_t *) \
    F(S, Priority2, "p(C)", uint8_t *) \
    F(S, Accuracy, "p(C)", uint8_t *) \
    F(S, ClassDefault, "p(C)", uint8_t *) \
    F(S, ClassMapping, "a($144)", bag_array<ptp_bag_clock_class_mapping>) \
    F(S, OffsetLogVariance, "p(I)", uint16_t *) \

#define PTP_BAG_DEF_146(F, S) \
    F(S, FromPriority1, "C", uint8_t) \
    F(S, ToPriority1, "C", uint8_t) \
    F(S, FromPriority2, "C", uint8_t) \
    F(S, ToPriority2, "C", uint8_t) \
    F(S, FromAccuracy, "C", uint8_t) \
    F(S, ToAccuracy, "C", uint8_t) \
    F(S, FromClockClass, "C", uint8_t) \
    F(S, ToClockClass, "C", uint8_t) \
    F(S, FromOffsetLogVariance, "I", uint16_t) \
    F(S, ToOffsetLogVariance, "I", uint16_t) \

#define PTP_BAG_DEF_147(F, S) \
    F(S, Address, "$104", ptp_bag_address) \
    F(S, Interop, "$146", ptp_bag_profile_interop) \

#define PTP_BAG_DEF_149(F, S) \
    F(S, Name, "Ps", const char *) \
    F(S, PortState, "[ptp_bag_port_state]e", ptp_bag_port_state) \
    F(S, PortNumber, "I", uint16_t) \
    F(S, LineState, "[im_state_type_]e", uint32_t) \
    F(S, InterfaceType, "I%i", uint16_t) \
    F(S, Encapsulation, "[ptp_bag_encap]e", ptp_bag_encap) \
    F(S, IPv6Address, "p($96)", ptp_bag_ipv6_addr *) \
    F(S, IPv4Address, "p(N)", uint32_t *) \
    F(S, IPv6AddressArray, "p($121)", ptp_bag_ipv6_addr_list *) \
    F(S, IPv4AddressArray, "p($120)", ptp_bag_ipv4_addr_list *) \
    F(S, MACAddress, "p($98)", ptp_bag_mac_addr_type *) \
    F(S, TwoStep, "b", uint32_t) \
    F(S, CommunicationModel, "[ptp_bag_communication_model]e", ptp_bag_communication_model) \
    F(S, LogSyncInterval, "d", int32_t) \
    F(S, LogAnnounceInterval, "d", int32_t) \
    F(S, AnnounceTimeout, "D", uint32_t) \
    F(S, LogMinDelayRequestInterval, "d", int32_t) \
    F(S, MasterTable, "a($108)", bag_array<ptp_bag_master_table_entry>) \
    F(S, ConfiguredPortState, "[ptp_bag_restrict_port_state_type]e", ptp_bag_restrict_port_state_type) \
    F(S, SupportsUnicast, "b", uint32_t) \
    F(S, SupportsMaster, "b", uint32_t) \
    F(S, SupportsOneStep, "b", uint32_t) \
    F(S, SupportsTwoStep, "b", uint32_t) \
    F(S, SupportsEthernet, "b", uint32_t) \
    F(S, SupportsMulticast, "b", uint32_t) \
    F(S, SupportsIPv4, "b", uint32_t) \
    F(S, SupportsIPv6, "b", uint32_t) \
    F(S, SupportsSlave, "b", uint32_t) \
    F(S, SupportsSourceIP, "b", uint32_t) \
    F(S, MaxSyncRate, "C", uint8_t) \
    F(S, EventCOS, "D", uint32_t) \
    F(S, GeneralCOS, "D", uint32_t) \
    F(S, EventDSCP, "D", uint32_t) \
    F(S, GeneralDSCP, "D", uint32_t) \
    F(S, UnicastPeers, "D", uint32_t) \
    F(S, LocalPriority, "C", uint8_t) \
    F(S, SignalFail, "p(b)", uint32_t *) \
    F(S, ProfileInterop, "b", uint32_t) \
    F(S, SupportsBVISlave, "b", uint32_t) \
    F(S, InteropDomain, "p(C)", uint8_t *) \
    F(S, InteropProfile, "p([ptp_bag_profile_type]e)", ptp_bag_profile_type *) \
    F(S, IngressConversion, "p($145)", ptp_bag_profile_interop_cfg *) \
    F(S, EgressConversion, "p($145)", ptp_bag_profile_interop_cfg *) \
    F(S, clock_profile, "P[ptp_bag_profile_type]e", ptp_bag_profile_type) \
    F(S, internal_port_number, "PI", uint16_t) \
    F(S, current_peer, "Pp($104)", ptp_bag_address *) \
    F(S, associate_port_count, "PD", uint32_t) \

#define PTP_BAG_DEF_150(F, S) \
    F(S, Name, "Ps", const char *) \
    F(S, LocalDomain, "C", uint8_t) \
    F(S, InteropDomain, "C", uint8_t) \
    F(S, LocalProfile, "[ptp_bag_profile_type]e", ptp_bag_profile_type) \
    F(S, InteropProfile, "[ptp_bag_profile_type]e", ptp_bag_profile_type) \
    F(S, IngressInterop, "a($147)", bag_array<ptp_bag_profile_interop_peer>) \
    F(S, EgressInterop, "p($146)", ptp_bag_profile_interop *) \

#define PTP_BAG_DEF_151(F, S) \
    F(S, PortNumber, "I", uint16_t) \
    F(S, ForeignClocks, "a($106)", bag_array<ptp_bag_foreign_clock>) \
    F(S, internal_port_number, "PI", uint16_t) \
    F(S, selection_mode, "P[ptp_bag_clock_selection_mode]e", ptp_bag_clock_selection_mode) \
    F(S, name, "Ps", const char *) \

#define PTP_BAG_DEF_152(F, S) \
    F(S, Name, "Ps", const char *) \
    F(S, Counters, "$128", ptp_bag_packet_counters) \
    F(S, PeerCounters, "a($129)", bag_array<ptp_bag_peer_packet_counters>) \
    F(S, internal_port_number, "PI", uint16_t) \

#define PTP_BAG_DEF_153(F, S) \
    F(S, Counters, "$128", ptp_bag_packet_counters) \
    F(S, DropReasons, "$105", ptp_bag_drop_reasons) \

#define PTP_BAG_DEF_154(F, S) \
    F(S, IPCThreadIDB, "P$122", ptp_bag_ipc_idb) \
    F(S, ProtocolThreadIDB, "Pp($127)", ptp_bag_proto_idb *) \

#define PTP_BAG_DEF_155(F, S) \
    F(S, Name, "s", const char *) \
    F(S, PortNumber, "I", uint16_t) \
    F(S, Peers, "a($107)", bag_array<ptp_bag_unicast_peer>) \
    F(S, ForeignMasters, "a($107)", bag_array<ptp_bag_unicast_peer>) \
    F(S, internal_port_number, "PI", uint16_t) \

#define PTP_BAG_DEF_156(F, S) \
    F(S, ProtocolThreadEventCounters, "P5A(D)", ptp_bag_u32x5) \
    F(S, IPCThreadEventCounters, "P12A(D)", ptp_bag_u32x12) \

#define PTP_BAG_DEF_157(F, S) \
    F(S, InterfaceProtocolThreadEventCounters, "P5A(D)", ptp_bag_u32x5) \
    F(S, InterfaceIPCThreadEventCounters, "P12A(D)", ptp_bag_u32x12) \
    F(S, NodeEventCounters, "P26A(D)", ptp_bag_u32x26) \

#define PTP_BAG_DEF_158(F, S) \
    F(S, GlobalEventCounters, "16A(D)", ptp_bag_u32x16) \

#define PTP_BAG_DEF_159(F, S) \
    F(S, PortStateInitCount, "D", uint32_t) \
    F(S, PortStateListeningCount, "D", uint32_t) \
    F(S, PortStatePassiveCount, "D", uint32_t) \
    F(S, PortStatePreMasterCount, "D", uint32_t) \
    F(S, PortStateMasterCount, "D", uint32_t) \
    F(S, PortStateSlaveCount, "D", uint32_t) \
    F(S, PortStateUncalibratedCount, "D", uint32_t) \
    F(S, PortStateFaultyCount, "D", uint32_t) \
    F(S, TotalInterfaces, "D", uint32_t) \
    F(S, TotalInterfacesValidPortNum, "D", uint32_t) \

#define PTP_BAG_DEF_160(F, S) \
    F(S, ClockProperties, "$101", ptp_bag_clock) \
    F(S, Active, "Pb", uint32_t) \
    F(S, UsedForTime, "b", uint32_t) \
    F(S, UsedForFrequency, "b", uint32_t) \
    F(S, KnownForTime, "D", uint32_t) \
    F(S, InterfaceHandle, "PD%h", uint32_t) \
    F(S, Address, "$104", ptp_bag_address) \
    F(S, Domain, "C", uint8_t) \
    F(S, RunningDrrm, "b", uint32_t) \

#define PTP_BAG_DEF_161(F, S) \
    F(S, AdvertisedActive, "Pb", uint32_t) \
    F(S, ClockProperties, "$101", ptp_bag_clock) \
    F(S, Domain, "C", uint8_t) \
    F(S, TimeSourceConfigured, "b", uint32_t) \
    F(S, ReceivedTimeSource, "[ptp_bag_clock_time_source]e", ptp_bag_clock_time_source) \
    F(S, TimescaleConfigured, "b", uint32_t) \
    F(S, ReceivedTimescale, "[ptp_bag_clock_timescale]e", ptp_bag_clock_timescale) \

#define PTP_BAG_DEF_162(F, S) \
    F(S, LocalActive, "Pb", uint32_t) \
    F(S, Domain, "C", uint8_t) \
    F(S, Grandmaster, "b", uint32_t) \
    F(S, ClockProperties, "$101", ptp_bag_clock) \
    F(S, VirtualPort, "$102", ptp_bag_virtual_port) \
    F(S, ServoStatus, "[ptp_platform_servo_status]e", uint32_t) \
    F(S, MeanPathDelay, "h", int64_t) \
    F(S, OffsetFromMaster, "h", int64_t) \
    F(S, AptsEnabled, "b", uint32_t) \

#define PTP_BAG_DEF_163(F, S) \
    F(S, CurrentOffsetInfo, "$112", ptp_bag_utc_offset_info) \
    F(S, CurrentGMOffsetInfo, "p($112)", ptp_bag_utc_offset_info *) \
    F(S, ConfiguredOffsetInfo, "p($112)", ptp_bag_utc_offset_info *) \
    F(S, PreviousGMOffsetInfo, "p($112)", ptp_bag_utc_offset_info *) \
    F(S, HardwareOffsetInfo, "p($112)", ptp_bag_utc_offset_info *) \
    F(S, SourceType, "C", uint8_t) \
    F(S, SourceFile, "p($119)", ptp_bag_string *) \
    F(S, SourceExpiryDate, "p(D)", uint32_t *) \
    F(S, PollingFrequency, "p(D)", uint32_t *) \
    F(S, ConfiguredLeapSecondList, "a($111)", bag_array<ptp_bag_leap_seconds_entry>) \
    F(S, GMLeapSecond, "p($111)", ptp_bag_leap_seconds_entry *) \

#define PTP_BAG_DEF_164(F, S) \
    F(S, GrandMasterClock, "p($101)", ptp_bag_clock *) \
    F(S, AdvertisedClock, "$101", ptp_bag_clock) \
    F(S, BestForeignMasterClocks, "a($110)", bag_array<ptp_bag_bmc_clock>) \
    F(S, LocalClock, "$162", ptp_local_clock_info) \
    F(S, SelectionLocalClock, "p($162)", ptp_local_clock_info *) \
    F(S, GlobalBestMasterClockInfo, "$132", ptp_bag_global_bmc_info) \
    F(S, GlobalConfigurationInfo, "$133", ptp_bag_global_config_info) \
    F(S, PlatformCapabilititesInfo, "$138", ptp_bag_platform_info) \

#define PTP_BAG_DEF_165(F, S) \
    F(S, InterfaceName, "Ps", const char *) \
    F(S, ConfigurationProfileName, "p($119)", ptp_bag_string *) \
    F(S, ClockProfile, "[ptp_bag_profile_type]e", ptp_bag_profile_type) \
    F(S, TelecomClockType, "[ptp_bag_telecom_clock_type]e", ptp_bag_telecom_clock_type) \
    F(S, RestrictPortState, "[ptp_bag_restrict_port_state_type]e", ptp_bag_restrict_port_state_type) \
    F(S, InteropProfile, "p([ptp_bag_profile_type]e)", ptp_bag_profile_type *) \
    F(S, ConfigurationErrors, "$130", ptp_bag_config_errors) \

#define PTP_BAG_DEF_166(F, S) \
    F(S, ClockProfile, "[ptp_bag_profile_type]e", ptp_bag_profile_type) \
    F(S, ClockProfileSet, "b", uint32_t) \
    F(S, TelecomClockType, "[ptp_bag_telecom_clock_type]e", ptp_bag_telecom_clock_type) \
    F(S, DomainNumber, "C", uint8_t) \
    F(S, Priority2, "C", uint8_t) \
    F(S, VirtualPortPriority2, "p(C)", uint8_t *) \
    F(S, VirtualPortClockClass, "p(C)", uint8_t *) \
    F(S, VirtualPortClockAccuracy, "p(C)", uint8_t *) \
    F(S, VirtualPortOslv, "p(I)", uint16_t *) \
    F(S, ConfigurationErrors, "$131", ptp_bag_gl_config_errors) \

#define PTP_BAG_DEF_167(F, S) \
    F(S, addr, "p($104)", ptp_bag_address *) \
    F(S, clock_id, "H", uint64_t) \
    F(S, clock_class, "C", uint8_t) \

#define PTP_BAG_DEF_168(F, S) \
    F(S, addr, "p($104)", ptp_bag_address *) \
    F(S, state, "[ptp_platform_servo_status]e", uint32_t) \

#define PTP_BAG_DEF_169(F, S) \
    F(S, time_source, "C", uint8_t) \

#define PTP_BAG_DEF_170(F, S) \
    F(S, addr, "p($104)", ptp_bag_address *) \
    F(S, utc_offset, "p(i)", int32_t *) \

#define PTP_BAG_DEF_171(F, S) \
    F(S, addr, "p($104)", ptp_bag_address *) \
    F(S, offset_from_master, "h", int64_t) \
    F(S, sub_ns_part, "I", uint16_t) \

#define PTP_BAG_DEF_172(F, S) \
    F(S, addr, "p($104)", ptp_bag_address *) \
    F(S, peer, "p($104)", ptp_bag_address *) \
    F(S, present, "b", uint32_t) \

#define PTP_BAG_DEF_173(F, S) \
    F(S, addr, "p($104)", ptp_bag_address *) \
    F(S, peer, "p($104)", ptp_bag_address *) \
    F(S, present, "b", uint32_t) \

#define PTP_BAG_CATALOGUE(X) \
    X(ptp_current_ds_info, 139, 24, 0) \
    X(ptp_default_ds_info, 140, 48, 0) \
    X(ptp_parent_ds_info, 141, 40, 0) \
    X(ptp_time_properties_ds_info, 142, 32, 0) \
    X(ptp_port_ds_info, 143, 96, 0) \
    X(ptp_if_info, 149, 256, 9) \
    X(ptp_if_interop_info, 150, 48, 5) \
    X(ptp_if_clock_info, 151, 40, 8) \
    X(ptp_if_packet_counter_info, 152, 176, 5) \
    X(ptp_node_packet_counter_info, 153, 272, 2) \
    X(ptp_if_idb_info, 154, 752, 24) \
    X(ptp_if_unicast_peer_info, 155, 56, 5) \
    X(ptp_if_event_counter_info, 156, 68, 0) \
    X(ptp_node_event_counter_info, 157, 172, 0) \
    X(sardo_event_counter_info, 158, 64, 0) \
    X(ptp_summary_info, 159, 40, 0) \
    X(ptp_grandmaster_info, 160, 160, 6) \
    X(ptp_advertised_clock_info, 161, 136, 3) \
    X(ptp_local_clock_info, 162, 208, 4) \
    X(ptp_leap_seconds_info, 163, 104, 3) \
    X(ptp_global_database_info, 164, 632, 13) \
    X(ptp_if_config_errors_entry, 165, 288, 2) \
    X(sardo_config_errors_info, 166, 112, 1) \
    X(ptp_trap_clock_class, 167, 24, 3) \
    X(ptp_trap_clock_state, 168, 16, 3) \
    X(ptp_trap_time_source, 169, 1, 0) \
    X(ptp_trap_utc_offset, 170, 16, 3) \
    X(ptp_trap_offset_threshold_breach, 171, 24, 3) \
    X(ptp_trap_master_lost, 172, 24, 3) \
    X(ptp_trap_slave_lost, 173, 24, 3) \

// End of the catalogue.
// clang-format on
