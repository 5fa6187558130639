#include "tessel_hash.h"

#include "tessel_assert.h"
#include <cerrno>
#include <cstring>

#include "ptp_types.h"
#include "tessel_alloc.h"

// The interface manager's handle hash (platform call): the handle into key_bits bits.
uint32_t imc_ifhandle_to_hash(ifhtype ifhandle, uint32_t key_bits);

namespace {

bool is_power_of_two(uint32_t n)
{
    return n != 0 && (n & (n - 1)) == 0;
}

uint32_t bucket_of(const ptp_hash_table_type *t, const ptp_hash_node_type *node, uint32_t count)
{
    // A caller's hash that answers outside the table would index past the bucket array.
    return static_cast<uint32_t>(t->hash(ptp_hash_node_key(node), count, t->context)) % count;
}

void link_head(ptp_hash_node_type **slot, ptp_hash_node_type *node)
{
    node->next = *slot;
    if (node->next != nullptr) {
        node->next->pprev = &node->next;
    }
    node->pprev = slot;
    *slot = node;
}

void unlink(ptp_hash_node_type *node)
{
    *node->pprev = node->next;
    if (node->next != nullptr) {
        node->next->pprev = node->pprev;
    }
    node->next = nullptr;
    node->pprev = nullptr;
}

// The largest count the table may grow to from `current`: twice, capped at the maximum; a table
// on the interface-handle hash stays on powers of two, so its cap is the largest one allowed.
uint32_t grown_count(const ptp_hash_table_type *t)
{
    uint32_t next = 2u * t->cur_buckets;
    if (next > t->max_buckets) {
        next = t->max_buckets;
    }
    if (t->hash == ptp_hash_table_default_hash) {
        while (!is_power_of_two(next)) {
            next &= next - 1; // drop the lowest set bit until one remains
        }
    }
    return next;
}

void rehash(ptp_hash_table_type *t, uint32_t new_count)
{
    auto **fresh = static_cast<ptp_hash_node_type **>(tessel_calloc(new_count, sizeof(ptp_hash_node_type *)));
    if (fresh == nullptr) {
        return; // keep the old array; the load is only a matter of speed
    }
    for (uint32_t b = 0; b < t->cur_buckets; b++) {
        while (t->buckets[b] != nullptr) {
            ptp_hash_node_type *node = t->buckets[b];
            unlink(node);
            link_head(&fresh[bucket_of(t, node, new_count)], node);
        }
    }
    tessel_free(t->buckets);
    t->buckets = fresh;
    t->cur_buckets = static_cast<uint16_t>(new_count);
}

void resize_check(ptp_hash_table_type *t)
{
    if (t->resizable != 1) {
        return;
    }
    // Kept in 32 bits: a 16-bit load wraps on a full table and would shrink it.
    uint32_t load = static_cast<uint32_t>(uint64_t{t->entry_count} * 100u / t->cur_buckets);
    if (t->cur_buckets != t->max_buckets && load > 100) {
        uint32_t next = grown_count(t);
        if (next > t->cur_buckets) {
            rehash(t, next);
        }
    } else if (load < 12 && t->cur_buckets != t->initial_buckets) {
        uint32_t next = t->cur_buckets / 2u;
        if (next < t->initial_buckets) {
            next = t->initial_buckets;
        }
        rehash(t, next);
    }
}

} // namespace

