// The global operational items under "/oper/ptp/gl/", served on the KVOLM node: each read from the
// controller's node, and "summary" summed over every node.
#pragma once

#include "evm.h"
#include "nodra.h"
#include "zerrno.h"

zerrno sardo_edm_init(event_mgr_type *evm);
void sardo_edm_shutdown(void);
// The get callback of the ten items.
zerrno sardo_edm_get(nodra_edm_request_td *request, void *context);
