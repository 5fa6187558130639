// The global verifier's view of the platform's capabilities: asked once at start-up through the
// controller's platform library, then answered from the kept capability word.
#pragma once

#include <cstdint>

#include "evm.h"
#include "ptp_platform.h"
#include "zerrno.h"

zerrno sardo_platform_capability_init(event_mgr_type *evm);
void sardo_platform_capability_shutdown(void);

// Whether the platform has capability `bit` (a PTP_PLATFORM_CAP_* bit).
bool sardo_platform_has_capability(uint16_t bit);
// Whether the platform supports a clock profile (the default profile always).
bool sardo_platform_supports_profile(uint32_t profile);
// The platform's holdover range in seconds (meaningful with PTP_PLATFORM_CAP_HOLDOVER_DURATION).
void sardo_platform_holdover_range(uint32_t *min, uint32_t *max);
