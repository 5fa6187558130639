// Error codes of the platform: 0 is success, otherwise
// 0x40000000 | facility << 15 | number << 9 | errno.
#pragma once

#include <cstdint>

using zerrno = uint32_t;

inline constexpr zerrno ZERR_OK = 0;
inline constexpr uint32_t ZERR_CODE_BIT = 0x40000000u;

constexpr zerrno zerr_make(uint32_t facility, uint32_t number, uint32_t err = 0)
{
    return ZERR_CODE_BIT | (facility & 0x7fffu) << 15 | (number & 0x3fu) << 9 | (err & 0x1ffu);
}
constexpr uint32_t zerr_facility(zerrno code)
{
    return (code >> 15) & 0x7fffu;
}
constexpr uint32_t zerr_number(zerrno code)
{
    return (code >> 9) & 0x3fu;
}
constexpr uint32_t zerr_errno(zerrno code)
{
    return code & 0x1ffu;
}
constexpr bool zerr_is_code(zerrno code)
{
    return (code & ZERR_CODE_BIT) != 0;
}

// One row of an error table: the number field of the code and its message.
struct zerr_info_type {
    uint64_t number;
    const char *text;
};

// The header an error-table library exports under the name "zerr_data".
struct zerr_data_type {
    uint64_t version;          // 2
    const char *facility_name; // "ptp"
    uint32_t facility;
    uint32_t count;
    const zerr_info_type *rows;
    uint64_t flag;
    uint64_t reserved;
};
static_assert(sizeof(zerr_data_type) == 48);
static_assert(sizeof(zerr_info_type) == 16);

// Registers a table; a later table for the same facility replaces the earlier one.
zerrno zerr_register(const zerr_data_type *data);

// Loads a table library by path and registers its exported "zerr_data".
zerrno zerr_load_library(const char *path);

// The message of a code: the registered row text (by facility and number, whatever the top
// bits), strerror() for a bare errno (below 512), "Success" for 0,
// otherwise "Unknown error 0x%08x". The result stays valid until the calling thread's next call
// that had to format an unknown code.
const char *zerr_strerror(zerrno code);

// Test control: forget every registered table.
void zerr_registry_reset();
