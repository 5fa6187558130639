// The back-end dispatch: paths through schema tables to handler rows, with their key arguments.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "evm_test_thread.h"
#include "nodra_backend.h"
#include "nodra_test.h"

namespace {

// What the handlers saw: "<handler> <bg_ident> <keys>".
std::vector<std::string> calls;

std::string keys_text(const bgen_args_td *args)
{
    std::string out;
    for (uint32_t k = 0; k < args->count; ++k) {
        out += k == 0 ? "" : " ";
        const bgen_arg_td &a = args->keys[k];
        if ((args->missing_mask & (1u << k)) != 0) {
            out += "-";
        } else if (a.kind == BGEN_ARG_STRING) {
            out += std::string("'") + a.text + "'";
        } else if (a.kind == BGEN_ARG_UINT) {
            out += std::to_string(a.number);
        } else if (a.kind == BGEN_ARG_IPADDR) {
            char text[INET6_ADDRSTRLEN];
            inet_ntop(a.ip_family == BGEN_IP_V4 ? AF_INET : AF_INET6, a.ip, text, sizeof text);
            out += text;
        }
    }
    return out;
}

void record(const char *what, const bgen_args_td *args)
{
    calls.push_back(std::string(what) + " " + std::to_string(args->bg_ident) + " [" + keys_text(args) + "]");
}

zerrno verify(const nodra_verify_event_info_td *, char **text, nodra_verify_result_td *result, void *context,
              const bgen_args_td *args)
{
    record(context != nullptr ? static_cast<const char *>(context) : "verify", args);
    if (args->bg_ident == 99) {
        *text = strdup("Failed to verify the bad value.");
        if (result != nullptr)
            result->result = NODRA_VERIFY_RESULT_FAIL;
        return 0x47f2c200;
    }
    return ZERR_OK;
}

zerrno apply(const nodra_verify_event_info_td *, void *context, const bgen_args_td *args)
{
    ++*static_cast<uint32_t *>(context);
    record("apply", args);
    return ZERR_OK;
}

zerrno apply_vf(const nodra_verify_event_info_td *, char **text, nodra_verify_result_td *result, void *,
                const bgen_args_td *args)
{
    record(text == nullptr && result == nullptr ? "apply-vf" : "apply-vf-with-result", args);
    return ZERR_OK;
}

void notify(const nodra_notify_event_info_td *, void *context, const bgen_args_td *args)
{
    *static_cast<zerrno *>(context) = 0x47f2c400;
    record("notify", args);
}

zerrno edm(nodra_edm_request_td *request, const bgen_args_td *args)
{
    record(request->op == 1 ? "get" : request->op == 2 ? "list" : request->op == 3 ? "datalist" : "set", args);
    return ZERR_OK;
}

constexpr uint32_t S = BGEN_ARG_STRING;
constexpr uint32_t U = BGEN_ARG_UINT;
constexpr uint32_t IP = BGEN_ARG_IPADDR;
constexpr uint32_t N = BACKEND_NODE_NAMED;

// The interface schema's shape: "<interface>/ptp/pi/..." with a three-part table key and a leaf key.
const backend_node_td if_nodes[] = {
    /* 0 */ {nullptr, 0, BACKEND_NODE_ROOT, 1, -1, -1, 0, 1},
    /* 1 */ {"ptp", 0, N, 2, -1, -1, 0, 1},
    /* 2 */ {"pi", 0, N, 3, -1, -1, 0, 1},
    /* 3 */ {"enable", 0, N, -1, 4, 0, 0, 0},
    /* 4 */ {"profile", 0, N, -1, 5, 1, 0, 0},
    /* 5 */ {"master-table", 0, N, 6, 11, -1, 0, 1},
    /* 6 */ {nullptr, 0, U, 7, -1, -1, 1, 2},
    /* 7 */ {nullptr, 0, S, 8, -1, -1, 1, 2},
    /* 8 */ {nullptr, 0, IP, 9, -1, -1, 1, 1},
    /* 9 */ {"enable", 0, N, -1, 10, 2, 0, 0},
    /* 10 */ {"priority", 0, N, -1, -1, 3, 0, 0},
    /* 11 */ {"interop", 0, N, 12, 15, -1, 0, 1},
    /* 12 */ {"ingress", 0, N, 13, -1, -1, 0, 1},
    /* 13 */ {"clock-class-mapping-table", 0, N, 14, -1, -1, 0, 1},
    /* 14 */ {nullptr, 0, U, -1, -1, 4, 1, 1},
    /* 15 */ {"bad", 0, N, -1, 16, 5, 0, 0},
    /* 16 */ {"quiet", 0, N, -1, 17, 6, 0, 0},
    /* 17 */ {"tuple", 0, N, -1, -1, 7, 0, 0},
};
const backend_row_td if_rows[] = {
    {.kind = BACKEND_VALUE_SINGLE, .bg_ident = 10, .verify = verify, .apply = apply},
    {.kind = BACKEND_VALUE_NAME, .bg_ident = 11, .verify = verify, .apply = apply},
    {.kind = BACKEND_VALUE_SINGLE, .bg_ident = 12, .verify = verify, .apply_verify_form = apply_vf},
    {.kind = BACKEND_VALUE_SINGLE, .bg_ident = 13, .verify = verify, .apply = apply},
    {.kind = BACKEND_VALUE_SINGLE, .bg_ident = 14, .verify = verify, .apply = apply},
    {.kind = BACKEND_VALUE_SINGLE, .bg_ident = 99, .verify = verify, .apply = apply},
    {.kind = BACKEND_VALUE_NONE, .bg_ident = 16},
    {.kind = BACKEND_VALUE_TUPLE, .bg_ident = 17, .verify = verify, .notify = notify, .value_form = "(unit,value)"},
};
const backend_schema_td if_schema{if_nodes, std::size(if_nodes), if_rows, std::size(if_rows),
                                  BACKEND_SCHEMA_NAME_PREFIX};

// A global schema whose first node is its top element: "ptp/pi/..." with a profile-name key.
const backend_node_td gl_nodes[] = {
    /* 0 */ {"ptp", 0, N, 1, -1, -1, 0, 1},
    /* 1 */ {"pi", 0, N, 2, -1, -1, 0, 1},
    /* 2 */ {"enable", 0, N, -1, 3, 0, 0, 0},
    /* 3 */ {"profile", 0, N, 4, 6, -1, 0, 1},
    /* 4 */ {nullptr, 0, S, 5, -1, -1, 1, 1},
    /* 5 */ {"transport", 0, N, -1, -1, 1, 0, 0},
    /* 6 */ {"leap-second", 0, N, 7, -1, -1, 0, 1},
    /* 7 */ {nullptr, 0, S, -1, -1, 2, 1, 1},
};
const backend_row_td gl_rows[] = {
    {.kind = BACKEND_VALUE_SINGLE, .bg_ident = 20, .verify = verify, .notify = notify},
    {.kind = BACKEND_VALUE_SINGLE, .bg_ident = 21, .verify = verify, .notify = notify},
    {.kind = BACKEND_VALUE_SINGLE, .bg_ident = 22, .verify = verify, .notify = notify},
};
const backend_schema_td gl_schema{gl_nodes, std::size(gl_nodes), gl_rows, std::size(gl_rows), 0};

// Operational items: "interface/if/<name>" (get, list, datalist) and "summary" (get only).
const backend_node_td oper_nodes[] = {
    /* 0 */ {nullptr, 0, BACKEND_NODE_ROOT, 1, -1, -1, 0, 1},
    /* 1 */ {"interface", 0, N, 2, 4, -1, 0, 1},
    /* 2 */ {"if", 0, N, 3, -1, -1, 0, 1},
    /* 3 */ {nullptr, 0, S, -1, -1, 0, 1, 1},
    /* 4 */ {"summary", 0, N, -1, -1, 1, 0, 0},
};
const backend_row_td oper_rows[] = {
    {.bg_ident = 30, .edm_get = edm, .edm_list = edm, .edm_datalist = edm},
    {.bg_ident = 31, .edm_get = edm, .edm_set = edm},
};
const backend_schema_td oper_schema{oper_nodes, std::size(oper_nodes), oper_rows, std::size(oper_rows), 0};

struct lookup_case {
    const backend_schema_td *schema;
    const char *path;
    zerrno err;
    const char *seen; // the verify handler's record
};

TEST(BackendTest, PathsFindTheirRowWithTheirKeys)
{
    const lookup_case cases[] = {
        // The interface name is everything before the schema's own elements.
        {&if_schema, "Gi0/0/0/1/ptp/pi/enable", ZERR_OK, "verify 10 ['Gi0/0/0/1']"},
        {&if_schema, "Bundle-Ether7/ptp/pi/profile", ZERR_OK, "verify 11 ['Bundle-Ether7']"},
        {&if_schema, "ptp/ptp/pi/enable", ZERR_OK, "verify 10 ['ptp']"},
        // Typed key parts, "-" for an absent one, a number in hexadecimal.
        {&if_schema, "Te0/1/ptp/pi/master-table/2/-/10.0.0.1/priority", ZERR_OK, "verify 13 ['Te0/1' 2 - 10.0.0.1]"},
        {&if_schema, "Te0/1/ptp/pi/master-table/0x1/aa.bb.cc/-/enable", ZERR_OK, "verify 12 ['Te0/1' 1 'aa.bb.cc' -]"},
        {&if_schema, "Te0/1/ptp/pi/master-table/3/-/2001:db8::1/enable", ZERR_OK,
         "verify 12 ['Te0/1' 3 - 2001:db8::1]"},
        // A leaf key, and the same item with its key level left out.
        {&if_schema, "Gi0/ptp/pi/interop/ingress/clock-class-mapping-table/6", ZERR_OK, "verify 14 ['Gi0' 6]"},
        {&if_schema, "Gi0/ptp/pi/interop/ingress/clock-class-mapping-table", ZERR_OK, "verify 14 ['Gi0' -]"},
        {&gl_schema, "ptp/pi/enable", ZERR_OK, "verify 20 []"},
        {&gl_schema, "ptp/pi/profile/telecom-1/transport", ZERR_OK, "verify 21 ['telecom-1']"},
        {&gl_schema, "ptp/pi/leap-second/2026-12-31", ZERR_OK, "verify 22 ['2026-12-31']"},
        {&gl_schema, "ptp/pi/leap-second/-", ZERR_OK, "verify 22 [-]"},
        // Unknown paths.
        {&if_schema, "Gi0/ptp/pi/bogus", NODRA_ERR_NOT_FOUND, nullptr},
        {&if_schema, "ptp/pi/enable", NODRA_ERR_NOT_FOUND, nullptr}, // no interface name
        {&if_schema, "Gi0/ptp/pi", NODRA_ERR_NOT_FOUND, nullptr},    // an inner node
        {&if_schema, "Gi0/ptp/pi/enable/more", NODRA_ERR_NOT_FOUND, nullptr},
        {&gl_schema, "ptp/pi/profile", NODRA_ERR_NOT_FOUND, nullptr},
        {&gl_schema, "ptp/log/pi/enable", NODRA_ERR_NOT_FOUND, nullptr},
        {&gl_schema, "", NODRA_ERR_NOT_FOUND, nullptr},
        // Key parts that do not read as their type, and empty elements.
        {&if_schema, "Gi0/ptp/pi/master-table/x/-/-/enable", NODRA_ERR_INVALID, nullptr},
        {&if_schema, "Gi0/ptp/pi/master-table/4294967296/-/-/enable", NODRA_ERR_INVALID, nullptr},
        {&if_schema, "Gi0/ptp/pi/master-table/2/-/300.1.1.1/enable", NODRA_ERR_INVALID, nullptr},
        {&gl_schema, "ptp//pi/enable", NODRA_ERR_INVALID, nullptr},
    };
    for (const lookup_case &c : cases) {
        calls.clear();
        const uint32_t one = 1;
        nodra_verify_event_info_td e{};
        e.path = c.path;
        e.event = NODRA_EVENT_CREATE;
        e.datatype = strstr(c.path, "profile") != nullptr && c.schema == &if_schema ? NODRA_ITEM_DATATYPE_STRING
                                                                                    : NODRA_ITEM_DATATYPE_UINT32;
        e.new_data = &one;
        e.new_length = 4;
        char *text = nullptr;
        nodra_verify_result_td result{NODRA_VERIFY_RESULT_PASS};
        EXPECT_EQ(backend_verifyonly(c.schema, &e, &text, &result, nullptr), c.err) << c.path;
        if (c.seen != nullptr) {
            EXPECT_EQ(calls, std::vector<std::string>{c.seen}) << c.path;
            EXPECT_EQ(text, nullptr);
        } else {
            EXPECT_TRUE(calls.empty()) << c.path;
            EXPECT_EQ(result.result, NODRA_VERIFY_RESULT_FAIL) << c.path;
            ASSERT_NE(text, nullptr) << c.path;
            EXPECT_EQ(std::string(text), std::string(c.err == NODRA_ERR_NOT_FOUND ? "Unknown configuration item '"
                                                                                  : "Malformed configuration item '") +
                                             c.path +
                                             (c.err == NODRA_ERR_NOT_FOUND ? "'"
                                                                           : "': a key part is not of the item's "
                                                                             "type"));
        }
        free(text);
    }
}

TEST(BackendTest, VerifyApplyAndNotifyReachTheirRowsHandlers)
{
    const uint32_t one = 1;
    nodra_verify_event_info_td e{};
    e.event = NODRA_EVENT_SET;
    e.datatype = NODRA_ITEM_DATATYPE_UINT32;
    e.new_data = &one;
    e.new_length = 4;

    // The handler's own failure and text go back as they are.
    calls.clear();
    e.path = "Gi0/ptp/pi/bad";
    char *text = nullptr;
    nodra_verify_result_td result{NODRA_VERIFY_RESULT_PASS};
    EXPECT_EQ(backend_verifyonly(&if_schema, &e, &text, &result, nullptr), 0x47f2c200u);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Failed to verify the bad value.");
    EXPECT_EQ(result.result, NODRA_VERIFY_RESULT_FAIL);
    free(text);

    // Apply: the caller's context goes to the handler; a verify-form handler gets no text or result;
    // a row without handlers accepts the item.
    uint32_t batch_state = 0;
    e.path = "Gi0/ptp/pi/enable";
    EXPECT_EQ(backend_apply(&if_schema, &e, &batch_state), ZERR_OK);
    EXPECT_EQ(batch_state, 1u);
    e.path = "Gi0/ptp/pi/master-table/1/aa.bb.cc/-/enable";
    EXPECT_EQ(backend_apply(&if_schema, &e, &batch_state), ZERR_OK);
    e.path = "Gi0/ptp/pi/quiet";
    EXPECT_EQ(backend_apply(&if_schema, &e, &batch_state), ZERR_OK);
    EXPECT_EQ(backend_verifyonly(&if_schema, &e, &text, &result, nullptr), ZERR_OK);
    e.path = "Gi0/ptp/pi/nothing";
    EXPECT_EQ(backend_apply(&if_schema, &e, &batch_state), NODRA_ERR_NOT_FOUND);
    EXPECT_EQ(calls, (std::vector<std::string>{"verify 99 ['Gi0']", "apply 10 ['Gi0']",
                                               "apply-vf 12 ['Gi0' 1 'aa.bb.cc' -]"}));

    // Notify, directly and as a registration's callback with the schema as its parse data.
    calls.clear();
    zerrno word = ZERR_OK;
    e.path = "ptp/pi/profile/p2/transport";
    EXPECT_EQ(backend_notify(&gl_schema, &e, &word), ZERR_OK);
    EXPECT_EQ(word, 0x47f2c400u);
    e.path = "ptp/pi/enable";
    e.event = NODRA_EVENT_DELETE;
    e.new_data = nullptr;
    EXPECT_EQ(backend_notification(&e, &word, &gl_schema), ZERR_OK);
    e.path = "ptp/pi/unknown";
    EXPECT_EQ(backend_notification(&e, &word, &gl_schema), NODRA_ERR_NOT_FOUND);
    EXPECT_EQ(calls, (std::vector<std::string>{"notify 21 ['p2']", "notify 20 []"}));
}

TEST(BackendTest, ValuesOfAnotherKindThanTheRowsAreRefused)
{
    struct kind_case {
        const char *path;
        uint32_t type;
        uint32_t length;
        zerrno err;
        const char *text; // of the verification that refuses it
    } cases[] = {
        {"Gi0/ptp/pi/enable", NODRA_ITEM_DATATYPE_UINT32, 4, ZERR_OK, nullptr},
        {"Gi0/ptp/pi/enable", NODRA_ITEM_DATATYPE_UINT32, 2, NODRA_ERR_INVALID,
         "Malformed configuration item 'Gi0/ptp/pi/enable': the value must be a number"},
        {"Gi0/ptp/pi/enable", NODRA_ITEM_DATATYPE_STRING, 4, NODRA_ERR_INVALID,
         "Malformed configuration item 'Gi0/ptp/pi/enable': the value must be a number"},
        {"Gi0/ptp/pi/profile", NODRA_ITEM_DATATYPE_STRING, 3, ZERR_OK, nullptr},
        {"Gi0/ptp/pi/profile", NODRA_ITEM_DATATYPE_PACKED, 3, NODRA_ERR_INVALID,
         "Malformed configuration item 'Gi0/ptp/pi/profile': the value must be a text"},
        {"Gi0/ptp/pi/tuple", NODRA_ITEM_DATATYPE_PACKED, 12, ZERR_OK, nullptr},
        // A number where a tuple is wanted: the text says how the tuple is written.
        {"Gi0/ptp/pi/tuple", NODRA_ITEM_DATATYPE_UINT32, 4, NODRA_ERR_INVALID,
         "Malformed configuration item 'Gi0/ptp/pi/tuple': the value must be a tuple (unit,value)"},
        {"Gi0/ptp/pi/quiet", NODRA_ITEM_DATATYPE_BAG, 1, ZERR_OK, nullptr},
    };
    const char bytes[12] = "abc";
    for (const kind_case &c : cases) {
        for (uint32_t event : {NODRA_EVENT_CREATE, NODRA_EVENT_SET, NODRA_EVENT_DELETE}) {
            nodra_verify_event_info_td e{};
            e.path = c.path;
            e.event = event;
            e.datatype = c.type;
            e.old_data = bytes;
            e.old_length = c.length;
            e.new_data = event == NODRA_EVENT_DELETE ? nullptr : bytes;
            e.new_length = event == NODRA_EVENT_DELETE ? 0 : c.length;
            uint32_t state = 0;
            // A delete carries no new value to check.
            EXPECT_EQ(backend_apply(&if_schema, &e, &state), event == NODRA_EVENT_DELETE ? ZERR_OK : c.err)
                << c.path << " type " << c.type << " event " << event;
            char *text = nullptr;
            nodra_verify_result_td result{NODRA_VERIFY_RESULT_PASS};
            const zerrno rc = backend_verifyonly(&if_schema, &e, &text, &result, nullptr);
            if (event != NODRA_EVENT_DELETE && c.text != nullptr) {
                EXPECT_EQ(rc, c.err) << c.path;
                EXPECT_EQ(result.result, NODRA_VERIFY_RESULT_FAIL) << c.path;
                EXPECT_STREQ(text, c.text) << c.path;
            }
            free(text);
        }
    }
}

TEST(BackendTest, OperationalRequestsReachTheirRowsHandlers)
{
    calls.clear();
    nodra_edm_request_td q{};
    q.item_table = &oper_schema;
    q.op = 1;
    q.path = "interface/if/Gi0/0/0/1"; // an interface name with "/" is one key
    EXPECT_EQ(backend_edm_get_cb(&q, nullptr), ZERR_OK);
    q.op = 2;
    q.path = "interface/if/";
    EXPECT_EQ(backend_edm_list_cb(&q, nullptr), ZERR_OK);
    q.op = 3;
    EXPECT_EQ(backend_edm_datalist(&oper_schema, &q), ZERR_OK);
    q.op = 1;
    q.path = "summary";
    EXPECT_EQ(backend_edm_get(&oper_schema, &q), ZERR_OK);
    q.op = 4;
    EXPECT_EQ(backend_edm_set_cb(&q, nullptr), ZERR_OK);
    EXPECT_EQ(calls, (std::vector<std::string>{"get 30 ['Gi0/0/0/1']", "list 30 [-]", "datalist 30 [-]", "get 31 []",
                                               "set 31 []"}));
    // No row, or a row without a handler for the request: the provider has no such item.
    q.op = 2;
    EXPECT_EQ(backend_edm_list_cb(&q, nullptr), NODRA_ERR_EDM_NOT_FOUND);
    q.path = "nothing";
    EXPECT_EQ(backend_edm_get_cb(&q, nullptr), NODRA_ERR_EDM_NOT_FOUND);
    q.item_table = nullptr;
    EXPECT_EQ(backend_edm_get_cb(&q, nullptr), NODRA_ERR_INVALID);
}

TEST(BackendTest, MalformedTablesFailInsteadOfLooping)
{
    const backend_node_td cycle[] = {
        {"ptp", 0, N, 1, -1, -1, 0, 1},
        {"a", 0, N, -1, 2, -1, 0, 0},
        {"b", 0, N, -1, 1, -1, 0, 0}, // siblings in a ring
    };
    const backend_node_td out_of_range[] = {
        {"ptp", 0, N, 1, -1, -1, 0, 1},
        {"a", 0, N, -1, 7, 5, 0, 0},
    };
    const backend_schema_td schemas[] = {
        {cycle, std::size(cycle), if_rows, 1, 0},
        {out_of_range, std::size(out_of_range), if_rows, 1, 0},
    };
    for (const backend_schema_td &s : schemas) {
        uint32_t row = 0;
        bgen_args_td args;
        backend_path_storage_td storage;
        EXPECT_EQ(backend_lookup(&s, "ptp/c", &row, &args, &storage), NODRA_ERR_INVALID);
        EXPECT_EQ(backend_lookup(&s, "ptp/a", &row, &args, &storage), NODRA_ERR_INVALID);
    }
}

// The interface schema behind a verification registration: a commit of an unknown or failing
// item is rejected with the dispatcher's or the handler's text, a good one applied.
zerrno reg_verify(const nodra_verify_event_info_td *e, char **text, nodra_verify_result_td *result, void *)
{
    return backend_verifyonly(&if_schema, e, text, result, const_cast<char *>("reg-verify"));
}

uint32_t reg_state;
zerrno reg_apply(const nodra_verify_event_info_td *e, void *)
{
    return backend_apply(&if_schema, e, &reg_state);
}

TEST(BackendTest, CommitsAreVerifiedAndAppliedThroughTheSchema)
{
    nodra_test_reset();
    evm_thread client;
    nodra_conn_td *conn = nullptr;
    uint32_t reg = 0;
    client.run([&] {
        ASSERT_EQ(_nodra_bind(&conn, "/cfg/if/act/", 0), ZERR_OK);
        nodra_vrfn_fns_td fns;
        nodra_vrfn_fns_init(&fns);
        nodra_vrfn_fns_verify_init(&fns, reg_verify);
        nodra_vrfn_fns_apply_init(&fns, reg_apply);
        const char *paths[] = {".*/ptp/pi/"};
        ASSERT_EQ(nodra_register_verification4(conn, paths, 1, 7, &fns, client.evm, 0, 0, 0x14, &reg), ZERR_OK);
    });
    calls.clear();
    const uint32_t one = 1;
    auto commit = [&](const char *path) {
        nodra_commit_td *c = nullptr;
        EXPECT_EQ(nodra_commit_create(&c), ZERR_OK);
        nodra_commit_set(c, path, NODRA_ITEM_DATATYPE_UINT32, &one, 4);
        nodra_commit_result_td result{};
        EXPECT_EQ(nodra_commit_apply(c, &result), ZERR_OK);
        nodra_commit_free(c);
        return result;
    };
    nodra_commit_result_td r = commit("/cfg/if/act/Gi0/0/0/1/ptp/pi/bogus");
    EXPECT_EQ(r.outcome, NODRA_COMMIT_RESULT_REJECTED);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].code, NODRA_ERR_NOT_FOUND);
    EXPECT_EQ(r.failures[0].text, "Unknown configuration item 'Gi0/0/0/1/ptp/pi/bogus'");
    r = commit("/cfg/if/act/Gi0/0/0/1/ptp/pi/bad");
    EXPECT_EQ(r.outcome, NODRA_COMMIT_RESULT_REJECTED);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].text, "Failed to verify the bad value.");
    r = commit("/cfg/if/act/Gi0/0/0/1/ptp/pi/master-table/2/-/10.0.0.1/priority");
    EXPECT_EQ(r.outcome, NODRA_COMMIT_RESULT_APPLIED);
    client.drain();
    EXPECT_EQ(calls,
              (std::vector<std::string>{"reg-verify 99 ['Gi0/0/0/1']", "reg-verify 13 ['Gi0/0/0/1' 2 - 10.0.0.1]",
                                        "apply 13 ['Gi0/0/0/1' 2 - 10.0.0.1]"}));
    client.run([&] {
        EXPECT_EQ(nodra_verification_unregister(reg), ZERR_OK);
        _nodra_unbind(conn);
    });
}

} // namespace
