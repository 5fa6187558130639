// The checkpoint records' codec: one pack, unpack and free per message type, written out field
// by field. Stored bytes are never trusted: every varint and length is read only as far as the
// input goes, and every length is checked against what remains before it is used.
#include "zidl_tessel_gpb.h"

namespace {

constexpr uint32_t WIRE_VARINT = 0;
constexpr uint32_t WIRE_FIXED64 = 1;
constexpr uint32_t WIRE_LENGTH = 2;
constexpr uint32_t WIRE_FIXED32 = 5;

// ---- Pack ----------------------------------------------------------------------------------------

// Writes the fields of one message in the order they are given; with no buffer it only counts.
struct writer {
    uint8_t *buffer;
    size_t capacity;
    uint32_t present;
    size_t pos = 0;

    void byte(uint8_t b)
    {
        if (buffer != nullptr && pos < capacity) {
            buffer[pos] = b;
        }
        pos++;
    }
    void varint(uint64_t value)
    {
        while (value >= 0x80) {
            byte(static_cast<uint8_t>(value | 0x80));
            value >>= 7;
        }
        byte(static_cast<uint8_t>(value));
    }
    bool has(unsigned field) const { return (present & zidl_tessel_gpb_bit(field)) != 0; }
    void tag(unsigned field, uint32_t wire) { varint(uint32_t{field} << 3 | wire); }

    void u32(unsigned field, uint32_t value)
    {
        if (has(field)) {
            tag(field, WIRE_VARINT);
            varint(value);
        }
    }
    void u64(unsigned field, uint64_t value)
    {
        if (has(field)) {
            tag(field, WIRE_VARINT);
            varint(value);
        }
    }
    void boolean(unsigned field, uint8_t value)
    {
        if (has(field)) {
            tag(field, WIRE_VARINT);
            byte(value);
        }
    }
    void bytes(unsigned field, const zidl_tessel_gpb_bytes &value)
    {
        if (!has(field)) {
            return;
        }
        tag(field, WIRE_LENGTH);
        varint(static_cast<uint32_t>(value.len));
        // A payload is written whole or not at all.
        if (buffer != nullptr && value.len != 0 && pos <= capacity && value.len <= capacity - pos) {
            std::memcpy(buffer + pos, value.data, static_cast<size_t>(value.len));
        }
        pos += static_cast<size_t>(value.len);
    }
    // An absent sub-message with nothing in it is left out; a present one is written even empty.
    template <typename M>
    void message(unsigned field, const M &value, size_t (*pack)(const M *, uint8_t *, size_t))
    {
        const size_t size = pack(&value, nullptr, 0);
        if (size == 0 && !has(field)) {
            return;
        }
        tag(field, WIRE_LENGTH);
        varint(static_cast<uint32_t>(size));
        if (buffer != nullptr && pos < capacity) {
            pack(&value, buffer + pos, capacity - pos);
        }
        pos += size;
    }
};

// ---- Unpack --------------------------------------------------------------------------------------

// Whether a decoded sub-message holds blocks that replacing it would lose.
template <typename M>
bool holds_blocks(const M &)
{
    return false;
}
bool holds_blocks(const zidl_tessel_gpb_address &m)
{
    return m.address.data != nullptr;
}
bool holds_blocks(const zidl_tessel_gpb_source_ip &m)
{
    return m.ip_address.data != nullptr;
}
bool holds_blocks(const zidl_tessel_gpb_source_ipv6 &m)
{
    return m.ip_address.data != nullptr;
}
bool holds_blocks(const zidl_tessel_gpb_foreign_master &m)
{
    return holds_blocks(m.address) || holds_blocks(m.second_address);
}
bool holds_blocks(const zidl_tessel_gpb_config &m)
{
    return holds_blocks(m.source_ip) || holds_blocks(m.source_ipv6) || holds_blocks(m.multicast_address);
}

// Reads the fields of one message from bytes[0, length).
struct reader {
    const uint8_t *in;
    size_t length;
    zidl_tessel_gpb_alloc_fn alloc;
    void *context;
    size_t pos = 0;

    // One varint: ten bytes give bits 0 to 63 and any continuation bytes after them are skipped;
    // false when the input ends first. A 32-bit value is its low 32 bits.
    bool varint(uint64_t *value)
    {
        uint64_t v = 0;
        for (size_t n = 0; pos < length; n++) {
            const uint8_t b = in[pos++];
            if (n < 10) {
                v |= uint64_t{b & 0x7Fu} << (7 * n);
            }
            if ((b & 0x80) == 0) {
                *value = v;
                return true;
            }
        }
        return false;
    }
    // A 32-bit length that must fit in what remains.
    bool length_prefix(size_t *count)
    {
        uint64_t v = 0;
        if (!varint(&v)) {
            return false;
        }
        const size_t n = static_cast<uint32_t>(v);
        if (n > length - pos) {
            return false;
        }
        *count = n;
        return true;
    }
    int advance(size_t n)
    {
        if (n > length - pos) {
            return ZIDL_TESSEL_GPB_TRUNCATED;
        }
        pos += n;
        return ZIDL_TESSEL_GPB_OK;
    }

