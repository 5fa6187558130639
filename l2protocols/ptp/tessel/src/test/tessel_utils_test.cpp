#include "tessel_utils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

constexpr ptp_profile_type DEF = PTP_PROFILE_DEFAULT;
constexpr ptp_profile_type G65 = PTP_PROFILE_G8265_1;
constexpr ptp_profile_type G751 = PTP_PROFILE_G8275_1;
constexpr ptp_profile_type G752 = PTP_PROFILE_G8275_2;
constexpr uint32_t QL1 = 1;
constexpr uint32_t QL2 = 2;

std::unique_ptr<tessel_interop_config_type> make_interop()
{
    auto rec = std::make_unique<tessel_interop_config_type>();
    std::memset(rec.get(), 0, sizeof(*rec));
    return rec;
}

std::unique_ptr<tessel_interop_config_type> with_profile(ptp_profile_type profile)
{
    auto rec = make_interop();
    rec->presence = TESSEL_INTEROP_PROFILE;
    rec->profile = profile;
    return rec;
}

// The class map, one row per (from, to, option) pair with every class it changes and a few it
// keeps.
struct class_case {
    ptp_profile_type from;
    ptp_profile_type to;
    uint32_t ql;
    uint8_t in;
    uint8_t out;
};

TEST(TesselInteropClassMap, TablePerProfilePair)
{
    const class_case cases[] = {
        // Default -> G.8265.1
        {DEF, G65, QL1, 6, 84},
        {DEF, G65, QL1, 7, 84},
        {DEF, G65, QL2, 6, 80},
        {DEF, G65, QL2, 7, 80},
        {DEF, G65, QL1, 13, 90},
        {DEF, G65, QL2, 14, 90},
        {DEF, G65, QL1, 52, 110},
        {DEF, G65, QL1, 58, 110},
        {DEF, G65, QL1, 187, 110},
        {DEF, G65, QL1, 193, 110},
        {DEF, G65, QL1, 248, 110},
        {DEF, G65, QL1, 255, 110},
        {DEF, G65, QL1, 100, 100},
        // Default -> G.8275.x
        {DEF, G751, QL1, 13, 150},
        {DEF, G752, QL1, 14, 150},
        {DEF, G751, QL1, 58, 150},
        {DEF, G751, QL1, 193, 150},
        {DEF, G752, QL1, 52, 140},
        {DEF, G751, QL1, 187, 140},
        {DEF, G751, QL1, 6, 6},
        {DEF, G751, QL1, 248, 248},
        // G.8265.1 -> Default
        {G65, DEF, QL1, 80, 6},
        {G65, DEF, QL1, 82, 6},
        {G65, DEF, QL1, 84, 6},
        {G65, DEF, QL1, 86, 13},
        {G65, DEF, QL1, 100, 13},
        {G65, DEF, QL1, 102, 248},
        {G65, DEF, QL1, 110, 248},
        {G65, DEF, QL1, 81, 81},
        {G65, DEF, QL1, 109, 109},
        {G65, DEF, QL1, 112, 112},
        {G65, DEF, QL1, 79, 79},
        // G.8265.1 -> G.8275.x
        {G65, G751, QL1, 80, 135},
        {G65, G752, QL1, 84, 135},
        {G65, G751, QL1, 86, 150},
        {G65, G751, QL1, 90, 150},
        {G65, G751, QL1, 92, 160},
        {G65, G752, QL1, 100, 160},
        {G65, G751, QL1, 102, 248},
        {G65, G751, QL1, 110, 248},
        {G65, G751, QL1, 91, 91},
        // G.8275.x -> Default
        {G751, DEF, QL1, 135, 7},
        {G752, DEF, QL1, 140, 187},
        {G751, DEF, QL1, 150, 193},
        {G751, DEF, QL1, 160, 193},
        {G752, DEF, QL1, 165, 193},
        {G751, DEF, QL1, 6, 6},
        {G751, DEF, QL1, 155, 155},
        // G.8275.x -> G.8265.1, option I and II
        {G751, G65, QL1, 6, 84},
        {G752, G65, QL1, 7, 84},
        {G751, G65, QL1, 135, 84},
        {G751, G65, QL1, 140, 84},
        {G751, G65, QL1, 150, 90},
        {G751, G65, QL1, 160, 96},
        {G751, G65, QL1, 165, 110},
        {G751, G65, QL1, 248, 110},
        {G752, G65, QL1, 255, 110},
        {G751, G65, QL2, 6, 80},
        {G752, G65, QL2, 140, 80},
        {G751, G65, QL2, 150, 86},
        {G751, G65, QL2, 160, 100},
        {G751, G65, QL2, 165, 110},
        {G751, G65, QL2, 137, 137},
        // Equal profiles and G.8275.1 <-> G.8275.2 change nothing
        {G751, G752, QL1, 135, 135},
        {G752, G751, QL1, 165, 165},
        {DEF, DEF, QL1, 6, 6},
        {G65, G65, QL1, 80, 80},
    };
    for (const class_case &c : cases) {
        EXPECT_EQ(c.out, tessel_interop_profile_clock_class_map(c.from, c.to, c.ql, c.in))
            << "from " << c.from << " to " << c.to << " ql " << c.ql << " class " << int(c.in);
    }
}

