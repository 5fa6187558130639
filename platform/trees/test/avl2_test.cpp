#include "avl2.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <vector>

namespace {

struct row {
    avl2_node_type node;
    int32_t key;
    int32_t value;
};

int row_compare(const void *a, const void *b, void *)
{
    int32_t x = static_cast<const row *>(a)->key, y = static_cast<const row *>(b)->key;
    return x < y ? -1 : (x > y ? 1 : 0);
}

row key_of(int32_t k)
{
    row r{};
    r.key = k;
    return r;
}

int32_t key(const avl2_node_type *n)
{
    return reinterpret_cast<const row *>(n)->key;
}

std::vector<int32_t> in_order(const avl2_tree_type &tree)
{
    std::vector<int32_t> keys;
    for (auto *n = avl2_get_first(&tree); n != nullptr; n = avl2_get_next(&tree, n))
        keys.push_back(key(n));
    return keys;
}

TEST(Avl2, RandomInsertsAndDeletesMatchAnOrderedMap)
{
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int32_t> pick(-500, 500);
    avl2_tree_type tree;
    ASSERT_TRUE(avl2_init(&tree, row_compare, nullptr));
    std::map<int32_t, std::unique_ptr<row>> model;

    for (int step = 0; step < 20000; ++step) {
        int32_t k = pick(rng);
        if (rng() % 3 != 0) {
            auto r = std::make_unique<row>(key_of(k));
            avl2_node_type *got = avl2_insert(&tree, &r->node);
            if (model.count(k) != 0) {
                EXPECT_EQ(got, nullptr) << k;
            } else {
                EXPECT_EQ(got, &r->node);
                model.emplace(k, std::move(r));
            }
        } else {
            row probe = key_of(k);
            avl2_node_type *got = avl2_delete(&tree, &probe);
            auto it = model.find(k);
            if (it == model.end()) {
                EXPECT_EQ(got, nullptr) << k;
            } else {
                EXPECT_EQ(got, &it->second->node);
                model.erase(it);
            }
        }
        if (step % 500 == 0) {
            ASSERT_TRUE(avl2_verify(&tree)) << step;
        }
    }
    ASSERT_TRUE(avl2_verify(&tree));
    std::vector<int32_t> expect;
    for (auto &[k, r] : model)
        expect.push_back(k);
    EXPECT_EQ(in_order(tree), expect);
    EXPECT_EQ(avl2_count(&tree), model.size());

    // Reverse iteration and every neighbour lookup against the model.
    std::vector<int32_t> reverse;
    for (auto *n = avl2_get_last(&tree); n != nullptr; n = avl2_get_prev(&tree, n))
        reverse.push_back(key(n));
    EXPECT_EQ(reverse, std::vector<int32_t>(expect.rbegin(), expect.rend()));
    for (int32_t k = -502; k <= 502; ++k) {
        row probe = key_of(k);
        auto ge = model.lower_bound(k), gt = model.upper_bound(k);
        auto *n = avl2_get_greater_equal(&tree, &probe);
        EXPECT_EQ(n, ge == model.end() ? nullptr : &ge->second->node) << k;
        n = avl2_get_greater(&tree, &probe);
        EXPECT_EQ(n, gt == model.end() ? nullptr : &gt->second->node) << k;
        n = avl2_get_less(&tree, &probe);
        EXPECT_EQ(n, ge == model.begin() ? nullptr : &std::prev(ge)->second->node) << k;
        n = avl2_get_less_equal(&tree, &probe);
        EXPECT_EQ(n, gt == model.begin() ? nullptr : &std::prev(gt)->second->node) << k;
        n = avl2_search(&tree, &probe);
        EXPECT_EQ(n, model.count(k) ? &model[k]->node : nullptr) << k;
    }
    avl2_destroy(&tree, nullptr);
    EXPECT_TRUE(avl2_is_empty(&tree));
}

TEST(Avl2, DeleteByKeyReturnsTheRecordInTheTree)
{
    avl2_tree_type tree;
    ASSERT_TRUE(avl2_init(&tree, row_compare, nullptr));
    row a = key_of(7), other = key_of(7);
    ASSERT_EQ(avl2_insert(&tree, &a.node), &a.node);
    EXPECT_EQ(avl2_insert(&tree, &other.node), nullptr);
    EXPECT_EQ(avl2_delete(&tree, &other), &a.node);
    EXPECT_EQ(avl2_delete(&tree, &a), nullptr);
    EXPECT_TRUE(avl2_is_empty(&tree));
}

struct walk_state {
    avl2_tree_type *tree;
    std::vector<int32_t> seen;
    int32_t stop_at;
};

bool visit_and_delete_odd(avl2_node_type *n, void *ctx)
{
    auto *s = static_cast<walk_state *>(ctx);
    int32_t k = key(n);
    s->seen.push_back(k);
    if (k % 2 != 0) {
        EXPECT_EQ(avl2_delete(s->tree, n), n);
        delete reinterpret_cast<row *>(n);
    }
    return k != s->stop_at;
}

void free_row(avl2_node_type *n)
{
    delete reinterpret_cast<row *>(n);
}

TEST(Avl2, WalkVisitsInOrderAndToleratesDeletingTheVisitedRow)
{
    avl2_tree_type tree;
    ASSERT_TRUE(avl2_init(&tree, row_compare, nullptr));
    walk_state empty{&tree, {}, -1};
    EXPECT_TRUE(avl2_walk(&tree, visit_and_delete_odd, &empty)) << "empty tree is a completed walk";

    for (int32_t k : {5, 1, 9, 3, 7, 2, 8, 4, 6, 10})
        ASSERT_NE(avl2_insert(&tree, &(new row(key_of(k)))->node), nullptr);
    walk_state all{&tree, {}, -1};
    EXPECT_TRUE(avl2_walk(&tree, visit_and_delete_odd, &all));
    EXPECT_EQ(all.seen, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(in_order(tree), (std::vector<int32_t>{2, 4, 6, 8, 10}));
    EXPECT_TRUE(avl2_verify(&tree));

    walk_state stop{&tree, {}, 6};
    EXPECT_FALSE(avl2_walk(&tree, visit_and_delete_odd, &stop));
    EXPECT_EQ(stop.seen, (std::vector<int32_t>{2, 4, 6}));
    avl2_destroy(&tree, free_row); // ASan checks every row is freed exactly once
    EXPECT_EQ(avl2_count(&tree), 0u);
}

// Built-in selectors compare the key directly behind the node.
struct handle_row {
    avl2_node_type node;
    uint32_t ifhandle;
};
struct name_row {
    avl2_node_type node;
    char ifname[64];
};

TEST(Avl2, BuiltinComparators)
{
    avl2_tree_type tree;
    EXPECT_FALSE(avl2_init(&tree, static_cast<avl2_builtin_type>(8), nullptr));
    EXPECT_EQ(avl2_insert(&tree, nullptr), nullptr);

    ASSERT_TRUE(avl2_init(&tree, AVL2_CMP_U32, nullptr));
    handle_row h[3] = {{{}, 0x80000000u}, {{}, 5}, {{}, 0xffffffffu}};
    for (auto &r : h)
        ASSERT_NE(avl2_insert(&tree, &r.node), nullptr);
    EXPECT_EQ(avl2_get_first(&tree), &h[1].node) << "unsigned order";
    EXPECT_EQ(avl2_get_last(&tree), &h[2].node);

    avl2_tree_type names;
    ASSERT_TRUE(avl2_init(&names, AVL2_CMP_NAME64, nullptr));
    name_row n[3] = {};
    std::strcpy(n[0].ifname, "GigabitEthernet0/0/0/10");
    std::strcpy(n[1].ifname, "GigabitEthernet0/0/0/1");
    std::strcpy(n[2].ifname, "Bundle-Ether1");
    for (auto &r : n)
        ASSERT_NE(avl2_insert(&names, &r.node), nullptr);
    EXPECT_EQ(avl2_get_first(&names), &n[2].node);
    EXPECT_EQ(avl2_get_next(&names, &n[2]), &n[1].node);
    EXPECT_EQ(avl2_get_next(&names, &n[1]), &n[0].node);
    name_row probe{};
    std::strcpy(probe.ifname, "GigabitEthernet0/0/0/1");
    EXPECT_EQ(avl2_search(&names, &probe), &n[1].node);

    // A tree found again after a restart takes its comparator back and keeps its rows.
    names.compare = nullptr;
    EXPECT_EQ(avl2_search(&names, &probe), nullptr);
    ASSERT_TRUE(avl2_set_compare(&names, AVL2_CMP_NAME64, nullptr));
    EXPECT_EQ(avl2_search(&names, &probe), &n[1].node);
}

} // namespace