    template <typename Field>
    int run(Field field)
    {
        if (length != 0 && in == nullptr) {
            return ZIDL_TESSEL_GPB_TRUNCATED;
        }
        while (pos < length) {
            uint64_t tag = 0;
            if (!varint(&tag)) {
                return ZIDL_TESSEL_GPB_TRUNCATED;
            }
            const auto t = static_cast<uint32_t>(tag);
            const int rc = field(t >> 3, t & 7);
            if (rc != ZIDL_TESSEL_GPB_OK) {
                return rc;
            }
        }
        return ZIDL_TESSEL_GPB_OK;
    }

    // A field number the message does not know: its value is skipped.
    int skip(uint32_t wire)
    {
        uint64_t v = 0;
        size_t n = 0;
        switch (wire) {
        case WIRE_VARINT: return varint(&v) ? ZIDL_TESSEL_GPB_OK : ZIDL_TESSEL_GPB_TRUNCATED;
        case WIRE_FIXED64: return advance(8);
        case WIRE_LENGTH: return length_prefix(&n) ? advance(n) : ZIDL_TESSEL_GPB_TRUNCATED;
        case WIRE_FIXED32: return advance(4);
        default: return ZIDL_TESSEL_GPB_BAD_UNKNOWN_WIRE_TYPE;
        }
    }

    int scalar(uint32_t wire, uint64_t *value)
    {
        if (wire != WIRE_VARINT) {
            return ZIDL_TESSEL_GPB_BAD_WIRE_TYPE;
        }
        return varint(value) ? ZIDL_TESSEL_GPB_OK : ZIDL_TESSEL_GPB_TRUNCATED;
    }
    int u32(uint32_t wire, unsigned field, uint32_t *value, uint32_t *present)
    {
        uint64_t v = 0;
        const int rc = scalar(wire, &v);
        if (rc == ZIDL_TESSEL_GPB_OK) {
            *value = static_cast<uint32_t>(v);
            *present |= zidl_tessel_gpb_bit(field);
        }
        return rc;
    }
    int u64(uint32_t wire, unsigned field, uint64_t *value, uint32_t *present)
    {
        uint64_t v = 0;
        const int rc = scalar(wire, &v);
        if (rc == ZIDL_TESSEL_GPB_OK) {
            *value = v;
            *present |= zidl_tessel_gpb_bit(field);
        }
        return rc;
    }
    int boolean(uint32_t wire, unsigned field, uint8_t *value, uint32_t *present)
    {
        uint64_t v = 0;
        const int rc = scalar(wire, &v);
        if (rc == ZIDL_TESSEL_GPB_OK) {
            *value = static_cast<uint32_t>(v) != 0 ? 1 : 0;
            *present |= zidl_tessel_gpb_bit(field);
        }
        return rc;
    }
    int bytes(uint32_t wire, unsigned field, zidl_tessel_gpb_bytes *value, uint32_t *present)
    {
        if (wire != WIRE_LENGTH) {
            return ZIDL_TESSEL_GPB_BAD_WIRE_TYPE;
        }
        // A second block would leak the first.
        if (value->data != nullptr) {
            return ZIDL_TESSEL_GPB_TRUNCATED;
        }
        if (alloc == nullptr) {
            return ZIDL_TESSEL_GPB_NO_MEMORY;
        }
        size_t n = 0;
        if (!length_prefix(&n)) {
            return ZIDL_TESSEL_GPB_TRUNCATED;
        }
        auto *block = static_cast<uint8_t *>(alloc(n, context));
        if (block == nullptr) {
            return ZIDL_TESSEL_GPB_NO_MEMORY;
        }
        if (n != 0) {
            std::memcpy(block, in + pos, n);
        }
        pos += n;
        value->data = block;
        value->len = n;
        *present |= zidl_tessel_gpb_bit(field);
        return ZIDL_TESSEL_GPB_OK;
    }

    // The last occurrence of a sub-message wins, unless the earlier one holds blocks: replacing it
    // would lose them, so that is refused as a repeated bytes field is.
    template <typename M, typename Unpack>
    int sub(uint32_t wire, unsigned field, M *value, uint32_t *present, Unpack unpack)
    {
        if (wire != WIRE_LENGTH) {
            return ZIDL_TESSEL_GPB_BAD_WIRE_TYPE;
        }
        size_t n = 0;
        if (!length_prefix(&n)) {
            return ZIDL_TESSEL_GPB_TRUNCATED;
        }
        if (holds_blocks(*value)) {
            return ZIDL_TESSEL_GPB_TRUNCATED;
        }
        const int rc = unpack(value, in + pos, n);
        pos += n;
        if (rc == ZIDL_TESSEL_GPB_OK) {
            *present |= zidl_tessel_gpb_bit(field);
        }
        return rc;
    }
    template <typename M>
    int message(uint32_t wire, unsigned field, M *value, uint32_t *present,
                int (*unpack)(M *, const uint8_t *, size_t, zidl_tessel_gpb_alloc_fn, void *))
    {
        return sub(wire, field, value, present,
                   [&](M *m, const uint8_t *b, size_t l) { return unpack(m, b, l, alloc, context); });
    }
    template <typename M>
    int message(uint32_t wire, unsigned field, M *value, uint32_t *present, int (*unpack)(M *, const uint8_t *, size_t))
    {
        return sub(wire, field, value, present, unpack);
    }
};

// ---- Free ----------------------------------------------------------------------------------------

void release(zidl_tessel_gpb_bytes *value, zidl_tessel_gpb_free_fn free_fn, void *context, uint32_t flags)
{
    if ((flags & ZIDL_TESSEL_GPB_FREE_BORROWED) != 0) {
        return;
    }
    if (value->data != nullptr) {
        free_fn(value->data, context);
    }
    value->data = nullptr;
    value->len = 0;
}

} // namespace

