// Error texts of facility 0xFE5, in table order, generated from PTP_ZERR_ROWS.
#include "ptp_zerr.h"

// The shared library exports the header as "zerr_data"; the in-process copy is ptp_zerr_data.
#ifndef PTP_ZERR_DATA_NAME
#define PTP_ZERR_DATA_NAME ptp_zerr_data
#endif

namespace {
#define TEXT_(NAME, number, text) constexpr const char *text_##NAME = text;
PTP_ZERR_ROWS(TEXT_, TEXT_, PTP_ZERR_NONE_)
#undef TEXT_
} // namespace

extern "C" {

#define ROW_(NAME, number, text) {number, text},
#define REPEAT_(NAME) {zerr_number(PTP_ZERR_##NAME), text_##NAME},
const zerr_info_type ptp_zerr_info[PTP_ZERR_INFO_COUNT] = {PTP_ZERR_ROWS(ROW_, ROW_, REPEAT_)};
#undef ROW_
#undef REPEAT_

// extern: a const object would otherwise stay local to this file.
extern const zerr_data_type PTP_ZERR_DATA_NAME = {
    PTP_ZERR_DATA_VERSION, "ptp", PTP_ZERR_FACILITY, PTP_ZERR_INFO_COUNT, ptp_zerr_info, 1, 0,
};

} // extern "C"
