// What the database back-end hands an item handler besides the event: the key arguments of the
// item's path (with a mask of the keys that are absent) and the item's value.
#pragma once

#include <cstdint>

#include "zerrno.h"

// Value type of a key part, as the schema names it.
enum bgen_arg_kind_td : uint32_t {
    BGEN_ARG_NONE = 0,
    BGEN_ARG_STRING = 2,
    BGEN_ARG_UINT = 5,
    BGEN_ARG_IPADDR = 11,
};

// Address family of an IP-address key part.
enum bgen_ip_family_td : uint32_t {
    BGEN_IP_V4 = 4,
    BGEN_IP_V6 = 6,
};

// One key part. Text points into memory the back-end owns for the duration of the call.
struct bgen_arg_td {
    uint32_t kind; // bgen_arg_kind_td
    uint32_t number;
    const char *text;
    uint32_t ip_family; // bgen_ip_family_td
    uint8_t ip[16];     // network order; IPv4 in the first 4 bytes
};

inline constexpr uint32_t BGEN_ARGS_MAX = 8;

// Key arguments of one item: the schema row's identifier, the mask of keys not given in the
// path (bit k = key k absent), and the key values in path order.
struct bgen_args_td {
    uint32_t bg_ident;
    uint32_t missing_mask;
    uint32_t count;
    bgen_arg_td keys[BGEN_ARGS_MAX];
};

// An item value as the back-end delivers it: a number (4 bytes, host order), a text (len bytes,
// a trailing zero byte optional) or a packed tuple (tuple_size bytes). data null: no value.
struct bgen_value_td {
    const void *data;
    uint32_t len;
};

// Key k, or null when it is absent (its mask bit set, beyond count, or of another kind).
const bgen_arg_td *bgen_args_get(const bgen_args_td *args, uint32_t k, uint32_t kind);

// Test and stand-in helpers to build key arguments.
void bgen_args_init(bgen_args_td *args, uint32_t bg_ident);
void bgen_args_set_string(bgen_args_td *args, uint32_t k, const char *text);
void bgen_args_set_uint(bgen_args_td *args, uint32_t k, uint32_t number);
void bgen_args_set_ip(bgen_args_td *args, uint32_t k, uint32_t family, const uint8_t *bytes);