// ---- zidl_tessel_gpb_utc_offset ------------------------------------------------------------------

size_t zidl_tessel_gpb_utc_offset_pack(const zidl_tessel_gpb_utc_offset *message, uint8_t *buffer, size_t capacity)
{
    writer w{buffer, capacity, message->present};
    w.u32(1, message->current_offset);
    w.boolean(2, message->offset_valid);
    return w.pos;
}

int zidl_tessel_gpb_utc_offset_unpack(zidl_tessel_gpb_utc_offset *message, const uint8_t *bytes, size_t length)
{
    *message = {};
    reader r{bytes, length, nullptr, nullptr};
    zidl_tessel_gpb_utc_offset *m = message;
    return r.run([&](uint32_t field, uint32_t wire) {
        switch (field) {
        case 1: return r.u32(wire, field, &m->current_offset, &m->present);
        case 2: return r.boolean(wire, field, &m->offset_valid, &m->present);
        default: return r.skip(wire);
        }
    });
}

void zidl_tessel_gpb_utc_offset_free(zidl_tessel_gpb_utc_offset *, zidl_tessel_gpb_free_fn, void *, uint32_t) {}

// ---- zidl_tessel_gpb_traceable -------------------------------------------------------------------

size_t zidl_tessel_gpb_traceable_pack(const zidl_tessel_gpb_traceable *message, uint8_t *buffer, size_t capacity)
{
    writer w{buffer, capacity, message->present};
    w.boolean(1, message->frequency_traceable);
    w.boolean(2, message->time_traceable);
    return w.pos;
}

int zidl_tessel_gpb_traceable_unpack(zidl_tessel_gpb_traceable *message, const uint8_t *bytes, size_t length)
{
    *message = {};
    reader r{bytes, length, nullptr, nullptr};
    zidl_tessel_gpb_traceable *m = message;
    return r.run([&](uint32_t field, uint32_t wire) {
        switch (field) {
        case 1: return r.boolean(wire, field, &m->frequency_traceable, &m->present);
        case 2: return r.boolean(wire, field, &m->time_traceable, &m->present);
        default: return r.skip(wire);
        }
    });
}

void zidl_tessel_gpb_traceable_free(zidl_tessel_gpb_traceable *, zidl_tessel_gpb_free_fn, void *, uint32_t) {}

// ---- zidl_tessel_gpb_port_id ---------------------------------------------------------------------

size_t zidl_tessel_gpb_port_id_pack(const zidl_tessel_gpb_port_id *message, uint8_t *buffer, size_t capacity)
{
    writer w{buffer, capacity, message->present};
    w.u64(1, message->clock_id);
    w.u32(2, message->port_num);
    return w.pos;
}

int zidl_tessel_gpb_port_id_unpack(zidl_tessel_gpb_port_id *message, const uint8_t *bytes, size_t length)
{
    *message = {};
    reader r{bytes, length, nullptr, nullptr};
    zidl_tessel_gpb_port_id *m = message;
    return r.run([&](uint32_t field, uint32_t wire) {
        switch (field) {
        case 1: return r.u64(wire, field, &m->clock_id, &m->present);
        case 2: return r.u32(wire, field, &m->port_num, &m->present);
        default: return r.skip(wire);
        }
    });
}

void zidl_tessel_gpb_port_id_free(zidl_tessel_gpb_port_id *, zidl_tessel_gpb_free_fn, void *, uint32_t) {}

// ---- zidl_tessel_gpb_local_clock -----------------------------------------------------------------

size_t zidl_tessel_gpb_local_clock_pack(const zidl_tessel_gpb_local_clock *message, uint8_t *buffer, size_t capacity)
{
    writer w{buffer, capacity, message->present};
    w.u64(1, message->clock_id);
    w.u32(2, message->domain);
    return w.pos;
}

int zidl_tessel_gpb_local_clock_unpack(zidl_tessel_gpb_local_clock *message, const uint8_t *bytes, size_t length)
{
    *message = {};
    reader r{bytes, length, nullptr, nullptr};
    zidl_tessel_gpb_local_clock *m = message;
    return r.run([&](uint32_t field, uint32_t wire) {
        switch (field) {
        case 1: return r.u64(wire, field, &m->clock_id, &m->present);
        case 2: return r.u32(wire, field, &m->domain, &m->present);
        default: return r.skip(wire);
        }
    });
}

void zidl_tessel_gpb_local_clock_free(zidl_tessel_gpb_local_clock *, zidl_tessel_gpb_free_fn, void *, uint32_t) {}

// ---- zidl_tessel_gpb_address ---------------------------------------------------------------------

size_t zidl_tessel_gpb_address_pack(const zidl_tessel_gpb_address *message, uint8_t *buffer, size_t capacity)
{
    writer w{buffer, capacity, message->present};
    w.u32(1, message->address_type);
    w.bytes(2, message->address);
    return w.pos;
}

int zidl_tessel_gpb_address_unpack(zidl_tessel_gpb_address *message, const uint8_t *bytes, size_t length,
                                   zidl_tessel_gpb_alloc_fn alloc, void *context)
{
    *message = {};
    reader r{bytes, length, alloc, context};
    zidl_tessel_gpb_address *m = message;
    return r.run([&](uint32_t field, uint32_t wire) {
        switch (field) {
        case 1: return r.u32(wire, field, &m->address_type, &m->present);
        case 2: return r.bytes(wire, field, &m->address, &m->present);
        default: return r.skip(wire);
        }
    });
}

