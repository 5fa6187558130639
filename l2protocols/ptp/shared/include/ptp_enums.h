// Small enumerations and flag words named by the value-to-text helpers and shared by the agent,
// the controller and the tools (the core types are in ptp_types.h).
#pragma once

#include <cstdint>

// Where a clock record came from.
enum ptp_clock_source_type : uint32_t {
    PTP_CLOCK_SOURCE_FOREIGN_MASTER = 0,
    PTP_CLOCK_SOURCE_LOCAL_CLOCK = 1,
    PTP_CLOCK_SOURCE_VIRTUAL_PORT = 2,
};

// Synchronisation state of the node clock.
enum ptp_sync_state_type : uint32_t {
    PTP_SYNC_STATE_SYNC = 0,
    PTP_SYNC_STATE_HOLDOVER_SPEC = 1,
    PTP_SYNC_STATE_NO_SYNC = 2,
    PTP_SYNC_STATE_HOLDOVER_POST_SPEC = 3,
    PTP_SYNC_STATE_DOUBLE_FAILURE = 4,
};

// Kind of primary reference clock.
enum ptp_primary_ref_type : uint32_t {
    PTP_PRIMARY_REF_NONE = 0,
    PTP_PRIMARY_REF_PRC = 1,
    PTP_PRIMARY_REF_EPRC = 2,
    PTP_PRIMARY_REF_PRTC = 3,
    PTP_PRIMARY_REF_EPRTC = 4,
};

// Clock-selection (and clock-advertisement) mode.
enum ptp_clock_selection_mode_type : uint32_t {
    PTP_CLOCK_SELECTION_MODE_1588 = 0,
    PTP_CLOCK_SELECTION_MODE_G8265_1 = 1,
};

// Checkpoint tables.
enum ptp_chkpt_table_type : int32_t {
    PTP_CHKPT_TABLE_INVALID = -1,
    PTP_CHKPT_TABLE_BMC_CLOCK = 0,
    PTP_CHKPT_TABLE_PORT_NUMBERS = 1,
    PTP_CHKPT_TABLE_BMC_GLOBAL = 2,
    PTP_CHKPT_TABLE_UTC_INFO = 3,
};

enum ptp_servo_mode_type : uint32_t {
    PTP_SERVO_MODE_DEFAULT = 0,
    PTP_SERVO_MODE_HYBRID = 1,
};

enum ptp_network_type_type : uint32_t {
    PTP_NETWORK_TYPE_DEFAULT = 0,
    PTP_NETWORK_TYPE_HIGH_PDV = 1,
};

// Database event bits of a configuration item: bit 0 create, bit 1 set, bit 2 delete.
inline constexpr uint32_t PTP_CFG_EVENT_CREATE = 0x1;
inline constexpr uint32_t PTP_CFG_EVENT_SET = 0x2;
inline constexpr uint32_t PTP_CFG_EVENT_DELETE = 0x4;

// Update-operation bits of ptp_op_flag_to_str.
inline constexpr uint32_t PTP_OP_FLAG_SET = 0x1;
inline constexpr uint32_t PTP_OP_FLAG_CREATE = 0x2;
inline constexpr uint32_t PTP_OP_FLAG_DELETE = 0x4;

// PTP header flag bits (flagField as a 16-bit number, second octet low).
inline constexpr uint32_t PTP_MSG_FLAG_LEAP61 = 0x1;
inline constexpr uint32_t PTP_MSG_FLAG_LEAP59 = 0x2;
inline constexpr uint32_t PTP_MSG_FLAG_UTC_OFFSET_VALID = 0x4;
inline constexpr uint32_t PTP_MSG_FLAG_PTP_TIMESCALE = 0x8;
inline constexpr uint32_t PTP_MSG_FLAG_TIME_TRACEABLE = 0x10;
inline constexpr uint32_t PTP_MSG_FLAG_FREQUENCY_TRACEABLE = 0x20;
inline constexpr uint32_t PTP_MSG_FLAG_ALTERNATE_MASTER = 0x100;
inline constexpr uint32_t PTP_MSG_FLAG_TWO_STEP = 0x200;
inline constexpr uint32_t PTP_MSG_FLAG_UNICAST = 0x400;

// Bits of ptp_transport_change_encode.
inline constexpr uint32_t PTP_TRANSPORT_CHANGE_OLD_UNICAST = 0x1;
inline constexpr uint32_t PTP_TRANSPORT_CHANGE_OLD_MULTICAST = 0x2;
inline constexpr uint32_t PTP_TRANSPORT_CHANGE_NEW_UNICAST = 0x4;
inline constexpr uint32_t PTP_TRANSPORT_CHANGE_NEW_MULTICAST = 0x8;
