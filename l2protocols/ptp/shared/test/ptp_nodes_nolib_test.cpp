// The node list while the database client library is absent. Its own program: once the library
// has been found, the process remembers it.
#include "ptp_nodes.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "nodra_test.h"

namespace {

TEST(PtpNodesNoLibraryTest, AbsentLibraryCallsNoDatabaseUntilItAppears)
{
    char dir[] = "/tmp/ptp_nodes_nolibXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string library = std::string(dir) + "/libnodra.so";
    nodra_test_reset();
    nodra_test_set_client_library_path(library.c_str());
    ASSERT_EQ(nodra_test_item_set("/oper/ptp/node/1a0/summary", 7, "b", 1), ZERR_OK);

    for (int round = 0; round < 2; ++round) {
        uint32_t *array = reinterpret_cast<uint32_t *>(8);
        uint32_t count = 99;
        EXPECT_EQ(ptp_nodes_list(&array, &count), 0x8081c200u);
        EXPECT_EQ(array, nullptr);
        EXPECT_EQ(count, 0u);
    }
    EXPECT_EQ(nodra_test_call_count(), 0u);

    // An absent library is not remembered: once the file is there the database is read.
    const int fd = open(library.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
    uint32_t *array = nullptr;
    uint32_t count = 0;
    EXPECT_EQ(ptp_nodes_list(&array, &count), ZERR_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(array[0], 0x1a0u);
    free(array);

    unlink(library.c_str());
    rmdir(dir);
    nodra_test_reset();
}

} // namespace