// The quality fields by profile pair: which pairs reset priority1, accuracy and OSLV, and which
// reset priority2. Ingress with the interop profile as "from", egress with it as "to".
struct quality_case {
    ptp_profile_type from;
    ptp_profile_type to;
    bool resets_quality;
    bool resets_priority2;
};

TEST(TesselInteropQuality, TablePerProfilePair)
{
    const quality_case cases[] = {
        {DEF, G65, true, true},  {DEF, G751, true, false},   {DEF, G752, true, false},   {G65, DEF, false, false},
        {G65, G751, true, true}, {G65, G752, true, true},    {G751, DEF, false, false},  {G751, G65, true, true},
        {G752, G65, true, true}, {G751, G752, false, false}, {G752, G751, false, false}, {DEF, DEF, false, false},
    };
    for (const quality_case &c : cases) {
        // Ingress: the interop profile is "from", the node "to".
        auto in = with_profile(c.from);
        // Egress: the node is "from", the interop profile "to".
        auto out = with_profile(c.to);
        struct {
            ptp_profile_type node;
            int dir;
            const tessel_interop_config_type *rec;
        } uses[] = {{c.to, TESSEL_INTEROP_INGRESS, in.get()}, {c.from, TESSEL_INTEROP_EGRESS, out.get()}};
        for (const auto &u : uses) {
            SCOPED_TRACE(testing::Message() << "from " << c.from << " to " << c.to << " dir " << u.dir);
            EXPECT_EQ(c.resets_quality ? 128 : 10, tessel_interop_convert_priority1(10, u.node, u.dir, *u.rec));
            EXPECT_EQ(c.resets_priority2 ? 128 : 20, tessel_interop_convert_priority2(20, u.node, u.dir, *u.rec));
            EXPECT_EQ(c.resets_quality ? 0xFE : 0x21,
                      tessel_interop_convert_clock_accuracy(0x21, u.node, u.dir, *u.rec));
            EXPECT_EQ(c.resets_quality ? 0xFFFF : 0x4E5D, tessel_interop_convert_oslv(0x4E5D, u.node, u.dir, *u.rec));
        }
    }
}

TEST(TesselInteropConvert, G8265_1PeerOnG8275_1Node)
{
    auto rec = with_profile(G65);
    EXPECT_EQ(135, tessel_interop_convert_clock_class(84, G751, QL1, TESSEL_INTEROP_INGRESS, *rec));
    EXPECT_EQ(128, tessel_interop_convert_priority1(7, G751, TESSEL_INTEROP_INGRESS, *rec));
    EXPECT_EQ(128, tessel_interop_convert_priority2(7, G751, TESSEL_INTEROP_INGRESS, *rec));
    EXPECT_EQ(0xFE, tessel_interop_convert_clock_accuracy(0x21, G751, TESSEL_INTEROP_INGRESS, *rec));
    EXPECT_EQ(0xFFFF, tessel_interop_convert_oslv(0x4E5D, G751, TESSEL_INTEROP_INGRESS, *rec));
    // Egress goes the other way: the node's class 135 is advertised as 84 (option I).
    EXPECT_EQ(84, tessel_interop_convert_clock_class(135, G751, QL1, TESSEL_INTEROP_EGRESS, *rec));
}

