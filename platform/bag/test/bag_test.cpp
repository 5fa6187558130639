#include "bag.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A bag that uses every kind of the schema language.
struct t_mac {
    uint8_t m[6];
};
struct t_item {
    uint32_t Key;
    const char **Label;
};
union alignas(8) t_addr_value {
    uint32_t None;
    uint32_t V4;
    t_mac Mac;
};
struct t_addr {
    uint32_t Kind;
    t_addr_value u;
};
struct t_rec {
    const char *Name;
    uint16_t Count;
    uint8_t Flags[2];
    uint64_t Big;
    uint32_t On;
    uint32_t *Opt;
    bag_array<t_item> List;
    t_addr Addr;
    bag_bytes Blob;
    uint8_t Mac[6];
    int8_t Small;
    int32_t Signed;
};

constexpr uint64_t t_offsets[] = {
    offsetof(t_rec, Name), offsetof(t_rec, Count), offsetof(t_rec, Flags), offsetof(t_rec, Big),
    offsetof(t_rec, On),   offsetof(t_rec, Opt),   offsetof(t_rec, List),  offsetof(t_rec, Addr),
    offsetof(t_rec, Blob), offsetof(t_rec, Mac),   offsetof(t_rec, Small), offsetof(t_rec, Signed),
};
constexpr bag_layout_type t_layout = {4, sizeof(t_rec), t_offsets};
constexpr const char t_full[] =
    "$1={Name}s{Count}I{Flags}2A(C){Big}H{On}b{Opt}p(D){List}a($2){Addr}$3{Blob}y%x{Mac}6x%m{Small}c"
    "{Signed}i;$2={Key}D%h{Label}p($4);$3=?(<Kind,t_kind>,0:{None}b,1:{V4}N,2:{Mac}$5);$4=s;$5={m}6x%m;";
constexpr const char t_compact[] = "$1=sI2A(C)Hbp(D)a($2)$3.y%x6x%mci;$2=D%hp($4);$3=?(,0:b,1:N,2:$5.);$4=s;$5=6x%m;";
constexpr bag_descriptor_type t_bag = {1, "t_rec", 2, 6, "libtest.dll", &t_layout, t_full, t_compact};

class BagTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        bag_registry_reset();
        ASSERT_EQ(bag_register_start(), ZERR_OK);
        ASSERT_EQ(bag_register(&t_bag), ZERR_OK);
        ASSERT_EQ(bag_register_end(), ZERR_OK);
    }
    void TearDown() override { bag_registry_reset(); }

    // A record with every indirection in use.
    t_rec sample()
    {
        t_rec r{};
        r.Name = "Gig0/0/0/1";
        r.Count = 0xbeef;
        r.Flags[0] = 1;
        r.Flags[1] = 2;
        r.Big = 0x0123456789abcdefull;
        r.On = 7; // any non-zero value is true
        r.Opt = &opt;
        items[0] = {11, &label};
        items[1] = {22, nullptr};
        r.List = {2, items};
        r.Addr.Kind = 2;
        memcpy(r.Addr.u.Mac.m, "\x00\x11\x22\x33\x44\x55", 6);
        r.Blob = {3, blob};
        memcpy(r.Mac, "\xaa\xbb\xcc\xdd\xee\xff", 6);
        r.Small = -5;
        r.Signed = -123456;
        return r;
    }
    std::vector<uint8_t> encode(const t_rec &r)
    {
        uint8_t *data = nullptr;
        uint32_t len = 0;
        EXPECT_EQ(bag_encode(&r, &t_bag, &data, &len), ZERR_OK);
        std::vector<uint8_t> out(data, data + len);
        free(data);
        return out;
    }
    // Decodes from a heap copy of exactly the given bytes, so that any over-read is caught.
    zerrno decode(const std::vector<uint8_t> &bytes, t_rec *out)
    {
        auto *copy = static_cast<uint8_t *>(malloc(bytes.empty() ? 1 : bytes.size()));
        if (!bytes.empty())
            memcpy(copy, bytes.data(), bytes.size());
        zerrno rc = bag_decode(copy, static_cast<uint32_t>(bytes.size()), out, &t_bag);
        free(copy);
        return rc;
    }

    uint32_t opt = 0xfeedface;
    const char *label = "first";
    t_item items[2]{};
    uint8_t blob[3] = {9, 8, 7};
};

bool all_zero(const t_rec &r)
{
    const auto *b = reinterpret_cast<const uint8_t *>(&r);
    for (size_t i = 0; i < sizeof r; ++i)
        if (b[i] != 0)
            return false;
    return true;
}

