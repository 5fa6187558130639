// Operational listings in pages: the database asks a provider for a page at a time and follows its
// "more" flag from the last name on, so that the asker gets the whole listing once.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "evm_test_thread.h"
#include "nodra.h"
#include "nodra_test.h"
#include "plat_clock_test.h"

namespace {

const std::vector<std::string> names7 = {"a", "b", "c", "d", "e", "f", "g"};
const std::vector<std::string> names6 = {"a", "b", "c", "d", "e", "f"};

// How a provider pages.
enum class style {
    after,     // the page starts after the start key, "more" while names remain
    at,        // the page starts at the start key (repeats it)
    stuck,     // always the first page, always "more"
    sloppy,    // "more" whenever the page is full; an empty page is not found
    unlimited, // ignores the maximum count
};

struct provider_type {
    style how;
    const std::vector<std::string> *names;
};

std::mutex lock;
std::vector<std::string> requests; // "<start key or ->/<max count>"
std::condition_variable requested;

zerrno listing(nodra_edm_request_td *q, void *)
{
    const auto *p = static_cast<const provider_type *>(q->item_table);
    {
        std::lock_guard guard(lock);
        requests.push_back(std::string(q->start_key != nullptr ? q->start_key : "-") + "/" +
                           std::to_string(q->max_count));
        requested.notify_all();
    }
    const bool data = q->op == 3;
    EXPECT_EQ(data ? nodra_edm_datalist_create(q) : nodra_edm_list_create(q), ZERR_OK);
    size_t i = 0;
    if (q->start_key != nullptr && p->how != style::stuck) {
        while (i < p->names->size() && (*p->names)[i] < q->start_key)
            ++i;
        if (p->how != style::at && i < p->names->size() && (*p->names)[i] == q->start_key)
            ++i;
    }
    uint32_t added = 0;
    for (; i < p->names->size(); ++i) {
        const bool full = q->max_count != 0 && added == q->max_count && p->how != style::unlimited;
        if (full) {
            EXPECT_EQ(data ? nodra_edm_datalist_set_more_flag(q) : nodra_edm_list_set_more_flag(q), ZERR_OK);
            break;
        }
        const std::string &name = (*p->names)[i];
        const std::string value = "v" + name;
        EXPECT_EQ(data ? nodra_edm_datalist_add(q, name.c_str(), NODRA_ITEM_DATATYPE_STRING, value.data(),
                                                static_cast<uint32_t>(value.size()))
                       : nodra_edm_list_add(q, name.c_str(), NODRA_ITEM_DATATYPE_NAME),
                  ZERR_OK);
        ++added;
    }
    const bool full_at_end = p->how == style::sloppy && added == q->max_count && i == p->names->size();
    if (full_at_end || p->how == style::stuck) {
        EXPECT_EQ(nodra_edm_list_set_more_flag(q), ZERR_OK);
    }
    return added == 0 ? NODRA_ERR_EDM_NOT_FOUND : ZERR_OK;
}

std::vector<std::string> take_requests()
{
    std::lock_guard guard(lock);
    return std::exchange(requests, {});
}

TEST(EdmTest, ListingsAreGatheredPageByPage)
{
    nodra_test_reset();
    nodra_test_set_list_page_size(3);
    struct case_type {
        const char *what;
        provider_type provider;
        std::vector<std::string> names;
        std::vector<std::string> requests;
    };
    const case_type cases[] = {
        {"pages after the start key", {style::after, &names7}, names7, {"-/3", "c/3", "f/3"}},
        {"pages that repeat the start key", {style::at, &names7}, names7, {"-/3", "c/3", "e/3"}},
        {"no new name: the listing ends", {style::stuck, &names7}, {"a", "b", "c"}, {"-/3", "c/3"}},
        {"a last page that finds nothing ends the listing", {style::sloppy, &names6}, names6, {"-/3", "c/3", "f/3"}},
        {"a provider that gives everything at once", {style::unlimited, &names7}, names7, {"-/3"}},
    };
    evm_thread provider;
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.what);
        nodra_conn_td *conn = nullptr;
        uint32_t reg = 0;
        provider.run([&] {
            ASSERT_EQ(_nodra_bind(&conn, "/oper/paged/", 0), ZERR_OK);
            nodra_edm_fns_td fns;
            nodra_edm_fns_init(&fns);
            nodra_edm_fns_list_init(&fns, listing);
            nodra_edm_fns_datalist_init(&fns, listing);
            ASSERT_EQ(nodra_register_edm2(conn, "", &fns, provider.evm, &c.provider, 0, &reg), ZERR_OK);
        });
        take_requests();