int ptp_hash_table_create(uint32_t resizable, uint16_t initial_buckets, uint16_t max_buckets, ptp_hash_fn_type hash,
                          void *context, uint32_t key_len, ptp_hash_table_h_type *out_table)
{
    *out_table = nullptr;
    if (initial_buckets == 0 || initial_buckets >= max_buckets) {
        return EINVAL;
    }
    uint8_t flags = 0;
    if (hash == nullptr) {
        if (key_len != sizeof(ifhtype)) {
            return EINVAL;
        }
        hash = ptp_hash_table_default_hash;
        context = nullptr;
        flags |= PTP_HASH_TABLE_OWNS_CONTEXT;
    }
    auto *t = static_cast<ptp_hash_table_type *>(tessel_calloc(1, sizeof(ptp_hash_table_type)));
    if (t == nullptr) {
        return ENOMEM;
    }
    t->buckets = static_cast<ptp_hash_node_type **>(tessel_calloc(initial_buckets, sizeof(ptp_hash_node_type *)));
    if (t->buckets == nullptr) {
        tessel_free(t);
        return ENOMEM;
    }
    t->resizable = resizable;
    t->initial_buckets = initial_buckets;
    t->max_buckets = max_buckets;
    t->cur_buckets = initial_buckets;
    t->hash = hash;
    t->context = context;
    t->key_len = key_len;
    t->flags = flags;
    *out_table = t;
    return 0;
}

uint64_t ptp_hash_table_default_hash(const void *key, uint32_t bucket_count, void *)
{
    TESSEL_ASSERT(is_power_of_two(bucket_count));
    uint32_t key_bits = static_cast<uint32_t>(__builtin_ctz(bucket_count));
    TESSEL_ASSERT(key_bits <= 32);
    ifhtype ifhandle;
    std::memcpy(&ifhandle, key, sizeof(ifhandle));
    return imc_ifhandle_to_hash(ifhandle, key_bits);
}

void ptp_hash_table_insert(ptp_hash_table_h_type t, ptp_hash_node_type *node)
{
    link_head(&t->buckets[bucket_of(t, node, t->cur_buckets)], node);
    t->entry_count++;
    resize_check(t);
}

ptp_hash_node_type *ptp_hash_table_lookup(ptp_hash_table_h_type t, const void *key)
{
    uint32_t b = static_cast<uint32_t>(t->hash(key, t->cur_buckets, t->context)) % t->cur_buckets;
    for (ptp_hash_node_type *node = t->buckets[b]; node != nullptr; node = node->next) {
        if (std::memcmp(ptp_hash_node_key(node), key, t->key_len) == 0) {
            return node;
        }
    }
    return nullptr;
}

void ptp_hash_table_remove(ptp_hash_table_h_type t, ptp_hash_node_type *node)
{
    TESSEL_ASSERT(node->pprev != nullptr);
    unlink(node);
    t->entry_count--;
    resize_check(t);
}

void ptp_hash_table_free(ptp_hash_table_h_type t)
{
    if (t == nullptr) {
        return;
    }
    if ((t->flags & PTP_HASH_TABLE_OWNS_CONTEXT) != 0) {
        tessel_free(t->context);
    }
    tessel_free(t->buckets);
    tessel_free(t);
}

void ptp_hash_table_walk(ptp_hash_table_h_type t, ptp_hash_table_walk_fn fn, void *context)
{
    for (uint32_t b = 0; b < t->cur_buckets; b++) {
        for (ptp_hash_node_type *node = t->buckets[b]; node != nullptr;) {
            ptp_hash_node_type *next = node->next;
            fn(node, context);
            node = next;
        }
    }
}

void ptp_hash_table_empty(ptp_hash_table_h_type t, ptp_hash_table_walker_fn walker, void *context)
{
    for (uint32_t b = 0; b < t->cur_buckets; b++) {
        while (t->buckets[b] != nullptr) {
            ptp_hash_node_type *node = t->buckets[b];
            unlink(node);
            t->entry_count--;
            if (walker != nullptr) {
                walker(node, context);
            }
        }
    }
    TESSEL_ASSERT(t->entry_count == 0);
}

void ptp_hash_table_destroy(ptp_hash_table_h_type t, ptp_hash_table_walker_fn walker, void *context)
{
    if (t == nullptr) {
        return;
    }
    ptp_hash_table_empty(t, walker, context);
    ptp_hash_table_free(t);
}
