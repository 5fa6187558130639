// Test control of the node's PTP clock.
#pragma once

#include "ptpclock.h"

// Object names are "/" + prefix + node, each '/' of the node name made '_'. Default prefix
// "ptpclock.", or $PTP_CLOCK_PREFIX. Set it before the first open (tests use one per process).
void ptpclock_test_set_prefix(const char *prefix);
// Remove the clock of `node` (0, or PTPCLOCK_ERR_SYSTEM | ENOENT when there is none). Handles
// still open keep the old clock.
zerrno ptpclock_test_unlink(const char *node);
