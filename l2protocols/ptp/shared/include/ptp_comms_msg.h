// The messages the agents and the controller exchange over group messaging, on the channels
// "PTP" (clock reports, announce requests, time updates; the controller's announce) and
// "PTP_port_num" (port-number requests, releases and resynchronisation). One codec serves both
// ends: every field is written and read byte by byte, multi-byte fields big-endian.
//
// Every decoder checks the length it is given before it reads: a message shorter than its fixed
// size, or whose count does not fit the bytes received, fails with PTP_ZERR_INVALID_ARG and
// leaves its output untouched. Counted messages are read through a view into the caller's
// bytes, so nothing is copied or allocated for a message of any size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ptp_types.h"
#include "zerrno.h"

// ---- Channels, types and versions ----------------------------------------------------------

inline constexpr const char *PTP_COMMS_CHANNEL = "PTP";
inline constexpr const char *PTP_COMMS_PORT_NUM_CHANNEL = "PTP_port_num";

// Message types on "PTP", with their versions.
inline constexpr uint32_t PTP_COMMS_MSG_ANNOUNCE = 0; // controller to agent
inline constexpr uint32_t PTP_COMMS_MSG_ANNOUNCE_VERSION = 3;
inline constexpr uint32_t PTP_COMMS_MSG_ANNOUNCE_REQUEST = 1; // ptp_comms_msg_announce_request: no body
inline constexpr uint32_t PTP_COMMS_MSG_ANNOUNCE_REQUEST_VERSION = 1;
inline constexpr uint32_t PTP_COMMS_MSG_BMC = 2; // agent to controller
inline constexpr uint32_t PTP_COMMS_MSG_BMC_VERSION = 2;
inline constexpr uint32_t PTP_COMMS_MSG_TIME_UPDATE = 3; // agent to controller
inline constexpr uint32_t PTP_COMMS_MSG_TIME_UPDATE_VERSION = 1;

// Message types on "PTP_port_num"; every one is version 1.
inline constexpr uint32_t PTP_COMMS_MSG_PORT_NUM_REQUEST = 0;        // agent: handles
inline constexpr uint32_t PTP_COMMS_MSG_PORT_NUM_ALLOC = 1;          // controller: entries
inline constexpr uint32_t PTP_COMMS_MSG_PORT_NUM_RELEASE = 2;        // agent: handles
inline constexpr uint32_t PTP_COMMS_MSG_PORT_NUM_MA_RESYNC = 3;      // agent: entries
inline constexpr uint32_t PTP_COMMS_MSG_PORT_NUM_CTRLR_RESYNC = 4;   // controller: entries
inline constexpr uint32_t PTP_COMMS_MSG_PORT_NUM_RESYNC_REQUEST = 5; // ptp_comms_msg_port_num_resync_request: no body
inline constexpr uint32_t PTP_COMMS_MSG_PORT_NUM_VERSION = 1;

// ---- ptp_comms_msg_announce: the controller's view of the system ---------------------------

inline constexpr size_t PTP_COMMS_MSG_ANNOUNCE_SIZE = 192;

struct ptp_comms_msg_announce {
    uint64_t local_clock_id;   // 0: the clock identity every agent uses for its ports
    uint8_t domain;            // 8
    ptp_clock_type global_bmc; // 16: the system's best foreign clock
    uint32_t bmc_synced;       // 96: non-zero when the servo is synchronised to it
    ptp_clock_type advertised; // 104: the clock the agents advertise
    uint32_t slave_supported;  // 184: the platform supports the slave role
    uint32_t bmc_selected;     // 188: a system best master is selected
};

// Writes the 192 bytes; reserved bytes are zero.
void ptp_comms_msg_announce_encode(const ptp_comms_msg_announce *msg, uint8_t out[PTP_COMMS_MSG_ANNOUNCE_SIZE]);
// Fewer than 192 bytes fail; bytes after them are not read.
zerrno ptp_comms_msg_announce_decode(const uint8_t *in, size_t len, ptp_comms_msg_announce *out);

// ---- ptp_comms_msg_bmc: a node's best master clock -----------------------------------------

inline constexpr size_t PTP_COMMS_MSG_BMC_SIZE = 136;

struct ptp_comms_msg_bmc {
    uint32_t present;               // 0: 1 when the node has a best master; 0 withdraws it
    ptp_clock_type clock;           // 8
    ifhtype ifhandle;               // 88: the interface that receives it
    ptp_address_type address;       // 96: the foreign master's address
    int32_t sync_interval;          // 120: log2 seconds, applied on that interface
    int32_t min_delay_req_interval; // 124: log2 seconds, applied on that interface
    int32_t delay_asymmetry;        // 128: signed nanoseconds, configured for that master
};

