// Interoperation configuration of one interface: the clock profile of the network on the far
// side, its domain, and per-direction overrides of the Announce clock fields.
#pragma once

#include <cstddef>
#include <cstdint>

// Presence bits of tessel_interop_config_type.presence: a value means something only while its
// bit is set; values that are not present are 0.
enum tessel_interop_presence_type : uint16_t {
    TESSEL_INTEROP_PROFILE = 0x0001,
    TESSEL_INTEROP_DOMAIN = 0x0002,
    TESSEL_INTEROP_INGRESS_PRIORITY1 = 0x0004,
    TESSEL_INTEROP_INGRESS_PRIORITY2 = 0x0008,
    TESSEL_INTEROP_INGRESS_CLOCK_ACCURACY = 0x0010,
    TESSEL_INTEROP_INGRESS_OSLV = 0x0020,
    TESSEL_INTEROP_INGRESS_CLOCK_CLASS_DEFAULT = 0x0040,
    TESSEL_INTEROP_INGRESS_CLOCK_CLASS_MAPPING = 0x0080,
    TESSEL_INTEROP_EGRESS_PRIORITY1 = 0x0100,
    TESSEL_INTEROP_EGRESS_PRIORITY2 = 0x0200,
    TESSEL_INTEROP_EGRESS_CLOCK_ACCURACY = 0x0400,
    TESSEL_INTEROP_EGRESS_OSLV = 0x0800,
    TESSEL_INTEROP_EGRESS_CLOCK_CLASS_DEFAULT = 0x1000,
    TESSEL_INTEROP_EGRESS_CLOCK_CLASS_MAPPING = 0x2000,
};

// The egress bit of a value is its ingress bit shifted by this much.
inline constexpr unsigned TESSEL_INTEROP_EGRESS_SHIFT = 6;

inline constexpr size_t TESSEL_INTEROP_CLOCK_CLASS_COUNT = 256;

struct tessel_interop_clock_class_map_entry_type {
    uint32_t present;
    uint8_t clock_class;
};

// One direction's overrides (ingress: received Announces; egress: advertised values).
struct tessel_interop_half_config_type {
    uint8_t priority1;
    uint8_t priority2;
    uint8_t clock_accuracy;
    uint16_t oslv;
    uint8_t clock_class_default;
    tessel_interop_clock_class_map_entry_type clock_class_mapping[TESSEL_INTEROP_CLOCK_CLASS_COUNT];
};

struct tessel_interop_config_type {
    uint16_t presence; // tessel_interop_presence_type bits
    uint8_t domain;
    uint32_t profile; // ptp_profile_type
    tessel_interop_half_config_type ingress;
    tessel_interop_half_config_type egress;
};
static_assert(sizeof(tessel_interop_config_type) == 4120);