TEST(BagSchema, RootLayoutFollowsNativeAlignment)
{
    uint64_t size = 0, align = 0, offsets[16];
    uint32_t count = 0;
    ASSERT_EQ(bag_schema_root_layout(t_full, &size, &align, offsets, 16, &count), ZERR_OK);
    EXPECT_EQ(size, sizeof(t_rec));
    EXPECT_EQ(align, alignof(t_rec));
    ASSERT_EQ(count, std::size(t_offsets));
    for (uint32_t i = 0; i < count; ++i)
        EXPECT_EQ(offsets[i], t_offsets[i]) << "field " << i;
    // The union: discriminant, then the arms at byte 8.
    ASSERT_EQ(bag_schema_root_layout("$3=?(,0:b,1:N,2:$5.);$5=6x%m;", &size, &align, offsets, 16, &count), ZERR_OK);
    EXPECT_EQ(size, sizeof(t_addr));
}

TEST(BagSchema, MalformedSchemasAreRefused)
{
    uint64_t size, align;
    uint32_t count;
    for (const char *bad : {"", "$1=", "$1={A}Q;", "$1={A}$2;", "$1={A}$2;$2={B}$1;", "$1={A}p(D;", "$1={A}D;$1={B}D;",
                            "$1={A}0A(D);", "$1=?(<K,e>);", "$1=?(,0:b,0:D);"}) {
        EXPECT_EQ(bag_schema_root_layout(bad, &size, &align, nullptr, 0, &count), bag_zerr(BAG_ZERR_BAD_SCHEMA)) << bad;
    }
}

TEST_F(BagTest, RoundTripRestoresEveryValueAndIndirection)
{
    t_rec in = sample();
    std::vector<uint8_t> bytes = encode(in);
    t_rec out;
    memset(&out, 0xa5, sizeof out);
    ASSERT_EQ(decode(bytes, &out), ZERR_OK);
    EXPECT_STREQ(out.Name, "Gig0/0/0/1");
    EXPECT_EQ(out.Count, 0xbeef);
    EXPECT_EQ(out.Flags[1], 2);
    EXPECT_EQ(out.Big, 0x0123456789abcdefull);
    EXPECT_EQ(out.On, 1u);
    ASSERT_NE(out.Opt, nullptr);
    EXPECT_EQ(*out.Opt, 0xfeedfaceu);
    ASSERT_EQ(out.List.count, 2u);
    EXPECT_EQ(out.List.array[0].Key, 11u);
    ASSERT_NE(out.List.array[0].Label, nullptr);
    EXPECT_STREQ(*out.List.array[0].Label, "first");
    EXPECT_EQ(out.List.array[1].Label, nullptr);
    EXPECT_EQ(out.Addr.Kind, 2u);
    EXPECT_EQ(memcmp(out.Addr.u.Mac.m, in.Addr.u.Mac.m, 6), 0);
    ASSERT_EQ(out.Blob.length, 3u);
    EXPECT_EQ(out.Blob.data[2], 7);
    EXPECT_EQ(memcmp(out.Mac, in.Mac, 6), 0);
    EXPECT_EQ(out.Small, -5);
    EXPECT_EQ(out.Signed, -123456);
    // Re-encoding the decoded record gives the same bytes.
    EXPECT_EQ(encode(out), bytes);
    ASSERT_EQ(bag_free_indirections(&out, &t_bag), ZERR_OK);
    EXPECT_EQ(out.Name, nullptr);
    EXPECT_EQ(out.Opt, nullptr);
    EXPECT_EQ(out.List.array, nullptr);
    EXPECT_EQ(out.Blob.data, nullptr);
}

TEST_F(BagTest, AbsentValuesAndUnknownUnionArmRoundTrip)
{
    t_rec in{};
    in.Addr.Kind = 9; // no arm: only the discriminant travels
    t_rec out;
    ASSERT_EQ(decode(encode(in), &out), ZERR_OK);
    EXPECT_EQ(out.Name, nullptr);
    EXPECT_EQ(out.Opt, nullptr);
    EXPECT_EQ(out.List.count, 0u);
    EXPECT_EQ(out.Addr.Kind, 9u);
    EXPECT_EQ(out.Addr.u.V4, 0u);
    EXPECT_EQ(bag_free_indirections(&out, &t_bag), ZERR_OK);
}

