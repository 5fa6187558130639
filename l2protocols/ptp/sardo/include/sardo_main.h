// The global verifier's process entry: start-up in a fixed order, the one event loop, the exit
// flag, and the logical-router event that makes this node the KVOLM node.
#pragma once

#include <cstdint>

#include "sysmgr.h"
#include "zerrno.h"

// The process body: 0 after the event loop was left through the exit flag, 1 after a start-up
// failure. main() is this.
int sardo_main(int argc, char **argv);

// Sets the exit flag (the loop ends once the running callback returns) and tells the process
// manager that the process leaves by itself.
void sardo_main_request_exit(void);
uint32_t sardo_main_get_node_id(void);
// The logical-router event callback; context is the event manager.
int sardo_main_lr_event(const sysmgr_lr_event_type *event, void *context);

// Whether the database client library is readable: probed before the first bind or unbind, a
// positive answer kept. While it is not, binds fail with 0x8081c200 and unbinds are skipped.
bool sardo_main_nodra_library_present(void);
