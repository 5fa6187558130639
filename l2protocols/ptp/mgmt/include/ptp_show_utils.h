// The show tools' common frame: options, the database path, the library check, bind, item get
// and data-list walks, bag decoding, the value-to-text helpers and the interface-manager
// connection that turns interface handles into names.
//
// Every tool is one run: defaults, options, path, library check, bind, output, unbind, exit
// status 0 whatever happened; errors are one line on standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "bag.h"
#include "nodra.h"
#include "zerrno.h"

struct ptp_bag_address;

// ---- Options ----------------------------------------------------------------------------------

inline constexpr uint32_t PTP_SHOW_NO_NODE = 0xFFFFFFFFu;

// The parsed options of this run: -i (the argument's text, null when not given), -h (the node
// number, PTP_SHOW_NO_NODE when not given) and one flag per other letter.
struct ptp_show_options_type {
    const char *ifname;
    uint32_t node;
    bool flag[128];
    const char *value[128]; // the argument of each other letter that takes one (-c), or null
    uint32_t seen[128];     // where each letter was last given (1 the first option), 0 never
    bool error;             // a missing argument or an unknown letter was reported
};
extern ptp_show_options_type ptp_show_options;

// Resets the options to their defaults and reads argv with the tool's option text (which begins
// with ':'), reporting "Option '%c' missing argument" and "Unknown argument '%c'" and going on.
// False when a -h value was refused (reported by ptp_show_number): the tool then ends.
[[nodiscard]] bool ptp_show_parse_options(int argc, char **argv, const char *optstring);

// The number an option's whole argument gives (any base), of at most `bits` bits. Anything else
// is reported as "Option '%c' value '%s' is not a number of at most %u bits" and refused: cut
// down to fit, or read up to a typo, it would name another node or master.
bool ptp_show_number(char letter, const char *text, uint32_t bits, uint32_t *value);
bool ptp_show_flag(char letter);

// The tools that show one interface or one node: false, after "Only one of interface or location
// must be specified", when both -i and -h were given (the tool then ends).
bool ptp_show_check_interface_or_location();

// The database path of a per-interface tool for item (such as "foreign-masters/if/"): with -h
// the node's, with -a or -i the system-wide one, else the own node's. False (having printed
// "Unable to obtain current node ID: %s\n\n") when the own node is not known.
bool ptp_show_build_path(const char *item, char *path, size_t size);

// ---- Database ---------------------------------------------------------------------------------

// The database client library is there (checked with access(); only success is remembered).
bool ptp_show_library_present();
// Binds path (mode 6); an absent library is a failed bind with NODRA_ERR_BIND_NO_LIBRARY.
zerrno ptp_show_bind(nodra_conn_td **conn, const char *path);
void ptp_show_unbind(nodra_conn_td *conn);

using ptp_show_item_printer_fn = void (*)(const void *data, uint32_t length);
using ptp_show_header_printer_fn = void (*)();

// The global item name below the bound path (the database binds folders, so a global record is
// named in its folder); not found prints "PTP is not configured globally".
void ptp_show_global_info(nodra_conn_td *conn, const char *name, ptp_show_item_printer_fn printer);
// The item of one interface; not found prints nothing.
void ptp_show_intf_info(nodra_conn_td *conn, const char *ifname, ptp_show_header_printer_fn header,
                        ptp_show_item_printer_fn printer);
// Every item below the bound path, as one data list, in its order; not found prints nothing.
void ptp_show_all_intfs_info(nodra_conn_td *conn, ptp_show_header_printer_fn header, ptp_show_item_printer_fn printer);
// One named item below the bound path: 0 and the data (free() it), or the database's code.
zerrno ptp_show_item_get(nodra_conn_td *conn, const char *name, void **data, uint32_t *length);
bool ptp_show_not_found(zerrno rc);

// The names below "/oper/ptp/interface/if/", each in a 64-byte slot (free() the array); an empty
// list on any failure, which is printed.
void ptp_show_list_intfs(char (**names)[64], uint32_t *count);

// Decodes a bag into its native record, calls use with it and frees what the decode allocated;
// a failure prints decode_text ("Failed to decode ... bag: %s\n") with the error's text.
template <typename Record, typename Use>
void ptp_show_decode(const void *data, uint32_t length, const bag_descriptor_type *bag, const char *decode_text,
                     Use use)
{
    Record record{};
    const zerrno rc = bag_decode(static_cast<const uint8_t *>(data), length, &record, bag);
    if (rc != 0) {
        printf(decode_text, zerr_strerror(rc));
        return;
    }
    use(record);
    bag_free_indirections(&record, bag);
}

// ---- Interface-manager connection -------------------------------------------------------------

