// The database service's messages on the daemon's socket, and their byte form: big-endian
// numbers, texts and byte strings as a u32 length and the bytes. Every read is checked against
// what the payload holds; a short payload fails the whole message.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

inline constexpr uint16_t NODRA_SERVICE_ID = 1;

enum nodra_msg : uint16_t {
    // requests, client to server
    NODRA_MSG_LIST = 1,          // path, pattern -> names
    NODRA_MSG_ITEM_GET = 2,      // path -> type, value
    NODRA_MSG_DATALIST = 3,      // path, pattern -> entries (name, type, value)
    NODRA_MSG_ITEM_SET = 4,      // path, type, value
    NODRA_MSG_COMMIT = 5,        // operations -> sequence, outcome, failures, warnings
    NODRA_MSG_SHOW = 6,          // prefix -> items
    NODRA_MSG_REGISTER = 7,      // registration -> id, replayed items
    NODRA_MSG_UNREGISTER = 8,    // id
    NODRA_MSG_BATCH_FOLLOWS = 9, // sequence -> follows
    NODRA_MSG_GENERATE = 10,     // binding, records
    NODRA_MSG_TEST_SET = 11,     // path, type, value (stored without a commit)
    NODRA_MSG_TEST_REMOVE = 12,  // path (a subtree when it ends with "/")
    NODRA_MSG_TEST_RESET = 13,
    NODRA_MSG_COMMIT_STATUS = 14, // sequence -> sequence, outcome, failures, warnings
    // sends, client to server
    NODRA_MSG_VERIFY_DONE = 20,   // sequence, batch, failures
    NODRA_MSG_APPLY_DONE = 21,    // sequence, batch, pending, warnings
    NODRA_MSG_EDM_DONE = 22,      // request id, status, answer
    NODRA_MSG_APPLY_RESUMED = 23, // sequence, batch, warnings: a parked apply batch completed
    // notices, server to client
    NODRA_MSG_VERIFY_BATCH = 30,
    NODRA_MSG_APPLY_BATCH = 31,
    NODRA_MSG_NOTIFY_BATCH = 32,
    NODRA_MSG_ABORT = 33,
    NODRA_MSG_EDM_REQUEST = 34,
};

enum nodra_reg_kind : uint32_t {
    NODRA_REG_NOTIFY = 1,
    NODRA_REG_VERIFY = 2,
    NODRA_REG_EDM = 3,
};

enum nodra_edm_op : uint32_t {
    NODRA_EDM_OP_GET = 1,
    NODRA_EDM_OP_LIST = 2,
    NODRA_EDM_OP_DATALIST = 3,
    NODRA_EDM_OP_SET = 4,
};

// Commit outcomes.
enum nodra_commit_outcome : uint32_t {
    NODRA_COMMIT_APPLIED = 0,
    NODRA_COMMIT_PENDING = 1, // applied, an apply completes later
    NODRA_COMMIT_REJECTED = 2,
};

struct nodra_wire_writer {
    std::vector<uint8_t> out;
    void u8(uint8_t v) { out.push_back(v); }
    void u32(uint32_t v)
    {
        for (int s = 24; s >= 0; s -= 8)
            out.push_back(static_cast<uint8_t>(v >> s));
    }
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void bytes(const void *data, uint32_t len)
    {
        u32(len);
        if (len > 0)
            out.insert(out.end(), static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + len);
    }
    void str(std::string_view s) { bytes(s.data(), static_cast<uint32_t>(s.size())); }
};

struct nodra_wire_reader {
    const uint8_t *p;
    uint32_t left;
    bool ok = true;
    nodra_wire_reader(const uint8_t *data, uint32_t len) : p(data), left(len) {}
    bool take(uint32_t n)
    {
        if (!ok || left < n) {
            ok = false;
            return false;
        }
        return true;
    }
    uint8_t u8()
    {
        if (!take(1))
            return 0;
        left -= 1;
        return *p++;
    }
    uint32_t u32()
    {
        if (!take(4))
            return 0;
        const uint32_t v = static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
                           static_cast<uint32_t>(p[2]) << 8 | p[3];
        p += 4;
        left -= 4;
        return v;
    }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    // A byte string; its bytes stay in the payload.
    std::string_view bytes()
    {
        const uint32_t n = u32();
        if (!take(n))
            return {};
        std::string_view v(reinterpret_cast<const char *>(p), n);
        p += n;
        left -= n;
        return v;
    }
    std::string str() { return std::string(bytes()); }
    // A count of records that each take at least min_size bytes: never more than the payload holds.
    uint32_t count(uint32_t min_size)
    {
        const uint32_t n = u32();
        if (ok && min_size > 0 && n > left / min_size)
            ok = false;
        return ok ? n : 0;
    }
    bool done() const { return ok && left == 0; }
};

// One item of a batch or a listing.
struct nodra_wire_item {
    std::string path;
    uint32_t event = 0;
    uint32_t type = 0;
    bool has_old = false;
    std::string old_value;
    bool has_new = false;
    std::string new_value;
};

inline void nodra_wire_put_item(nodra_wire_writer &w, const nodra_wire_item &item)
{
    w.str(item.path);
    w.u32(item.event);
    w.u32(item.type);
    w.u8(item.has_old ? 1 : 0);
    w.str(item.old_value);
    w.u8(item.has_new ? 1 : 0);
    w.str(item.new_value);
}

inline nodra_wire_item nodra_wire_get_item(nodra_wire_reader &r)
{
    nodra_wire_item item;
    item.path = r.str();
    item.event = r.u32();
    item.type = r.u32();
    item.has_old = r.u8() != 0;
    item.old_value = r.str();
    item.has_new = r.u8() != 0;
    item.new_value = r.str();
    return item;
}

// Smallest byte size of an item on the wire.
inline constexpr uint32_t NODRA_WIRE_ITEM_MIN = 4 + 4 + 4 + 1 + 4 + 1 + 4;
