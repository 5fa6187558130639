// The global operational items: each forwarded from the controller's node (this node when it
// publishes, else the first listed), the binding moved when that node changes, and "summary"
// summed over every node. The controller's per-node items are served by a test provider on the
// in-process database.
#include "sardo_edm.h"

#include <gtest/gtest.h>

#include <list>
#include <map>
#include <mutex>
#include <string>

#include "bag.h"
#include "evm_test_thread.h"
#include "nodra_test.h"
#include "plat_clock_test.h"
#include "ptp_bags.h"
#include "ptp_zerr.h"
#include "qor_log.h"
#include "sardo_fakes.h"

namespace {

// The per-node items of the test's nodes: node -> item -> bytes.
struct published_type {
    std::mutex lock;
    std::map<uint32_t, std::map<std::string, std::string>> items;
    std::map<uint32_t, uint32_t> gets; // per node
};
published_type published;

std::string summary_bytes(uint32_t base)
{
    ptp_summary_info info{};
    uint32_t *fields = &info.PortStateInitCount;
    for (uint32_t i = 0; i < 10; i++) {
        fields[i] = base + i;
    }
    uint8_t *data = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(bag_encode(&info, ptp_summary_info_bag_getfn(), &data, &length), 0u);
    std::string out(reinterpret_cast<char *>(data), length);
    std::free(data);
    return out;
}

ptp_summary_info decode_summary(const std::string &bytes)
{
    ptp_summary_info sum{};
    EXPECT_EQ(bag_decode(reinterpret_cast<const uint8_t *>(bytes.data()), static_cast<uint32_t>(bytes.size()), &sum,
                         ptp_summary_info_bag_getfn()),
              0u);
    return sum;
}

// The provider of one node's items, as the controller or an agent would be.
struct node_provider {
    uint32_t node;
    nodra_conn_td *bind = nullptr;
    uint32_t registration = 0;
};

zerrno provider_get(nodra_edm_request_td *request, void *)
{
    const uint32_t node = static_cast<const node_provider *>(request->item_table)->node;
    std::lock_guard guard(published.lock);
    published.gets[node]++;
    const auto &items = published.items[node];
    const auto it = items.find(request->path);
    if (it == items.end()) {
        return NODRA_ERR_EDM_NOT_FOUND;
    }
    return nodra_edm_reply_set(request, NODRA_ITEM_DATATYPE_BAG, it->second.data(),
                               static_cast<uint32_t>(it->second.size()));
}

class EdmTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat_clock_use_virtual();
        ptp_zerr_register_all();
        nodra_test_reset();
        nodra_test_set_client_library_path("/dev/null");
        sardo_fake_reset();
        {
            std::lock_guard guard(published.lock);
            published.items.clear();
            published.gets.clear();
        }
        sardo_.run([this] { ASSERT_EQ(sardo_edm_init(sardo_.evm), 0u); });
    }
    void TearDown() override
    {
        sardo_.run([] { sardo_edm_shutdown(); });
        for (node_provider &p : providers_) {
            nodes_.run([&] {
                nodra_edm_unregister(p.registration);
                _nodra_unbind(p.bind);
            });
        }
        EXPECT_EQ(nodra_test_open_bindings(), 0u);
        nodra_test_set_client_library_path(nullptr);
        plat_clock_use_real();
    }

    // A node that publishes items (bag bytes) under its per-node path.
    void publish(uint32_t node, const std::map<std::string, std::string> &items)
    {
        {
            std::lock_guard guard(published.lock);
            published.items[node] = items;
        }
        providers_.push_back({node});
        node_provider &p = providers_.back();
        char path[64];
        std::snprintf(path, sizeof path, "/oper/ptp/node/%x/", node);
        nodes_.run([&] {
            ASSERT_EQ(_nodra_bind(&p.bind, path, 0), 0u);
            nodra_edm_fns_td fns{};
            nodra_edm_fns_init(&fns);
            nodra_edm_fns_get_init(&fns, provider_get);
            ASSERT_EQ(nodra_register_edm2(p.bind, "", &fns, nodes_.evm, &p, 0, &p.registration), 0u);
        });
    }

    // Reads a global item as the show tools do.
    zerrno get(const char *item, std::string *out)
    {
        nodra_conn_td *conn = nullptr;
        EXPECT_EQ(_nodra_bind(&conn, "/oper/ptp/gl/", 0), 0u);
        uint32_t type = NODRA_ITEM_DATATYPE_BAG;
        void *data = nullptr;
        uint32_t length = 0;
        const zerrno rc = nodra_item_get(conn, item, &type, &data, &length, 0);
        if (rc == 0 && out != nullptr) {
            out->assign(static_cast<char *>(data), length);
        }
        std::free(data);
        _nodra_unbind(conn);
        return rc;
    }

    uint32_t gets_of(uint32_t node)
    {
        std::lock_guard guard(published.lock);
        return published.gets[node];
    }

    std::list<node_provider> providers_;
    evm_thread nodes_;
    evm_thread sardo_;
};