// Opens the connection; 0, or why not (the tools then print handles as unknown).
zerrno ptp_show_event_mgr_init();
void ptp_show_event_mgr_cleanup();

// ---- Value-to-text helpers (rotating buffers: a text stays valid for ten further buffers) ------

inline constexpr size_t PTP_SHOW_STR_BUF_SIZE = 256;
inline constexpr uint32_t PTP_SHOW_STR_BUF_COUNT = 10;

void ptp_show_print_indent(uint32_t level);
char *ptp_show_get_str_buf();
const char *ptp_show_set_to_str(uint32_t flag);
const char *ptp_show_range_to_str(uint32_t from, uint32_t to);
const char *ptp_show_short_duration_to_str(uint32_t seconds);
const char *ptp_show_duration_to_str(uint32_t seconds);
const char *ptp_show_bag_timescale_to_str(uint32_t timescale);
const char *ptp_show_bag_timesource_to_str(uint32_t source);
const char *ptp_show_bag_encap_to_str(uint32_t encap);
const char *ptp_show_timestamp_to_str(uint64_t seconds, const uint32_t *nanoseconds);
const char *ptp_show_log_interval_to_str(int32_t log_interval);
const char *ptp_show_grant_to_str(int8_t log_interval, uint32_t duration);
const char *ptp_show_mac_to_str(const uint8_t mac[6]);
// An address by its encapsulation: MAC, IPv4 or IPv6 text; any other encapsulation "Unknown".
const char *ptp_show_bag_address_to_str(const ptp_bag_address &address);
const char *ptp_show_bag_delay_mechanism_to_str(uint32_t mechanism);
const char *ptp_show_ifhandle_to_str(uint32_t ifhandle);
const char *ptp_show_intf_type_to_str(uint32_t type, char *buffer, size_t size);
const char *ptp_show_ipv4_addrs_to_str(uint32_t count, const uint32_t *addresses, char *buffer, size_t size);
const char *ptp_show_ipv6_addrs_to_str(uint32_t count, const uint8_t (*addresses)[16], char *buffer, size_t size);
void ptp_show_print_servo_status(uint32_t status);
const char *ptp_show_ql_to_str(uint32_t ql);

// ---- Shared pieces of the views ---------------------------------------------------------------

// One item of a tool: binds dir (failure: bind_text with the path and the error's text), gets
// name and hands it to printer; not found prints nothing, another failure get_text with the
// error's text.
void ptp_show_item(const char *dir, const char *name, const char *bind_text, const char *get_text,
                   ptp_show_item_printer_fn printer);
// The same for an item a tool names by its whole path ("/oper/ptp/node/10/ctrlr-database"): its
// folder is bound and the item got there, and a failed bind names the whole path.
void ptp_show_item_at(const char *path, const char *bind_text, const char *get_text, ptp_show_item_printer_fn printer);

// The per-interface items below path: binds it (failure: bind_text with the path and the error's
// text), then with -i that interface's item, else every item, each to printer; unbinds.
void ptp_show_intfs(const char *path, const char *bind_text, ptp_show_header_printer_fn header,
                    ptp_show_item_printer_fn printer);

// A clock's traceability line ("Frequency-traceable, Time-traceable", one of them, or "No
// frequency or time traceability"), its UTC offset line and, when a leap second is pending, the
// leap line, each after indent.
void ptp_show_print_traceability(const char *indent, uint32_t frequency, uint32_t time);
void ptp_show_print_utc_offset(const char *indent, int32_t offset, uint32_t valid);
void ptp_show_print_leap(const char *indent, uint32_t leap);

// The entry of each tool (its main, with exit status 0).
int ptp_show_datasets_main(int argc, char **argv);
int ptp_show_leap_seconds_main(int argc, char **argv);
int ptp_show_summary_main(int argc, char **argv);
int ptp_show_local_clock_main(int argc, char **argv);
int ptp_show_grandmaster_main(int argc, char **argv);
int ptp_show_advertised_clock_main(int argc, char **argv);
int ptp_show_interfaces_main(int argc, char **argv);
int ptp_show_foreign_masters_main(int argc, char **argv);
int ptp_show_unicast_peers_main(int argc, char **argv);
int ptp_show_interop_tool_main(int argc, char **argv);
int ptp_show_config_errors_main(int argc, char **argv);
int ptp_show_idb_main(int argc, char **argv);
int ptp_show_controller_db_main(int argc, char **argv);
int ptp_show_packets_tool_main(int argc, char **argv);
int ptp_show_events_tool_main(int argc, char **argv);
int ptp_show_controller_events_main(int argc, char **argv);
int ptp_clear_counters_main(int argc, char **argv);
