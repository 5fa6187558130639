// The PTP error-code tables: the texts zerr_strerror() prints for the codes of the two PTP
// facilities. Each table is kept once (src/ptp_zerr_info*.cpp); the shared libraries libptp_zerr
// and libptp_zerr2 export it for the error facility as "zerr_data", and PTP programs and tests
// that do not load those libraries register the same tables in-process.
#pragma once

#include <cstdint>

#include "zerrno.h"

// The two PTP error facilities; the configuration-check header names them too, and a program
// may include both headers.
#ifndef PTP_ZERR_FACILITY_IDS
#define PTP_ZERR_FACILITY_IDS
inline constexpr uint32_t PTP_ZERR_FACILITY = 0xFE5;
inline constexpr uint32_t PTP_ZERR_FACILITY2 = 0x1F29;
#endif
inline constexpr uint32_t PTP_ZERR_INFO_COUNT = 63;
inline constexpr uint32_t PTP_ZERR_INFO2_COUNT = 30;
inline constexpr uint64_t PTP_ZERR_DATA_VERSION = 2;

extern "C" {
// Rows in table order (not sorted; facility 0x1F29 repeats three rows and has no row 16).
extern const zerr_info_type ptp_zerr_info[PTP_ZERR_INFO_COUNT];
extern const zerr_info_type ptp_zerr_info2[PTP_ZERR_INFO2_COUNT];
// The 48-byte headers, as the libraries export them under "zerr_data".
extern const zerr_data_type ptp_zerr_data;
extern const zerr_data_type ptp_zerr_data2;
}

// Registers both tables with the error facility from this process's own copy.
zerrno ptp_zerr_register_all();

// Loads libptp_zerr.so and libptp_zerr2.so from dir (nullptr: the default directory, which the
// environment variable PTP_ZERR_LIB_DIR overrides) and registers their tables. Stops at the
// first failure and returns it.
zerrno ptp_zerr_load_libraries(const char *dir);

// The directory ptp_zerr_load_libraries(nullptr) uses.
const char *ptp_zerr_library_dir();