TEST(TesselInteropConvert, MappingThenDefaultThenProfileMap)
{
    auto rec = with_profile(G65);
    EXPECT_EQ(135, tessel_interop_convert_clock_class(84, G751, QL1, TESSEL_INTEROP_INGRESS, *rec));

    rec->presence |= TESSEL_INTEROP_INGRESS_CLOCK_CLASS_DEFAULT;
    rec->ingress.clock_class_default = 248;
    EXPECT_EQ(248, tessel_interop_convert_clock_class(84, G751, QL1, TESSEL_INTEROP_INGRESS, *rec));

    rec->presence |= TESSEL_INTEROP_INGRESS_CLOCK_CLASS_MAPPING;
    rec->ingress.clock_class_mapping[6] = {1, 7};
    EXPECT_EQ(7, tessel_interop_convert_clock_class(6, G751, QL1, TESSEL_INTEROP_INGRESS, *rec));
    EXPECT_EQ(248, tessel_interop_convert_clock_class(84, G751, QL1, TESSEL_INTEROP_INGRESS, *rec));

    // The ingress half is not consulted for egress.
    EXPECT_EQ(84, tessel_interop_convert_clock_class(135, G751, QL1, TESSEL_INTEROP_EGRESS, *rec));

    // A mapping entry without the table's presence bit means nothing.
    auto bare = make_interop();
    bare->ingress.clock_class_mapping[6] = {1, 7};
    EXPECT_EQ(6, tessel_interop_convert_clock_class(6, G751, QL1, TESSEL_INTEROP_INGRESS, *bare));
}

TEST(TesselInteropConvert, HalfOverridesWinAndStayInTheirDirection)
{
    auto rec = with_profile(G751);
    rec->presence |= TESSEL_INTEROP_EGRESS_PRIORITY1 | TESSEL_INTEROP_EGRESS_PRIORITY2 |
                     TESSEL_INTEROP_EGRESS_CLOCK_ACCURACY | TESSEL_INTEROP_EGRESS_OSLV |
                     TESSEL_INTEROP_EGRESS_CLOCK_CLASS_DEFAULT;
    rec->egress = {};
    rec->egress.priority1 = 1;
    rec->egress.priority2 = 2;
    rec->egress.clock_accuracy = 0x20;
    rec->egress.oslv = 0x4B32;
    rec->egress.clock_class_default = 165;
    EXPECT_EQ(1, tessel_interop_convert_priority1(50, G752, TESSEL_INTEROP_EGRESS, *rec));
    EXPECT_EQ(2, tessel_interop_convert_priority2(50, G752, TESSEL_INTEROP_EGRESS, *rec));
    EXPECT_EQ(0x20, tessel_interop_convert_clock_accuracy(0x21, G752, TESSEL_INTEROP_EGRESS, *rec));
    EXPECT_EQ(0x4B32, tessel_interop_convert_oslv(0xFFFF, G752, TESSEL_INTEROP_EGRESS, *rec));
    EXPECT_EQ(165, tessel_interop_convert_clock_class(6, G752, QL1, TESSEL_INTEROP_EGRESS, *rec));
    // G.8275.1 <-> G.8275.2 ingress: nothing changes without an ingress override.
    EXPECT_EQ(50, tessel_interop_convert_priority1(50, G752, TESSEL_INTEROP_INGRESS, *rec));
    EXPECT_EQ(50, tessel_interop_convert_priority2(50, G752, TESSEL_INTEROP_INGRESS, *rec));
    EXPECT_EQ(0x21, tessel_interop_convert_clock_accuracy(0x21, G752, TESSEL_INTEROP_INGRESS, *rec));
    EXPECT_EQ(0x4E5D, tessel_interop_convert_oslv(0x4E5D, G752, TESSEL_INTEROP_INGRESS, *rec));
    EXPECT_EQ(6, tessel_interop_convert_clock_class(6, G752, QL1, TESSEL_INTEROP_INGRESS, *rec));
}

TEST(TesselInteropConvert, NoInteropProfileLeavesClassUnchanged)
{
    auto rec = make_interop();
    rec->presence = TESSEL_INTEROP_DOMAIN;
    EXPECT_EQ(84, tessel_interop_convert_clock_class(84, G751, QL1, TESSEL_INTEROP_INGRESS, *rec));
    EXPECT_EQ(10, tessel_interop_convert_priority1(10, G751, TESSEL_INTEROP_INGRESS, *rec));
}

