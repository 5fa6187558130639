#include "ptp_wire.h"

#include <array>

#include <gtest/gtest.h>

namespace {

constexpr std::array<uint8_t, 8> bytes{0x81, 0x02, 0x83, 0x04, 0x85, 0x06, 0x87, 0x08};

// Most significant byte first, and no sign extension of a byte with its top bit set.
static_assert(ptp_wire_get8(bytes.data()) == 0x81);
static_assert(ptp_wire_get16(bytes.data()) == 0x8102);
static_assert(ptp_wire_get32(bytes.data()) == 0x81028304u);
static_assert(ptp_wire_get48(bytes.data()) == 0x810283048506ull);
static_assert(ptp_wire_get64(bytes.data()) == 0x8102830485068708ull);

// Each store writes exactly its own bytes, in the order the loads read them.
TEST(PtpWire, StoresWriteTheirBytesOnlyInLoadOrder)
{
    struct row {
        size_t width;
        void (*put)(uint8_t *);
        uint64_t (*get)(const uint8_t *);
    };
    const row rows[] = {
        {1, [](uint8_t *p) { ptp_wire_put8(p, 0x81); }, [](const uint8_t *p) -> uint64_t { return ptp_wire_get8(p); }},
        {2, [](uint8_t *p) { ptp_wire_put16(p, 0x8102); },
         [](const uint8_t *p) -> uint64_t { return ptp_wire_get16(p); }},
        {4, [](uint8_t *p) { ptp_wire_put32(p, 0x81028304u); },
         [](const uint8_t *p) -> uint64_t { return ptp_wire_get32(p); }},
        {6, [](uint8_t *p) { ptp_wire_put48(p, 0xFFFF810283048506ull); }, ptp_wire_get48},
        {8, [](uint8_t *p) { ptp_wire_put64(p, 0x8102830485068708ull); }, ptp_wire_get64},
    };
    for (const row &r : rows) {
        std::array<uint8_t, 10> buf;
        buf.fill(0xEE);
        r.put(buf.data() + 1);
        EXPECT_EQ(buf[0], 0xEE) << r.width;
        for (size_t i = 0; i < r.width; i++) {
            EXPECT_EQ(buf[1 + i], bytes[i]) << r.width << " byte " << i;
        }
        EXPECT_EQ(buf[1 + r.width], 0xEE) << r.width;
        EXPECT_EQ(r.get(buf.data() + 1), ptp_wire_get64(bytes.data()) >> (64 - 8 * r.width)) << r.width;
    }
}

} // namespace