void zidl_tessel_gpb_address_free(zidl_tessel_gpb_address *message, zidl_tessel_gpb_free_fn free_fn, void *context,
                                  uint32_t flags)
{
    release(&message->address, free_fn, context, flags);
}

// ---- zidl_tessel_gpb_source_ip -------------------------------------------------------------------

size_t zidl_tessel_gpb_source_ip_pack(const zidl_tessel_gpb_source_ip *message, uint8_t *buffer, size_t capacity)
{
    writer w{buffer, capacity, message->present};
    w.boolean(1, message->enable);
    w.bytes(2, message->ip_address);
    return w.pos;
}

int zidl_tessel_gpb_source_ip_unpack(zidl_tessel_gpb_source_ip *message, const uint8_t *bytes, size_t length,
                                     zidl_tessel_gpb_alloc_fn alloc, void *context)
{
    *message = {};
    reader r{bytes, length, alloc, context};
    zidl_tessel_gpb_source_ip *m = message;
    return r.run([&](uint32_t field, uint32_t wire) {
        switch (field) {
        case 1: return r.boolean(wire, field, &m->enable, &m->present);
        case 2: return r.bytes(wire, field, &m->ip_address, &m->present);
        default: return r.skip(wire);
        }
    });
}

void zidl_tessel_gpb_source_ip_free(zidl_tessel_gpb_source_ip *message, zidl_tessel_gpb_free_fn free_fn, void *context,
                                    uint32_t flags)
{
    release(&message->ip_address, free_fn, context, flags);
}

// ---- zidl_tessel_gpb_source_ipv6 -----------------------------------------------------------------

size_t zidl_tessel_gpb_source_ipv6_pack(const zidl_tessel_gpb_source_ipv6 *message, uint8_t *buffer, size_t capacity)
{
    writer w{buffer, capacity, message->present};
    w.boolean(1, message->enable);
    w.bytes(2, message->ip_address);
    return w.pos;
}

int zidl_tessel_gpb_source_ipv6_unpack(zidl_tessel_gpb_source_ipv6 *message, const uint8_t *bytes, size_t length,
                                       zidl_tessel_gpb_alloc_fn alloc, void *context)
{
    *message = {};
    reader r{bytes, length, alloc, context};
    zidl_tessel_gpb_source_ipv6 *m = message;
    return r.run([&](uint32_t field, uint32_t wire) {
        switch (field) {
        case 1: return r.boolean(wire, field, &m->enable, &m->present);
        case 2: return r.bytes(wire, field, &m->ip_address, &m->present);
        default: return r.skip(wire);
        }
    });
}

void zidl_tessel_gpb_source_ipv6_free(zidl_tessel_gpb_source_ipv6 *message, zidl_tessel_gpb_free_fn free_fn,
                                      void *context, uint32_t flags)
{
    release(&message->ip_address, free_fn, context, flags);
}

// ---- zidl_tessel_gpb_clock_operation -------------------------------------------------------------

size_t zidl_tessel_gpb_clock_operation_pack(const zidl_tessel_gpb_clock_operation *message, uint8_t *buffer,
                                            size_t capacity)
{
    writer w{buffer, capacity, message->present};
    w.boolean(1, message->one_step);
    return w.pos;
}

int zidl_tessel_gpb_clock_operation_unpack(zidl_tessel_gpb_clock_operation *message, const uint8_t *bytes,
                                           size_t length)
{
    *message = {};
    reader r{bytes, length, nullptr, nullptr};
    zidl_tessel_gpb_clock_operation *m = message;
    return r.run([&](uint32_t field, uint32_t wire) {
        switch (field) {
        case 1: return r.boolean(wire, field, &m->one_step, &m->present);
        default: return r.skip(wire);
        }
    });
}

void zidl_tessel_gpb_clock_operation_free(zidl_tessel_gpb_clock_operation *, zidl_tessel_gpb_free_fn, void *, uint32_t)
{
}

// ---- zidl_tessel_gpb_clock -----------------------------------------------------------------------

size_t zidl_tessel_gpb_clock_pack(const zidl_tessel_gpb_clock *message, uint8_t *buffer, size_t capacity)
{
    writer w{buffer, capacity, message->present};
    w.u64(1, message->clock_id);
    w.u32(2, message->priority1);
    w.u32(3, message->clock_class);
    w.u32(4, message->accuracy);
    w.u32(5, message->offset_log_variance);
    w.u32(6, message->priority2);
    w.u32(7, message->steps_removed);
    w.u32(8, message->time_source);
    w.message(9, message->utc_offset, zidl_tessel_gpb_utc_offset_pack);
    w.message(10, message->traceable, zidl_tessel_gpb_traceable_pack);
    w.u32(11, message->timescale);
    w.u32(12, message->leap_seconds);
    w.message(13, message->sender, zidl_tessel_gpb_port_id_pack);
    w.message(14, message->receiver, zidl_tessel_gpb_port_id_pack);
    w.boolean(15, message->local);
    w.u32(16, message->configured_clock_class);
    w.u32(17, message->configured_priority);
    return w.pos;
}

