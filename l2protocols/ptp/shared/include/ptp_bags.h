// The PTP bags: native records, descriptors and registration, all derived from the catalogue in
// ptp_bag_table.h.
//
// A process that serves or reads PTP operational data calls bag_register_all_ptp_bags() once at
// start, then fills a zeroed native record and hands it with the bag's descriptor to bag_encode,
// or decodes with bag_decode and releases with bag_free_indirections (platform bag.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "bag.h"
#include "ptp_bag_table.h"
#include "zerrno.h"

// ---- Enumerations of the bags ----

#define PTP_BAG_ENUMERATOR(prefix, name, value) prefix##_##name = value,
#define PTP_BAG_ENUM_TYPE(type, prefix, list)                                                                          \
    enum type : uint32_t {                                                                                             \
        list(PTP_BAG_ENUMERATOR)                                                                                       \
    };
PTP_BAG_ENUMS(PTP_BAG_ENUM_TYPE)
#undef PTP_BAG_ENUM_TYPE
#undef PTP_BAG_ENUMERATOR

// ---- Native records, one per definition ----

#define PTP_BAG_MEMBER(S, name, type, ctype) ctype name;
#define PTP_BAG_STRUCT_REC(id, S)                                                                                      \
    struct S {                                                                                                         \
        PTP_BAG_DEF_##id(PTP_BAG_MEMBER, S)                                                                            \
    };
#define PTP_BAG_STRUCT_BARE(id, S) PTP_BAG_BARE_##id
#define PTP_BAG_STRUCT(id, S, type_name, kind) PTP_BAG_STRUCT_##kind(id, S)
PTP_BAG_DEFINITIONS(PTP_BAG_STRUCT)
#undef PTP_BAG_STRUCT
#undef PTP_BAG_STRUCT_BARE
#undef PTP_BAG_STRUCT_REC
#undef PTP_BAG_MEMBER

static_assert(sizeof(ptp_bag_address) == 24 && offsetof(ptp_bag_address, value) == 8);

// ---- Descriptors ----

// One descriptor object per bag, named after it (ptp_current_ds_info_bag, ...,
// ptp_local_clock_info_bag, ...), and its accessor (ptp_current_ds_info_bag_getfn(), ...).
#define PTP_BAG_DECLARE(bag, root, size, further)                                                                      \
    extern const bag_descriptor_type bag##_bag;                                                                        \
    const bag_descriptor_type *bag##_bag_getfn();
PTP_BAG_CATALOGUE(PTP_BAG_DECLARE)
#undef PTP_BAG_DECLARE

inline constexpr uint32_t PTP_BAG_COUNT = 30;
inline constexpr uint32_t PTP_BAG_SCHEMA_MAJOR = 2;
inline constexpr uint32_t PTP_BAG_SCHEMA_MINOR = 6;
inline constexpr const char *PTP_BAG_LIBRARY = "libbagwright.dll";

// The 30 descriptors in registration order.
const bag_descriptor_type *const *ptp_bag_catalogue();

// One definition of the catalogue: its number, described type name, schema text, native size and
// the offsets of its fields (for the bag-description library and the layout tests).
struct ptp_bag_definition_type {
    uint32_t id;
    const char *type_name;
    const char *text;
    uint64_t size;
    uint32_t field_count;
    const uint64_t *offsets;
};
const ptp_bag_definition_type *ptp_bag_definitions(uint32_t *count);

// One enumeration of the bags with its enumerators in value order.
struct ptp_bag_enumerator_type {
    const char *name;
    uint32_t value;
};
struct ptp_bag_enum_type {
    const char *name;
    uint32_t count;
    const ptp_bag_enumerator_type *enumerators;
};
const ptp_bag_enum_type *ptp_bag_enums(uint32_t *count);

// Registers the 30 bags: bag_register_start (its failure returned at once), bag_register of each
// in catalogue order (the first failure aborts the registration and is returned), then
// bag_register_end.
zerrno bag_register_all_ptp_bags();
