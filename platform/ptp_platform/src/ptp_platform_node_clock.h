// The clock the real mode steers by default: this chassis' node PTP clock.
#pragma once

#include "ptp_platform_test.h"

// The node clock's operations, or null when this process has none.
const ptp_platform_clock_ops_type *ptp_platform_node_clock_ops();
// Close the clocks; the next use opens them again (tests).
void ptp_platform_node_clock_reset();
