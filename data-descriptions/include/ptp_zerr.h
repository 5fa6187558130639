// The PTP error-code tables: the texts zerr_strerror() prints for the codes of the two PTP
// facilities. Each table is kept once (ptp_zerr_codes.h); the shared libraries libptp_zerr
// and libptp_zerr2 export it for the error facility as "zerr_data", and PTP programs and tests
// that do not load those libraries register the same tables in-process.
#pragma once

#include <cstdint>

#include "ptp_zerr_codes.h"
#include "zerrno.h"

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
