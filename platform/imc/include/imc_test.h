// Test control of the interface manager: the operator's changes and a dropped connection.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imc.h"

// Forget the interface table (read again from the chassis), bindings and registrations.
void imc_test_reset(void);
// Change an interface of this node; registered clients are notified.
zerrno imc_test_set_line_state(uint32_t ifhandle, uint32_t state);
zerrno imc_test_set_ipv4(uint32_t ifhandle, const std::vector<std::array<uint8_t, 4>> &addrs);
zerrno imc_test_set_ipv6(uint32_t ifhandle, const std::vector<std::array<uint8_t, 16>> &addrs);
// The interface manager goes away: bindings fail from now on, registrations are gone, and each
// connection that carries a binding's id gets CLOSED (and opens again).
void imc_test_drop_connection(void);
// Registrations (of any client) for an interface.
size_t imc_test_registrations(uint32_t ifhandle);