// Writes the 136 bytes; reserved bytes are zero. A record with present 0 is written as 136 zero
// bytes whatever its other fields hold.
void ptp_comms_msg_bmc_encode(const ptp_comms_msg_bmc *msg, uint8_t out[PTP_COMMS_MSG_BMC_SIZE]);
// Fewer than 136 bytes fail; bytes after them are not read.
zerrno ptp_comms_msg_bmc_decode(const uint8_t *in, size_t len, ptp_comms_msg_bmc *out);

// ---- ptp_comms_msg_time_update: timing records for the platform servo ----------------------

// One timing record of the slaved foreign master: the message (0 Sync, 1 Delay-Resp) in host
// order, then two timestamps of 48-bit seconds and 32-bit nanoseconds, big-endian, which both
// ends pass on unchanged.
inline constexpr size_t PTP_COMMS_TIME_RECORD_SIZE = 24;
inline constexpr size_t PTP_COMMS_TIME_RECORD_STAMPS_SIZE = 20;
struct ptp_comms_time_record_type {
    uint32_t message;
    uint8_t timestamps[PTP_COMMS_TIME_RECORD_STAMPS_SIZE];
};
static_assert(sizeof(ptp_comms_time_record_type) == PTP_COMMS_TIME_RECORD_SIZE);

// 4 + 24 x count.
size_t ptp_comms_msg_time_update_size(uint32_t count);
// Writes u32 count then the records (each message word big-endian) into out, which holds
// out_len bytes; PTP_ZERR_INVALID_ARG when the message does not fit.
zerrno ptp_comms_msg_time_update_encode(const ptp_comms_time_record_type *records, uint32_t count, uint8_t *out,
                                        size_t out_len);

// A received time update: a view into the message bytes.
struct ptp_comms_msg_time_update_view {
    uint32_t count;
    const uint8_t *records;
};
// The length must be exactly 4 + 24 x count.
zerrno ptp_comms_msg_time_update_decode(const uint8_t *in, size_t len, ptp_comms_msg_time_update_view *out);
// Record index (below count) of a decoded view, in host form.
void ptp_comms_msg_time_update_record(const ptp_comms_msg_time_update_view *view, uint32_t index,
                                      ptp_comms_time_record_type *out);

// ---- Port-number messages --------------------------------------------------------------------

// ptp_comms_msg_port_num_request and ptp_comms_msg_port_num_release: u32 count, then count u32
// interface handles.
inline constexpr size_t PTP_COMMS_PORT_NUM_HANDLE_SIZE = 4;
// ptp_comms_msg_port_num_alloc, ptp_comms_msg_port_num_ma_resync and
// ptp_comms_msg_port_num_ctrlr_resync: u32 count, then count entries {u32 interface handle,
// u16 port number, u16 zero}.
inline constexpr size_t PTP_COMMS_PORT_NUM_ENTRY_SIZE = 8;

struct tessel_port_num_entry_type {
    ifhtype ifhandle;
    uint16_t port_num;
};

// 4 + 4 x count and 4 + 8 x count.
size_t ptp_comms_msg_port_num_handles_size(uint32_t count);
size_t ptp_comms_msg_port_num_entries_size(uint32_t count);

// Write count and the handles or entries into out, which holds out_len bytes;
// PTP_ZERR_INVALID_ARG when the message does not fit.
zerrno ptp_comms_msg_port_num_handles_encode(const ifhtype *handles, uint32_t count, uint8_t *out, size_t out_len);
zerrno ptp_comms_msg_port_num_entries_encode(const tessel_port_num_entry_type *entries, uint32_t count, uint8_t *out,
                                             size_t out_len);

// A received port-number message: a view into the message bytes.
struct ptp_comms_msg_port_num_view {
    uint32_t count;
    const uint8_t *items;
};
// The count must fit the bytes received. Bytes after the last item are not read: the
// controller's allocate answer may be sized for the whole request while its count names only
// the interfaces that got a number.
zerrno ptp_comms_msg_port_num_handles_decode(const uint8_t *in, size_t len, ptp_comms_msg_port_num_view *out);
zerrno ptp_comms_msg_port_num_entries_decode(const uint8_t *in, size_t len, ptp_comms_msg_port_num_view *out);
// Item index (below count) of a decoded view.
ifhtype ptp_comms_msg_port_num_handle(const ptp_comms_msg_port_num_view *view, uint32_t index);
tessel_port_num_entry_type ptp_comms_msg_port_num_entry(const ptp_comms_msg_port_num_view *view, uint32_t index);