        nodra_conn_td *asker = nullptr;
        ASSERT_EQ(_nodra_bind(&asker, "/oper/paged/", 0), ZERR_OK);
        uint32_t count = 0;
        nodra_list_td *list = nullptr;
        ASSERT_EQ(nodra_list(asker, "", "", &count, &list, 0), ZERR_OK);
        std::vector<std::string> got;
        const char *name = nullptr;
        while (nodra_list_next(list, &name) == ZERR_OK)
            got.push_back(name);
        nodra_list_free(list);
        EXPECT_EQ(got, c.names);
        EXPECT_EQ(count, c.names.size());
        EXPECT_EQ(take_requests(), c.requests);

        // A data list pages the same way and keeps each entry's value.
        nodra_datalist_td *data = nullptr;
        ASSERT_EQ(nodra_datalist(asker, "", "", &count, &data, 0), ZERR_OK);
        got.clear();
        const void *value = nullptr;
        uint32_t type = 0, length = 0;
        while (nodra_datalist_next(data, &name, &type, &value, &length, 0) == ZERR_OK)
            got.push_back(std::string(name) + "=" + std::string(static_cast<const char *>(value), length));
        nodra_datalist_free(data);
        std::vector<std::string> want;
        for (const std::string &n : c.names)
            want.push_back(n + "=v" + n);
        EXPECT_EQ(got, want);
        EXPECT_EQ(take_requests(), c.requests);

        _nodra_unbind(asker);
        provider.run([&] {
            EXPECT_EQ(nodra_edm_unregister(reg), ZERR_OK);
            _nodra_unbind(conn);
        });
    }
    nodra_test_set_list_page_size(0);
}

// A provider that never answers: it keeps the request and says when it got one.
struct silent_type {
    std::mutex lock;
    std::condition_variable asked;
    nodra_edm_request_td *request = nullptr;
};

zerrno silent_listing(nodra_edm_request_td *q, void *)
{
    auto *silent = static_cast<silent_type *>(const_cast<void *>(q->item_table));
    std::lock_guard guard(silent->lock);
    silent->request = q;
    silent->asked.notify_all();
    return NODRA_EDM_IN_PROGRESS;
}

struct node_provider {
    evm_thread thread;
    nodra_conn_td *conn = nullptr;
    uint32_t reg = 0;

    node_provider(const void *table, nodra_edm_fn fn)
    {
        thread.run([&] {
            ASSERT_EQ(_nodra_bind(&conn, "/oper/wide/if/", 0), ZERR_OK);
            nodra_edm_fns_td fns;
            nodra_edm_fns_init(&fns);
            nodra_edm_fns_list_init(&fns, fn);
            nodra_edm_fns_datalist_init(&fns, fn);
            ASSERT_EQ(nodra_register_edm2(conn, "", &fns, thread.evm, table, 0, &reg), ZERR_OK);
        });
    }
    ~node_provider()
    {
        thread.run([&] {
            nodra_edm_unregister(reg);
            _nodra_unbind(conn);
        });
    }
};

std::vector<std::string> list_names(nodra_conn_td *asker, zerrno *rc)
{
    uint32_t count = 0;
    nodra_list_td *list = nullptr;
    std::vector<std::string> got;
    *rc = nodra_list(asker, "", "", &count, &list, 0);
    if (*rc != ZERR_OK)
        return got;
    const char *name = nullptr;
    while (nodra_list_next(list, &name) == ZERR_OK)
        got.push_back(name);
    nodra_list_free(list);
    return got;
}

