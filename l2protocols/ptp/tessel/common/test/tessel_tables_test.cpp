#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "jotlog.h"
#include "jotlog_test.h"
#include "ptp_address.h"
#include "ptp_debug.h"
#include "qor_log.h"
#include "tessel_alloc.h"
#include "tessel_master_db.h"
#include "tessel_slave_db.h"
#include "tessel_trace_buffers.h"

namespace {

ptp_address_type mac(uint8_t last)
{
    ptp_address_type a{};
    uint8_t m[6] = {0, 1, 2, 3, 4, last};
    ptp_address_set_mac(&a, m);
    return a;
}
ptp_address_type v4(uint8_t last)
{
    ptp_address_type a{};
    uint8_t ip[4] = {10, 0, 0, last};
    ptp_address_set_ipv4(&a, ip);
    return a;
}
ptp_address_type v6(uint8_t last)
{
    ptp_address_type a{};
    uint8_t ip[16] = {0x20, 0x01};
    ip[15] = last;
    ptp_address_set_ipv6(&a, ip);
    return a;
}

// A stable address of a temporary key for the calls that take a pointer.
const ptp_address_type *addr_ptr(const ptp_address_type &a)
{
    static ptp_address_type slots[8];
    static unsigned next = 0;
    ptp_address_type *p = &slots[next++ % 8];
    *p = a;
    return p;
}

template <typename Table, typename Entry, typename Walk>
std::vector<ptp_address_type> order(Table *t, Walk walk)
{
    std::vector<ptp_address_type> out;
    walk(
        [](Entry *e, void *c) {
            static_cast<std::vector<ptp_address_type> *>(c)->push_back(e->address);
            return true;
        },
        t, &out);
    return out;
}

std::vector<std::string> messages()
{
    std::vector<std::string> out;
    for (const qor_captured_msg &m : qor_errmsg_captured()) {
        out.push_back(m.mnemonic + ": " + m.text);
    }
    return out;
}

class TablesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        ASSERT_EQ(tessel_master_db_init(&src), ZERR_OK);
        ASSERT_EQ(tessel_master_db_init(&dst), ZERR_OK);
        port.ifhandle = 0x40;
        std::snprintf(port.ifname, sizeof(port.ifname), "Gi0/1/0/3");
    }
    void TearDown() override
    {
        tessel_master_db_destroy(&src);
        tessel_master_db_destroy(&dst);
    }
    tessel_master_db_type *add(const ptp_address_type &a)
    {
        tessel_master_db_type *e = nullptr;
        EXPECT_EQ(tessel_master_db_add(&src, &a, &e), ZERR_OK);
        return e;
    }
    std::vector<ptp_address_type> dst_order()
    {
        return order<tessel_master_table_type, tessel_master_db_type>(&dst, tessel_master_db_walk);
    }
    tessel_master_table_type src{};
    tessel_master_table_type dst{};
    tessel_db_h_type port{};
};

MATCHER_P(AddrEq, want, "")
{
    return ptp_address_compare(&arg, &want) == 0;
}

TEST_F(TablesTest, KeyOrderFindAndRemove)
{
    add(v6(1));
    add(v4(9));
    add(mac(5));
    add(v4(2));
    std::vector<ptp_address_type> got =
        order<tessel_master_table_type, tessel_master_db_type>(&src, tessel_master_db_walk);
    EXPECT_THAT(got, ::testing::ElementsAre(AddrEq(mac(5)), AddrEq(v4(2)), AddrEq(v4(9)), AddrEq(v6(1))));
    tessel_master_db_type *e = nullptr;
    EXPECT_EQ(tessel_master_db_find(&src, addr_ptr(v4(9)), &e), ZERR_OK);
    EXPECT_TRUE(tessel_master_db_contains(&src, addr_ptr(v4(9))));
    tessel_master_db_remove(&src, e);
    EXPECT_EQ(tessel_master_db_count(&src), 3u);
    EXPECT_EQ(tessel_master_db_find(&src, addr_ptr(v4(9)), &e), PTP_ZERR_DB_NO_ENTRY);
    EXPECT_EQ(e, nullptr);
    EXPECT_FALSE(tessel_master_db_contains(&src, addr_ptr(v4(9))));

    // An empty table: nothing to find, a walk completes without a call.
    tessel_master_table_type empty{};
    ASSERT_EQ(tessel_master_db_init(&empty), ZERR_OK);
    EXPECT_EQ(tessel_master_db_find(&empty, addr_ptr(v4(1)), &e), PTP_ZERR_DB_NO_ENTRY);
    EXPECT_TRUE(tessel_master_db_walk(
        [](tessel_master_db_type *, void *) {
            ADD_FAILURE();
            return true;
        },
        &empty, nullptr));
}

