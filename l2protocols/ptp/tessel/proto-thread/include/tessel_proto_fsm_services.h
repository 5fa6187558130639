// The state machine's services as the protocol thread provides them: the port manager's node
// values, the upgrade role, the best-master list, the counters, packet transmit and the per-peer
// neighbours. The port manager installs this table before the state machine's init.
#pragma once

#include "tessel_fsm_services.h"

const ptp_fsm_services_type *tessel_proto_fsm_services(void);
