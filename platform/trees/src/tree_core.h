// The AVL algorithms shared by avl2 and wavl. A row may carry several nodes (one per thread of a
// wavl tree); `thread` says which of the row's nodes this tree links, so the row is at
// node - thread. Rows never move: rebalancing relinks nodes, it never copies them.
#pragma once

#include <cstdint>

namespace tree_core {

template <typename Node>
struct tree {
    Node *&root;
    int (*cmp)(const void *, const void *, void *);
    void *ctx;
    uint32_t thread;

    const void *row(const Node *n) const { return n - thread; }
    Node *node_of(const void *r) const { return const_cast<Node *>(static_cast<const Node *>(r)) + thread; }
    int compare(const void *key, const Node *n) const { return cmp(key, row(n), ctx); }

    static int64_t h(const Node *n) { return n ? n->height : 0; }
    static void fix(Node *n)
    {
        int64_t l = h(n->left), r = h(n->right);
        n->height = (l > r ? l : r) + 1;
    }
    static Node *rot_right(Node *n)
    {
        Node *l = n->left;
        n->left = l->right;
        l->right = n;
        fix(n);
        fix(l);
        return l;
    }
    static Node *rot_left(Node *n)
    {
        Node *r = n->right;
        n->right = r->left;
        r->left = n;
        fix(n);
        fix(r);
        return r;
    }
    static Node *balance(Node *n)
    {
        fix(n);
        int64_t b = h(n->left) - h(n->right);
        if (b > 1) {
            if (h(n->left->left) < h(n->left->right))
                n->left = rot_left(n->left);
            return rot_right(n);
        }
        if (b < -1) {
            if (h(n->right->right) < h(n->right->left))
                n->right = rot_right(n->right);
            return rot_left(n);
        }
        return n;
    }
    static void clear(Node *n)
    {
        n->left = nullptr;
        n->right = nullptr;
        n->height = 0;
    }

    Node *insert_at(Node *n, Node *x, bool &dup) const
    {
        if (n == nullptr) {
            x->left = x->right = nullptr;
            x->height = 1;
            return x;
        }
        int c = compare(row(x), n);
        if (c < 0)
            n->left = insert_at(n->left, x, dup);
        else if (c > 0)
            n->right = insert_at(n->right, x, dup);
        else {
            dup = true;
            return n;
        }
        return balance(n);
    }
    // Insert x; false (tree unchanged) on an equal key.
    bool insert(Node *x) const
    {
        bool dup = false;
        Node *r = insert_at(root, x, dup);
        if (!dup)
            root = r;
        return !dup;
    }

    static Node *remove_min(Node *n, Node *&min)
    {
        if (n->left == nullptr) {
            min = n;
            return n->right;
        }
        n->left = remove_min(n->left, min);
        return balance(n);
    }
    Node *remove_at(Node *n, const void *key, Node *&removed) const
    {
        if (n == nullptr)
            return nullptr;
        int c = compare(key, n);
        if (c < 0) {
            n->left = remove_at(n->left, key, removed);
        } else if (c > 0) {
            n->right = remove_at(n->right, key, removed);
        } else {
            removed = n;
            Node *l = n->left, *r = n->right;
            clear(n);
            if (l == nullptr)
                return r;
            if (r == nullptr)
                return l;
            Node *m = nullptr;
            r = remove_min(r, m);
            m->left = l;
            m->right = r;
            return balance(m);
        }
        return balance(n);
    }
    Node *remove(const void *key) const
    {
        Node *removed = nullptr;
        root = remove_at(root, key, removed);
        return removed;
    }

    Node *search(const void *key) const
    {
        for (Node *n = root; n != nullptr;) {
            int c = compare(key, n);
            if (c == 0)
                return n;
            n = c < 0 ? n->left : n->right;
        }
        return nullptr;
    }
    // Smallest node above key (or equal when `equal`).
    Node *above(const void *key, bool equal) const
    {
        Node *best = nullptr;
        for (Node *n = root; n != nullptr;) {
            int c = compare(key, n);
            if (c == 0 && equal)
                return n;
            if (c < 0) {
                best = n;
                n = n->left;
            } else {
                n = n->right;
            }
        }
        return best;
    }
    // Largest node below key (or equal when `equal`).
    Node *below(const void *key, bool equal) const
    {
        Node *best = nullptr;
        for (Node *n = root; n != nullptr;) {
            int c = compare(key, n);
            if (c == 0 && equal)
                return n;
            if (c > 0) {
                best = n;
                n = n->right;
            } else {
                n = n->left;
            }
        }
        return best;
    }
    Node *first() const
    {
        Node *n = root;
        while (n != nullptr && n->left != nullptr)
            n = n->left;
        return n;
    }
    Node *last() const
    {
        Node *n = root;
        while (n != nullptr && n->right != nullptr)
            n = n->right;
        return n;
    }
    template <typename Visit>
    bool walk(Visit visit) const
    {
        Node *n = first();
        while (n != nullptr) {
            // Found before the visit, so the visitor may delete and free the row it is given.
            Node *next = above(row(n), false);
            if (!visit(n))
                return false;
            n = next;
        }
        return true;
    }
    static uint64_t count_at(const Node *n) { return n == nullptr ? 0 : 1 + count_at(n->left) + count_at(n->right); }
    // Checks heights, balance and strict order below n; last is the previous node in order.
    bool verify_at(const Node *n, const Node *&last, uint64_t &count) const
    {
        if (n == nullptr)
            return true;
        if (!verify_at(n->left, last, count))
            return false;
        if (last != nullptr && compare(row(last), n) >= 0)
            return false;
        last = n;
        ++count;
        if (!verify_at(n->right, last, count))
            return false;
        int64_t l = h(n->left), r = h(n->right);
        return n->height == (l > r ? l : r) + 1 && l - r <= 1 && r - l <= 1;
    }
};

} // namespace tree_core
