#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "bgen_args.h"
#include "tuple.h"

namespace {

struct tuple_deleter {
    void operator()(tuple_type *t) const { tuple_free(t); }
};
using tuple_ptr = std::unique_ptr<tuple_type, tuple_deleter>;

std::vector<uint8_t> bytes_of(const tuple_type *t)
{
    auto *p = reinterpret_cast<const uint8_t *>(t);
    return std::vector<uint8_t>(p, p + tuple_size(t));
}

TEST(Tuple, RoundTripKeepsPresentFieldsAndDefaultsOfAbsentOnes)
{
    tuple_type *raw = nullptr;
    ASSERT_EQ(tuple_pack_mask(&raw, "%d%u%s", 0x5, -7, 99u, "0180.c200.000e"), ZERR_OK);
    tuple_ptr t(raw);
    int32_t a = 0;
    uint32_t b = 1234; // absent: keeps the caller's default
    const char *s = nullptr;
    uint32_t mask = 0;
    ASSERT_EQ(tuple_unpack_mask(t.get(), tuple_size(t.get()), "%d%u%s", &mask, &a, &b, &s), ZERR_OK);
    EXPECT_EQ(mask, 0x5u);
    EXPECT_EQ(a, -7);
    EXPECT_EQ(b, 1234u);
    EXPECT_STREQ(s, "0180.c200.000e");
    EXPECT_EQ(tuple_unpack(t.get(), tuple_size(t.get()), "%d%u%s", &a, &b, &s), TUPLE_ERR_ABSENT);
}

TEST(Tuple, ByteFormIsBigEndianWithHeader)
{
    tuple_type *raw = nullptr;
    ASSERT_EQ(tuple_pack_mask(&raw, "%d%S", 0x3, 0x01020304, "ab"), ZERR_OK);
    tuple_ptr t(raw);
    std::vector<uint8_t> want{0, 0, 0, 25,  0,   0, 0, 3, 2, 0, 0, 0, // header
                              1, 1, 2, 3,   4,                        // number
                              2, 0, 2, 'a', 'b', 0};                  // text
    want[3] = static_cast<uint8_t>(want.size());
    EXPECT_EQ(bytes_of(t.get()), want);
}

TEST(Tuple, EmptyMaskMakesDefaultTuple)
{
    tuple_type *raw = nullptr;
    ASSERT_EQ(tuple_pack_mask(&raw, "%d%d", 0, 5, 6), ZERR_OK);
    tuple_ptr t(raw);
    EXPECT_EQ(tuple_size(t.get()), TUPLE_HEADER_SIZE);
    uint32_t mask = 0xff;
    EXPECT_EQ(tuple_unpack_mask(t.get(), tuple_size(t.get()), "%d%d", &mask, nullptr, nullptr), ZERR_OK);
    EXPECT_EQ(mask, 0u);
}

// Every truncation and every corrupted byte of a valid tuple is refused without a write.
TEST(Tuple, ShortOrCorruptInputIsRefusedNeverOverrun)
{
    tuple_type *raw = nullptr;
    ASSERT_EQ(tuple_pack_mask(&raw, "%d%s", 0x3, 1, "abc"), ZERR_OK);
    tuple_ptr t(raw);
    std::vector<uint8_t> good = bytes_of(t.get());
    for (size_t len = 0; len < good.size(); len++) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(len));
        int32_t n = 42;
        EXPECT_NE(tuple_unpack_mask(reinterpret_cast<const tuple_type *>(cut.data()), static_cast<uint32_t>(cut.size()),
                                    "%d%s", nullptr, &n, nullptr),
                  ZERR_OK)
            << "length " << len;
        EXPECT_EQ(n, 42);
    }
    struct {
        size_t offset;
        uint8_t value;
    } corruptions[] = {
        {3, 0xff}, // total beyond the buffer
        {7, 0x07}, // a field beyond the format
        {8, 3},    // field count differs from the format
        {12, 2},   // number tagged as text
        {18, 9},   // text length beyond the tuple
        {23, 'x'}, // missing terminating zero
    };
    for (auto c : corruptions) {
        std::vector<uint8_t> bad = good;
        bad[c.offset] = c.value;
        EXPECT_EQ(tuple_unpack_mask(reinterpret_cast<const tuple_type *>(bad.data()), static_cast<uint32_t>(bad.size()),
                                    "%d%s", nullptr, nullptr, nullptr),
                  TUPLE_ERR_MALFORMED)
            << "offset " << c.offset;
    }
    EXPECT_EQ(tuple_unpack_mask(t.get(), tuple_size(t.get()), "%d%d", nullptr, nullptr, nullptr), TUPLE_ERR_MALFORMED);
    EXPECT_EQ(tuple_unpack_mask(t.get(), tuple_size(t.get()), "%x", nullptr, nullptr), TUPLE_ERR_FORMAT);
}

TEST(BgenArgs, AbsentKeysAndWrongKindsAreNotReturned)
{
    bgen_args_td args;
    bgen_args_init(&args, 7);
    EXPECT_EQ(args.bg_ident, 7u);
    EXPECT_EQ(bgen_args_get(&args, 0, BGEN_ARG_STRING), nullptr);
    bgen_args_set_string(&args, 0, "prof");
    bgen_args_set_uint(&args, 1, 2);
    const uint8_t ip[4] = {10, 0, 0, 1};
    bgen_args_set_ip(&args, 3, BGEN_IP_V4, ip);
    ASSERT_NE(bgen_args_get(&args, 0, BGEN_ARG_STRING), nullptr);
    EXPECT_STREQ(bgen_args_get(&args, 0, BGEN_ARG_STRING)->text, "prof");
    EXPECT_EQ(bgen_args_get(&args, 1, BGEN_ARG_STRING), nullptr); // a number, not a text
    EXPECT_EQ(bgen_args_get(&args, 2, BGEN_ARG_STRING), nullptr); // never set: absent
    EXPECT_EQ(memcmp(bgen_args_get(&args, 3, BGEN_ARG_IPADDR)->ip, ip, 4), 0);
    args.missing_mask |= 1u << 1;
    EXPECT_EQ(bgen_args_get(&args, 1, BGEN_ARG_UINT), nullptr);
}

} // namespace
