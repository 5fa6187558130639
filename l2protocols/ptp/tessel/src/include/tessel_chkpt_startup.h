// The agent's start-up calls into its checkpoint code, for the program that runs without it
// (tessel_with_stand_ins: the real registration, tessel_proto_chkpt, needs the record encoding,
// which is not built yet, and is linked instead once it is): the application
// is described to the checkpoint service with its transfer and change callbacks (which move the
// notices to the protocol thread), the instance is made active or primary-active, and the
// notices that reach the protocol thread are recorded, not yet acted on.
#pragma once

#include <cstdint>
#include <vector>

#include "evm.h"
#include "zerrno.h"

// The checkpoint application of the agent.
inline constexpr const char *TESSEL_CHKPT_APP_NAME = "ptp";

zerrno tessel_chkpt_init(event_mgr_type *evm);
// A refusal of the checkpoint service ends the process.
void tessel_chkpt_go_active(void);
void tessel_chkpt_go_primary_active(void);
// Protocol thread: the notices of the initial transfer and the change notices.
void tessel_chkpt_idt_received(uint32_t notice);
void tessel_chkpt_ndt_received(const void *notice);

// What reached the protocol thread so far: the transfer notices, and the change notices' types.
std::vector<uint32_t> tessel_chkpt_received_idt(void);
std::vector<uint32_t> tessel_chkpt_received_ndt_types(void);