int zidl_tessel_gpb_clock_unpack(zidl_tessel_gpb_clock *message, const uint8_t *bytes, size_t length)
{
    *message = {};
    reader r{bytes, length, nullptr, nullptr};
    zidl_tessel_gpb_clock *m = message;
    uint32_t *p = &m->present;
    return r.run([&](uint32_t field, uint32_t wire) {
        switch (field) {
        case 1: return r.u64(wire, field, &m->clock_id, p);
        case 2: return r.u32(wire, field, &m->priority1, p);
        case 3: return r.u32(wire, field, &m->clock_class, p);
        case 4: return r.u32(wire, field, &m->accuracy, p);
        case 5: return r.u32(wire, field, &m->offset_log_variance, p);
        case 6: return r.u32(wire, field, &m->priority2, p);
        case 7: return r.u32(wire, field, &m->steps_removed, p);
        case 8: return r.u32(wire, field, &m->time_source, p);
        case 9: return r.message(wire, field, &m->utc_offset, p, zidl_tessel_gpb_utc_offset_unpack);
        case 10: return r.message(wire, field, &m->traceable, p, zidl_tessel_gpb_traceable_unpack);
        case 11: return r.u32(wire, field, &m->timescale, p);
        case 12: return r.u32(wire, field, &m->leap_seconds, p);
        case 13: return r.message(wire, field, &m->sender, p, zidl_tessel_gpb_port_id_unpack);
        case 14: return r.message(wire, field, &m->receiver, p, zidl_tessel_gpb_port_id_unpack);
        case 15: return r.boolean(wire, field, &m->local, p);
        case 16: return r.u32(wire, field, &m->configured_clock_class, p);
        case 17: return r.u32(wire, field, &m->configured_priority, p);
        default: return r.skip(wire);
        }
    });
}

void zidl_tessel_gpb_clock_free(zidl_tessel_gpb_clock *, zidl_tessel_gpb_free_fn, void *, uint32_t) {}

// ---- zidl_tessel_gpb_foreign_master --------------------------------------------------------------

size_t zidl_tessel_gpb_foreign_master_pack(const zidl_tessel_gpb_foreign_master *message, uint8_t *buffer,
                                           size_t capacity)
{
    writer w{buffer, capacity, message->present};
    w.message(1, message->address, zidl_tessel_gpb_address_pack);
    w.message(2, message->second_address, zidl_tessel_gpb_address_pack);
    w.message(3, message->clock, zidl_tessel_gpb_clock_pack);
    w.u32(4, message->master_word_1);
    w.u32(5, message->configured_priority);
    w.u32(6, message->master_word_3);
    w.boolean(7, message->priority_configured);
    w.u32(8, message->configured_clock_class);
    w.boolean(9, message->clock_class_configured);
    w.boolean(10, message->master_state_flag);
    w.boolean(11, message->in_master_table);
    return w.pos;
}

int zidl_tessel_gpb_foreign_master_unpack(zidl_tessel_gpb_foreign_master *message, const uint8_t *bytes, size_t length,
                                          zidl_tessel_gpb_alloc_fn alloc, void *context)
{
    *message = {};
    reader r{bytes, length, alloc, context};
    zidl_tessel_gpb_foreign_master *m = message;
    uint32_t *p = &m->present;
    return r.run([&](uint32_t field, uint32_t wire) {
        switch (field) {
        case 1: return r.message(wire, field, &m->address, p, zidl_tessel_gpb_address_unpack);
        case 2: return r.message(wire, field, &m->second_address, p, zidl_tessel_gpb_address_unpack);
        case 3: return r.message(wire, field, &m->clock, p, zidl_tessel_gpb_clock_unpack);
        case 4: return r.u32(wire, field, &m->master_word_1, p);
        case 5: return r.u32(wire, field, &m->configured_priority, p);
        case 6: return r.u32(wire, field, &m->master_word_3, p);
        case 7: return r.boolean(wire, field, &m->priority_configured, p);
        case 8: return r.u32(wire, field, &m->configured_clock_class, p);
        case 9: return r.boolean(wire, field, &m->clock_class_configured, p);
        case 10: return r.boolean(wire, field, &m->master_state_flag, p);
        case 11: return r.boolean(wire, field, &m->in_master_table, p);
        default: return r.skip(wire);
        }
    });
}

void zidl_tessel_gpb_foreign_master_free(zidl_tessel_gpb_foreign_master *message, zidl_tessel_gpb_free_fn free_fn,
                                         void *context, uint32_t flags)
{
    zidl_tessel_gpb_address_free(&message->address, free_fn, context, flags);
    zidl_tessel_gpb_address_free(&message->second_address, free_fn, context, flags);
}

// ---- zidl_tessel_gpb_config ----------------------------------------------------------------------

size_t zidl_tessel_gpb_config_pack(const zidl_tessel_gpb_config *message, uint8_t *buffer, size_t capacity)
{
    writer w{buffer, capacity, message->present};
    w.u32(1, message->encapsulation);
    w.u32(2, message->log_announce_interval);
    w.u32(3, message->announce_timeout);
    w.u32(4, message->log_sync_interval);
    w.u32(5, message->log_min_delay_req_interval);
    w.u32(6, message->transport);
    w.message(7, message->clock_operation, zidl_tessel_gpb_clock_operation_pack);
    w.u32(8, message->port_state_config);
    w.message(9, message->source_ip, zidl_tessel_gpb_source_ip_pack);
    w.message(10, message->source_ipv6, zidl_tessel_gpb_source_ipv6_pack);
    w.u32(11, message->sync_receive_timeout);
    w.u32(12, message->delay_resp_receive_timeout);
    w.boolean(13, message->deny_invalid_grants);
    w.u32(14, message->announce_grant_duration);
    w.u32(15, message->sync_grant_duration);
    w.u32(16, message->delay_resp_grant_duration);
    w.u32(17, message->local_priority);
    w.message(18, message->multicast_address, zidl_tessel_gpb_address_pack);
    w.u32(19, message->cos);
    w.u32(20, message->general_cos);
    w.u32(21, message->event_cos);
    w.u32(22, message->dscp);
    w.u32(23, message->general_dscp);
    w.u32(24, message->event_dscp);
    w.u32(25, message->ipv4_ttl);
    w.u32(26, message->ipv6_hop_limit);
    return w.pos;
}