TEST_F(TablesTest, CopyFiltersWhatThePortDoesNotAllow)
{
    tessel_master_db_type *m = add(mac(1));
    m->flags = TESSEL_MASTER_DB_ENABLE_SET;
    tessel_master_db_type *a = add(v4(1));
    a->priority = 7;
    a->multicast = 1;
    a->delay_asymmetry = -40;
    a->flags = TESSEL_MASTER_DB_PRIORITY_SET | TESSEL_MASTER_DB_MULTICAST_SET | TESSEL_MASTER_DB_DELAY_ASYMMETRY_SET;
    add(v6(1));
    tessel_master_db_type *stale = nullptr;
    ASSERT_EQ(tessel_master_db_add(&dst, addr_ptr(v4(200)), &stale), ZERR_OK);

    // IPv4-only port without multicast.
    EXPECT_EQ(tessel_master_db_copy(&dst, &src, false, false, false, &port), ZERR_OK);
    EXPECT_THAT(dst_order(), ::testing::ElementsAre(AddrEq(v4(1))));
    tessel_master_db_type *copy = nullptr;
    ASSERT_EQ(tessel_master_db_find(&dst, addr_ptr(v4(1)), &copy), ZERR_OK);
    EXPECT_EQ(copy->priority, 7u);
    EXPECT_EQ(copy->delay_asymmetry, -40);
    EXPECT_EQ(copy->multicast, 0u);
    EXPECT_EQ(copy->flags, TESSEL_MASTER_DB_PRIORITY_SET | TESSEL_MASTER_DB_DELAY_ASYMMETRY_SET);
    EXPECT_EQ(
        messages(),
        (std::vector<std::string>{
            "PRF_CFG_IGNORED: Profile master table configuration ignored as it is not supported on interface Gi0/1/0/3",
            "PRF_CFG_IGNORED: Profile master table multicast configuration ignored as it is not supported on interface Gi0/1/0/3",
            "PRF_CFG_IGNORED: Profile master table configuration ignored as it is not supported on interface Gi0/1/0/3",
        }));

    // Everything allowed, no port: a full copy and no messages.
    qor_errmsg_capture_clear();
    EXPECT_EQ(tessel_master_db_copy_all(&dst, &src), ZERR_OK);
    EXPECT_EQ(tessel_master_db_count(&dst), 3u);
    ASSERT_EQ(tessel_master_db_find(&dst, addr_ptr(v4(1)), &copy), ZERR_OK);
    EXPECT_EQ(copy->multicast, 1u);
    EXPECT_EQ(copy->flags, a->flags);
    EXPECT_TRUE(messages().empty());

    // An empty source empties the destination.
    tessel_master_table_type empty{};
    ASSERT_EQ(tessel_master_db_init(&empty), ZERR_OK);
    EXPECT_EQ(tessel_master_db_copy_all(&dst, &empty), ZERR_OK);
    EXPECT_EQ(tessel_master_db_count(&dst), 0u);
    EXPECT_TRUE(dst_order().empty());
}

TEST_F(TablesTest, CopyStopsAtAnAllocationFailure)
{
    add(v4(1));
    add(v4(2));
    add(v4(3));
    tessel_alloc_test_fail(1, 1);
    EXPECT_EQ(tessel_master_db_copy_all(&dst, &src), PTP_ZERR_NOMEM);
    EXPECT_EQ(tessel_master_db_count(&dst), 1u);
    tessel_master_db_type *e = nullptr;
    tessel_alloc_test_fail(0, 1);
    EXPECT_EQ(tessel_master_db_add(&dst, addr_ptr(v4(9)), &e), PTP_ZERR_NOMEM);
    EXPECT_EQ(e, nullptr);
}

TEST_F(TablesTest, SlaveTableCopiesBothFlags)
{
    tessel_slave_table_type s{};
    tessel_slave_table_type d{};
    ASSERT_EQ(tessel_slave_db_init(&s), ZERR_OK);
    ASSERT_EQ(tessel_slave_db_init(&d), ZERR_OK);
    tessel_slave_db_type *e = nullptr;
    ASSERT_EQ(tessel_slave_db_add(&s, addr_ptr(v6(3)), &e), ZERR_OK);
    e->flags = TESSEL_SLAVE_DB_CONFIGURED | TESSEL_SLAVE_DB_NON_NEGOTIATED;
    ASSERT_EQ(tessel_slave_db_add(&s, addr_ptr(mac(3)), &e), ZERR_OK);
    EXPECT_EQ(tessel_slave_db_copy(&d, &s, false, true, &port), ZERR_OK);
    EXPECT_EQ(tessel_slave_db_count(&d), 1u);
    ASSERT_EQ(tessel_slave_db_find(&d, addr_ptr(v6(3)), &e), ZERR_OK);
    EXPECT_EQ(e->flags, TESSEL_SLAVE_DB_CONFIGURED | TESSEL_SLAVE_DB_NON_NEGOTIATED);
    EXPECT_EQ(messages(), (std::vector<std::string>{"PRF_CFG_IGNORED: Profile slave table configuration ignored as it "
                                                    "is not supported on interface Gi0/1/0/3"}));
    tessel_slave_db_remove(&d, e);
    EXPECT_EQ(tessel_slave_db_count(&d), 0u);
    tessel_slave_db_destroy(&s);
    tessel_slave_db_destroy(&d);
}

