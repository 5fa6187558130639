// Operational listings in pages: the database asks a provider for a page at a time and follows its
// "more" flag from the last name on, so that the asker gets the whole listing once.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "evm_test_thread.h"
#include "nodra.h"
#include "nodra_test.h"

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

zerrno listing(nodra_edm_request_td *q, void *)
{
    const auto *p = static_cast<const provider_type *>(q->item_table);
    {
        std::lock_guard guard(lock);
        requests.push_back(std::string(q->start_key != nullptr ? q->start_key : "-") + "/" +
                           std::to_string(q->max_count));
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

} // namespace
