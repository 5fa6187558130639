// The container shared by the master and slave tables: an avl2 tree of entries keyed by the
// address that stands directly behind the tree node, and an entry count.
#pragma once

#include "tessel_assert.h"
#include <cstddef>

#include "avl2.h"
#include "ptp_address.h"
#include "tessel_alloc.h"
#include "tessel_db.h"

namespace tessel_addr_table {

template <typename Entry>
int compare(const void *a, const void *b, void *)
{
    return ptp_address_compare(&static_cast<const Entry *>(a)->address, &static_cast<const Entry *>(b)->address);
}

template <typename Table, typename Entry>
bool init(Table *table)
{
    table->count = 0;
    return avl2_init(&table->tree, compare<Entry>, nullptr);
}

template <typename Table, typename Entry>
Entry *find(Table *table, const ptp_address_type *address)
{
    if (table->count == 0) {
        return nullptr;
    }
    Entry key{};
    key.address = *address;
    return reinterpret_cast<Entry *>(avl2_search(&table->tree, &key));
}

// Allocates a zeroed entry for the address and inserts it; null when allocation fails.
template <typename Table, typename Entry>
Entry *insert_new(Table *table, const ptp_address_type *address)
{
    auto *entry = static_cast<Entry *>(tessel_calloc(1, sizeof(Entry)));
    if (entry == nullptr) {
        return nullptr;
    }
    entry->address = *address;
    [[maybe_unused]] avl2_node_type *inserted = avl2_insert(&table->tree, &entry->node);
    TESSEL_ASSERT(inserted != nullptr && "address already in the table");
    table->count++;
    return entry;
}

template <typename Table, typename Entry>
void remove(Table *table, Entry *entry)
{
    TESSEL_ASSERT(entry != nullptr);
    if (table->count > 0) {
        [[maybe_unused]] avl2_node_type *removed = avl2_delete(&table->tree, entry);
        TESSEL_ASSERT(removed == &entry->node);
        table->count--;
    }
    tessel_free(entry);
}

inline void free_row(avl2_node_type *row)
{
    tessel_free(row);
}

template <typename Table>
void destroy(Table *table)
{
    avl2_destroy(&table->tree, free_row);
    table->count = 0;
}

template <typename Table, typename Entry, typename Fn>
bool walk(Fn callback, Table *table, void *context)
{
    if (table->count == 0) {
        return true;
    }
    struct ctx_type {
        Fn callback;
        void *context;
    } ctx{callback, context};
    return avl2_walk(
        &table->tree,
        [](avl2_node_type *row, void *c) {
            auto *x = static_cast<ctx_type *>(c);
            return x->callback(reinterpret_cast<Entry *>(row), x->context);
        },
        &ctx);
}

} // namespace tessel_addr_table
