// The group services and the service directory between a client and the daemon's side, over a
// socket served by a thread of this process: lookups, binds, messages to an end point's owner,
// the daemon's own end point, and what is refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "dgs.h"
#include "dgs_host.h"
#include "dgs_trace.h"
#include "evm_test_thread.h"
#include "jotlog.h"
#include "qsm.h"
#include "sockmsg.h"

namespace {

// One directory for the suite, as a process has one daemon; each test reads the records it added.
class GroupServices : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char tmpl[] = "/tmp/dgs_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        const std::string socket = dir + "/platform.sock";
        setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1);
        unsetenv("PTP_NODE");
        jotlog_set_run_dir(dir.c_str());
        server_thread = new evm_thread;
        client_thread = new evm_thread;
        server_thread->run([&] {
            ASSERT_EQ(sockmsg_server_create(server_thread->evm, socket.c_str(), &server), 0u);
            ASSERT_EQ(dgs_host_init(server_thread->evm, server), 0u);
        });
        ASSERT_EQ(qsm_init(client_thread->evm, nullptr, nullptr), 0u);
    }
    static void TearDownTestSuite()
    {
        server_thread->run([&] {
            dgs_host_shutdown();
            sockmsg_server_destroy(server);
        });
        delete client_thread;
        delete server_thread;
        jotlog_set_run_dir(nullptr);
        std::filesystem::remove_all(dir);
    }
    void SetUp() override
    {
        seen_dgs = records("dgs").size();
        seen_err = records("dgs_err").size();
    }

    // The records a buffer gained since the test began.
    std::vector<std::string> added(const char *buffer)
    {
        std::vector<std::string> all = records(buffer);
        const size_t seen = std::string(buffer) == "dgs" ? seen_dgs : seen_err;
        return std::vector<std::string>(all.begin() + static_cast<long>(std::min(seen, all.size())), all.end());
    }

    std::vector<qsm_service_info_type> lookup(const char *name, zerrno *rc_out = nullptr)
    {
        qsm_lookup_request_type req{QSM_LOOKUP_IPC_SERVICE, {}, QSM_KIND_IPC_ENDPOINT};
        std::snprintf(req.name, sizeof req.name, "%s", name);
        qsm_reply_type reply{};
        zerrno status = 1;
        qsm_service_info_type **list = nullptr;
        uint32_t count = 0;
        const zerrno rc = qsm_lookup_ipc_service(&req, &reply, &status, 1, &list, &count);
        if (rc_out != nullptr)
            *rc_out = rc != 0 ? rc : status;
        std::vector<qsm_service_info_type> out;
        for (uint32_t i = 0; i < count && list != nullptr; ++i)
            out.push_back(*list[i]);
        if (list != nullptr) {
            EXPECT_EQ(qsm_free_service_info(list, 1), 0u);
        }
        return out;
    }

    static std::vector<std::string> records(const char *buffer);

    static inline std::string dir;
    static inline evm_thread *server_thread = nullptr;
    static inline evm_thread *client_thread = nullptr;
    static inline sockmsg_server_type *server = nullptr;
    size_t seen_dgs = 0;
    size_t seen_err = 0;
};

// The records of a trace buffer, as "key: word word ..." (texts quoted).
std::vector<std::string> GroupServices::records(const char *buffer)
{
    std::vector<std::string> out;
    jotlog_read(
        buffer,
        [](const jotlog_record_type *r, void *c) {
            char line[512];
            int n = std::snprintf(line, sizeof line, "0x%llx:", static_cast<unsigned long long>(r->id));
            for (uint32_t i = 0; i < r->nargs && i < JOTLOG_MAX_ARGS; ++i) {
                const char *t = jotlog_record_text(r, i);
                n += t != nullptr ? std::snprintf(line + n, sizeof line - n, " '%s'", t)
                                  : std::snprintf(line + n, sizeof line - n, " %llu",
                                                  static_cast<unsigned long long>(r->args[i]));
            }
            static_cast<std::vector<std::string> *>(c)->push_back(line);
            return true;
        },
        &out);
    return out;
}

struct inbox_type {
    std::atomic<int> count{0};
    uint32_t mtype = 0;
    uint32_t flags = 0;
    std::string body;
};

void on_msg(dgs_bind_type *, uint32_t mtype, uint32_t flags, const uint8_t *body, uint32_t length, void *context)
{
    auto *in = static_cast<inbox_type *>(context);
    in->mtype = mtype;
    in->flags = flags;
    in->body.assign(reinterpret_cast<const char *>(body), length);
    in->count++;
}

