// Slave tables: the unicast slaves a port serves without negotiation, ordered by address
// (ptp_address_compare). A table owns its entries.
#pragma once

#include <cstdint>

#include "avl2.h"
#include "ptp_types.h"
#include "tessel_db.h"
#include "zerrno.h"

inline constexpr uint8_t TESSEL_SLAVE_DB_CONFIGURED = 0x01;
inline constexpr uint8_t TESSEL_SLAVE_DB_NON_NEGOTIATED = 0x02;

struct tessel_slave_db_type {
    avl2_node_type node;
    ptp_address_type address; // key
    uint8_t flags;
};

struct tessel_slave_table_type {
    avl2_tree_type tree;
    uint32_t count;
};

using tessel_slave_db_walk_fn = bool (*)(tessel_slave_db_type *entry, void *context);

zerrno tessel_slave_db_init(tessel_slave_table_type *table);
uint32_t tessel_slave_db_count(const tessel_slave_table_type *table);
zerrno tessel_slave_db_add(tessel_slave_table_type *table, const ptp_address_type *address,
                           tessel_slave_db_type **out_entry);
zerrno tessel_slave_db_find(tessel_slave_table_type *table, const ptp_address_type *address,
                            tessel_slave_db_type **out_entry);
void tessel_slave_db_remove(tessel_slave_table_type *table, tessel_slave_db_type *entry);
bool tessel_slave_db_walk(tessel_slave_db_walk_fn callback, tessel_slave_table_type *table, void *context);
void tessel_slave_db_destroy(tessel_slave_table_type *table);
zerrno tessel_slave_db_copy(tessel_slave_table_type *dst, tessel_slave_table_type *src, bool ethernet_allowed,
                            bool ipv6_allowed, const tessel_db_h_type *port);
zerrno tessel_slave_db_copy_all(tessel_slave_table_type *dst, tessel_slave_table_type *src);
