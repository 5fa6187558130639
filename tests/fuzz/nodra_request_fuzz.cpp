// Arbitrary messages from a client into the database service, as the daemon hosts it: each input
// is a run of messages (u8 type, u16 length, that many payload bytes; a short one takes what is
// left) sent on one connection, then a blocking request that must still be answered. The
// connection then goes away (its registrations with it) and the items are cleared, so that every
// input starts from an empty database.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "nodra_test.h"
#include "nodra_wire.h"
#include "sockmsg.h"

namespace {

sockmsg_client_type *reset_client = nullptr;

bool started()
{
    if (reset_client != nullptr)
        return true;
    if (nodra_test_server_start() != 0 ||
        sockmsg_client_connect(nodra_test_server_socket(), nullptr, nullptr, nullptr, nullptr, &reset_client) != 0)
        std::abort();
    return true;
}

std::vector<uint8_t> call_or_die(sockmsg_client_type *c, uint16_t type, const std::vector<uint8_t> &payload)
{
    uint32_t status = 0;
    std::vector<uint8_t> reply;
    if (sockmsg_client_call(c, NODRA_SERVICE_ID, type, payload.data(), static_cast<uint32_t>(payload.size()), &status,
                            &reply) != 0)
        std::abort(); // the service stopped answering
    return reply;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    started();
    sockmsg_client_type *c = nullptr;
    if (sockmsg_client_connect(nodra_test_server_socket(), nullptr, nullptr, nullptr, nullptr, &c) != 0)
        std::abort();
    size_t at = 0;
    while (at < size) {
        const uint16_t type = data[at++];
        size_t n = 0;
        if (at + 2 <= size) {
            n = static_cast<size_t>(data[at]) << 8 | data[at + 1];
            at += 2;
        }
        n = std::min(n, size - at);
        // Sends: whatever the type, nobody waits for an answer that may never come (a commit
        // waiting for this client's own verification).
        if (sockmsg_client_send(c, NODRA_SERVICE_ID, type, data + at, static_cast<uint32_t>(n)) != 0)
            break;
        at += n;
    }
    // Everything sent before it has been handled when this is answered.
    nodra_wire_writer show;
    show.str("/");
    const std::vector<uint8_t> items = call_or_die(c, NODRA_MSG_SHOW, show.out);
    sockmsg_client_close(c);
    // The store is cleared (a durable write) only when something was stored: {sequence, count, ...}.
    nodra_wire_reader r(items.data(), static_cast<uint32_t>(items.size()));
    r.u32();
    if (r.u32() != 0 || !r.ok)
        call_or_die(reset_client, NODRA_MSG_TEST_RESET, {});
    return 0;
}