int zidl_tessel_gpb_config_unpack(zidl_tessel_gpb_config *message, const uint8_t *bytes, size_t length,
                                  zidl_tessel_gpb_alloc_fn alloc, void *context)
{
    *message = {};
    reader r{bytes, length, alloc, context};
    zidl_tessel_gpb_config *m = message;
    uint32_t *p = &m->present;
    return r.run([&](uint32_t field, uint32_t wire) {
        switch (field) {
        case 1: return r.u32(wire, field, &m->encapsulation, p);
        case 2: return r.u32(wire, field, &m->log_announce_interval, p);
        case 3: return r.u32(wire, field, &m->announce_timeout, p);
        case 4: return r.u32(wire, field, &m->log_sync_interval, p);
        case 5: return r.u32(wire, field, &m->log_min_delay_req_interval, p);
        case 6: return r.u32(wire, field, &m->transport, p);
        case 7: return r.message(wire, field, &m->clock_operation, p, zidl_tessel_gpb_clock_operation_unpack);
        case 8: return r.u32(wire, field, &m->port_state_config, p);
        case 9: return r.message(wire, field, &m->source_ip, p, zidl_tessel_gpb_source_ip_unpack);
        case 10: return r.message(wire, field, &m->source_ipv6, p, zidl_tessel_gpb_source_ipv6_unpack);
        case 11: return r.u32(wire, field, &m->sync_receive_timeout, p);
        case 12: return r.u32(wire, field, &m->delay_resp_receive_timeout, p);
        case 13: return r.boolean(wire, field, &m->deny_invalid_grants, p);
        case 14: return r.u32(wire, field, &m->announce_grant_duration, p);
        case 15: return r.u32(wire, field, &m->sync_grant_duration, p);
        case 16: return r.u32(wire, field, &m->delay_resp_grant_duration, p);
        case 17: return r.u32(wire, field, &m->local_priority, p);
        case 18: return r.message(wire, field, &m->multicast_address, p, zidl_tessel_gpb_address_unpack);
        case 19: return r.u32(wire, field, &m->cos, p);
        case 20: return r.u32(wire, field, &m->general_cos, p);
        case 21: return r.u32(wire, field, &m->event_cos, p);
        case 22: return r.u32(wire, field, &m->dscp, p);
        case 23: return r.u32(wire, field, &m->general_dscp, p);
        case 24: return r.u32(wire, field, &m->event_dscp, p);
        case 25: return r.u32(wire, field, &m->ipv4_ttl, p);
        case 26: return r.u32(wire, field, &m->ipv6_hop_limit, p);
        default: return r.skip(wire);
        }
    });
}

void zidl_tessel_gpb_config_free(zidl_tessel_gpb_config *message, zidl_tessel_gpb_free_fn free_fn, void *context,
                                 uint32_t flags)
{
    zidl_tessel_gpb_source_ip_free(&message->source_ip, free_fn, context, flags);
    zidl_tessel_gpb_source_ipv6_free(&message->source_ipv6, free_fn, context, flags);
    zidl_tessel_gpb_address_free(&message->multicast_address, free_fn, context, flags);
}

// ---- zidl_tessel_gpb_if --------------------------------------------------------------------------

size_t zidl_tessel_gpb_if_pack(const zidl_tessel_gpb_if *message, uint8_t *buffer, size_t capacity)
{
    writer w{buffer, capacity, message->present};
    w.bytes(1, message->ifname);
    w.u32(2, message->ifhandle);
    w.u32(3, message->iftype);
    w.u32(4, message->port_num);
    w.u32(5, message->port_state);
    w.u32(6, message->im_state);
    w.boolean(7, message->ether_info_known);
    w.bytes(8, message->ether_info);
    w.u32(9, message->ether_info_len);
    w.bytes(10, message->ip_address);
    w.bytes(11, message->ipv6_address);
    w.boolean(12, message->vrf_known);
    w.u32(13, message->vrf);
    w.boolean(14, message->foreign_master_present);
    w.message(15, message->foreign_master, zidl_tessel_gpb_foreign_master_pack);
    w.message(16, message->config, zidl_tessel_gpb_config_pack);
    w.u32(17, message->num_ipv4_addr);
    w.u32(18, message->num_ipv6_addr);
    w.bytes(19, message->addr_list);
    return w.pos;
}

