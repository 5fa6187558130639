#include "plat_debug.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "jotlog.h"

namespace {

// A small filter language like a process would install: "<level>" or "<level>:<interface>".
struct filter_type {
    uint32_t level;
    uint32_t ifhandle;
};
struct params_type {
    uint32_t ifhandle;
    uint32_t level;
};

int releases = 0;

bool match(const void *p, const void *f)
{
    auto *params = static_cast<const params_type *>(p);
    auto *filter = static_cast<const filter_type *>(f);
    return params->level <= filter->level && (filter->ifhandle == 0 || filter->ifhandle == params->ifhandle);
}

zerrno parse(uint32_t op, debug_facility_ref_type *ref, void *)
{
    if (op == DEBUG_OP_RELEASE) {
        void *f = nullptr;
        debug_get_app_reference(ref, &f);
        delete static_cast<filter_type *>(f);
        ++releases;
        return ZERR_OK;
    }
    if (op != DEBUG_OP_PARSE)
        return ZERR_OK;
    uint32_t type;
    const void *value;
    uint32_t len;
    debug_get_type_value(ref, &type, &value, &len);
    if (type != DEBUG_VALUE_TEXT)
        return EINVAL;
    std::string text(static_cast<const char *>(value), len);
    std::string level = text.substr(0, text.find(':'));
    auto *f = new filter_type{};
    if (level == "support")
        f->level = 1;
    else if (level == "internal")
        f->level = 2;
    else {
        delete f;
        return ENOMEM;
    }
    if (text.find(':') != std::string::npos)
        f->ifhandle = static_cast<uint32_t>(std::stoul(text.substr(text.find(':') + 1)));
    return debug_install_filter(ref, f, match);
}

class Debug : public ::testing::Test {
protected:
    debug_event_type table[3];
    static constexpr const char *path = "/debug/test";

    void SetUp() override
    {
        releases = 0;
        const char *names[] = {"alpha", "beta", "gamma"};
        for (uint32_t i = 0; i < 3; ++i)
            ASSERT_EQ(debug_init_event(&table[i], table, i, 7, names[i], sizeof(params_type)), ZERR_OK);
        ASSERT_EQ(debug_register(nullptr, path, table, 3, parse, nullptr), ZERR_OK);
        debug_capture_clear();
    }
    void TearDown() override { debug_cleanup(path); }

    void print(uint32_t area, uint32_t ifhandle, uint32_t level, const char *text)
    {
        params_type p{ifhandle, level};
        buginf(&table[area], &p, sizeof p, "%s: %s\n", table[area].name, text);
    }
};

TEST_F(Debug, AreasPrintOnlyWhileSwitchedOn)
{
    print(0, 0, 0, "off");
    EXPECT_EQ(table[0].enabled, 0u);
    ASSERT_EQ(debug_set_area(path, "beta", nullptr), ZERR_OK);
    EXPECT_NE(table[1].enabled, 0u);
    print(0, 0, 0, "alpha is off");
    print(1, 5, 2, "beta is on");
    buginf(&table[1], nullptr, 0, "no parameters %d", 7);
    ASSERT_EQ(debug_clear_area(path, "beta"), ZERR_OK);
    print(1, 5, 0, "off again");
    EXPECT_EQ(debug_captured(), (std::vector<std::string>{"beta: beta is on", "no parameters 7"}));

    EXPECT_EQ(debug_set_area(path, "delta", nullptr), static_cast<zerrno>(ENOENT));
    EXPECT_EQ(debug_set_area("/debug/none", "beta", nullptr), static_cast<zerrno>(ENOENT));
}

TEST_F(Debug, FiltersAreParsedInstalledMatchedAndReleased)
{
    ASSERT_EQ(debug_set_area(path, "alpha", "support:9"), ZERR_OK);
    print(0, 9, 1, "support on 9");
    print(0, 9, 2, "internal on 9");
    print(0, 4, 0, "error on 4");
    EXPECT_EQ(debug_captured(), std::vector<std::string>{"alpha: support on 9"});

    // Replacing a filter releases the old one; a refused text leaves the area as it was.
    ASSERT_EQ(debug_set_area(path, "alpha", "internal"), ZERR_OK);
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(debug_set_area(path, "alpha", "verbose"), static_cast<zerrno>(ENOMEM));
    uint64_t n = 3;
    EXPECT_EQ(debug_set_area_value(path, "alpha", DEBUG_VALUE_UINT, &n, sizeof n), static_cast<zerrno>(EINVAL));
    EXPECT_EQ(debug_set_area(path, "gamma", "verbose"), static_cast<zerrno>(ENOMEM));
    EXPECT_EQ(table[2].enabled, 0u);
    debug_capture_clear();
    print(0, 4, 2, "internal on 4");
    EXPECT_EQ(debug_captured(), std::vector<std::string>{"alpha: internal on 4"});

    // "all" switches every area; cleanup releases every filter and switches everything off.
    ASSERT_EQ(debug_set_area(path, "all", "support"), ZERR_OK);
    EXPECT_EQ(releases, 2);
    ASSERT_EQ(debug_cleanup(path), ZERR_OK);
    EXPECT_EQ(releases, 5);
    for (auto &e : table)
        EXPECT_EQ(e.enabled, 0u);
    EXPECT_EQ(debug_cleanup(path), static_cast<zerrno>(ENOENT));
}

TEST_F(Debug, RegistrationChecksAndEnvironmentSwitch)
{
    EXPECT_EQ(debug_register(nullptr, path, table, 3, parse, nullptr), static_cast<zerrno>(EEXIST));
    debug_event_type other[2];
    ASSERT_EQ(debug_init_event(&other[0], other, 0, 7, "one", 8), ZERR_OK);
    std::memset(&other[1], 0, sizeof other[1]);
    EXPECT_EQ(debug_register(nullptr, "/debug/other", other, 2, parse, nullptr), static_cast<zerrno>(EINVAL));
    EXPECT_EQ(debug_init_event(&other[1], other, 1, 7, std::string(64, 'x').c_str(), 8), static_cast<zerrno>(EINVAL));

    ASSERT_EQ(debug_init_event(&other[1], other, 1, 7, "two", 8), ZERR_OK);
    setenv("PTP_DEBUG", "/debug/x:one;/debug/other:two=internal:3", 1);
    ASSERT_EQ(debug_register(nullptr, "/debug/other", other, 2, parse, nullptr), ZERR_OK);
    unsetenv("PTP_DEBUG");
    EXPECT_EQ(other[0].enabled, 0u);
    EXPECT_NE(other[1].enabled, 0u);
    EXPECT_NE(other[1].filter, nullptr);
    ASSERT_EQ(debug_cleanup("/debug/other"), ZERR_OK);
    EXPECT_EQ(releases, 1);
}

TEST_F(Debug, LinesGoToTheProcessDebugLog)
{
    char dir[] = "/tmp/ptp-debug-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    jotlog_set_run_dir(dir);
    std::string log = debug_log_path();
    EXPECT_EQ(log.rfind(std::string(dir) + "/debug/", 0), 0u) << log;
    ASSERT_EQ(debug_set_area(path, "gamma", nullptr), ZERR_OK);
    print(2, 0, 0, "to the file");
    jotlog_set_run_dir(nullptr);
    std::ifstream in(log);
    ASSERT_TRUE(in) << log;
    std::string line;
    std::getline(in, line);
    // "YYYY-mm-dd HH:MM:SS.uuuuuu " then the text.
    ASSERT_GT(line.size(), 27u);
    EXPECT_EQ(line.substr(26), " gamma: to the file");
}

} // namespace