// A path every node's agent serves, each its own interfaces: the listing is the union of every
// provider's, in name order and paged per provider as one provider's listing is.
TEST(EdmTest, ListingsOfAPathSeveralNodesServeAreTheirUnion)
{
    nodra_test_reset();
    nodra_test_set_list_page_size(2);
    const std::vector<std::string> first = {"Gi0/1/0/1", "Gi0/1/0/3", "Gi0/1/0/5"};
    const std::vector<std::string> second = {"Gi0/1/0/2", "Gi0/2/0/1"};
    const provider_type a{style::after, &first}, b{style::after, &second};
    node_provider one(&a, listing), two(&b, listing);
    take_requests();

    nodra_conn_td *asker = nullptr;
    ASSERT_EQ(_nodra_bind(&asker, "/oper/wide/if/", 0), ZERR_OK);
    const std::vector<std::string> all = {"Gi0/1/0/1", "Gi0/1/0/2", "Gi0/1/0/3", "Gi0/1/0/5", "Gi0/2/0/1"};
    zerrno rc = 0;
    EXPECT_EQ(list_names(asker, &rc), all);
    EXPECT_EQ(rc, ZERR_OK);
    std::vector<std::string> asked = take_requests();
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (std::vector<std::string>{"-/2", "-/2", "Gi0/1/0/3/2"}));

    uint32_t count = 0;
    nodra_datalist_td *data = nullptr;
    ASSERT_EQ(nodra_datalist(asker, "", "", &count, &data, 0), ZERR_OK);
    EXPECT_EQ(count, all.size());
    std::vector<std::string> got;
    const char *name = nullptr;
    const void *value = nullptr;
    uint32_t type = 0, length = 0;
    while (nodra_datalist_next(data, &name, &type, &value, &length, 0) == ZERR_OK)
        got.push_back(std::string(name) + "=" + std::string(static_cast<const char *>(value), length));
    nodra_datalist_free(data);
    std::vector<std::string> want;
    for (const std::string &n : all)
        want.push_back(n + "=v" + n);
    EXPECT_EQ(got, want);
    _nodra_unbind(asker);
    nodra_test_set_list_page_size(0);
}

// A node that does not answer is left out once the wait is over; the others are listed.
TEST(EdmTest, ANodeThatDoesNotAnswerIsLeftOutOfTheListing)
{
    nodra_test_reset();
    plat_clock_use_virtual();
    nodra_test_set_listing_wait_ms(2000);
    const std::vector<std::string> first = {"Gi0/1/0/1", "Gi0/1/0/2"};
    const provider_type a{style::after, &first};
    silent_type silent;
    {
        node_provider one(&a, listing), stuck(&silent, silent_listing);
        nodra_conn_td *asker = nullptr;
        ASSERT_EQ(_nodra_bind(&asker, "/oper/wide/if/", 0), ZERR_OK);
        zerrno rc = 1;
        std::vector<std::string> got;
        take_requests();
        std::thread reader([&] { got = list_names(asker, &rc); });
        {
            std::unique_lock guard(silent.lock);
            silent.asked.wait(guard, [&] { return silent.request != nullptr; });
        }
        {
            std::unique_lock guard(lock);
            requested.wait(guard, [] { return !requests.empty(); });
        }
        // The answering node's listing has reached the database before the wait runs out: its
        // handler is done, and a round trip on its connection follows its answer.
        one.thread.run([] {});
        ASSERT_EQ(nodra_test_sync(one.thread.evm), ZERR_OK);
        plat_clock_advance_ms(2000);
        reader.join();
        EXPECT_EQ(rc, ZERR_OK);
        EXPECT_EQ(got, first);
        // Its late answer goes nowhere.
        EXPECT_EQ(nodra_edm_resume(silent.request, NODRA_ERR_EDM_NOT_FOUND), ZERR_OK);
        _nodra_unbind(asker);
    }
    nodra_test_set_listing_wait_ms(0);
    plat_clock_use_real();
}

} // namespace
