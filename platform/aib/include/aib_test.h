// Test control of the adjacency information base.
#pragma once

#include <cstdint>

#include "aib.h"

// Adds or changes the IPv4 adjacency of (ifhandle, ip); registered clients are notified.
void aib_test_set(uint32_t ifhandle, const uint8_t ip[4], const uint8_t *rewrite, uint32_t rewrite_len);
// Removes it (clients are notified with the entry as it was); nothing when absent.
void aib_test_remove(uint32_t ifhandle, const uint8_t ip[4]);

enum class aib_test_call {
    bind,
    map,
    get_table,
    register_callback
};
// The next call of the kind fails with code (get_table: returns null).
void aib_test_fail(aib_test_call call, zerrno code);

bool aib_test_bound(void);
uint32_t aib_test_client_count(void);
// Forgets everything: entries, clients, failures.
void aib_test_reset(void);
