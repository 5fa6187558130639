// The controller's process entry: its role, start-up in a fixed order, the one event loop, and
// the callbacks of the checkpoint service and the process manager.
#pragma once

#include <cstdint>

#include "chkpt.h"
#include "evm.h"
#include "ptp_timer.h"
#include "sysmgr.h"

// The process body: 0 after the event loop was left through the exiting flag, 1 after a
// start-up failure. main() is this.
int quorrin_main(int argc, char **argv);

uint32_t quorrin_main_get_node_id(void);
// The node holds the KVOLM role, or is a line card: the controller writes its checkpoint and
// drives the platform only then.
bool quorrin_main_is_kvolm_or_lc(void);
bool quorrin_main_chkpt_initialised(void);
// Leave the event loop once the callback that called this returns.
void quorrin_main_exiting(void);
bool quorrin_main_idt_timer_not_expired(void);

int quorrin_main_chkpt_idt_cb(uint32_t event);
int quorrin_main_chkpt_ndt_cb(const chkpt_ndt_type *notice);
int quorrin_main_kvolm_active_cb(const sysmgr_lr_event_type *event, void *context);
int quorrin_main_im_conn_cb(event_conn_type *conn, void *context);
// The standby gave up waiting for the initial data transfer.
int quorrin_main_idt_timer_cb(ptp_timer_type *timer, void *context, int *stop);
