// Master tables: the unicast masters a port may listen to, with optional per-master overrides,
// ordered by address (ptp_address_compare). A table owns its entries.
#pragma once

#include <cstdint>

#include "avl2.h"
#include "ptp_types.h"
#include "tessel_db.h"
#include "zerrno.h"

// Bits of tessel_master_db_type::flags; a value field means something only while its bit is on.
inline constexpr uint8_t TESSEL_MASTER_DB_ENABLE_SET = 0x01;
inline constexpr uint8_t TESSEL_MASTER_DB_PRIORITY_SET = 0x02;
inline constexpr uint8_t TESSEL_MASTER_DB_CLOCK_CLASS_SET = 0x04;
inline constexpr uint8_t TESSEL_MASTER_DB_MULTICAST_SET = 0x08;
inline constexpr uint8_t TESSEL_MASTER_DB_NON_NEGOTIATED = 0x10;
inline constexpr uint8_t TESSEL_MASTER_DB_NON_NEGOTIATED_SET = 0x20;
inline constexpr uint8_t TESSEL_MASTER_DB_DELAY_ASYMMETRY_SET = 0x40;

struct tessel_master_db_type {
    avl2_node_type node;
    ptp_address_type address; // key
    uint32_t priority;
    uint32_t clock_class;
    uint32_t multicast; // 0..2
    ptp_delay_asymmetry_type delay_asymmetry;
    uint8_t flags;
};

struct tessel_master_table_type {
    avl2_tree_type tree;
    uint32_t count;
};

// Called for each entry in key order; true to go on.
using tessel_master_db_walk_fn = bool (*)(tessel_master_db_type *entry, void *context);

zerrno tessel_master_db_init(tessel_master_table_type *table);
uint32_t tessel_master_db_count(const tessel_master_table_type *table);
// Adds a zeroed entry for an address that is not in the table yet.
zerrno tessel_master_db_add(tessel_master_table_type *table, const ptp_address_type *address,
                            tessel_master_db_type **out_entry);
zerrno tessel_master_db_find(tessel_master_table_type *table, const ptp_address_type *address,
                             tessel_master_db_type **out_entry);
bool tessel_master_db_contains(tessel_master_table_type *table, const ptp_address_type *address);
void tessel_master_db_remove(tessel_master_table_type *table, tessel_master_db_type *entry);
// True when the walk reached the end (an empty table counts as a completed walk).
bool tessel_master_db_walk(tessel_master_db_walk_fn callback, tessel_master_table_type *table, void *context);
void tessel_master_db_destroy(tessel_master_table_type *table);
// Rebuilds dst from src, leaving out what the port does not allow; port (the header of the
// port's interface record, may be null) is named in the messages about what was left out.
zerrno tessel_master_db_copy(tessel_master_table_type *dst, tessel_master_table_type *src, bool ethernet_allowed,
                             bool ipv6_allowed, bool multicast_allowed, const tessel_db_h_type *port);
zerrno tessel_master_db_copy_all(tessel_master_table_type *dst, tessel_master_table_type *src);
