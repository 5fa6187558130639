// Arbitrary operator input into the command line's batch parser, run against the in-process
// database: the input's lines are one batch, as "nodractl -f" reads them. An error line echoes a
// bounded part of its input however long the line; every input starts from an empty database.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "nodra.h"
#include "nodra_cli.h"
#include "nodra_test.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool ready = [] {
        if (nodra_test_server_start() != 0)
            std::abort();
        // The chassis' commands go to this database's socket too, which serves nothing else: no
        // input reaches a daemon of the machine's.
        setenv("PTP_PLATFORM_SOCKET", nodra_test_server_socket(), 1);
        return true;
    }();
    (void)ready;
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n')
            lines.emplace_back();
        else
            lines.back() += static_cast<char>(data[i]);
    }
    std::string out;
    nodra_cli_run(lines, &out);
    // Every line is whole, and an error line short.
    for (size_t at = 0; at < out.size();) {
        const size_t end = out.find('\n', at);
        if (end == std::string::npos || (out.compare(at, 7, "error: ") == 0 && end - at > 2048))
            std::abort();
        at = end + 1;
    }
    // The store is cleared (a durable write) only when the batch stored something.
    std::vector<nodra_config_item_td> items;
    if (nodra_config_show("/", &items) != 0 || !items.empty())
        nodra_test_reset();
    return 0;
}
