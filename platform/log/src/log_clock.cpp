#include "log_internal.h"
#include "plat_clock.h"

namespace log_internal {

uint64_t wall_ns()
{
    int64_t ns = plat_clock_wall_ns();
    return ns > 0 ? static_cast<uint64_t>(ns) : 0;
}

uint64_t mono_ns()
{
    return plat_clock_mono_ns();
}

} // namespace log_internal
