// Interface manager client: the interfaces of this node (from the chassis description), found
// by name, their attributes registered for and notified in bulk on the client's event manager,
// and the address-list library that decodes the IP-address attribute.
#pragma once

#include <cstddef>
#include <cstdint>

#include "evm.h"
#include "zerrno.h"

inline constexpr uint32_t IMC_ZERR_FACILITY = 0x7f0a;
inline constexpr zerrno IMC_ERR_INVALID = zerr_make(IMC_ZERR_FACILITY, 1, 22 /*EINVAL*/);
inline constexpr zerrno IMC_ERR_NO_MEMORY = zerr_make(IMC_ZERR_FACILITY, 2, 12 /*ENOMEM*/);
inline constexpr zerrno IMC_ERR_NO_INTERFACE = zerr_make(IMC_ZERR_FACILITY, 3, 19 /*ENODEV*/);
inline constexpr zerrno IMC_ERR_NOT_CONNECTED = zerr_make(IMC_ZERR_FACILITY, 4, 107 /*ENOTCONN*/);
inline constexpr zerrno IMC_ERR_NO_NODE = zerr_make(IMC_ZERR_FACILITY, 5, 6 /*ENXIO*/);
inline constexpr zerrno IMC_ERR_TOO_SMALL = zerr_make(IMC_ZERR_FACILITY, 6, 34 /*ERANGE*/);

// Attributes.
inline constexpr uint16_t IMC_ATTR_LINE_STATE = 1; // u32 line state

// A line state's name: "admin-down", "down", "up", or "unknown" for any other value.
const char *im_state_name(uint32_t state);
inline constexpr uint16_t IMC_ATTR_ETHER = 70; // MAC (6), tag count (1), tags (4 each)
inline constexpr uint16_t IMC_ATTR_IP = 75;    // an address list, decoded by iparm_al_c_tlv2addr
// Protocols of a registration: Ethernet 0 / 0xFFFF, IPv4 12 / 26, IPv6 19 / 82.
inline constexpr uint16_t IMC_PROTO_IPV4 = 26;
inline constexpr uint16_t IMC_PROTO_IPV6 = 82;
// Notification kinds, class IMC_NOTIFY_CLASS_BULK.
inline constexpr uint32_t IMC_NOTIFY_CLASS_BULK = 68;
inline constexpr uint32_t IMC_NOTIFY_ATTRIBUTES = 20;
inline constexpr uint32_t IMC_NOTIFY_REPLAY_DONE = 21;
// Attribute registration operations: odd registers, even unregisters.
inline constexpr uint32_t IMC_ATTR_OP_REGISTER = 17;
inline constexpr uint32_t IMC_ATTR_OP_UNREGISTER = 18;
inline constexpr uint32_t IMC_ATTR_OP_REGISTER_BASECAPS = 145;
inline constexpr uint32_t IMC_ATTR_OP_UNREGISTER_BASECAPS = 146;

inline constexpr size_t IMC_NAME_SIZE = 64;

// ---- Control-server binding ------------------------------------------------------------------

struct imc_bind_params_type {
    uint32_t kind;
    uint32_t flags;
};
struct imc_ctx_type; // a binding

// Bind as a control-server client; params and count are recorded only. The binding ends when
// unbound or when the interface manager's connection drops (calls then fail with
// IMC_ERR_NOT_CONNECTED).
zerrno imc_control_server_bind(const imc_bind_params_type *params, uint32_t count, imc_ctx_type **out);
zerrno imc_control_server_unbind(imc_ctx_type *ctx);
// The connection id of a binding: the value a connection's open callback returns, so that a
// drop of the interface manager is reported on that connection (CLOSED).
zerrno imc_conn_ctx_to_connid(imc_ctx_type *ctx, int32_t *connid);

// ---- Interfaces ------------------------------------------------------------------------------

// Handles of names (each IMC_NAME_SIZE bytes, NUL-terminated): 0 when all were found, else the
// first entry's error; errors (may be null) gets each entry's.
zerrno imc_interface_find(imc_ctx_type *ctx, const char (*names)[IMC_NAME_SIZE], uint32_t count, uint32_t *handles,
                          zerrno *errors);
