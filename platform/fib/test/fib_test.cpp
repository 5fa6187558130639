// The FIB external client: registration, updates from the longest covering route and on route
// changes, unregistration, cleanup, injected failures and a service restart.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "evm.h"
#include "evm_test.h"
#include "fib_ext_client.h"
#include "fib_test.h"

namespace {

struct update_type {
    uint32_t ifhandle;
    std::vector<uint8_t> data;
};
std::vector<update_type> updates;
std::vector<fib_ext_client_h> reconnects;

void on_update(const fib_ext_client_prefix_st *p, const uint8_t *data)
{
    updates.push_back({p->ifhandle, std::vector<uint8_t>(data, data + p->nh_len)});
}
void on_reconnect(fib_ext_client_h h)
{
    reconnects.push_back(h);
}

fib_ext_client_prefix_st host(uint8_t last, uint32_t ifhandle = 5)
{
    fib_ext_client_prefix_st p{};
    p.vrf_id = 0x60000000;
    p.family = FIB_EXT_FAMILY_IPV4;
    p.kind = 3;
    p.ifhandle = ifhandle;
    const uint8_t a[4] = {10, 0, 0, last};
    std::memcpy(p.address, a, 4);
    p.prefix_len = 32;
    return p;
}

class FibTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fib_test_reset();
        updates.clear();
        reconnects.clear();
        evm = event_create_manager(nullptr, nullptr, 0);
        params = {evm, FIB_EXT_FAMILY_IPV4, 0xFE5, "tessel", on_update, on_reconnect};
        ASSERT_EQ(fib_ext_client_init_v2(&params, &h), 0u);
    }
    void TearDown() override
    {
        fib_test_reset();
        event_manager_destroy(evm);
    }
    event_mgr_type *evm = nullptr;
    fib_ext_client_params_st params{};
    fib_ext_client_h h = nullptr;
};

const uint8_t net8[4] = {10, 0, 0, 0};
const uint8_t net24[4] = {10, 0, 0, 0};

TEST_F(FibTest, UpdatesFollowTheLongestCoveringRoute)
{
    fib_test_route_set(0x60000000, FIB_EXT_FAMILY_IPV4, net8, 8, {1});
    const fib_ext_client_prefix_st ps[2] = {host(1), host(2)};
    ASSERT_EQ(fib_ext_client_bulk_reg_notif(h, ps, 2), 0u);
    EXPECT_TRUE(updates.empty());
    evm_run_until_idle(evm);
    ASSERT_EQ(updates.size(), 2u);
    EXPECT_EQ(updates[0].data, std::vector<uint8_t>{1});

    updates.clear();
    fib_test_route_set(0x60000000, FIB_EXT_FAMILY_IPV4, net24, 24, {2, 2});
    fib_test_route_set(0x60000000, FIB_EXT_FAMILY_IPV4, net8, 8, {3}); // covered better: no update
    evm_run_until_idle(evm);
    ASSERT_EQ(updates.size(), 2u);
    EXPECT_EQ(updates[1].data, (std::vector<uint8_t>{2, 2}));

    updates.clear();
    ASSERT_EQ(fib_ext_client_bulk_unreg_notif(h, &ps[0], 1), 0u);
    fib_test_route_remove(0x60000000, FIB_EXT_FAMILY_IPV4, net24, 24);
    fib_test_route_remove(0x60000000, FIB_EXT_FAMILY_IPV4, net8, 8);
    evm_run_until_idle(evm);
    // Only .2 is registered: back to the /8, then no route at all.
    ASSERT_EQ(updates.size(), 2u);
    EXPECT_EQ(updates[0].data, std::vector<uint8_t>{3});
    EXPECT_TRUE(updates[1].data.empty());
    EXPECT_EQ(fib_test_registered(FIB_EXT_FAMILY_IPV4).size(), 1u);
    ASSERT_EQ(fib_ext_client_cleanup(h), 0u);
    EXPECT_TRUE(fib_test_registered(FIB_EXT_FAMILY_IPV4).empty());
}

TEST_F(FibTest, FailuresAndRestart)
{
    fib_test_fail(fib_test_call::bulk_reg, FIB_EXT_FAMILY_IPV4, 12, 2);
    const fib_ext_client_prefix_st p = host(1);
    EXPECT_EQ(fib_ext_client_bulk_reg_notif(h, &p, 1), 12u);
    EXPECT_EQ(fib_ext_client_bulk_reg_notif(h, &p, 1), 12u);
    EXPECT_EQ(fib_ext_client_bulk_reg_notif(h, &p, 1), 0u);
    EXPECT_EQ(fib_test_calls(fib_test_call::bulk_reg, FIB_EXT_FAMILY_IPV4), 3u);
    EXPECT_EQ(fib_test_bulk_registrations(FIB_EXT_FAMILY_IPV4).size(), 1u);

    fib_test_reconnect(FIB_EXT_FAMILY_IPV4);
    EXPECT_TRUE(fib_test_registered(FIB_EXT_FAMILY_IPV4).empty());
    EXPECT_EQ(fib_ext_client_bulk_reg_notif(h, &p, 1), static_cast<zerrno>(EINVAL)); // the old one is dead
    evm_run_until_idle(evm);
    ASSERT_EQ(reconnects.size(), 1u);
    EXPECT_EQ(fib_ext_client_bulk_reg_notif(reconnects[0], &p, 1), 0u);

    fib_test_fail(fib_test_call::init, FIB_EXT_FAMILY_IPV6, 4);
    params.family = FIB_EXT_FAMILY_IPV6;
    fib_ext_client_h h6 = nullptr;
    EXPECT_EQ(fib_ext_client_init_v2(&params, &h6), 4u);
}

} // namespace