int zidl_tessel_gpb_if_unpack(zidl_tessel_gpb_if *message, const uint8_t *bytes, size_t length,
                              zidl_tessel_gpb_alloc_fn alloc, void *context)
{
    *message = {};
    reader r{bytes, length, alloc, context};
    zidl_tessel_gpb_if *m = message;
    uint32_t *p = &m->present;
    return r.run([&](uint32_t field, uint32_t wire) {
        switch (field) {
        case 1: return r.bytes(wire, field, &m->ifname, p);
        case 2: return r.u32(wire, field, &m->ifhandle, p);
        case 3: return r.u32(wire, field, &m->iftype, p);
        case 4: return r.u32(wire, field, &m->port_num, p);
        case 5: return r.u32(wire, field, &m->port_state, p);
        case 6: return r.u32(wire, field, &m->im_state, p);
        case 7: return r.boolean(wire, field, &m->ether_info_known, p);
        case 8: return r.bytes(wire, field, &m->ether_info, p);
        case 9: return r.u32(wire, field, &m->ether_info_len, p);
        case 10: return r.bytes(wire, field, &m->ip_address, p);
        case 11: return r.bytes(wire, field, &m->ipv6_address, p);
        case 12: return r.boolean(wire, field, &m->vrf_known, p);
        case 13: return r.u32(wire, field, &m->vrf, p);
        case 14: return r.boolean(wire, field, &m->foreign_master_present, p);
        case 15: return r.message(wire, field, &m->foreign_master, p, zidl_tessel_gpb_foreign_master_unpack);
        case 16: return r.message(wire, field, &m->config, p, zidl_tessel_gpb_config_unpack);
        case 17: return r.u32(wire, field, &m->num_ipv4_addr, p);
        case 18: return r.u32(wire, field, &m->num_ipv6_addr, p);
        case 19: return r.bytes(wire, field, &m->addr_list, p);
        default: return r.skip(wire);
        }
    });
}

void zidl_tessel_gpb_if_free(zidl_tessel_gpb_if *message, zidl_tessel_gpb_free_fn free_fn, void *context,
                             uint32_t flags)
{
    release(&message->ifname, free_fn, context, flags);
    release(&message->ether_info, free_fn, context, flags);
    release(&message->ip_address, free_fn, context, flags);
    release(&message->ipv6_address, free_fn, context, flags);
    zidl_tessel_gpb_foreign_master_free(&message->foreign_master, free_fn, context, flags);
    zidl_tessel_gpb_config_free(&message->config, free_fn, context, flags);
    release(&message->addr_list, free_fn, context, flags);
}

// ---- zidl_tessel_gpb_gl --------------------------------------------------------------------------

size_t zidl_tessel_gpb_gl_pack(const zidl_tessel_gpb_gl *message, uint8_t *buffer, size_t capacity)
{
    writer w{buffer, capacity, message->present};
    w.boolean(1, message->local_clock_present);
    w.message(2, message->local_clock, zidl_tessel_gpb_local_clock_pack);
    w.boolean(3, message->bmc_present);
    w.message(4, message->bmc, zidl_tessel_gpb_clock_pack);
    w.message(5, message->advertised, zidl_tessel_gpb_clock_pack);
    w.boolean(6, message->synced);
    w.boolean(7, message->supports_slave);
    w.u32(8, message->reserved_1);
    w.u32(9, message->reserved_2);
    w.boolean(10, message->selected);
    w.u32(11, message->profile);
    w.u32(12, message->profile_version);
    w.boolean(13, message->min_clock_class_present);
    w.u32(14, message->min_clock_class);
    return w.pos;
}

int zidl_tessel_gpb_gl_unpack(zidl_tessel_gpb_gl *message, const uint8_t *bytes, size_t length,
                              zidl_tessel_gpb_alloc_fn alloc, void *context)
{
    *message = {};
    reader r{bytes, length, alloc, context};
    zidl_tessel_gpb_gl *m = message;
    uint32_t *p = &m->present;
    return r.run([&](uint32_t field, uint32_t wire) {
        switch (field) {
        case 1: return r.boolean(wire, field, &m->local_clock_present, p);
        case 2: return r.message(wire, field, &m->local_clock, p, zidl_tessel_gpb_local_clock_unpack);
        case 3: return r.boolean(wire, field, &m->bmc_present, p);
        case 4: return r.message(wire, field, &m->bmc, p, zidl_tessel_gpb_clock_unpack);
        case 5: return r.message(wire, field, &m->advertised, p, zidl_tessel_gpb_clock_unpack);
        case 6: return r.boolean(wire, field, &m->synced, p);
        case 7: return r.boolean(wire, field, &m->supports_slave, p);
        case 8: return r.u32(wire, field, &m->reserved_1, p);
        case 9: return r.u32(wire, field, &m->reserved_2, p);
        case 10: return r.boolean(wire, field, &m->selected, p);
        case 11: return r.u32(wire, field, &m->profile, p);
        case 12: return r.u32(wire, field, &m->profile_version, p);
        case 13: return r.boolean(wire, field, &m->min_clock_class_present, p);
        case 14: return r.u32(wire, field, &m->min_clock_class, p);
        default: return r.skip(wire);
        }
    });
}

void zidl_tessel_gpb_gl_free(zidl_tessel_gpb_gl *, zidl_tessel_gpb_free_fn, void *, uint32_t) {}

// ---- zidl_tessel_gpb_unicast_grant ---------------------------------------------------------------