TEST_F(BagTest, EveryTruncationIsRefusedAndLeavesNothingAllocated)
{
    std::vector<uint8_t> bytes = encode(sample());
    for (size_t n = 0; n < bytes.size(); ++n) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
        t_rec out;
        memset(&out, 0xa5, sizeof out);
        zerrno rc = decode(cut, &out);
        EXPECT_TRUE(rc == bag_zerr(BAG_ZERR_TRUNCATED) || rc == bag_zerr(BAG_ZERR_INCONSISTENT)) << n;
        EXPECT_TRUE(all_zero(out)) << n;
    }
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    t_rec out;
    EXPECT_EQ(decode(longer, &out), bag_zerr(BAG_ZERR_INCONSISTENT));
}

TEST_F(BagTest, InconsistentEncodingsAreRefused)
{
    t_rec in{};
    in.On = 1;
    in.Name = "x";
    std::vector<uint8_t> base = encode(in);
    size_t header = 4 + 2 + 2 + 2 + 2 + strlen("t_rec") + 4 + 4;
    // Body: Name (4 + 1), Count 2, Flags 2, Big 8, On 1, Opt 1, List 4, Addr 4, Blob 4, Mac 6, ...
    const size_t name_len = header, on = header + 5 + 2 + 2 + 8, opt = on + 1, list = opt + 1;
    struct {
        const char *what;
        size_t at;
        std::vector<uint8_t> bytes;
        zerrno rc;
    } cases[] = {
        {"bad magic", 0, {'X'}, bag_zerr(BAG_ZERR_INCONSISTENT)},
        {"boolean 2", on, {2}, bag_zerr(BAG_ZERR_INCONSISTENT)},
        {"presence 2", opt, {2}, bag_zerr(BAG_ZERR_INCONSISTENT)},
        {"huge array count", list, {0x7f, 0xff, 0xff, 0xff}, bag_zerr(BAG_ZERR_TRUNCATED)},
        {"string past end", name_len, {0x00, 0x10, 0x00, 0x00}, bag_zerr(BAG_ZERR_TRUNCATED)},
        {"other bag name", 12, {'u'}, bag_zerr(BAG_ZERR_WRONG_BAG)},
        {"other schema", 12 + 5, {0, 0, 0, 0}, bag_zerr(BAG_ZERR_WRONG_BAG)},
        {"body length short", 12 + 5 + 4, {0, 0, 0, 1}, bag_zerr(BAG_ZERR_INCONSISTENT)},
        {"body length long", 12 + 5 + 4, {0, 1, 0, 0}, bag_zerr(BAG_ZERR_TRUNCATED)},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> bytes = base;
        std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + static_cast<long>(c.at));
        t_rec out;
        EXPECT_EQ(decode(bytes, &out), c.rc) << c.what;
        EXPECT_TRUE(all_zero(out)) << c.what;
    }
    // A NUL inside a string.
    in.Name = "ab";
    std::vector<uint8_t> bytes = encode(in);
    bytes[name_len + 4] = 0;
    t_rec out;
    EXPECT_EQ(decode(bytes, &out), bag_zerr(BAG_ZERR_INCONSISTENT));
}

TEST_F(BagTest, EncodeRefusesDanglingArrays)
{
    t_rec in{};
    in.List.count = 1;
    uint8_t *data = nullptr;
    uint32_t len = 0;
    EXPECT_EQ(bag_encode(&in, &t_bag, &data, &len), bag_zerr(BAG_ZERR_INVALID_ARG));
    EXPECT_EQ(data, nullptr);
}