// This node publishes: its items are read, not the first listed node's.
TEST_F(EdmTest, ItemsAreReadFromThisNodeWhenItPublishes)
{
    sardo_fake_set_node_id(0x200);
    publish(0x100, {{"grandmaster", "gm-100"}});
    publish(0x200, {{"grandmaster", "gm-200"}, {"dataset/parent-ds", "parent-200"}});
    std::string value;
    ASSERT_EQ(get("grandmaster", &value), 0u);
    EXPECT_EQ(value, "gm-200");
    ASSERT_EQ(get("dataset/parent-ds", &value), 0u);
    EXPECT_EQ(value, "parent-200");
    EXPECT_EQ(gets_of(0x100), 0u);
    // An item the controller does not have is not found.
    EXPECT_EQ(get("local-clock", &value), NODRA_ERR_EDM_NOT_FOUND);
}

// Without this node in the list, the first listed node is used; when another node comes first,
// the next get moves there.
TEST_F(EdmTest, ItemsFollowTheFirstListedNode)
{
    sardo_fake_set_node_id(0x999);
    publish(0x200, {{"leap-seconds", "leap-200"}});
    std::string value;
    ASSERT_EQ(get("leap-seconds", &value), 0u);
    EXPECT_EQ(value, "leap-200");
    publish(0x100, {{"leap-seconds", "leap-100"}});
    ASSERT_EQ(get("leap-seconds", &value), 0u);
    EXPECT_EQ(value, "leap-100");
}

// With no node listed, a forwarded item has no data (which the database answers as not found) and
// the summary is not found; once a node publishes, both are there.
TEST_F(EdmTest, NoNodeListed)
{
    std::string value = "unchanged";
    EXPECT_EQ(get("grandmaster", &value), NODRA_ERR_EDM_NOT_FOUND);
    EXPECT_EQ(value, "unchanged");
    EXPECT_EQ(get("summary", nullptr), NODRA_ERR_EDM_NOT_FOUND);
    publish(0x100, {{"grandmaster", "gm"}, {"summary", summary_bytes(1)}});
    EXPECT_EQ(get("grandmaster", &value), 0u);
    EXPECT_EQ(get("summary", &value), 0u);
}

// The summary adds every node's counters; a node without a summary, or with one that does not
// decode, adds nothing.
TEST_F(EdmTest, TheSummaryIsTheSumOfEveryNodesSummary)
{
    publish(0x10, {{"summary", summary_bytes(1)}});
    publish(0x20, {{"grandmaster", "gm"}});
    publish(0x30, {{"summary", summary_bytes(100)}});
    publish(0x40, {{"summary", "garbage"}});
    std::string value;
    ASSERT_EQ(get("summary", &value), 0u);
    const ptp_summary_info sum = decode_summary(value);
    const uint32_t *fields = &sum.PortStateInitCount;
    for (uint32_t i = 0; i < 10; i++) {
        EXPECT_EQ(fields[i], 101 + 2 * i) << i;
    }
}

TEST_F(EdmTest, TheSummaryWrapsAroundAt32Bits)
{
    publish(0x10, {{"summary", summary_bytes(0xFFFFFFF0u)}});
    publish(0x20, {{"summary", summary_bytes(0x20)}});
    std::string value;
    ASSERT_EQ(get("summary", &value), 0u);
    EXPECT_EQ(decode_summary(value).PortStateInitCount, 0x10u);
}

TEST_F(EdmTest, ItsRegistrationFailuresRaiseTheirTexts)
{
    sardo_.run([] { sardo_edm_shutdown(); });
    qor_errmsg_set_syslog(false);
    qor_errmsg_capture_clear();
    nodra_test_fail(nodra_test_op::registration, NODRA_ERR_STORE, 1, 3);
    sardo_.run([this] { EXPECT_EQ(sardo_edm_init(sardo_.evm), NODRA_ERR_STORE); });
    ASSERT_EQ(qor_errmsg_captured().size(), 1u);
    EXPECT_EQ(qor_errmsg_captured()[0].text, "Failed to initialize: Failed to register with Nodra for oper EDM: " +
                                                 std::string(zerr_strerror(NODRA_ERR_STORE)));
    // Called again (the KVOLM event), the rows not yet registered are registered.
    sardo_.run([this] { EXPECT_EQ(sardo_edm_init(sardo_.evm), 0u); });
    publish(0x100, {{"local-clock", "lc"}});
    std::string value;
    ASSERT_EQ(get("local-clock", &value), 0u);
    EXPECT_EQ(value, "lc");
}

} // namespace
