// The command line's outputs, compared whole, against the in-process database; operational
// requests routed to the provider with the longest binding.
#include "evm_test_thread.h"
#include "nodra_cli.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bag.h"
#include "nodra.h"
#include "nodra_test.h"

namespace {

// A small bag for the providers' answers.
struct t_info {
    const char *Name;
    uint32_t State;
    uint32_t Up;
};
constexpr uint64_t t_offsets[] = {0, 8, 12};
constexpr bag_layout_type t_layout = {0, sizeof(t_info), t_offsets};
constexpr bag_descriptor_type t_bag = {1,        "t_info", 1, 0, "libtest.dll", &t_layout, "$1={Name}s{State}D{Up}b;",
                                       "$1=sDb;"};

std::string encode(const char *name, uint32_t state)
{
    t_info rec{name, state, 1};
    uint8_t *data = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(bag_encode(&rec, &t_bag, &data, &length), ZERR_OK);
    std::string out(reinterpret_cast<char *>(data), length);
    free(data);
    return out;
}

zerrno verify_cb(const nodra_verify_event_info_td *e, char **text, nodra_verify_result_td *result, void *)
{
    if (e->new_data != nullptr && e->datatype == NODRA_ITEM_DATATYPE_UINT32 &&
        *static_cast<const uint32_t *>(e->new_data) > 255) {
        *text = strdup(
            "Failed to verify the clock domain value. The clock domain must be a value within the specified range");
        result->result = NODRA_VERIFY_RESULT_FAIL;
        return 0x47f2c200;
    }
    return ZERR_OK;
}

std::vector<std::string> actions;

// The node's provider: interfaces "Gi0/0/0/1" and "Gi0/0/0/2"; a get of the second is answered later.
zerrno node_get(nodra_edm_request_td *q, void *)
{
    const std::string path = q->path;
    if (path == "interface/if/Gi0/0/0/1") {
        const std::string bag = encode("Gi0/0/0/1", 6);
        nodra_edm_reply_set(q, NODRA_ITEM_DATATYPE_BAG, bag.data(), static_cast<uint32_t>(bag.size()));
        return ZERR_OK;
    }
    if (path == "interface/if/Gi0/0/0/2") {
        std::thread([q] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const std::string bag = encode("Gi0/0/0/2", 1);
            nodra_edm_reply_set(q, NODRA_ITEM_DATATYPE_BAG, bag.data(), static_cast<uint32_t>(bag.size()));
            nodra_edm_resume(q, ZERR_OK);
        }).detach();
        return NODRA_EDM_IN_PROGRESS;
    }
    return NODRA_ERR_EDM_NOT_FOUND;
}

zerrno node_list(nodra_edm_request_td *q, void *)
{
    nodra_edm_list_create(q);
    nodra_edm_list_add(q, "Gi0/0/0/1", NODRA_ITEM_DATATYPE_NAME);
    nodra_edm_list_add(q, "Gi0/0/0/2", NODRA_ITEM_DATATYPE_NAME);
    return ZERR_OK;
}

zerrno node_datalist(nodra_edm_request_td *q, void *)
{
    nodra_edm_datalist_create(q);
    for (auto [name, state] : {std::pair{"Gi0/0/0/1", 6u}, std::pair{"Gi0/0/0/2", 1u}}) {
        const std::string bag = encode(name, state);
        nodra_edm_datalist_add(q, name, NODRA_ITEM_DATATYPE_BAG, bag.data(), static_cast<uint32_t>(bag.size()));
    }
    return ZERR_OK;
}

zerrno node_set(nodra_edm_request_td *q, void *)
{
    actions.push_back(std::string(q->path) + "=" + std::to_string(*static_cast<const uint32_t *>(q->set_data)));
    return ZERR_OK;
}

