// Test control of the ARP client.
#pragma once

#include <cstdint>
#include <vector>

#include "arp_client.h"

// Every request accepted or refused since the reset, in order, one list per update call.
std::vector<std::vector<arp_client_request_type>> arp_test_updates(void);
// The next update fails with code; statuses (when given) are written into the batch's statuses,
// position by position.
void arp_test_fail_next_update(zerrno code, const std::vector<uint32_t> &statuses = {});
// The next register fails with code.
void arp_test_fail_next_register(zerrno code);
// Posts a failure notification with these requests and statuses to every registered client.
void arp_test_notify_failure(const std::vector<arp_client_request_type> &requests,
                             const std::vector<uint32_t> &statuses);
uint32_t arp_test_client_count(void);
void arp_test_reset(void);
