// Alarms: the hook by which the platform's timer facilities (timer wheels, managed-timer trees)
// get a callback on a manager's thread when their earliest deadline is reached. One alarm per
// wheel or tree; not for product code.
//
// An alarm's callback runs as an event of its manager once the clock has reached its deadline
// (on virtual time: when a test advances the clock to it). Alarms due at the same time run in
// the order they were set.
#pragma once

#include <cstdint>

#include "evm.h"

struct evm_alarm_type;

using evm_alarm_fn = void (*)(evm_alarm_type *alarm, void *context);

inline constexpr uint64_t EVM_ALARM_NEVER = UINT64_MAX;

// Null with errno EINVAL for a null manager or callback.
evm_alarm_type *evm_alarm_new(event_mgr_type *evm, evm_alarm_fn fn, void *context);
// Arm at a monotonic deadline (ns, plat_clock), or disarm with EVM_ALARM_NEVER. Setting the same
// deadline again keeps the alarm's place. An alarm whose manager is gone never fires.
void evm_alarm_set(evm_alarm_type *alarm, uint64_t deadline_ns);
uint64_t evm_alarm_deadline(const evm_alarm_type *alarm);
// Disarm and free; a queued firing is dropped.
void evm_alarm_free(evm_alarm_type *alarm);
// The manager of the alarm (null once the manager is destroyed).
event_mgr_type *evm_alarm_manager(const evm_alarm_type *alarm);

// The connection that is up with this id (the value its open callback returned), or null: how a
// platform service that handed out the id tells that connection its far end went away.
event_conn_type *evm_conn_find(int32_t id);
