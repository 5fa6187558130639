#include "zerrno.h"

#include <gtest/gtest.h>

namespace {

const zerr_info_type rows[] = {{1, "first"}, {7, "seventh"}, {3, "third"}};
const zerr_data_type table = {2, "test", 0xFE5, 3, rows, 1, 0};

TEST(Zerrno, CodeLayoutSplitsBack)
{
    zerrno code = zerr_make(0xFE5, 8, 17);
    EXPECT_EQ(code, 0x47f29000u | 17u);
    EXPECT_EQ(zerr_facility(code), 0xFE5u);
    EXPECT_EQ(zerr_number(code), 8u);
    EXPECT_EQ(zerr_errno(code), 17u);
    // The out-of-memory code carries 3 in its top bits and still splits to its row.
    EXPECT_EQ(zerr_facility(0xC7F28200u), 0xFE5u);
    EXPECT_EQ(zerr_number(0xC7F28200u), 1u);
}

TEST(Zerrno, StrerrorFindsRowsByNumberNotPosition)
{
    zerr_registry_reset();
    ASSERT_EQ(zerr_register(&table), ZERR_OK);
    EXPECT_STREQ(zerr_strerror(zerr_make(0xFE5, 3)), "third");
    EXPECT_STREQ(zerr_strerror(zerr_make(0xFE5, 7, 5)), "seventh");
    EXPECT_STREQ(zerr_strerror(0xC7F28200u), "first");
    EXPECT_STREQ(zerr_strerror(zerr_make(0xFE5, 9)), "Unknown error 0x47f29200");
    EXPECT_STREQ(zerr_strerror(0), "Success");
    // A code with bit 31 rather than bit 30 still finds its row.
    EXPECT_STREQ(zerr_strerror(0x80000000u | (0xFE5u << 15) | (7u << 9)), "seventh");
    zerr_registry_reset();
    EXPECT_STREQ(zerr_strerror(zerr_make(0xFE5, 3)), "Unknown error 0x47f28600");
}

TEST(Zerrno, RegisterRefusesEmptyTable)
{
    zerr_data_type empty = {2, "x", 1, 0, nullptr, 1, 0};
    EXPECT_NE(zerr_register(&empty), ZERR_OK);
    EXPECT_NE(zerr_register(nullptr), ZERR_OK);
    EXPECT_NE(zerr_load_library("/nonexistent/libnothing.so"), ZERR_OK);
}

} // namespace