TEST(TesselProfileClockCheck, ByProfile)
{
    ptp_clock_type clock{};
    clock.clock_class = 6;
    clock.offset_log_variance = 0x4E5D;
    EXPECT_EQ(ZERR_OK, tessel_profile_clock_check(clock, G752, 0));
    EXPECT_EQ(PTP_ZERR2_FLAGS_INCONSISTENT, tessel_profile_clock_check(clock, G752, 1));
    EXPECT_EQ(ZERR_OK, tessel_profile_clock_check(clock, G751, 1));
    clock.offset_log_variance = 0x1234;
    EXPECT_EQ(PTP_ZERR2_OSLV_INCONSISTENT, tessel_profile_clock_check(clock, G751, 0));
    clock.clock_class = 84;
    EXPECT_EQ(PTP_ZERR2_CLOCK_CLASS_INCONSISTENT, tessel_profile_clock_check(clock, G751, 0));
    EXPECT_EQ(ZERR_OK, tessel_profile_clock_check(clock, G65, 1));
    clock.clock_class = 85;
    EXPECT_EQ(PTP_ZERR2_CLOCK_CLASS_INCONSISTENT, tessel_profile_clock_check(clock, G65, 0));
}

TEST(TesselUtilsNames, Texts)
{
    EXPECT_STREQ("Init", tessel_thread_ctrl_msg_to_string(0));
    EXPECT_STREQ("Interface Update", tessel_thread_ctrl_msg_to_string(5));
    EXPECT_STREQ("NDT", tessel_thread_ctrl_msg_to_string(13));
    EXPECT_STREQ("Unknown", tessel_thread_ctrl_msg_to_string(14));
    EXPECT_STREQ("Unknown", tessel_thread_ctrl_msg_to_string(0xFFFFFFFFu));
    EXPECT_STREQ("SLAVE SYNCED", tessel_bmc_if_state_to_string(3));
    EXPECT_DEATH(tessel_bmc_if_state_to_string(4), "Unknown BMC if state");
    EXPECT_STREQ("Unknown", tessel_tlv_type_to_string(0));
    EXPECT_STREQ("Management", tessel_tlv_type_to_string(1));
    EXPECT_STREQ("Alternate Time Offset Indicator", tessel_tlv_type_to_string(9));
    EXPECT_STREQ("Unknown", tessel_tlv_type_to_string(10));
    EXPECT_STREQ("event", tessel_cfg_update_qos_to_string(2));
    EXPECT_STREQ("UNKNOWN", tessel_cfg_update_qos_to_string(3));
    EXPECT_STREQ("Thread Resync", tessel_issu_milestone_to_string(514));
    EXPECT_STREQ("<Unknown ISSU milestone>", tessel_issu_milestone_to_string(3));
}

struct ts_case {
    uint64_t sec;
    uint32_t nsec;
    int64_t add;
    uint64_t out_sec;
    uint32_t out_nsec;
};

TEST(TesselTimestampAddNs, Table)
{
    constexpr uint64_t MAX48 = (uint64_t{1} << 48) - 1;
    const ts_case cases[] = {
        {10, 100, -200, 9, 999999900},
        {10, 100, 200, 10, 300},
        {10, 999999999, 1, 11, 0},
        {0, 0, -1, MAX48, 999999999},
        {MAX48, 999999999, 1, 0, 0},
        {5, 0, -3000000000, 2, 0},
        {5, 0, 2500000001, 7, 500000001},
        // Extreme amounts must not overflow on the way.
        {0, 999999999, INT64_MAX, (INT64_MAX / 1000000000 + 1) & MAX48, 999999999 + 854775807 - 1000000000},
        {0, 0, INT64_MIN, static_cast<uint64_t>(-(INT64_MAX / 1000000000) - 1) & MAX48, 1000000000 - 854775808},
        // A nanoseconds field out of range on the wire is brought back into range.
        {1, 0xFFFFFFFFu, 0, 5, 294967295},
    };
    for (const ts_case &c : cases) {
        uint8_t ts[TESSEL_WIRE_TIMESTAMP_LEN];
        for (int i = 0; i < 6; i++) {
            ts[i] = static_cast<uint8_t>(c.sec >> (8 * (5 - i)));
        }
        for (int i = 0; i < 4; i++) {
            ts[6 + i] = static_cast<uint8_t>(c.nsec >> (8 * (3 - i)));
        }
        tessel_timestamp_add_ns(c.add, ts);
        uint64_t sec = 0;
        uint32_t nsec = 0;
        for (int i = 0; i < 6; i++) {
            sec = sec << 8 | ts[i];
        }
        for (int i = 6; i < 10; i++) {
            nsec = nsec << 8 | ts[i];
        }
        EXPECT_EQ(c.out_sec, sec) << c.sec << "." << c.nsec << " + " << c.add;
        EXPECT_EQ(c.out_nsec, nsec) << c.sec << "." << c.nsec << " + " << c.add;
    }
}

} // namespace
