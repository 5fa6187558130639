// Node-wide values that the port manager and the upgrade client own and that the state machine
// reads through its services table: the upgrade roles and the local clock.
#pragma once

#include <cstdint>

// The agent's in-service upgrade role.
inline constexpr uint32_t TESSEL_ISSU_ROLE_NONE = 0;
inline constexpr uint32_t TESSEL_ISSU_ROLE_PRIMARY = 1;
inline constexpr uint32_t TESSEL_ISSU_ROLE_SECONDARY = 2;
inline constexpr uint32_t TESSEL_ISSU_ROLE_RETIRING = 3;

// The local clock as the controller reports it.
struct tessel_local_clock_type {
    uint64_t clock_id;
    uint32_t domain;
};
