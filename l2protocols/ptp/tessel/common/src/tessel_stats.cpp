#include "tessel_stats.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <random>
#include <unordered_set>

#include "ptp_address.h"
#include "ptp_alloc.h"
#include "ptp_debug.h"
#include "ptp_syslog.h"
#include "ptp_trace_points.h"
#include "tessel_alloc.h"
#include "tessel_assert.h"
#include "tessel_debug_areas.h"
#include "tessel_if_config.h"

// Thread checks of the inter-thread module.
bool tessel_thread_ctrl_is_proto_thread();
bool tessel_thread_ctrl_is_ipc_thread_blocked();

static_assert(TESSEL_IPC_IDB_EVENT_COUNT == TESSEL_STATS_IPC_IDB_EVENT_COUNT);

namespace {

// The agent's stats debug area.
constexpr uint32_t STATS_DEBUG_AREA = tessel_debug_area("stats");

const char *stats_label()
{
    return ptp_debug_area_label(STATS_DEBUG_AREA);
}

[[gnu::format(printf, 1, 2)]] void stats_debug(const char *format, ...)
{
    const debug_event_type *table = ptp_debug_table_get();
    if (!ptp_debug_enabled(table, STATS_DEBUG_AREA)) {
        return;
    }
    va_list args;
    va_start(args, format);
    ptp_debug_vprint(STATS_DEBUG_AREA, 0, PTP_DEBUG_LEVEL_SUPPORT, table, format, args);
    va_end(args);
}

// Every trace point of this module goes into the detail and the unique-event buffers.
template <const ptp_trace_point_type &POINT>
void stats_trace()
{
    ptp_trace<POINT>({ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_DET), ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_UNQ)});
}

// ---- Window layout --------------------------------------------------------------------------
// The window's header, by the offset of each field (host byte order).
struct tessel_stats_shmem_hdr {
    static constexpr size_t per_intf_stats = 0; // tree of the interface entries, by handle
    static constexpr size_t node_block = 24;    // the node's counter block
    static constexpr size_t drop_reasons = 156; // the 32 node drop reasons
    static constexpr size_t consistent = 284;
    static constexpr size_t initialised = 288;
};

constexpr size_t N_LEFT = 0;
constexpr size_t N_RIGHT = 8;
constexpr size_t N_HEIGHT = 16;
constexpr size_t T_ROOT = 0;
constexpr size_t T_COMPARE = 8;

constexpr size_t I_IFHANDLE = 24;
constexpr size_t I_PEER_TREE_INIT = 28;
constexpr size_t I_PEER_TREE = 32;
constexpr size_t I_BLOCK = 56;

// A per-peer entry, by the offset of each field after its tree node.
struct tessel_stats_per_peer_type {
    static constexpr size_t address = 24; // ptp_address_type, the key
    static constexpr size_t block = 48;   // the peer's counter block
};

static_assert(tessel_stats_shmem_hdr::initialised + 8 == TESSEL_STATS_SHMEM_HDR_SIZE);
static_assert(I_BLOCK + sizeof(tessel_packet_counters_type) + 4 == TESSEL_STATS_INTF_ENTRY_SIZE);
static_assert(tessel_stats_per_peer_type::block + sizeof(tessel_packet_counters_type) + 4 ==
              TESSEL_STATS_PEER_ENTRY_SIZE);