// A provider with a shorter binding that would answer everything below "/oper/ptp/".
zerrno wide_get(nodra_edm_request_td *q, void *)
{
    const std::string bag = encode("wide", 0);
    nodra_edm_reply_set(q, NODRA_ITEM_DATATYPE_BAG, bag.data(), static_cast<uint32_t>(bag.size()));
    return ZERR_OK;
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("PTP_NODE_ID", "1a0", 1);
        nodra_test_reset();
        bag_registry_reset();
        bag_register_start();
        ASSERT_EQ(bag_register(&t_bag), ZERR_OK);
        bag_register_end();
        actions.clear();
        provider_.run([this] {
            ASSERT_EQ(_nodra_bind(&gl_, "/cfg/gl/", 0), ZERR_OK);
            nodra_vrfn_fns_td fns;
            nodra_vrfn_fns_init(&fns);
            nodra_vrfn_fns_verify_init(&fns, verify_cb);
            const char *paths[] = {"ptp/pi/clock/domain"};
            ASSERT_EQ(nodra_register_verification4(gl_, paths, 1, 7, &fns, provider_.evm, 0, 0, 20, &verify_), ZERR_OK);
            ASSERT_EQ(_nodra_bind(&node_, "/oper/ptp/&&/", 17), ZERR_OK);
            nodra_edm_fns_td e;
            nodra_edm_fns_init(&e);
            nodra_edm_fns_get_init(&e, node_get);
            nodra_edm_fns_list_init(&e, node_list);
            nodra_edm_fns_datalist_init(&e, node_datalist);
            ASSERT_EQ(nodra_register_edm2(node_, "interface/if/", &e, provider_.evm, nullptr, 0, &edm_), ZERR_OK);
            ASSERT_EQ(_nodra_bind(&act_, "/action/ptp/&&/", 17), ZERR_OK);
            nodra_edm_fns_init(&e);
            nodra_edm_fns_set_init(&e, node_set);
            ASSERT_EQ(nodra_register_edm2(act_, "packet-counters", &e, provider_.evm, nullptr, 0, &act_id_), ZERR_OK);
            ASSERT_EQ(_nodra_bind(&wide_, "/oper/ptp/", 4), ZERR_OK);
            nodra_edm_fns_init(&e);
            nodra_edm_fns_get_init(&e, wide_get);
            ASSERT_EQ(nodra_register_edm2(wide_, "", &e, provider_.evm, nullptr, 0, &wide_id_), ZERR_OK);
        });
    }

    void TearDown() override
    {
        provider_.run([this] {
            nodra_verification_unregister(verify_);
            nodra_edm_unregister(edm_);
            nodra_edm_unregister(act_id_);
            nodra_edm_unregister(wide_id_);
            for (nodra_conn_td *c : {gl_, node_, act_, wide_})
                _nodra_unbind(c);
        });
        unsetenv("PTP_NODE_ID");
    }

    static std::string run(std::vector<std::string> lines, int status = 0)
    {
        std::string out;
        EXPECT_EQ(nodra_cli_run(lines, &out), status) << out;
        return out;
    }

    evm_thread provider_;
    nodra_conn_td *gl_ = nullptr, *node_ = nullptr, *act_ = nullptr, *wide_ = nullptr;
    uint32_t verify_ = 0, edm_ = 0, act_id_ = 0, wide_id_ = 0;
};

TEST_F(CliTest, ConfigurationFileCommitsAndShows)
{
    EXPECT_EQ(run({"# a configuration file", "set /cfg/gl/ptp/pi/enable 1", "set /cfg/gl/ptp/pi/clock/domain 0x18",
                   "set /cfg/gl/ptp/pi/clock/identity (1,0x0102,,3,\"a b\")",
                   "set /cfg/if/act/Gi0/0/0/1/ptp/pi/profile \"my profile\"",
                   "set /cfg/if/act/Gi0/0/0/1/ptp/pi/master-table/2/-/10.0.0.1/enable 1", "commit", "",
                   "set /cfg/gl/ptp/pi/log/servo x", "delete /cfg/gl/ptp/pi/enable", "show config /cfg/gl/"}),
              "commit 1: applied\n"
              "/cfg/gl/ptp/pi/clock/domain 24\n"
              "/cfg/gl/ptp/pi/clock/identity (1,258,,3,\"a b\")\n"
              "/cfg/gl/ptp/pi/enable 1\n"
              "commit 2: applied\n");
    // The changes left at the end of the input were committed.
    EXPECT_EQ(run({"show config"}), "/cfg/gl/ptp/pi/clock/domain 24\n"
                                    "/cfg/gl/ptp/pi/clock/identity (1,258,,3,\"a b\")\n"
                                    "/cfg/gl/ptp/pi/log/servo x\n"
                                    "/cfg/if/act/Gi0/0/0/1/ptp/pi/master-table/2/-/10.0.0.1/enable 1\n"
                                    "/cfg/if/act/Gi0/0/0/1/ptp/pi/profile \"my profile\"\n");
}

