// Test control of the FIB external client.
#pragma once

#include <cstdint>
#include <vector>

#include "fib_ext_client.h"

// Adds or changes a route (address of 4 or 16 bytes); registered prefixes it now covers best are
// updated.
void fib_test_route_set(uint32_t vrf_id, uint32_t family, const uint8_t *address, uint16_t prefix_len,
                        const std::vector<uint8_t> &nh_data);
void fib_test_route_remove(uint32_t vrf_id, uint32_t family, const uint8_t *address, uint16_t prefix_len);

enum class fib_test_call {
    init,
    bulk_reg,
    bulk_unreg,
    cleanup
};
// The next `count` calls of the kind on the family fail with code.
void fib_test_fail(fib_test_call call, uint32_t family, zerrno code, uint32_t count = 1);

// The service restarts for the family: every live connection of it is replaced; the client's
// reconnect callback receives the new one.
void fib_test_reconnect(uint32_t family);

// The prefixes of each successful bulk registration of the family, call by call.
std::vector<std::vector<fib_ext_client_prefix_st>> fib_test_bulk_registrations(uint32_t family);
// Calls of the kind made on the family (failed ones included).
uint32_t fib_test_calls(fib_test_call call, uint32_t family);
// The prefixes registered now on the family's live connections.
std::vector<fib_ext_client_prefix_st> fib_test_registered(uint32_t family);
void fib_test_reset(void);
