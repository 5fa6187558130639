#include "wavl.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <vector>

namespace {

// Two orders: thread 0 by interface handle, thread 1 by port number.
struct alloc_row {
    wavl_node_type links[2];
    uint32_t ifhandle;
    uint16_t port;
};

int by_handle(const void *a, const void *b, void *)
{
    uint32_t x = static_cast<const alloc_row *>(a)->ifhandle, y = static_cast<const alloc_row *>(b)->ifhandle;
    return x < y ? -1 : (x > y ? 1 : 0);
}
int by_port(const void *a, const void *b, void *)
{
    uint16_t x = static_cast<const alloc_row *>(a)->port, y = static_cast<const alloc_row *>(b)->port;
    return x < y ? -1 : (x > y ? 1 : 0);
}
const wavl_compare_fn compares[2] = {by_handle, by_port};

const alloc_row *as_row(const wavl_node_type *n)
{
    return reinterpret_cast<const alloc_row *>(n);
}

TEST(Wavl, InitRefusesBadThreadCounts)
{
    wavl_tree_type tree;
    EXPECT_EQ(wavl_init(&tree, 0, compares, nullptr), static_cast<zerrno>(EINVAL));
    EXPECT_EQ(wavl_init(&tree, WAVL_MAX_THREADS + 1, compares, nullptr), static_cast<zerrno>(EINVAL));
    const wavl_compare_fn with_null[2] = {by_handle, nullptr};
    EXPECT_EQ(wavl_init(&tree, 2, with_null, nullptr), static_cast<zerrno>(EINVAL));
    alloc_row r{};
    EXPECT_EQ(wavl_insert(&tree, r.links), nullptr);
}

TEST(Wavl, RandomOperationsMatchOneMapPerThread)
{
    std::mt19937 rng(777);
    wavl_tree_type tree;
    ASSERT_EQ(wavl_init(&tree, 2, compares, nullptr), ZERR_OK);
    std::map<uint32_t, alloc_row *> by_h;
    std::map<uint16_t, alloc_row *> by_p;
    std::vector<std::unique_ptr<alloc_row>> owned;

    for (int step = 0; step < 20000; ++step) {
        uint32_t h = rng() % 400;
        uint16_t p = static_cast<uint16_t>(rng() % 400);
        if (rng() % 3 != 0) {
            owned.push_back(std::make_unique<alloc_row>());
            alloc_row *r = owned.back().get();
            r->ifhandle = h;
            r->port = p;
            wavl_node_type *got = wavl_insert(&tree, r->links);
            bool dup = by_h.count(h) != 0 || by_p.count(p) != 0;
            EXPECT_EQ(got, dup ? nullptr : r->links) << h << " " << p;
            if (!dup) {
                by_h[h] = r;
                by_p[p] = r;
            }
        } else if (!by_h.empty()) {
            auto it = by_h.lower_bound(h);
            if (it == by_h.end())
                it = by_h.begin();
            alloc_row *r = it->second;
            // A different record with the same keys is not the tree's row.
            alloc_row twin = *r;
            EXPECT_EQ(wavl_delete(&tree, twin.links), nullptr);
            EXPECT_EQ(wavl_delete(&tree, r->links), r->links);
            by_p.erase(r->port);
            by_h.erase(it);
        }
        if (step % 1000 == 0) {
            ASSERT_TRUE(wavl_verify(&tree));
        }
    }
    ASSERT_TRUE(wavl_verify(&tree));
    EXPECT_EQ(wavl_count(&tree), by_h.size());

    std::vector<const alloc_row *> got0, want0, got1, want1;
    for (auto *n = wavl_get_first(&tree, 0); n; n = wavl_get_next(&tree, 0, n))
        got0.push_back(as_row(n));
    for (auto *n = wavl_get_first(&tree, 1); n; n = wavl_get_next(&tree, 1, n))
        got1.push_back(as_row(n));
    for (auto &[k, r] : by_h)
        want0.push_back(r);
    for (auto &[k, r] : by_p)
        want1.push_back(r);
    EXPECT_EQ(got0, want0);
    EXPECT_EQ(got1, want1);

    for (uint16_t p = 0; p < 402; ++p) {
        alloc_row key{};
        key.port = p;
        auto it = by_p.find(p);
        EXPECT_EQ(wavl_search(&tree, 1, &key), it == by_p.end() ? nullptr : it->second->links);
        auto ge = by_p.lower_bound(p);
        EXPECT_EQ(wavl_get_greater_equal(&tree, 1, &key), ge == by_p.end() ? nullptr : ge->second->links);
    }
    wavl_destroy(&tree, nullptr);
    EXPECT_EQ(wavl_count(&tree), 0u);
    EXPECT_EQ(wavl_get_first(&tree, 1), nullptr);
}

bool delete_visited(wavl_node_type *n, void *ctx)
{
    auto *tree = static_cast<wavl_tree_type *>(ctx);
    EXPECT_EQ(wavl_delete(tree, n), n);
    delete reinterpret_cast<alloc_row *>(n);
    return true;
}

TEST(Wavl, WalkByPortMayDeleteEachRow)
{
    wavl_tree_type tree;
    ASSERT_EQ(wavl_init(&tree, 2, compares, nullptr), ZERR_OK);
    for (uint32_t i = 0; i < 50; ++i) {
        auto *r = new alloc_row{};
        r->ifhandle = 1000 - i;
        r->port = static_cast<uint16_t>(i * 7 % 50 + 1);
        ASSERT_NE(wavl_insert(&tree, r->links), nullptr);
    }
    EXPECT_TRUE(wavl_walk(&tree, 1, delete_visited, &tree));
    EXPECT_EQ(wavl_count(&tree), 0u);
    EXPECT_TRUE(wavl_verify(&tree));
}

} // namespace