TEST_F(CliTest, RejectedCommitNamesEachFailureAndChangesNothing)
{
    // Sequence numbers go on across tests; the rest is compared whole.
    const std::string out = run({"set /cfg/gl/ptp/pi/clock/domain 300", "set /cfg/gl/ptp/pi/enable 1", "commit"}, 1);
    EXPECT_EQ(out.substr(out.find(':')),
              ": rejected\n"
              "  /cfg/gl/ptp/pi/clock/domain: 0x47f2c200 Failed to verify the clock domain value. The clock domain "
              "must be a value within the specified range\n");
    EXPECT_EQ(run({"show config"}), "");
}

TEST_F(CliTest, BadInputGetsOneErrorLineAndChangesNothing)
{
    struct case_type {
        const char *line;
        const char *output;
    } cases[] = {
        {"set /cfg/gl/x 12x", "error: set /cfg/gl/x 12x: malformed number 12x\n"},
        {"set /cfg/gl/x 0x1ffffffff", "error: set /cfg/gl/x 0x1ffffffff: malformed number 0x1ffffffff\n"},
        {"set /cfg/gl/x (1,2", "error: set /cfg/gl/x (1,2: unterminated tuple\n"},
        {"set /cfg/gl/x \"open", "error: set /cfg/gl/x \"open: unterminated text\n"},
        {"set cfg/gl/x 1", "error: set cfg/gl/x 1: not an absolute item path\n"},
        {"delete /cfg/gl/absent", "error: delete /cfg/gl/absent: no such item\n"},
        {"frobnicate /cfg/gl/x", "error: frobnicate /cfg/gl/x: unknown command\n"},
        {"set /cfg/gl/x", "error: set /cfg/gl/x: unknown command\n"},
        // Bytes that are not UTF-8 (a lone continuation byte, an overlong "/", a surrogate) are
        // refused and echoed escaped, as are control characters.
        {"set /cfg/gl/x \"\x80\"", "error: set /cfg/gl/x \"\\x80\": bytes that are not UTF-8\n"},
        {"set /cfg/gl/\xc0\xaf 1", "error: set /cfg/gl/\\xc0\\xaf 1: bytes that are not UTF-8\n"},
        {"set /cfg/gl/x \"\xed\xa0\x80\"", "error: set /cfg/gl/x \"\\xed\\xa0\\x80\": bytes that are not UTF-8\n"},
        {"set /cfg/gl/x \"\x01\xc3\xa9", "error: set /cfg/gl/x \"\\x01\xc3\xa9: unterminated text\n"},
    };
    for (const auto &tc : cases) {
        SCOPED_TRACE(tc.line);
        // What was staged before the bad line is dropped; nothing after it runs.
        EXPECT_EQ(run({"set /cfg/gl/staged 1", tc.line, "commit"}, 1), tc.output);
        EXPECT_EQ(run({"show config"}), "");
    }
}

