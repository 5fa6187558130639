// The ARP client: batches recorded with their statuses, injected whole and partial failures,
// and failure notifications on the client's event manager.
#include <gtest/gtest.h>

#include <vector>

#include "arp_client.h"
#include "arp_test.h"
#include "evm.h"
#include "evm_test.h"
#include "zerrno.h"

namespace {

std::vector<std::vector<uint32_t>> notified;

void on_notification(uint32_t kind, const arp_client_batch_type *n)
{
    ASSERT_EQ(kind, ARP_CLIENT_NOTIFICATION_FAILURE);
    notified.emplace_back(n->statuses, n->statuses + n->count);
}

arp_client_request_type request(uint32_t ifhandle, uint32_t address)
{
    arp_client_request_type r{};
    r.family = ARP_CLIENT_AF_INET;
    r.ifhandle = ifhandle;
    r.address = address;
    r.request = ARP_CLIENT_REQUEST_RESOLVE;
    return r;
}

TEST(ArpClient, UpdatesFailuresAndNotifications)
{
    arp_test_reset();
    notified.clear();
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    arp_client_type *client = nullptr;
    ASSERT_EQ(arp_client_register(evm, 28, ARP_CLIENT_AF_INET, on_notification, &client), 0u);
    EXPECT_STREQ(zerr_strerror(ARP_CLIENT_PARTIAL_FAILURE), "One or more ARP requests of the batch failed");

    arp_client_request_type reqs[2] = {request(1, 0x0100000a), request(2, 0x0200000a)};
    uint32_t statuses[2] = {9, 9};
    arp_client_batch_type batch{reqs, 2, statuses};
    ASSERT_EQ(arp_client_update(client, &batch), 0u);
    EXPECT_EQ(statuses[0], 0u);
    EXPECT_EQ(statuses[1], 0u);

    arp_test_fail_next_update(ARP_CLIENT_PARTIAL_FAILURE, {0, 11});
    EXPECT_EQ(arp_client_update(client, &batch), ARP_CLIENT_PARTIAL_FAILURE);
    EXPECT_EQ(statuses[1], 11u);
    const auto updates = arp_test_updates();
    ASSERT_EQ(updates.size(), 2u);
    EXPECT_EQ(updates[1][1].ifhandle, 2u);

    arp_test_notify_failure({reqs[0]}, {4});
    EXPECT_TRUE(notified.empty());
    evm_run_until_idle(evm);
    EXPECT_EQ(notified, (std::vector<std::vector<uint32_t>>{{4}}));

    arp_client_unregister(client);
    EXPECT_EQ(arp_test_client_count(), 0u);
    arp_test_fail_next_register(3);
    EXPECT_EQ(arp_client_register(evm, 28, ARP_CLIENT_AF_INET, on_notification, &client), 3u);
    event_manager_destroy(evm);
}

} // namespace