// An end point bound under a name is found by it, with its owner; a message to it reaches its
// owner's callback; a second owner of the name makes two entries; a bind that only sends is not
// listed; an unbound end point is gone from the directory.
TEST_F(GroupServices, BoundEndPointsAreFoundAndReached)
{
    inbox_type inbox;
    dgs_bind_type *owner = nullptr;
    ASSERT_EQ(dgs_bind(client_thread->evm, on_msg, "ptp-test", 0, 0, &inbox, &owner), 0u);
    dgs_bind_type *sender = nullptr;
    ASSERT_EQ(dgs_bind(client_thread->evm, nullptr, "ptp-test", DGS_BIND_CLIENT, 0, nullptr, &sender), 0u);

    std::vector<qsm_service_info_type> found = lookup("ptp-test");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].pid, getpid());
    EXPECT_STREQ(found[0].service, "ptp-test");
    uint8_t own[DGS_ENDP_SIZE];
    ASSERT_EQ(dgs_bind_endp(owner, own, sizeof own), DGS_ENDP_SIZE);
    ASSERT_EQ(found[0].endp_size, DGS_ENDP_SIZE);
    EXPECT_EQ(std::memcmp(found[0].endp, own, DGS_ENDP_SIZE), 0);

    dgs_handle_type *to = nullptr;
    ASSERT_EQ(dgs_endp_to_hdl(sender, found[0].endp, found[0].endp_size, &to), 0u);
    const dgs_buffer_type body[] = {{"dgs_", 4}, {"endpoint_show", 13}};
    ASSERT_EQ(dgs_send_mtype(to, body, 2, DGS_MTYPE_SHOW, 3 | DGS_SHOW_REQUEST), 0u);
    for (int i = 0; i < 500 && inbox.count == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    client_thread->drain();
    ASSERT_EQ(inbox.count, 1);
    EXPECT_EQ(inbox.mtype, DGS_MTYPE_SHOW);
    EXPECT_EQ(inbox.flags, 0x203u);
    EXPECT_EQ(inbox.body, "dgs_endpoint_show");

    dgs_bind_type *second = nullptr;
    ASSERT_EQ(dgs_bind(client_thread->evm, nullptr, "ptp-test", 0, 0, nullptr, &second), 0u);
    EXPECT_EQ(lookup("ptp-test").size(), 2u);
    dgs_unbind(second);
    dgs_unbind(owner);
    server_thread->drain();
    for (int i = 0; i < 500 && !lookup("ptp-test").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_TRUE(lookup("ptp-test").empty());
    EXPECT_EQ(dgs_send_mtype(to, body, 1, DGS_MTYPE_SHOW, DGS_SHOW_REQUEST), DGS_ERR_NO_ENDPOINT);
    dgs_unbind(sender);

    EXPECT_EQ(added("dgs"),
              (std::vector<std::string>{"0x10100000000: 'ptp-test'", "0x10500000001: 'ptp-test' 0 2 0 0",
                                        "0x10100000000: 'ptp-test'", "0x10500000001: 'ptp-test' 0 3 0 0",
                                        "0x10700000005: 'ptp-test' 0 0 3 0 2 1", "0x200000004: 0 1", "0x200000006: 0 1",
                                        "0x10100000000: 'ptp-test'", "0x10500000001: 'ptp-test' 0 4 0 0",
                                        "0x10400000003: 'ptp-test' 0 4 0", "0x10400000003: 'ptp-test' 0 2 0",
                                        "0x10400000002: 'ptp-test' 0 2 0", "0x10400000003: 'ptp-test' 0 3 0"}));
}

// The daemon's own end point: a show request prints the directory on its output, the parts the
// request's bits ask for.
TEST_F(GroupServices, TheDaemonsEndPointShowsTheDirectory)
{
    FILE *out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    server_thread->run([&] { dgs_host_set_output(out); });
    dgs_bind_type *tool = nullptr;
    ASSERT_EQ(dgs_bind(client_thread->evm, nullptr, "tool", DGS_BIND_CLIENT, 0, nullptr, &tool), 0u);
    const std::vector<qsm_service_info_type> found = lookup(DGS_HOST_ENDPOINT);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_STREQ(found[0].pname, "platformd");
    dgs_handle_type *to = nullptr;
    ASSERT_EQ(dgs_endp_to_hdl(tool, found[0].endp, found[0].endp_size, &to), 0u);
    const dgs_buffer_type name = {"tool", 4};
    ASSERT_EQ(dgs_send_mtype(to, &name, 1, DGS_MTYPE_SHOW, DGS_SHOW_SUMMARY | DGS_SHOW_REQUEST), 0u);
    ASSERT_EQ(dgs_send_mtype(to, &name, 1, DGS_MTYPE_SHOW, DGS_SHOW_DETAIL | DGS_SHOW_ALL | DGS_SHOW_REQUEST), 0u);
    server_thread->run([&] { dgs_host_set_output(nullptr); });
    uint8_t own[DGS_ENDP_SIZE];
    ASSERT_EQ(dgs_bind_endp(tool, own, sizeof own), DGS_ENDP_SIZE);
    dgs_unbind(tool);
    std::rewind(out);
    std::string text;
    char buf[256];
    while (std::fgets(buf, sizeof buf, out) != nullptr)
        text += buf;
    std::fclose(out);
    const std::string pid = std::to_string(getpid());
    const std::string tool_id = std::to_string(own[15]); // the suite binds fewer than 256
    char comm[64] = "";
    if (FILE *f = std::fopen("/proc/self/comm", "r")) {
        if (std::fgets(comm, sizeof comm, f) != nullptr)
            comm[std::strcspn(comm, "\n")] = '\0';
        std::fclose(f);
    }
    EXPECT_EQ(text, "platformd: show request 0x202 from 'tool'\n"
                    "group services: 1 end points, 2 binds\n"
                    "platformd: show request 0x205 from 'tool'\n"
                    "  end point 1 'platformd': pid " +
                        pid + ", pname 'platformd'\n  end point " + tool_id + " 'tool': pid " + pid + ", pname '" +
                        comm + "', sending only\n");
}

// Addresses cut short or not ours, names out of bounds and frames the daemon cannot read are
// refused, and the errors are traced.
TEST_F(GroupServices, WhatIsRefused)
{
    dgs_bind_type *b = nullptr;
    ASSERT_EQ(dgs_bind(client_thread->evm, nullptr, "x", DGS_BIND_CLIENT, 0, nullptr, &b), 0u);
    dgs_handle_type *h = nullptr;
    const uint8_t cut[8] = {0x44, 0x47, 0x53, 0x45, 0, 0, 0, 0};
    EXPECT_EQ(dgs_endp_to_hdl(b, cut, sizeof cut, &h), DGS_ERR_INVALID);
    const uint8_t other[16] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(dgs_endp_to_hdl(b, other, sizeof other, &h), DGS_ERR_INVALID);
    EXPECT_EQ(dgs_bind(client_thread->evm, nullptr, "", 0, 0, nullptr, &b), DGS_ERR_INVALID);
    EXPECT_EQ(dgs_bind(client_thread->evm, nullptr, "x", 2, 0, nullptr, &b), DGS_ERR_INVALID);
    EXPECT_EQ(dgs_bind(client_thread->evm, nullptr, std::string(256, 'n').c_str(), 0, 0, nullptr, &b), DGS_ERR_INVALID);
    zerrno rc = 0;
    EXPECT_TRUE(lookup("nobody", &rc).empty());
    EXPECT_EQ(rc, 0u);
    dgs_unbind(b);
    EXPECT_EQ(added("dgs_err"), (std::vector<std::string>{"0x4:", "0x100000003: 72623859790382856"}));

    // The daemon reads nothing past what a frame carries.
    sockmsg_client_type *raw = nullptr;
    ASSERT_EQ(sockmsg_client_connect(getenv("PTP_PLATFORM_SOCKET"), nullptr, nullptr, nullptr, nullptr, &raw), 0u);
    struct frame_case {
        uint16_t type;
        std::vector<uint8_t> data;
        uint32_t status;
    };
    const frame_case cases[] = {
        {DGS_WIRE_LOOKUP, {}, DGS_ERR_INVALID},
        {DGS_WIRE_LOOKUP, {'a', 0, 'b'}, DGS_ERR_INVALID},
        {DGS_WIRE_BIND, {0, 0, 0}, DGS_ERR_INVALID},
        {DGS_WIRE_BIND, {0, 0, 0, 0, 9, 'p'}, DGS_ERR_INVALID},
        {DGS_WIRE_BIND, {0, 0, 0, 0, 0}, DGS_ERR_INVALID},
        {DGS_WIRE_SEND, {0, 0, 0, 0, 0, 0, 0, 1}, DGS_ERR_INVALID},
        {DGS_WIRE_SEND, std::vector<uint8_t>(16 + DGS_MAX_MSG + 1, 0), DGS_ERR_TOO_BIG},
        {DGS_WIRE_SEND, std::vector<uint8_t>(16, 0xff), DGS_ERR_NO_ENDPOINT},
    };
    for (const frame_case &c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " of " + std::to_string(c.data.size()) + " bytes");
        uint32_t status = 0;
        ASSERT_EQ(sockmsg_client_call(raw, DGS_SERVICE_ID, c.type, c.data.data(), static_cast<uint32_t>(c.data.size()),
                                      &status, nullptr),
                  0u);
        EXPECT_EQ(status, c.status);
    }
    sockmsg_client_close(raw);
}

} // namespace