zerrno imc_s_interface_find(void *ctx, const char *name, uint32_t *ifhandle);
zerrno imc_s_interface_name(void *ctx, uint32_t ifhandle, char *buffer, size_t size);
zerrno imc_s_interface_get_type(void *ctx, uint32_t ifhandle, uint32_t *type);
// The name of an interface for display, or "<unknown>" (a buffer of the caller's).
const char *imc_display_namestring(uint32_t ifhandle, char *buffer, size_t size);
// The interface-name map of a display tool: the name of each interface handle for the time of a
// record, looked up through a binding. This interface manager never gives a handle to another
// interface while the chassis runs, so one name per handle answers for every time; each is asked
// once. Building again starts a new map; lookups without a map find nothing.
zerrno im_build_name_timestamp_map(imc_ctx_type *ctx);
void im_cleanup_name_timestamp_map(void);
// The name of ifhandle at timestamp (platform clock, ns) in the caller's buffer, or null when the
// map does not know it.
const char *im_name_from_timestamp(uint32_t ifhandle, uint64_t timestamp, char *buffer, size_t size);
// A hash of a handle into key_bits bits.
uint32_t imc_ifhandle_to_hash(uint32_t ifhandle, uint32_t key_bits);

// ---- Attribute registration and notifications -------------------------------------------------

// A bulk notification: kind and, for attributes, count entries. Each entry: u32 entry length
// (with this word), u32 interface handle, u32 interface type, u16 protocol, u16 attribute
// count, then per attribute u16 id, u16 length and the value; big-endian.
struct imc_notify_type {
    uint32_t kind;
    uint32_t count;
    const uint8_t *entries;
    uint32_t length;
};
using imc_notify_fn = void (*)(const imc_notify_type *notify, void *context);
struct imc_reg_type; // a notification registration

// The callback runs on the event manager for every notification of the class.
zerrno imc_register_callback(event_mgr_type *evm, uint32_t notify_class, imc_notify_fn callback, void *context,
                             imc_reg_type **out);
zerrno imc_unregister_callback(imc_reg_type *reg);

// One registration element, 64 bytes, as a client fills it.
struct imc_attr_reg_type {
    uint32_t ifhandle;
    uint32_t reserved0;
    uint64_t reserved1;
    uint8_t reserved2[2];
    uint8_t all_nodes; // 0xFF
    uint8_t reserved3[25];
    uint16_t protocol[2];
    uint32_t attr_count;
    uint32_t reserved4;
    const uint16_t *attrs;
};
static_assert(sizeof(imc_attr_reg_type) == 64);

// Register (odd op) or unregister (even op) each element's attributes; a registration is
// answered by a notification of the current values, then a replay-done notification. 0 when
// every element succeeded, else the first element's error; results (may be null) gets each.
zerrno imc_attr_register(imc_reg_type *reg, uint32_t op, const imc_attr_reg_type *elements, uint32_t count,
                         zerrno *results);
// The interface manager's name of a notification kind.
const char *im_notify_reverse_lookup(uint32_t kind);

// ---- Address lists ---------------------------------------------------------------------------

inline constexpr uint8_t IPARM_AL_EXCLUDED = 0x01; // not to be used as a source address

struct iparm_al_c_addr_type {
    uint8_t addr[16]; // IPv4 in the first 4
    uint8_t prefix_len;
    uint8_t flags;
};
struct iparm_al_c_list_type {
    uint32_t vrf_id;
    uint16_t protocol;
    uint16_t count;
    iparm_al_c_addr_type *addrs;
};

zerrno iparm_al_c_init(void);
// Decode an IP attribute value into a new list (free it with iparm_al_c_free).
zerrno iparm_al_c_tlv2addr(const uint8_t *tlv, uint32_t length, iparm_al_c_list_type **out);
void iparm_al_c_free(iparm_al_c_list_type *list);
