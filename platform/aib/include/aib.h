// The adjacency information base (AIB): per interface and address, the complete L2 header
// (rewrite) towards a neighbour, read by clients through a lookup in its shared table and
// followed through notifications of changes and removals. Entries come from the test control
// (aib_test.h) or, for interface handles bound to Linux devices (nl_linux.h), from the kernel's
// neighbour table.
#pragma once

#include <cstdint>

#include "evm.h"
#include "zerrno.h"

inline constexpr uint32_t AIB_FAMILY_IPV4 = 12;
inline constexpr uint32_t AIB_KEY_MAX = 16;
// The longest rewrite the table holds (clients may accept less).
inline constexpr uint32_t AIB_REWRITE_MAX = 128;
// aib_map_table's answer for a table this process has mapped already.
inline constexpr zerrno AIB_ALREADY_MAPPED = 17;

struct aib_adj_entry_type {
    uint32_t family;
    uint32_t ifhandle;
    uint32_t key_len;
    uint8_t key[AIB_KEY_MAX]; // the neighbour's address, as on the wire
    uint32_t rewrite_len;
    uint8_t rewrite[AIB_REWRITE_MAX];
};

struct aib_adj_tbl_type; // the shared table of one family

enum aib_notification_kind_type : uint32_t {
    AIB_NOTIFICATION_UPDATE = 0, // added or changed
    AIB_NOTIFICATION_DELETE = 1, // removed: the entry as it was
};
struct aib_notification_type {
    uint32_t kind;
    const aib_adj_entry_type *entry; // valid for the callback only
};
using aib_notification_cb_fn = void (*)(const aib_notification_type *notification);

zerrno aib_server_bind(void);
zerrno aib_map_table(uint32_t family);
// The mapped table of a family; null when it is not mapped.
aib_adj_tbl_type *aib_get_shm_table(uint32_t family);
// Notifications of the family are delivered on evm, in order.
zerrno aib_register_callback_v3(const char *client_name, event_mgr_type *evm, aib_notification_cb_fn callback,
                                uint32_t family);
// ENOENT when the table has no entry of the key on the interface.
zerrno aib_client_adj_tbl_lookup(const aib_adj_tbl_type *table, uint32_t ifhandle, uint32_t family, const uint8_t *key,
                                 uint32_t key_len, aib_adj_entry_type *out);
// Drops the registrations and mappings of the process.
void aib_server_unbind(void);
