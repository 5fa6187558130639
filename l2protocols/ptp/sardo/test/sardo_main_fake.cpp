// A recording fake of the process entry for the module tests: the exit requests are counted, the
// node id is the test's, and the database library is probed as the entry does.
#include <unistd.h>

#include <atomic>

#include "nodra.h"
#include "sardo_fakes.h"
#include "sardo_main.h"

namespace {
std::atomic<uint32_t> exit_requests{0};
std::atomic<uint32_t> node_id{0};
} // namespace

void sardo_fake_reset(void)
{
    exit_requests = 0;
    node_id = 0;
}

uint32_t sardo_fake_exit_requests(void)
{
    return exit_requests;
}

void sardo_fake_set_node_id(uint32_t node)
{
    node_id = node;
}

void sardo_main_request_exit(void)
{
    exit_requests++;
}

uint32_t sardo_main_get_node_id(void)
{
    return node_id;
}

bool sardo_main_nodra_library_present(void)
{
    return access(nodra_client_library_path(), R_OK) == 0;
}
