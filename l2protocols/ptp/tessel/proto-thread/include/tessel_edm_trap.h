// The slave-lost trap: a notification under "/oper/ptp/&&/snmp-traps/" raised when the grants
// this node gives a slave change, while the operator has one of the PTP slave traps enabled
// ("/cfg/gl/snmp/enable/traps/ptp/slave-lost" or ".../all-slaves-lost").
#pragma once

#include "evm.h"
#include "ptp_types.h"
#include "zerrno.h"

zerrno tessel_proto_edm_trap_init(event_mgr_type *evm);
void tessel_proto_edm_trap_cleanup(void);
// present: the slave still holds at least one grant.
void tessel_proto_edm_trap_generate_slave_lost(const ptp_address_type *local, const ptp_address_type *peer,
                                               int present);