uint64_t ld64(const uint8_t *p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
uint32_t ld32(const uint8_t *p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
void st64(uint8_t *p, uint64_t v)
{
    std::memcpy(p, &v, 8);
}
void st32(uint8_t *p, uint32_t v)
{
    std::memcpy(p, &v, 4);
}

// Comparators of the window's trees. The word kept in a tree is this process's attachment of a
// comparator: the comparator kind with a per-process tag, so a tree found in the window after a
// restart stays unusable until this process attaches its comparator again.
enum class cmp_kind : uint32_t {
    none = 0,
    ifhandle = 4,
    peer = 0x100
};

struct module_state {
    shmwin_handle_type win = nullptr;
    uint8_t *hdr = nullptr;
    uint64_t process_tag = 0;
    bool recovering = false;
    tessel_node_event_counters_type node_events{};
};
module_state st;

uint64_t attachment(cmp_kind kind)
{
    return st.process_tag << 16 | static_cast<uint32_t>(kind);
}

uint8_t *at(uint64_t off)
{
    auto *p = static_cast<uint8_t *>(shmwin_offset_to_ptr(st.win, off));
    TESSEL_ASSERT(p != nullptr); // a link that leads outside the window
    return p;
}
uint64_t off_of(const void *p)
{
    return shmwin_ptr_to_offset(st.win, p);
}

// A key to search a tree with.
struct tree_key {
    cmp_kind kind;
    ifhtype ifhandle;
    ptp_address_type address;
};

ptp_address_type peer_address(const uint8_t *node)
{
    ptp_address_type a{};
    a.encap = ld32(node + tessel_stats_per_peer_type::address);
    std::memcpy(a.value, node + tessel_stats_per_peer_type::address + 4, PTP_ADDRESS_VALUE_LEN);
    return a;
}

// The order of an interface's per-peer tree: address type, then address.
int tessel_stats_peer_packet_counter_compare(const ptp_address_type *key, const uint8_t *peer_entry)
{
    const ptp_address_type a = peer_address(peer_entry);
    return ptp_address_compare(key, &a);
}

int compare_key(const tree_key &key, uint64_t node_off)
{
    const uint8_t *node = at(node_off);
    if (key.kind == cmp_kind::ifhandle) {
        uint32_t h = ld32(node + I_IFHANDLE);
        return key.ifhandle < h ? -1 : (key.ifhandle > h ? 1 : 0);
    }
    return tessel_stats_peer_packet_counter_compare(&key.address, node);
}

tree_key key_of(cmp_kind kind, uint64_t node_off)
{
    tree_key k{kind, 0, {}};
    if (kind == cmp_kind::ifhandle) {
        k.ifhandle = ld32(at(node_off) + I_IFHANDLE);
    } else {
        k.address = peer_address(at(node_off));
    }
    return k;
}

// ---- Offset AVL tree ----------------------------------------------------------------------

struct wtree {
    uint8_t *field; // the 24-byte tree field
    cmp_kind kind;
};

wtree tree_at(uint8_t *field, cmp_kind kind)
{
    // A comparator of another process (or none) means the tree was never re-attached here.
    TESSEL_ASSERT(ld64(field + T_COMPARE) == attachment(kind));
    return wtree{field, kind};
}

void tree_init(uint8_t *field, cmp_kind kind)
{
    st64(field + T_ROOT, 0);
    st64(field + T_COMPARE, attachment(kind));
    st64(field + 16, 0);
}

uint64_t left(uint64_t n)
{
    return ld64(at(n) + N_LEFT);
}
uint64_t right(uint64_t n)
{
    return ld64(at(n) + N_RIGHT);
}
int64_t height(uint64_t n)
{
    return n == 0 ? 0 : static_cast<int64_t>(ld64(at(n) + N_HEIGHT));
}
void set_left(uint64_t n, uint64_t v)
{
    st64(at(n) + N_LEFT, v);
}
void set_right(uint64_t n, uint64_t v)
{
    st64(at(n) + N_RIGHT, v);
}
void fix_height(uint64_t n)
{
    int64_t l = height(left(n));
    int64_t r = height(right(n));
    st64(at(n) + N_HEIGHT, static_cast<uint64_t>((l > r ? l : r) + 1));
}
uint64_t rotate_right(uint64_t n)
{
    uint64_t l = left(n);
    set_left(n, right(l));
    set_right(l, n);
    fix_height(n);
    fix_height(l);
    return l;
}
uint64_t rotate_left(uint64_t n)
{
    uint64_t r = right(n);
    set_right(n, left(r));
    set_left(r, n);
    fix_height(n);
    fix_height(r);
    return r;
}
uint64_t balance(uint64_t n)
{
    fix_height(n);
    int64_t b = height(left(n)) - height(right(n));
    if (b > 1) {
        if (height(left(left(n))) < height(right(left(n)))) {
            set_left(n, rotate_left(left(n)));
        }
        return rotate_right(n);
    }
    if (b < -1) {
        if (height(right(right(n))) < height(left(right(n)))) {
            set_right(n, rotate_right(right(n)));
        }
        return rotate_left(n);
    }
    return n;
}

uint64_t tree_find(const wtree &t, const tree_key &key)
{
    uint64_t n = ld64(t.field + T_ROOT);
    while (n != 0) {
        int c = compare_key(key, n);
        if (c == 0) {
            return n;
        }
        n = c < 0 ? left(n) : right(n);
    }
    return 0;
}

uint64_t insert_at(uint64_t n, uint64_t node, const tree_key &key)
{
    if (n == 0) {
        return node;
    }
    if (compare_key(key, n) < 0) {
        set_left(n, insert_at(left(n), node, key));
    } else {
        set_right(n, insert_at(right(n), node, key));
    }
    return balance(n);
}

// Inserts a node that is not in the tree; false when its key is already there.
bool tree_insert(const wtree &t, uint64_t node)
{
    tree_key key = key_of(t.kind, node);
    if (tree_find(t, key) != 0) {
        return false;
    }
    st64(at(node) + N_LEFT, 0);
    st64(at(node) + N_RIGHT, 0);
    st64(at(node) + N_HEIGHT, 1);
    st64(t.field + T_ROOT, insert_at(ld64(t.field + T_ROOT), node, key));
    return true;
}

uint64_t remove_min(uint64_t n, uint64_t *min)
{
    if (left(n) == 0) {
        *min = n;
        return right(n);
    }
    set_left(n, remove_min(left(n), min));
    return balance(n);
}

uint64_t remove_at(uint64_t n, const tree_key &key, uint64_t *removed)
{
    if (n == 0) {
        return 0;
    }
    int c = compare_key(key, n);
    if (c < 0) {
        set_left(n, remove_at(left(n), key, removed));
    } else if (c > 0) {
        set_right(n, remove_at(right(n), key, removed));
    } else {
        *removed = n;
        uint64_t l = left(n);
        uint64_t r = right(n);
        if (r == 0) {
            return l;
        }
        uint64_t min = 0;
        uint64_t rest = remove_min(r, &min);
        set_right(min, rest);
        set_left(min, l);
        return balance(min);
    }
    return balance(n);
}

// Removes the node with the key; returns its offset (0 when absent).
uint64_t tree_remove(const wtree &t, const tree_key &key)
{
    uint64_t removed = 0;
    st64(t.field + T_ROOT, remove_at(ld64(t.field + T_ROOT), key, &removed));
    return removed;
}

// The node with the smallest key above *key, or the first node when key is null; 0 when none.
// Walks go from key to key, so that a visitor may delete the node it is given and a walk needs
// no memory of its own.
uint64_t tree_successor(const wtree &t, const tree_key *key)
{
    uint64_t best = 0;
    uint64_t n = ld64(t.field + T_ROOT);
    while (n != 0) {
        if (key == nullptr || compare_key(*key, n) < 0) {
            best = n;
            n = left(n);
        } else {
            n = right(n);
        }
    }
    return best;
}

// Calls fn(node) for every node in key order while it returns true.
template <typename Fn>
void tree_for_each(const wtree &t, Fn fn)
{
    for (uint64_t n = tree_successor(t, nullptr); n != 0;) {
        tree_key key = key_of(t.kind, n);
        if (!fn(n)) {
            return;
        }
        n = tree_successor(t, &key);
    }
}

// ---- Checking a window that an earlier process left -----------------------------------------

// Deeper than any balanced tree that fits in a window.
constexpr int MAX_TREE_DEPTH = 64;

bool check_peer_tree(std::unordered_set<uint64_t> &seen, uint64_t intf);

// Checks the subtree at n of a window tree found after a restart: every link leads to a live
// allocation of the entry's size that no other link reaches, keys lie strictly between lo and
// hi, and the stored heights are those of a balanced tree (so every later walk ends). Returns
// the subtree's height, or -1 when it cannot be trusted.
int64_t check_subtree(std::unordered_set<uint64_t> &seen, uint64_t n, cmp_kind kind, const tree_key *lo,
                      const tree_key *hi, int depth)
{
    if (n == 0) {
        return 0;
    }
    size_t size = kind == cmp_kind::ifhandle ? TESSEL_STATS_INTF_ENTRY_SIZE : TESSEL_STATS_PEER_ENTRY_SIZE;
    if (depth > MAX_TREE_DEPTH || shmwin_offset_to_alloc(st.win, n, size) == nullptr || !seen.insert(n).second) {
        return -1;
    }
    if ((lo != nullptr && compare_key(*lo, n) >= 0) || (hi != nullptr && compare_key(*hi, n) <= 0)) {
        return -1;
    }
    tree_key key = key_of(kind, n);
    int64_t l = check_subtree(seen, left(n), kind, lo, &key, depth + 1);
    int64_t r = l < 0 ? -1 : check_subtree(seen, right(n), kind, &key, hi, depth + 1);
    if (l < 0 || r < 0 || l - r > 1 || r - l > 1) {
        return -1;
    }
    int64_t h = (l > r ? l : r) + 1;
    if (height(n) != h || (kind == cmp_kind::ifhandle && !check_peer_tree(seen, n))) {
        return -1;
    }
    return h;
}

bool check_peer_tree(std::unordered_set<uint64_t> &seen, uint64_t intf)
{
    const uint8_t *e = at(intf);
    uint32_t initialised = ld32(e + I_PEER_TREE_INIT);
    if (initialised == 0) {
        return true; // set up afresh on the first count
    }
    return initialised == 1 &&
           check_subtree(seen, ld64(e + I_PEER_TREE + T_ROOT), cmp_kind::peer, nullptr, nullptr, 0) >= 0;
}

// True when every tree of the window can be followed safely.
bool window_trees_sound()
{
    std::unordered_set<uint64_t> seen;
    return check_subtree(seen, ld64(st.hdr + tessel_stats_shmem_hdr::per_intf_stats + T_ROOT), cmp_kind::ifhandle,
                         nullptr, nullptr, 0) >= 0;
}

// ---- Window state ---------------------------------------------------------------------------

tessel_packet_counters_type *block_at(uint8_t *p)
{
    return reinterpret_cast<tessel_packet_counters_type *>(p);
}

void set_consistent(uint32_t v)
{
    if (!st.recovering) {
        st32(st.hdr + tessel_stats_shmem_hdr::consistent, v);
    }
}

// A structural change of the window: marked inconsistent while it runs.
struct change_guard {
    change_guard() { set_consistent(0); }
    ~change_guard() { set_consistent(1); }
    change_guard(const change_guard &) = delete;
    change_guard &operator=(const change_guard &) = delete;
};

wtree intf_tree()
{
    return tree_at(st.hdr + tessel_stats_shmem_hdr::per_intf_stats, cmp_kind::ifhandle);
}

uint8_t *entry_bytes(tessel_stats_intf_entry_type *e)
{
    return reinterpret_cast<uint8_t *>(e);
}

void free_in_window(void *p, const char *doing, const char *text)
{
    stats_debug("%s: Freeing shared memory", stats_label());
    zerrno rc = shmwin_free(st.win, p);
    if (rc != 0) {
        // The entry is out of its tree but still allocated: the window is left marked
        // inconsistent, so that the next start resets it.
        st32(st.hdr + tessel_stats_shmem_hdr::consistent, 0);
        ptp_syslog_stats_db_error(doing, text);
        stats_trace<PTP_TRACE_TESSEL_STATS_INTF_DELETE_FAILED>();
        std::abort();
    }
}

void reset_window(const char *doing_on_fail)
{
    stats_debug("%s: Resetting shared memory", stats_label());
    if (shmwin_reset(st.win) != 0) {
        ptp_syslog_stats_db_error(doing_on_fail, "Failed to reset shared memory window");
        std::abort();
    }
}

void check_proto_thread()
{
    TESSEL_ASSERT(tessel_thread_ctrl_is_proto_thread());
}

} // namespace

// ---- Window and node counters ----------------------------------------------------------------

zerrno tessel_stats_shmem_check_version(shmwin_handle_type win, void *, uint32_t found_version, void *)
{
    if (found_version == TESSEL_STATS_SHMEM_VERSION) {
        return 0;
    }
    ptp_syslog_stats_db_error("recovering stats database",
                              "Shared memory version mismatch. Resetting database, all packet counters will be lost.");
    stats_trace<PTP_TRACE_TESSEL_STATS_VERSION_RESET>();
    stats_debug("%s: Resetting shared memory", stats_label());
    if (shmwin_reset(win) != 0) {
        ptp_syslog_stats_db_error("resetting stats database", "Failed to reset shared memory window");
        std::abort();
    }
    return 0;
}

namespace {

// The version check of a window that must be reset whatever it holds.
zerrno stats_shmem_reset(shmwin_handle_type win, void *, uint32_t, void *)
{
    ptp_syslog_stats_db_error("restarting",
                              "Invalid stats database. Resetting database, all packet counters will be lost.");
    stats_trace<PTP_TRACE_TESSEL_STATS_INVALID_DB_RESET>();
    stats_debug("%s: Resetting shared memory", stats_label());
    if (shmwin_reset(win) != 0) {
        ptp_syslog_stats_db_error("resetting stats database", "Failed to reset shared memory window");
        std::abort();
    }
    return 0;
}

} // namespace

zerrno tessel_stats_init()
{
    if (st.process_tag == 0) {
        std::random_device rd;
        st.process_tag = (uint64_t{rd()} << 16 | rd()) & 0xFFFFFFFFFFFFull;
        st.process_tag |= 1;
    }
    stats_debug("%s: Opening shared memory window", stats_label());
    void *hdr = nullptr;
    zerrno rc = shmwin_open_win_v1(TESSEL_STATS_SHMWIN_NAME, TESSEL_STATS_SHMEM_HDR_SIZE, TESSEL_STATS_SHMEM_VERSION,
                                   tessel_stats_shmem_check_version, nullptr, &st.win, &hdr);
    stats_debug("%s: Opened shmwin window: %s", stats_label(), zerr_strerror(rc));
    if (rc != 0) {
        ptp_syslog_stats_db_error("opening shared memory window",
                                  "Failed to open/join shared memory window.Stats database was not initialised.");
        stats_trace<PTP_TRACE_TESSEL_STATS_OPEN_FAILED>();
        if (rc == EPROTO) {
            // The window service refuses the window it holds under our name (a header of another
            // layout that our version check cannot see): it would refuse it at every start, so it
            // is reset, once.
            rc = shmwin_open_win_v1(TESSEL_STATS_SHMWIN_NAME, TESSEL_STATS_SHMEM_HDR_SIZE, TESSEL_STATS_SHMEM_VERSION,
                                    stats_shmem_reset, nullptr, &st.win, &hdr);
            stats_debug("%s: Opened shmwin window: %s", stats_label(), zerr_strerror(rc));
        }
    } else if (shmwin_was_replaced(st.win)) {
        // The window service set the window up afresh (its size changed): the counts are gone.
        ptp_syslog_stats_db_error("restarting",
                                  "Invalid stats database. Resetting database, all packet counters will be lost.");
        stats_trace<PTP_TRACE_TESSEL_STATS_INVALID_DB_RESET>();
    }
    if (rc != 0) {
        stats_debug("%s: Cleaning up shared memory resources", stats_label());
        shmwin_process_cleanup();
        st.win = nullptr;
        st.hdr = nullptr;
        return rc;
    }
    st.hdr = static_cast<uint8_t *>(hdr);
    uint32_t initialised = ld32(st.hdr + tessel_stats_shmem_hdr::initialised);
    uint32_t consistent = ld32(st.hdr + tessel_stats_shmem_hdr::consistent);
    // A window marked consistent is still only kept when every link in it can be followed.
    if (initialised == 1 && consistent == 1 && window_trees_sound()) {
        stats_debug("%s: In restart flow", stats_label());
        st64(st.hdr + tessel_stats_shmem_hdr::per_intf_stats + T_COMPARE, attachment(cmp_kind::ifhandle));
        return 0;
    }
    if (initialised != 0) {
        // The previous process died in the middle of a change, or left what cannot be read.
        ptp_syslog_stats_db_error("restarting",
                                  "Invalid stats database. Resetting database, all packet counters will be lost.");
        stats_trace<PTP_TRACE_TESSEL_STATS_INVALID_DB_RESET>();
        reset_window("restarting");
    }
    st32(st.hdr + tessel_stats_shmem_hdr::consistent, 0);
    st32(st.hdr + tessel_stats_shmem_hdr::initialised, 1);
    tree_init(st.hdr + tessel_stats_shmem_hdr::per_intf_stats, cmp_kind::ifhandle);
    std::memset(st.hdr + tessel_stats_shmem_hdr::node_block, 0, sizeof(tessel_packet_counters_type));
    std::memset(st.hdr + tessel_stats_shmem_hdr::drop_reasons, 0, TESSEL_PACKET_DROP_REASON_COUNT * 4);
    st32(st.hdr + tessel_stats_shmem_hdr::consistent, 1);
    return 0;
}

void tessel_stats_close()
{
    if (st.win == nullptr) {
        return;
    }
    TESSEL_ASSERT(ld64(st.hdr + tessel_stats_shmem_hdr::per_intf_stats + T_ROOT) == 0);
    stats_debug("%s: Closing shared memory window", stats_label());
    if (shmwin_close(st.win) != 0) {
        ptp_syslog_stats_db_error("closing shared memory window", "Failed to close shared memory window");
        stats_trace<PTP_TRACE_TESSEL_STATS_CLOSE_FAILED>();
    }
    st.win = nullptr;
    st.hdr = nullptr;
}

void tessel_stats_increment_packet_drop_reason(uint32_t reason, uint32_t amount)
{
    check_proto_thread();
    TESSEL_ASSERT(reason < TESSEL_PACKET_DROP_REASON_COUNT);
    if (st.hdr == nullptr) {
        return;
    }
    uint8_t *p = st.hdr + tessel_stats_shmem_hdr::drop_reasons + size_t{reason} * 4;
    st32(p, ld32(p) + amount);
}

void tessel_stats_clear_node_packet_counters()
{
    if (st.hdr == nullptr) {
        return;
    }
    change_guard g;
    std::memset(st.hdr + tessel_stats_shmem_hdr::node_block, 0, sizeof(tessel_packet_counters_type));
    std::memset(st.hdr + tessel_stats_shmem_hdr::drop_reasons, 0, TESSEL_PACKET_DROP_REASON_COUNT * 4);
}

const tessel_packet_counters_type *tessel_stats_get_node_packet_counters()
{
    return st.hdr == nullptr ? nullptr : block_at(st.hdr + tessel_stats_shmem_hdr::node_block);
}

const uint32_t *tessel_stats_get_node_drop_reasons()
{
    return st.hdr == nullptr ? nullptr
                             : reinterpret_cast<const uint32_t *>(st.hdr + tessel_stats_shmem_hdr::drop_reasons);
}

tessel_node_event_counters_type *tessel_stats_get_node_event_counters()
{
    return &st.node_events;
}

void tessel_stats_increment_node_event_counter(uint32_t type)
{
    TESSEL_ASSERT(type < TESSEL_NODE_EVENT_COUNT);
    st.node_events.node[type]++;
}

void tessel_stats_clear_node_event_counters()
{
    st.node_events = tessel_node_event_counters_type{};
}

void tessel_stats_increment_ipc_idb_event_counter(tessel_ipc_idb_type *idb, uint32_t type)
{
    TESSEL_ASSERT(!tessel_thread_ctrl_is_proto_thread() || tessel_thread_ctrl_is_ipc_thread_blocked());
    TESSEL_ASSERT(type < TESSEL_STATS_IPC_IDB_EVENT_COUNT);
    idb->event_counters[type]++;
    st.node_events.ipc_idb[type]++;
}

void tessel_stats_clear_ipc_idb_event_counters(tessel_ipc_idb_type *idb)
{
    std::memset(idb->event_counters, 0, sizeof(idb->event_counters));
}

// ---- Window entries ------------------------------------------------------------------------

tessel_stats_intf_entry_type *tessel_stats_intf_entry_find(ifhtype ifhandle)
{
    if (st.hdr == nullptr) {
        return nullptr;
    }
    uint64_t n = tree_find(intf_tree(), tree_key{cmp_kind::ifhandle, ifhandle, {}});
    return n == 0 ? nullptr : reinterpret_cast<tessel_stats_intf_entry_type *>(at(n));
}

zerrno tessel_stats_intf_entry_create(ifhtype ifhandle, tessel_stats_intf_entry_type **out_entry)
{
    *out_entry = nullptr;
    if (st.hdr == nullptr) {
        return ENXIO;
    }
    stats_debug("%s: Allocating shared memory", stats_label());
    void *mem = nullptr;
    zerrno rc = shmwin_malloc(st.win, TESSEL_STATS_INTF_ENTRY_SIZE, &mem);
    if (rc != 0) {
        return rc;
    }
    auto *e = static_cast<uint8_t *>(mem);
    std::memset(e, 0, TESSEL_STATS_INTF_ENTRY_SIZE);
    st32(e + I_IFHANDLE, ifhandle);
    {
        change_guard g;
        bool inserted = tree_insert(intf_tree(), off_of(e));
        TESSEL_ASSERT(inserted);
        tree_init(e + I_PEER_TREE, cmp_kind::peer);
        st32(e + I_PEER_TREE_INIT, 1);
    }
    *out_entry = reinterpret_cast<tessel_stats_intf_entry_type *>(e);
    return 0;
}

void tessel_stats_delete_peer_packet_counters(tessel_stats_intf_entry_type *entry)
{
    uint8_t *e = entry_bytes(entry);
    if (ld32(e + I_PEER_TREE_INIT) == 0) {
        return;
    }
    tessel_stats_check_delete_tree_entries(
        e + I_PEER_TREE, [](void *, void *) { return true; }, nullptr);
    change_guard g;
    std::memset(e + I_PEER_TREE, 0, 24);
    st32(e + I_PEER_TREE_INIT, 0);
}

void tessel_stats_intf_entry_delete(tessel_stats_intf_entry_type *entry)
{
    uint8_t *e = entry_bytes(entry);
    tessel_stats_delete_peer_packet_counters(entry);
    {
        change_guard g;
        uint64_t removed = tree_remove(intf_tree(), key_of(cmp_kind::ifhandle, off_of(e)));
        TESSEL_ASSERT(removed == off_of(e));
    }
    free_in_window(e, "freeing packet counters", "failed to free memory allocated to stats entry");
}

ifhtype tessel_stats_intf_entry_ifhandle(const tessel_stats_intf_entry_type *entry)
{
    return ld32(reinterpret_cast<const uint8_t *>(entry) + I_IFHANDLE);
}

tessel_packet_counters_type *tessel_stats_intf_entry_counters(tessel_stats_intf_entry_type *entry)
{
    return block_at(entry_bytes(entry) + I_BLOCK);
}

namespace {

uint8_t *peer_find(uint8_t *e, const ptp_address_type *peer)
{
    if (ld32(e + I_PEER_TREE_INIT) == 0) {
        return nullptr;
    }
    tree_key key{cmp_kind::peer, 0, *peer};
    uint64_t n = tree_find(tree_at(e + I_PEER_TREE, cmp_kind::peer), key);
    return n == 0 ? nullptr : at(n);
}

uint8_t *peer_create(uint8_t *e, const ptp_address_type *peer)
{
    stats_debug("%s: Allocating shared memory", stats_label());
    void *mem = nullptr;
    if (shmwin_malloc(st.win, TESSEL_STATS_PEER_ENTRY_SIZE, &mem) != 0) {
        ptp_syslog_stats_db_error("creating peer entry", "Failed to allocate shared memory");
        stats_trace<PTP_TRACE_TESSEL_STATS_PEER_CREATE_FAILED>();
        return nullptr;
    }
    auto *p = static_cast<uint8_t *>(mem);
    std::memset(p, 0, TESSEL_STATS_PEER_ENTRY_SIZE);
    st32(p + tessel_stats_per_peer_type::address, peer->encap);
    std::memcpy(p + tessel_stats_per_peer_type::address + 4, peer->value, PTP_ADDRESS_VALUE_LEN);
    change_guard g;
    bool inserted = tree_insert(tree_at(e + I_PEER_TREE, cmp_kind::peer), off_of(p));
    TESSEL_ASSERT(inserted);
    return p;
}

void add(uint32_t *counter, uint32_t amount)
{
    *counter += amount;
}

} // namespace

void tessel_stats_intf_entry_count_packet(tessel_stats_intf_entry_type *entry, const ptp_address_type *peer,
                                          uint32_t counter_class, uint32_t direction, uint32_t amount)
{
    TESSEL_ASSERT(counter_class < TESSEL_PACKET_COUNTER_CLASS_COUNT && "Unknown packet counter type");
    TESSEL_ASSERT(direction == TESSEL_PACKET_SENT || direction == TESSEL_PACKET_RECEIVED);
    uint8_t *e = entry_bytes(entry);
    if (ld32(e + I_PEER_TREE_INIT) == 0) {
        change_guard g;
        tree_init(e + I_PEER_TREE, cmp_kind::peer);
        st32(e + I_PEER_TREE_INIT, 1);
    }
    uint8_t *p = peer_find(e, peer);
    if (p == nullptr) {
        p = peer_create(e, peer);
        if (p == nullptr) {
            return;
        }
    }
    for (tessel_packet_counters_type *b : {block_at(e + I_BLOCK), block_at(st.hdr + tessel_stats_shmem_hdr::node_block),
                                           block_at(p + tessel_stats_per_peer_type::block)}) {
        add(direction == TESSEL_PACKET_SENT ? &b->sent[counter_class] : &b->received[counter_class], amount);
    }
}

void tessel_stats_intf_entry_count_drop(tessel_stats_intf_entry_type *entry, uint32_t counter_class, uint32_t amount)
{
    TESSEL_ASSERT(counter_class < TESSEL_PACKET_COUNTER_CLASS_COUNT && "Unknown packet counter type");
    add(&block_at(entry_bytes(entry) + I_BLOCK)->dropped[counter_class], amount);
    add(&block_at(st.hdr + tessel_stats_shmem_hdr::node_block)->dropped[counter_class], amount);
}

tessel_packet_counters_type *tessel_stats_peer_counters(tessel_stats_intf_entry_type *entry,
                                                        const ptp_address_type *peer)
{
    uint8_t *p = peer_find(entry_bytes(entry), peer);
    return p == nullptr ? nullptr : block_at(p + tessel_stats_per_peer_type::block);
}

uint32_t tessel_stats_peer_count(tessel_stats_intf_entry_type *entry)
{
    uint8_t *e = entry_bytes(entry);
    if (ld32(e + I_PEER_TREE_INIT) == 0) {
        return 0;
    }
    uint32_t count = 0;
    tree_for_each(tree_at(e + I_PEER_TREE, cmp_kind::peer), [&count](uint64_t) {
        count++;
        return true;
    });
    return count;
}

void tessel_stats_peer_walk(tessel_stats_intf_entry_type *entry, tessel_stats_peer_walk_fn fn, void *context)
{
    uint8_t *e = entry_bytes(entry);
    if (ld32(e + I_PEER_TREE_INIT) == 0) {
        return;
    }
    tree_for_each(tree_at(e + I_PEER_TREE, cmp_kind::peer), [&](uint64_t n) {
        const ptp_address_type a = peer_address(at(n));
        return fn(&a, block_at(at(n) + tessel_stats_per_peer_type::block), context);
    });
}

void tessel_stats_intf_entry_clear(tessel_stats_intf_entry_type *entry, tessel_stats_keep_peer_fn keep, void *context)
{
    uint8_t *e = entry_bytes(entry);
    if (ld32(e + I_PEER_TREE_INIT) != 0) {
        struct keep_ctx {
            tessel_stats_keep_peer_fn keep;
            void *context;
        } ctx{keep, context};
        {
            change_guard g;
            tree_for_each(tree_at(e + I_PEER_TREE, cmp_kind::peer), [](uint64_t n) {
                std::memset(at(n) + tessel_stats_per_peer_type::block, 0, sizeof(tessel_packet_counters_type));
                return true;
            });
        }
        tessel_stats_check_delete_tree_entries(
            e + I_PEER_TREE,
            [](void *element, void *c) {
                auto *k = static_cast<keep_ctx *>(c);
                ptp_address_type a = peer_address(static_cast<uint8_t *>(element));
                return !k->keep(&a, k->context);
            },
            &ctx);
    }
    change_guard g;
    std::memset(e + I_BLOCK, 0, sizeof(tessel_packet_counters_type));
}

void tessel_stats_intf_entry_walk(tessel_stats_intf_entry_walk_fn fn, void *context)
{
    if (st.hdr == nullptr) {
        return;
    }
    // From key to key, so that fn may delete the entry it is given.
    tree_for_each(intf_tree(), [fn, context](uint64_t n) {
        return fn(reinterpret_cast<tessel_stats_intf_entry_type *>(at(n)), context);
    });
}

void tessel_stats_recovery_begin()
{
    st.recovering = false;
    if (st.hdr != nullptr) {
        st32(st.hdr + tessel_stats_shmem_hdr::consistent, 0);
    }
    st.recovering = true;
}

void tessel_stats_recovery_end()
{
    st.recovering = false;
    if (st.hdr != nullptr) {
        st32(st.hdr + tessel_stats_shmem_hdr::consistent, 1);
    }
}

void tessel_stats_intf_entry_reattach(tessel_stats_intf_entry_type *entry)
{
    uint8_t *e = entry_bytes(entry);
    if (ld32(e + I_PEER_TREE_INIT) != 0) {
        st64(e + I_PEER_TREE + T_COMPARE, attachment(cmp_kind::peer));
    }
}

void tessel_stats_check_delete_tree_entries(void *tree, tessel_stats_delete_tree_walker_type walker, void *context)
{
    auto *field = static_cast<uint8_t *>(tree);
    cmp_kind kind = field == st.hdr + tessel_stats_shmem_hdr::per_intf_stats ? cmp_kind::ifhandle : cmp_kind::peer;
    wtree t = tree_at(field, kind);
    // The "delete_elem" list: the entries to delete, collected first so that the tree is not
    // changed under the walk. An entry whose list element cannot be had stays.
    struct delete_elem {
        delete_elem *next;
        uint64_t node;
    };
    delete_elem *head = nullptr;
    delete_elem **tail = &head;
    tree_for_each(t, [&](uint64_t n) {
        if (walker(at(n), context)) {
            auto *elem = static_cast<delete_elem *>(tessel_calloc(1, sizeof(delete_elem)));
            if (elem == nullptr) {
                ptp_alloc_failure_report(sizeof(delete_elem), "delete_elem");
                return true;
            }
            elem->node = n;
            *tail = elem;
            tail = &elem->next;
        }
        return true;
    });
    while (head != nullptr) {
        delete_elem *elem = head;
        head = elem->next;
        uint64_t n = elem->node;
        tessel_free(elem);
        {
            change_guard g;
            uint64_t removed = tree_remove(t, key_of(kind, n));
            TESSEL_ASSERT(removed == n);
        }
        free_in_window(at(n), "freeing entry from stats database", "Failed to free memory during delete walk");
    }
}