// However long the line, an error echoes its first 200 bytes and its length, and a path longer
// than the database takes is refused before anything is staged.
TEST_F(CliTest, ErrorsEchoABoundedPartOfLongInput)
{
    const std::string number(100000, '1');
    EXPECT_EQ(run({"set /cfg/gl/x " + number + "y"}, 1), "error: set /cfg/gl/x " + number.substr(0, 186) +
                                                             "... (100015 bytes): malformed number " +
                                                             number.substr(0, 200) + "... (100001 bytes)\n");
    const std::string path = "/cfg/gl/" + std::string(1017, 'p');
    EXPECT_EQ(run({"set " + path + " 1"}, 1),
              "error: set " + path.substr(0, 196) + "... (1031 bytes): item path longer than 1024 bytes\n");
    run({"set " + path.substr(0, 1024) + " 1", "commit"});
    EXPECT_EQ(run({"show config"}), path.substr(0, 1024) + " 1\n");
}

TEST_F(CliTest, OperationalRequestsReachTheProviderWithTheLongestBinding)
{
    EXPECT_EQ(run({"get /oper/ptp/node/1a0/interface/if/Gi0/0/0/1"}), "t_info\n"
                                                                      "  Name: Gi0/0/0/1\n"
                                                                      "  State: 6\n"
                                                                      "  Up: true\n");
    // Answered later by the provider.
    EXPECT_EQ(run({"get /oper/ptp/node/1a0/interface/if/Gi0/0/0/2"}), "t_info\n"
                                                                      "  Name: Gi0/0/0/2\n"
                                                                      "  State: 1\n"
                                                                      "  Up: true\n");
    // Outside the node's binding the wider provider answers.
    EXPECT_EQ(run({"get /oper/ptp/gl/summary"}), "t_info\n  Name: wide\n  State: 0\n  Up: true\n");
    EXPECT_EQ(run({"list /oper/ptp/node/1a0/interface/if/"}), "Gi0/0/0/1\nGi0/0/0/2\n");
    EXPECT_EQ(run({"list /oper/ptp/node/"}), "1a0\n");
    EXPECT_EQ(run({"datalist /oper/ptp/node/1a0/interface/if/"}), "Gi0/0/0/1:\n"
                                                                  "  t_info\n"
                                                                  "    Name: Gi0/0/0/1\n"
                                                                  "    State: 6\n"
                                                                  "    Up: true\n"
                                                                  "Gi0/0/0/2:\n"
                                                                  "  t_info\n"
                                                                  "    Name: Gi0/0/0/2\n"
                                                                  "    State: 1\n"
                                                                  "    Up: true\n");
    EXPECT_EQ(run({"get /oper/ptp/node/1a0/interface/if/Gi9"}, 1),
              "error: get /oper/ptp/node/1a0/interface/if/Gi9: No such operational item\n");
    EXPECT_EQ(run({"action /action/ptp/node/1a0/packet-counters 0"}), "");
    EXPECT_EQ(actions, (std::vector<std::string>{"packet-counters=0"}));
    EXPECT_EQ(run({"action /action/ptp/node/2/packet-counters 0"}, 1),
              "error: action /action/ptp/node/2/packet-counters 0: No such item in the database\n");
}

// A bag as the command line shows its bytes.
std::string hex_form(const std::string &bag)
{
    std::string out = "<type 7 0x";
    char buf[4];
    for (unsigned char c : bag) {
        snprintf(buf, sizeof buf, "%02x", c);
        out += buf;
    }
    return out + ">\n";
}

// With the option a bag is shown as its bytes, even one the command line can describe.
TEST_F(CliTest, BagsAreShownAsBytesWithTheOptionOrWhenNotDescribed)
{
    const std::string first = hex_form(encode("Gi0/0/0/1", 6)), second = hex_form(encode("Gi0/0/0/2", 1));
    nodra_cli_show_bags_as_hex(true);
    EXPECT_EQ(run({"get /oper/ptp/node/1a0/interface/if/Gi0/0/0/1"}), first);
    EXPECT_EQ(run({"datalist /oper/ptp/node/1a0/interface/if/"}), "Gi0/0/0/1:\n  " + first + "Gi0/0/0/2:\n  " + second);
    nodra_cli_show_bags_as_hex(false);
    EXPECT_EQ(run({"get /oper/ptp/node/1a0/interface/if/Gi0/0/0/1"}),
              "t_info\n  Name: Gi0/0/0/1\n  State: 6\n  Up: true\n");
}

} // namespace
