#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "ptp_clock.h"
#include "ptp_zerr_codes.h"

namespace {

ptp_clock_type base_clock()
{
    ptp_clock_type c{};
    c.clock_id = 0x1000;
    c.priority1 = 128;
    c.clock_class = 248;
    c.accuracy = 0x21;
    c.offset_log_variance = 0x4E5D;
    c.priority2 = 128;
    c.steps_removed = 1;
    c.sender = {0x2000, 1};
    c.receiver = {0x3000, 1};
    c.configured_priority = 128;
    return c;
}

using edit = std::function<void(ptp_clock_type &)>;
const edit same = [](ptp_clock_type &) {};

struct compare_case {
    const char *what;
    std::vector<uint32_t> modes;
    edit a;
    edit b;
    int result;
    int topology;
};

const std::vector<uint32_t> g8275{PTP_PROFILE_G8275_1, PTP_PROFILE_G8275_2};
const std::vector<uint32_t> dflt{PTP_PROFILE_DEFAULT};
const std::vector<uint32_t> g8265{PTP_PROFILE_G8265_1};

// A receiver identity above the sender's makes a one-step decision a topology decision.
void rx_above_tx(ptp_clock_type &c)
{
    c.receiver = {0x3000, 1}, c.sender = {0x2000, 1};
}
void rx_below_tx(ptp_clock_type &c)
{
    c.receiver = {0x1000, 9}, c.sender = {0x2000, 1};
}
void rx_same_id_higher_port(ptp_clock_type &c)
{
    c.receiver = {0x2000, 2}, c.sender = {0x2000, 1};
}

const std::vector<compare_case> cases = {
    // Default mode: each step of its order decides once.
    {"local priority before priority1", dflt, [](auto &c) { c.configured_priority = 10, c.priority1 = 255; },
     [](auto &c) { c.configured_priority = 20, c.priority1 = 0; }, -10, 0},
    {"priority1", dflt, [](auto &c) { c.priority1 = 100; }, same, -28, 0},
    {"configured class replaces a worse received class", dflt, [](auto &c) { c.configured_clock_class = 6; },
     [](auto &c) { c.clock_class = 7; }, -1, 0},
    {"no configured class: received class counts", dflt, same, [](auto &c) { c.clock_class = 7; }, 241, 0},
    {"accuracy", dflt, [](auto &c) { c.accuracy = 0x20; }, same, -1, 0},
    {"variance", dflt, [](auto &c) { c.offset_log_variance = 0x4B32; }, same, 0x4B32 - 0x4E5D, 0},
    {"priority2", dflt, [](auto &c) { c.priority2 = 129; }, same, 1, 0},
    {"identity compared unsigned", dflt, [](auto &c) { c.clock_id = 0x8000000000000000ull; },
     [](auto &c) { c.clock_id = 1; }, 1, 0},
    {"steps two apart return the difference", dflt, [](auto &c) { c.steps_removed = 3; }, same, 2, 0},
    {"one step fewer, b's receiver above its sender", dflt, same, [](auto &c) { c.steps_removed = 2, rx_above_tx(c); },
     -1, 1},
    {"one step fewer, b's receiver below its sender", dflt, same, [](auto &c) { c.steps_removed = 2, rx_below_tx(c); },
     -1, 0},
    {"one step fewer, same identity: port number orders", dflt, same,
     [](auto &c) { c.steps_removed = 2, rx_same_id_higher_port(c); }, -1, 1},
    {"one step fewer, equal identities", dflt, same, [](auto &c) { c.steps_removed = 2, c.receiver = c.sender; }, -1,
     0},
    {"one step more, a's receiver above its sender", dflt, [](auto &c) { c.steps_removed = 2, rx_above_tx(c); }, same,
     1, 1},
    {"one step more, a's receiver below its sender", dflt, [](auto &c) { c.steps_removed = 2, rx_below_tx(c); }, same,
     1, 0},
    {"sender identity", dflt, [](auto &c) { c.sender.clock_id = 0x1fff; }, same, -1, 1},
    {"sender port", dflt, [](auto &c) { c.sender.port_num = 4; }, same, 3, 1},
    {"receiver port", dflt, [](auto &c) { c.receiver.port_num = 3; }, same, 2, 1},
    {"equal records", dflt, same, same, 0, 0},
    {"no configured priority ranks as the default, not as the best", dflt, [](auto &c) { c.configured_priority = 0; },
     [](auto &c) { c.configured_priority = 100; }, 28, 0},
    {"a configured priority of 0 ranks as 0", dflt,
     [](auto &c) { c.configured_priority = 0, c.configured_priority_set = 1; },
     [](auto &c) { c.configured_priority = 1, c.configured_priority_set = 1; }, -1, 0},

    // G.8265.1: class, local priority, identity, receiver port; nothing else.
    {"class first", g8265, [](auto &c) { c.clock_class = 100, c.configured_priority = 1; },
     [](auto &c) { c.clock_class = 90; }, 10, 0},
    {"configured class replaces the class", g8265, [](auto &c) { c.configured_clock_class = 80; },
     [](auto &c) { c.clock_class = 90; }, -10, 0},
    {"local priority, priority1 ignored", g8265, [](auto &c) { c.configured_priority = 10, c.priority1 = 255; },
     [](auto &c) { c.configured_priority = 20, c.priority1 = 0; }, -10, 0},
    {"identity", g8265, [](auto &c) { c.clock_id = 0x1001; }, same, 1, 0},
    {"receiver port, never topology", g8265, [](auto &c) { c.receiver.port_num = 3; }, same, 2, 0},
    {"priority1, accuracy and steps are not looked at", g8265,
     [](auto &c) { c.priority1 = 1, c.accuracy = 0x31, c.steps_removed = 9; }, same, 0, 0},

    // G.8275.1 and G.8275.2.
    {"class", g8275, [](auto &c) { c.clock_class = 6; }, [](auto &c) { c.clock_class = 7; }, -1, 0},
    {"configured class replaces the class", g8275, [](auto &c) { c.configured_clock_class = 6; },
     [](auto &c) { c.clock_class = 7; }, -1, 0},
    {"accuracy", g8275, [](auto &c) { c.accuracy = 0xFE; }, same, 0xFE - 0x21, 0},
    {"variance", g8275, [](auto &c) { c.offset_log_variance = 0xFFFF; }, same, 0xFFFF - 0x4E5D, 0},
    {"priority2", g8275, [](auto &c) { c.priority2 = 127; }, same, -1, 0},
    {"local priority, priority1 ignored", g8275, [](auto &c) { c.configured_priority = 200, c.priority1 = 0; }, same,
     72, 0},
    {"identity ignored below class 128", g8275, [](auto &c) { c.clock_class = 6, c.clock_id = 1; },
     [](auto &c) { c.clock_class = 6; }, 0, 1},
    {"identity decides from class 128", g8275, [](auto &c) { c.clock_class = 165, c.clock_id = 1; },
     [](auto &c) { c.clock_class = 165; }, -1, 0},
    {"steps far apart give one, not the difference", g8275, [](auto &c) { c.steps_removed = 5; }, same, 1, 0},
    {"one step fewer, b's receiver above its sender", g8275, same, [](auto &c) { c.steps_removed = 2, rx_above_tx(c); },
     -1, 1},
    {"one step more, a's receiver below its sender", g8275, [](auto &c) { c.steps_removed = 2, rx_below_tx(c); }, same,
     1, 0},
    {"sender identity", g8275, [](auto &c) { c.sender.clock_id = 0x2001; }, same, 1, 1},
    {"sender port", g8275, [](auto &c) { c.sender.port_num = 0; }, same, -1, 1},
    {"receiver port", g8275, [](auto &c) { c.receiver.port_num = 5; }, same, 4, 1},
    {"equal records are a topology tie", g8275, same, same, 0, 1},
};

TEST(ClockCompare, TableOfCasesPerMode)
{
    for (const auto &tc : cases) {
        for (uint32_t mode : tc.modes) {
            ptp_clock_type a = base_clock();
            ptp_clock_type b = base_clock();
            tc.a(a);
            tc.b(b);
            int topo = -1;
            EXPECT_EQ(ptp_clock_compare(mode, &a, &b, &topo), tc.result) << tc.what << " (mode " << mode << ")";
            EXPECT_EQ(topo, tc.topology) << tc.what << " (mode " << mode << ")";
            // The mirror image gives the opposite answer with the same topology flag.
            int mirror_topo = -1;
            EXPECT_EQ(ptp_clock_compare(mode, &b, &a, &mirror_topo), -tc.result)
                << tc.what << " mirrored (mode " << mode << ")";
            EXPECT_EQ(mirror_topo, tc.topology) << tc.what << " mirrored (mode " << mode << ")";
            EXPECT_EQ(ptp_clock_compare(mode, &a, &b, nullptr), tc.result) << tc.what;
        }
    }
}

TEST(ClockCompareDeathTest, UnknownModeStops)
{
    ptp_clock_type a = base_clock();
    EXPECT_DEATH(ptp_clock_compare(4, &a, &a, nullptr), "Unknown clock selection mode");
}

TEST(ClockRecord, EffectiveClassAndPriority)
{
    ptp_clock_type c = base_clock();
    EXPECT_EQ(ptp_clock_effective_class(&c), 248);
    c.configured_clock_class = 6;
    EXPECT_EQ(ptp_clock_effective_class(&c), 6);
    c.configured_priority = 0;
    EXPECT_EQ(ptp_clock_effective_priority(&c), PTP_CLOCK_DEFAULT_LOCAL_PRIORITY);
    c.configured_priority = 1;
    EXPECT_EQ(ptp_clock_effective_priority(&c), 1);
    c.configured_priority = 0;
    c.configured_priority_set = 1;
    EXPECT_EQ(ptp_clock_effective_priority(&c), 0);
}

// Every one of the nineteen fields and the priority-set flag take part in equality; only four in
// path equality.
TEST(ClockRecord, EqualityLooksAtEveryFieldPathEqualityAtFour)
{
    struct field_case {
        const char *field;
        edit change;
        bool path_differs;
    };
    const std::vector<field_case> fields = {
        {"clock_id", [](auto &c) { c.clock_id++; }, true},
        {"priority1", [](auto &c) { c.priority1++; }, false},
        {"clock_class", [](auto &c) { c.clock_class++; }, false},
        {"accuracy", [](auto &c) { c.accuracy++; }, false},
        {"offset_log_variance", [](auto &c) { c.offset_log_variance++; }, false},
        {"priority2", [](auto &c) { c.priority2++; }, false},
        {"steps_removed", [](auto &c) { c.steps_removed++; }, true},
        {"time_source", [](auto &c) { c.time_source++; }, false},
        {"utc_offset", [](auto &c) { c.utc_offset--; }, false},
        {"utc_offset_valid", [](auto &c) { c.utc_offset_valid++; }, false},
        {"frequency_traceable", [](auto &c) { c.frequency_traceable++; }, false},
        {"time_traceable", [](auto &c) { c.time_traceable++; }, false},
        {"timescale", [](auto &c) { c.timescale++; }, false},
        {"leap_seconds", [](auto &c) { c.leap_seconds++; }, false},
        {"sender.clock_id", [](auto &c) { c.sender.clock_id++; }, true},
        {"sender.port_num", [](auto &c) { c.sender.port_num++; }, false},
        {"receiver.clock_id", [](auto &c) { c.receiver.clock_id++; }, false},
        {"receiver.port_num", [](auto &c) { c.receiver.port_num++; }, true},
        {"local", [](auto &c) { c.local++; }, false},
        {"configured_clock_class", [](auto &c) { c.configured_clock_class++; }, false},
        {"configured_priority", [](auto &c) { c.configured_priority++; }, false},
        {"configured_priority_set", [](auto &c) { c.configured_priority_set ^= 1; }, false},
    };
    const ptp_clock_type a = base_clock();
    for (const auto &f : fields) {
        ptp_clock_type b{};
        ptp_clock_copy(&b, &a);
        EXPECT_EQ(ptp_clock_equal(&a, &b), 1) << f.field;
        f.change(b);
        EXPECT_EQ(ptp_clock_equal(&a, &b), 0) << f.field;
        EXPECT_EQ(ptp_clock_path_equal(&a, &b), f.path_differs ? 0 : 1) << f.field;
    }
    EXPECT_EQ(ptp_clock_equal(nullptr, nullptr), 1);
    EXPECT_EQ(ptp_clock_equal(&a, nullptr), 0);
    EXPECT_EQ(ptp_clock_path_equal(nullptr, nullptr), 1);
    EXPECT_EQ(ptp_clock_path_equal(nullptr, &a), 0);
}

TEST(ClockRecord, PortIdOrderAndIdentityHalves)
{
    ptp_port_id_type lo{1, 9};
    ptp_port_id_type hi{0xFFFFFFFFFFFFFFFFull, 1};
    EXPECT_EQ(ptp_port_id_compare(&lo, &hi), -1);
    EXPECT_EQ(ptp_port_id_compare(&hi, &lo), 1);
    ptp_port_id_type lo2{1, 4};
    EXPECT_EQ(ptp_port_id_compare(&lo, &lo2), 5);
    uint64_t id = 0x0123456789ABCDEFull;
    EXPECT_EQ(ptp_clock_id_upper(id), 0x01234567u);
    EXPECT_EQ(ptp_clock_id_lower(id), 0x89ABCDEFu);
    EXPECT_EQ(ptp_clock_id_join(ptp_clock_id_upper(id), ptp_clock_id_lower(id)), id);
}

TEST(ClockWire, GoldenBytesReservedZeroAndRoundTrip)
{
    ptp_clock_type c;
    memset(&c, 0xAA, sizeof(c)); // padding must not leak into the reserved bytes
    c.clock_id = 0x0102030405060708ull;
    c.priority1 = 0x11;
    c.clock_class = 0x12;
    c.accuracy = 0x13;
    c.offset_log_variance = 0x1415;
    c.priority2 = 0x16;
    c.steps_removed = 0x1718;
    c.time_source = 0x19;
    c.utc_offset = -2;
    c.utc_offset_valid = 1;
    c.frequency_traceable = 0x21222324;
    c.time_traceable = 0;
    c.timescale = 1;
    c.leap_seconds = 2;
    c.sender = {0x3132333435363738ull, 0x393A};
    c.receiver = {0x4142434445464748ull, 0x494A};
    c.local = 1;
    c.configured_clock_class = 6;
    c.configured_priority = 0x77;
    c.configured_priority_set = 1;

    uint8_t wire[PTP_CLOCK_WIRE_SIZE];
    ptp_clock_to_wire(&c, wire);
    const uint8_t want[PTP_CLOCK_WIRE_SIZE] = {
        1,    2,    3,    4, 5,    6,    7, 8, 0x11, 0x12, 0x13, 0,    0x14, 0x15, 0x16, 0,
        0x17, 0x18, 0x19, 0, 0xFF, 0xFE, 0, 0, 0,    0,    0,    1,    0x21, 0x22, 0x23, 0x24,
        0,    0,    0,    0, 1,    2,    0, 0, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38,
        0x39, 0x3A, 0,    0, 0,    0,    0, 0, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,
        0x49, 0x4A, 0,    0, 0,    0,    0, 0, 0,    0,    0,    1,    6,    0x77, 1,    0};
    EXPECT_EQ(memcmp(wire, want, sizeof(want)), 0);

    ptp_clock_type back{};
    ASSERT_EQ(ptp_clock_from_wire(wire, sizeof(wire), &back), ZERR_OK);
    EXPECT_EQ(ptp_clock_equal(&back, &c), 1);
}

TEST(ClockWire, ShortInputIsRefusedUntouched)
{
    uint8_t wire[PTP_CLOCK_WIRE_SIZE] = {};
    ptp_clock_type out = base_clock();
    EXPECT_EQ(ptp_clock_from_wire(wire, PTP_CLOCK_WIRE_SIZE - 1, &out), PTP_ZERR_INVALID_ARG);
    ptp_clock_type expect = base_clock();
    EXPECT_EQ(ptp_clock_equal(&out, &expect), 1);
}

} // namespace