TEST_F(BagTest, RegistrationChecksDescriptorsAndSessions)
{
    bag_registry_reset();
    EXPECT_EQ(bag_register(&t_bag), bag_zerr(BAG_ZERR_NOT_OPEN));
    ASSERT_EQ(bag_register_start(), ZERR_OK);
    EXPECT_EQ(bag_register_start(), bag_zerr(BAG_ZERR_ALREADY_OPEN));

    bag_layout_type wrong_size = t_layout;
    wrong_size.size += 8;
    uint64_t bad_offsets[std::size(t_offsets)];
    memcpy(bad_offsets, t_offsets, sizeof bad_offsets);
    bad_offsets[3] = 12;
    bag_layout_type wrong_offset = t_layout;
    wrong_offset.offsets = bad_offsets;
    bag_layout_type wrong_count = t_layout;
    wrong_count.definition_count = 3;
    struct {
        const char *what;
        bag_descriptor_type d;
        zerrno rc;
    } cases[] = {
        {"first word", {2, "t_rec", 2, 6, "l", &t_layout, t_full, t_compact}, bag_zerr(BAG_ZERR_BAD_DESCRIPTOR)},
        {"no name", {1, "", 2, 6, "l", &t_layout, t_full, t_compact}, bag_zerr(BAG_ZERR_BAD_DESCRIPTOR)},
        {"size", {1, "t_rec", 2, 6, "l", &wrong_size, t_full, t_compact}, bag_zerr(BAG_ZERR_BAD_LAYOUT)},
        {"offset", {1, "t_rec", 2, 6, "l", &wrong_offset, t_full, t_compact}, bag_zerr(BAG_ZERR_BAD_LAYOUT)},
        {"definition count", {1, "t_rec", 2, 6, "l", &wrong_count, t_full, t_compact}, bag_zerr(BAG_ZERR_BAD_LAYOUT)},
        {"compact differs", {1, "t_rec", 2, 6, "l", &t_layout, t_full, "$1=s;"}, bag_zerr(BAG_ZERR_BAD_SCHEMA)},
        {"definitions out of order",
         {1, "t_rec", 2, 6, "l", &t_layout, "$1={A}$3{B}$2;$3={C}D;$2={D}D;", "$1=$3.$2.;$3=D;$2=D;"},
         bag_zerr(BAG_ZERR_BAD_SCHEMA)},
        {"unused definition",
         {1, "t_rec", 2, 6, "l", &t_layout, "$1={A}D;$2={B}D;", "$1=D;$2=D;"},
         bag_zerr(BAG_ZERR_BAD_SCHEMA)},
    };
    for (const auto &c : cases)
        EXPECT_EQ(bag_register(&c.d), c.rc) << c.what;
    EXPECT_FALSE(bag_is_registered("t_rec"));

    ASSERT_EQ(bag_register(&t_bag), ZERR_OK);
    EXPECT_EQ(bag_register(&t_bag), ZERR_OK) << "the same bag again";
    bag_descriptor_type other = t_bag;
    other.minor = 7;
    EXPECT_EQ(bag_register(&other), bag_zerr(BAG_ZERR_EXISTS));
    ASSERT_EQ(bag_register_end(), ZERR_OK);
    EXPECT_TRUE(bag_is_registered("t_rec"));
    EXPECT_EQ(bag_register_end(), bag_zerr(BAG_ZERR_NOT_OPEN));

    // A later aborted registration leaves the earlier bags alone.
    ASSERT_EQ(bag_register_start(), ZERR_OK);
    EXPECT_EQ(bag_register(&t_bag), ZERR_OK);
    ASSERT_EQ(bag_register_abort(), ZERR_OK);
    EXPECT_TRUE(bag_is_registered("t_rec"));
}

TEST_F(BagTest, AbortRemovesWhatTheRegistrationAdded)
{
    bag_registry_reset();
    ASSERT_EQ(bag_register_start(), ZERR_OK);
    ASSERT_EQ(bag_register(&t_bag), ZERR_OK);
    EXPECT_TRUE(bag_is_registered("t_rec"));
    bag_test_fail_register(1, 0x1234);
    EXPECT_EQ(bag_register(&t_bag), 0x1234u);
    ASSERT_EQ(bag_register_abort(), ZERR_OK);
    EXPECT_FALSE(bag_is_registered("t_rec"));
    uint8_t *data = nullptr;
    uint32_t len;
    t_rec in{};
    EXPECT_EQ(bag_encode(&in, &t_bag, &data, &len), bag_zerr(BAG_ZERR_NOT_REGISTERED));
    EXPECT_EQ(bag_decode(nullptr, 0, &in, &t_bag), bag_zerr(BAG_ZERR_NOT_REGISTERED));
}

TEST(BagFetch, KeysAndSignedOrder)
{
    EXPECT_EQ(bag_description_key("Domain"), 0xa6b4da98u);
    EXPECT_EQ(bag_description_key("%ids%"), 0x02d8d6cau);
    EXPECT_EQ(bag_description_key("96"), 0x0000078fu);
    EXPECT_EQ(bag_description_key("NetworkType"), 0x4794738cu);
    // Signed order: "Domain" (negative as a signed number) comes first.
    const bag_description_row rows[] = {
        {bag_description_key("Domain"), "Domain", "The domain"},
        {bag_description_key("96"), "96", "ptp_bag_ipv6_addr"},
        {bag_description_key("NetworkType"), "NetworkType", "The network type"},
    };
    const char *text = nullptr;
    for (const auto &row : rows) {
        ASSERT_EQ(bag_fetch_string(row.name, rows, 3, &text), ZERR_OK) << row.name;
        EXPECT_STREQ(text, row.description);
    }
    EXPECT_EQ(bag_fetch_string("Missing", rows, 3, &text), bag_zerr(BAG_ZERR_NOT_FOUND));
    EXPECT_EQ(text, nullptr);
    EXPECT_STREQ(zerr_strerror(bag_zerr(BAG_ZERR_NOT_FOUND)), "Bag description string not found");
}

} // namespace
