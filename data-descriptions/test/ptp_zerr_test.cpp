#include <dlfcn.h>

#include <cstring>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "ptp_zerr.h"

namespace {

enum class Source {
    Libraries,
    InProcess
};

class PtpZerrText : public ::testing::TestWithParam<Source> {
protected:
    void SetUp() override
    {
        zerr_registry_reset();
        if (GetParam() == Source::Libraries)
            ASSERT_EQ(ptp_zerr_load_libraries(nullptr), ZERR_OK) << ptp_zerr_library_dir();
        else
            ASSERT_EQ(ptp_zerr_register_all(), ZERR_OK);
    }
    void TearDown() override { zerr_registry_reset(); }
};

struct TextCase {
    zerrno code;
    const char *text;
};

constexpr TextCase text_cases[] = {
    {0x47f28200, "Insufficient memory is available to complete the operation"},
    {0xC7F28200, "Insufficient memory is available to complete the operation"},
    {0x47f28e00, "Client already bound"},
    {0x47f28600, "Database entry already exists"},
    {0x47f29000 | 4, "Event Manager failure"},
    {0x47f2ac00, "Failed to verify the port state value. It must beSlave-Only, Master-Only, or Any"},
    {0x47f2d800, "Managed timer error"},
    {0x47f2fe00, "Invalid date string"},
    {0x4f948200, "Could not get the AIB lookup table"},
    {0x4f948a00, "Failed to verify the clock type.  Clock type configured with profile that does not "
                 "allow clock type to be specified."},
    {0x4f949000, "Multicast addresses are not permitted under the 'master' submode"},
    {0x4f94a800, "An element of a decoded GPB item was of an enexpected size"},
    {0x4f94b800, "An invalid or empty URL was specified for the leap-second-file."},
    // Facility 0x1F29 has no row 16.
    {0x4f94a000, "Unknown error 0x4f94a000"},
};

TEST_P(PtpZerrText, PrintsExactTexts)
{
    for (const TextCase &c : text_cases)
        EXPECT_STREQ(zerr_strerror(c.code), c.text) << std::hex << c.code;
}

// Every named code prints the text of the row it was generated from.
TEST_P(PtpZerrText, NamedCodesPrintTheirRows)
{
#define ROW_(PREFIX, NAME, text) EXPECT_STREQ(zerr_strerror(PREFIX##_##NAME), text) << #PREFIX "_" #NAME;
#define ZERR_ROW_(NAME, number, text) ROW_(PTP_ZERR, NAME, text)
#define ZERR2_ROW_(NAME, number, text) ROW_(PTP_ZERR2, NAME, text)
    PTP_ZERR_ROWS(ZERR_ROW_, ZERR_ROW_, PTP_ZERR_NONE_)
    PTP_ZERR2_ROWS(ZERR2_ROW_, ZERR2_ROW_, PTP_ZERR_NONE_)
#undef ROW_
#undef ZERR_ROW_
#undef ZERR2_ROW_
}

INSTANTIATE_TEST_SUITE_P(BothWays, PtpZerrText, ::testing::Values(Source::Libraries, Source::InProcess));

// A repeated row carries the text of its first copy, so a lookup cannot depend on which copy
// the error facility meets first.
TEST(PtpZerrTable, RepeatedRowsAgree)
{
    for (const auto &[rows, count] :
         {std::pair{ptp_zerr_info, PTP_ZERR_INFO_COUNT}, std::pair{ptp_zerr_info2, PTP_ZERR_INFO2_COUNT}}) {
        std::map<uint64_t, std::string> seen;
        for (uint32_t i = 0; i < count; ++i) {
            auto [it, fresh] = seen.emplace(rows[i].number, rows[i].text);
            EXPECT_TRUE(fresh || it->second == rows[i].text) << "row " << rows[i].number;
            EXPECT_GE(rows[i].number, 1u);
            EXPECT_LE(rows[i].number, 63u);
        }
    }
    EXPECT_EQ(ptp_zerr_info[2].number, 7u); // table order, not sorted
    EXPECT_EQ(ptp_zerr_info2[15].number, 8u);
}

// The exported header as the error facility reads it: 48 little-endian bytes.
TEST(PtpZerrLibrary, ExportsHeaderAndRows)
{
    struct Lib {
        const char *name;
        const char *rows_symbol;
        uint32_t facility;
        uint32_t count;
    };
    for (const Lib &lib :
         {Lib{"libptp_zerr.so", "ptp_zerr_info", 0xFE5, 63}, Lib{"libptp_zerr2.so", "ptp_zerr_info2", 0x1F29, 30}}) {
        std::string path = std::string(ptp_zerr_library_dir()) + "/" + lib.name;
        void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        const auto *bytes = static_cast<const unsigned char *>(dlsym(handle, "zerr_data"));
        const void *rows = dlsym(handle, lib.rows_symbol);
        ASSERT_NE(bytes, nullptr);
        ASSERT_NE(rows, nullptr);
        auto u64 = [&](size_t off) {
            uint64_t v;
            memcpy(&v, bytes + off, 8);
            return v;
        };
        auto u32 = [&](size_t off) {
            uint32_t v;
            memcpy(&v, bytes + off, 4);
            return v;
        };
        EXPECT_EQ(u64(0), 2u);
        EXPECT_STREQ(reinterpret_cast<const char *>(u64(8)), "ptp");
        EXPECT_EQ(u32(16), lib.facility);
        EXPECT_EQ(u32(20), lib.count);
        EXPECT_EQ(u64(24), reinterpret_cast<uintptr_t>(rows));
        EXPECT_EQ(u64(32), 1u);
        EXPECT_EQ(u64(40), 0u);
        dlclose(handle);
    }
}

} // namespace