size_t zidl_tessel_gpb_unicast_grant_pack(const zidl_tessel_gpb_unicast_grant *message, uint8_t *buffer,
                                          size_t capacity)
{
    writer w{buffer, capacity, message->present};
    w.bytes(1, message->ifname);
    w.u32(2, message->ifhandle);
    w.message(3, message->peer_addr, zidl_tessel_gpb_address_pack);
    w.message(4, message->second_address, zidl_tessel_gpb_address_pack);
    w.message(5, message->peer_port_id, zidl_tessel_gpb_port_id_pack);
    w.boolean(6, message->is_announce_granted);
    w.boolean(7, message->is_sync_granted);
    w.boolean(8, message->is_delay_resp_granted);
    w.u32(9, message->announce_grant_duration);
    w.u32(10, message->sync_grant_duration);
    w.u32(11, message->delay_resp_grant_duration);
    w.u32(12, message->announce_expiry_time);
    w.u32(13, message->sync_expiry_time);
    w.u32(14, message->delay_resp_expiry_time);
    w.boolean(15, message->is_nonnegotiated);
    w.u32(16, message->log_announce_interval);
    w.u32(17, message->log_sync_interval);
    w.u32(18, message->log_delay_resp_interval);
    w.u32(19, message->req_log_announce_interval);
    w.u32(20, message->req_log_sync_interval);
    w.u32(21, message->req_log_delay_resp_interval);
    return w.pos;
}

int zidl_tessel_gpb_unicast_grant_unpack(zidl_tessel_gpb_unicast_grant *message, const uint8_t *bytes, size_t length,
                                         zidl_tessel_gpb_alloc_fn alloc, void *context)
{
    *message = {};
    reader r{bytes, length, alloc, context};
    zidl_tessel_gpb_unicast_grant *m = message;
    uint32_t *p = &m->present;
    return r.run([&](uint32_t field, uint32_t wire) {
        switch (field) {
        case 1: return r.bytes(wire, field, &m->ifname, p);
        case 2: return r.u32(wire, field, &m->ifhandle, p);
        case 3: return r.message(wire, field, &m->peer_addr, p, zidl_tessel_gpb_address_unpack);
        case 4: return r.message(wire, field, &m->second_address, p, zidl_tessel_gpb_address_unpack);
        case 5: return r.message(wire, field, &m->peer_port_id, p, zidl_tessel_gpb_port_id_unpack);
        case 6: return r.boolean(wire, field, &m->is_announce_granted, p);
        case 7: return r.boolean(wire, field, &m->is_sync_granted, p);
        case 8: return r.boolean(wire, field, &m->is_delay_resp_granted, p);
        case 9: return r.u32(wire, field, &m->announce_grant_duration, p);
        case 10: return r.u32(wire, field, &m->sync_grant_duration, p);
        case 11: return r.u32(wire, field, &m->delay_resp_grant_duration, p);
        case 12: return r.u32(wire, field, &m->announce_expiry_time, p);
        case 13: return r.u32(wire, field, &m->sync_expiry_time, p);
        case 14: return r.u32(wire, field, &m->delay_resp_expiry_time, p);
        case 15: return r.boolean(wire, field, &m->is_nonnegotiated, p);
        case 16: return r.u32(wire, field, &m->log_announce_interval, p);
        case 17: return r.u32(wire, field, &m->log_sync_interval, p);
        case 18: return r.u32(wire, field, &m->log_delay_resp_interval, p);
        case 19: return r.u32(wire, field, &m->req_log_announce_interval, p);
        case 20: return r.u32(wire, field, &m->req_log_sync_interval, p);
        case 21: return r.u32(wire, field, &m->req_log_delay_resp_interval, p);
        default: return r.skip(wire);
        }
    });
}

void zidl_tessel_gpb_unicast_grant_free(zidl_tessel_gpb_unicast_grant *message, zidl_tessel_gpb_free_fn free_fn,
                                        void *context, uint32_t flags)
{
    release(&message->ifname, free_fn, context, flags);
    zidl_tessel_gpb_address_free(&message->peer_addr, free_fn, context, flags);
    zidl_tessel_gpb_address_free(&message->second_address, free_fn, context, flags);
}

// ---- zidl_tessel_gpb_peer_index ------------------------------------------------------------------

size_t zidl_tessel_gpb_peer_index_pack(const zidl_tessel_gpb_peer_index *message, uint8_t *buffer, size_t capacity)
{
    writer w{buffer, capacity, message->present};
    w.bytes(1, message->ifname);
    w.message(2, message->address, zidl_tessel_gpb_address_pack);
    w.u32(3, message->peer_index);
    return w.pos;
}

int zidl_tessel_gpb_peer_index_unpack(zidl_tessel_gpb_peer_index *message, const uint8_t *bytes, size_t length,
                                      zidl_tessel_gpb_alloc_fn alloc, void *context)
{
    *message = {};
    reader r{bytes, length, alloc, context};
    zidl_tessel_gpb_peer_index *m = message;
    return r.run([&](uint32_t field, uint32_t wire) {
        switch (field) {
        case 1: return r.bytes(wire, field, &m->ifname, &m->present);
        case 2: return r.message(wire, field, &m->address, &m->present, zidl_tessel_gpb_address_unpack);
        case 3: return r.u32(wire, field, &m->peer_index, &m->present);
        default: return r.skip(wire);
        }
    });
}

void zidl_tessel_gpb_peer_index_free(zidl_tessel_gpb_peer_index *message, zidl_tessel_gpb_free_fn free_fn,
                                     void *context, uint32_t flags)
{
    release(&message->ifname, free_fn, context, flags);
    zidl_tessel_gpb_address_free(&message->address, free_fn, context, flags);
}