// The ignored entries are traced with the port's interface handle into the detail and
// unique-event buffers.
class TablesTraceTest : public TablesTest {
protected:
    void SetUp() override
    {
        run_dir = jotlog_test_run_dir_create("tessel_tables_test");
        ASSERT_FALSE(run_dir.empty());
        ASSERT_EQ(ptp_jotlog_init(buffers, std::size(buffers)), ZERR_OK);
        ptp_jotlog_ctx_set(buffers[0], buffers[1], buffers[2]);
        TablesTest::SetUp();
    }
    void TearDown() override
    {
        TablesTest::TearDown();
        ptp_jotlog_close(buffers, std::size(buffers));
        ptp_jotlog_ctx_set({}, {}, {});
        jotlog_test_run_dir_remove(run_dir);
    }
    // (id, first argument) of every record of a buffer.
    static std::vector<std::pair<uint64_t, uint64_t>> records(const char *buffer)
    {
        std::vector<std::pair<uint64_t, uint64_t>> out;
        jotlog_read(
            buffer,
            [](const jotlog_record_type *r, void *c) {
                static_cast<std::vector<std::pair<uint64_t, uint64_t>> *>(c)->emplace_back(
                    r->id, r->nargs > 0 ? r->args[0] : ~0ull);
                return true;
            },
            &out);
        return out;
    }

    ptp_jotlog_buffer_type buffers[3] = {tessel_trace_buffers[TESSEL_TRACE_BUFFER_DET],
                                         tessel_trace_buffers[TESSEL_TRACE_BUFFER_SUM],
                                         tessel_trace_buffers[TESSEL_TRACE_BUFFER_UNQ]};
    std::string run_dir;
};

TEST_F(TablesTraceTest, IgnoredEntriesAreTracedWithThePort)
{
    struct row {
        const char *what;
        ptp_address_type address;
        uint32_t multicast;
        bool slave;
        uint64_t id;
    };
    const row rows[] = {
        {"Ethernet master on an IP port", mac(1), 0, false, 0x10010035B},
        {"multicast master on a unicast port", v4(1), 1, false, 0x10010035C},
        {"IPv6 slave on an IPv4 port", v6(1), 0, true, 0x10010035D},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        tessel_master_db_destroy(&src);
        ASSERT_EQ(tessel_master_db_init(&src), ZERR_OK);
        const size_t det_before = records("ptp/tessel/det").size();
        const size_t unq_before = records("ptp/tessel/unq").size();
        if (r.slave) {
            tessel_slave_table_type s{};
            tessel_slave_table_type d{};
            ASSERT_EQ(tessel_slave_db_init(&s), ZERR_OK);
            ASSERT_EQ(tessel_slave_db_init(&d), ZERR_OK);
            tessel_slave_db_type *e = nullptr;
            ASSERT_EQ(tessel_slave_db_add(&s, &r.address, &e), ZERR_OK);
            EXPECT_EQ(tessel_slave_db_copy(&d, &s, false, false, &port), ZERR_OK);
            tessel_slave_db_destroy(&s);
            tessel_slave_db_destroy(&d);
        } else {
            tessel_master_db_type *e = add(r.address);
            e->multicast = r.multicast;
            e->flags = r.multicast != 0 ? TESSEL_MASTER_DB_MULTICAST_SET : 0;
            EXPECT_EQ(tessel_master_db_copy(&dst, &src, false, false, false, &port), ZERR_OK);
        }
        const std::vector<std::pair<uint64_t, uint64_t>> want{{r.id, 0x40}};
        auto det = records("ptp/tessel/det");
        auto unq = records("ptp/tessel/unq");
        EXPECT_EQ(decltype(det)(det.begin() + det_before, det.end()), want);
        EXPECT_EQ(decltype(unq)(unq.begin() + unq_before, unq.end()), want);
        EXPECT_TRUE(records("ptp/tessel/sum").empty());
    }
}

} // namespace
