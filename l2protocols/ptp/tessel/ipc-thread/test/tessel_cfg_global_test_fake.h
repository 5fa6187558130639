// Recording fakes of what the configuration modules call and these tests do not link: the
// IPC-side cache of the thread control and the process entry (the intake, the interface record
// and its merge are the real ones). Plus the small helpers the tests share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bgen_args.h"
#include "nodra.h"
#include "plat_debug.h"
#include "tessel_cfg.h"
#include "tessel_if_config.h"
#include "tessel_ipc_db.h"
#include "tuple.h"
#include "zerrno.h"

struct cfg_fake_type {
    std::vector<uint32_t> ptp_enable;
    std::vector<std::pair<uint32_t, uint32_t>> clock_profile;
    std::vector<uint32_t> min_clock_class;
    std::vector<std::string> if_update_add; // interface names queued for the protocol thread
    uint32_t flushes = 0;                   // tessel_ipc_if_update_flush
};
extern cfg_fake_type cfg_fake;

// Clears the recordings, the IPC database (freeing every record's tables), the profile database
// and the debug capture; opens both databases again; sets the capability word (version 1).
void cfg_fake_reset(uint16_t caps);
// Frees every record and both databases.
void cfg_fake_teardown();

// The debug lines printed since the last clear, without the ones the tests do not look at.
std::vector<std::string> cfg_debug_lines();

// An event with a 4-byte value, a packed tuple, a text, or none (a delete).
struct cfg_event_type {
    nodra_event_info_td info{};
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> old_bytes;
};
cfg_event_type cfg_event_u32(uint32_t event, uint32_t value);
// A tuple of numbers and texts, in order ({1, n} a number, {2, 0, "text"} a text, {} absent).
cfg_event_type cfg_event_tuple(uint32_t event, const std::vector<tuple_field_type> &fields);
cfg_event_type cfg_event_text(uint32_t event, const char *text);
cfg_event_type cfg_event_delete();
// Points info at the byte vectors (call after the event stops moving).
const nodra_event_info_td *cfg_event_info(cfg_event_type &e);

// Key arguments: a name (profile or interface) and optionally an entry address.
bgen_args_td cfg_args_name(const char *name, uint32_t bg_ident = 0);
// kind 1 Ethernet ("%x.%x.%x" text), 2 IPv4, 3 IPv6 (address text).
bgen_args_td cfg_args_addr(const char *name, uint32_t kind, const char *addr_text, uint32_t bg_ident = 0);

tessel_ipc_idb_type *cfg_idb(const char *ifname); // get or create
