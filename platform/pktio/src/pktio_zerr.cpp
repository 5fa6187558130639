// The packet-I/O service's error texts, from its one table (ctx.h).
#include "pktio_internal.h"

namespace {

#define PKTIO_ZERR_ROW_(NAME, number, err, text) {number, text},
constexpr zerr_info_type rows[] = {PKTIO_ZERR_ROWS(PKTIO_ZERR_ROW_)};
#undef PKTIO_ZERR_ROW_
constexpr zerr_data_type table = {
    2, "pktio", PKTIO_ZERR_FACILITY, sizeof rows / sizeof rows[0], rows, 0, 0,
};

} // namespace

namespace pktio {

void register_errors()
{
    zerr_register(&table);
}

} // namespace pktio
