#include "ptp_show_fixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "evm_test_thread.h"
#include "nodra_test.h"
#include "ptp_bags.h"

std::string ptp_show_capture(const std::function<void()> &fn)
{
    fflush(stdout);
    FILE *file = tmpfile();
    const int saved = dup(STDOUT_FILENO);
    dup2(fileno(file), STDOUT_FILENO);
    fn();
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::string out;
    rewind(file);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, file)) > 0)
        out.append(buf, n);
    fclose(file);
    return out;
}

std::string ptp_show_run(int (*entry)(int, char **), const std::vector<std::string> &args)
{
    std::vector<std::string> copy = args;
    copy.insert(copy.begin(), "ptp_show_tool");
    std::vector<char *> argv;
    for (std::string &a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int status = -1;
    std::string out = ptp_show_capture([&] { status = entry(static_cast<int>(copy.size()), argv.data()); });
    EXPECT_EQ(status, 0);
    return out;
}

void ptp_show_store_bag(const char *path, const void *record, const bag_descriptor_type *bag)
{
    uint8_t *data = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(bag_encode(record, bag, &data, &length), ZERR_OK) << path;
    ASSERT_EQ(nodra_test_item_set(path, NODRA_ITEM_DATATYPE_BAG, data, length), ZERR_OK) << path;
    free(data);
}

void ptp_show_store_garbage(const char *path)
{
    const uint8_t bytes[] = {0xde, 0xad};
    ASSERT_EQ(nodra_test_item_set(path, NODRA_ITEM_DATATYPE_BAG, bytes, sizeof bytes), ZERR_OK);
}

std::string ptp_show_decode_error_text()
{
    uint8_t record[4096];
    const uint8_t bytes[] = {0xde, 0xad};
    return zerr_strerror(bag_decode(bytes, 2, record, ptp_summary_info_bag_getfn()));
}

std::string ptp_show_golden(const char *name)
{
    std::ifstream in(std::string(PTP_SHOW_GOLDEN_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void ptp_show_expect_golden(const char *name, const std::string &out)
{
    const char *update = getenv("PTP_SHOW_GOLDEN_UPDATE");
    if (update != nullptr && strcmp(update, "1") == 0) {
        std::ofstream(std::string(PTP_SHOW_GOLDEN_DIR) + "/" + name, std::ios::binary) << out;
        return;
    }
    EXPECT_EQ(out, ptp_show_golden(name)) << name;
}

void ptp_show_test_reset()
{
    static const bool registered = bag_register_all_ptp_bags() == ZERR_OK;
    ASSERT_TRUE(registered);
    nodra_test_reset();
    // Any readable file stands for the client library.
    nodra_test_set_client_library_path("/proc/self/exe");
}

struct ptp_show_provider::impl {
    evm_thread thread;
    nodra_conn_td *conn = nullptr;
    uint32_t reg = 0;
};

namespace {

zerrno serve(nodra_edm_request_td *q, void *)
{
    const auto *items = static_cast<const std::map<std::string, std::string> *>(q->item_table);
    if (q->op == 1) {
        auto it = items->find(q->path);
        if (it == items->end())
            return NODRA_ERR_EDM_NOT_FOUND;
        return nodra_edm_reply_set(q, NODRA_ITEM_DATATYPE_BAG, it->second.data(),
                                   static_cast<uint32_t>(it->second.size()));
    }
    const bool data = q->op == 3;
    if (data ? nodra_edm_datalist_create(q) : nodra_edm_list_create(q))
        return NODRA_ERR_INVALID;
    auto it = q->start_key != nullptr ? items->upper_bound(q->start_key) : items->begin();
    uint32_t added = 0;
    for (; it != items->end(); ++it, ++added) {
        if (q->max_count != 0 && added == q->max_count) {
            data ? nodra_edm_datalist_set_more_flag(q) : nodra_edm_list_set_more_flag(q);
            break;
        }
        if (data)
            nodra_edm_datalist_add(q, it->first.c_str(), NODRA_ITEM_DATATYPE_BAG, it->second.data(),
                                   static_cast<uint32_t>(it->second.size()));
        else
            nodra_edm_list_add(q, it->first.c_str(), NODRA_ITEM_DATATYPE_BAG);
    }
    return added == 0 ? NODRA_ERR_EDM_NOT_FOUND : ZERR_OK;
}

} // namespace

ptp_show_provider::ptp_show_provider(const char *bind) : p(std::make_unique<impl>())
{
    p->thread.run([&] {
        ASSERT_EQ(_nodra_bind(&p->conn, bind, 0), ZERR_OK);
        nodra_edm_fns_td fns;
        nodra_edm_fns_init(&fns);
        nodra_edm_fns_get_init(&fns, serve);
        nodra_edm_fns_list_init(&fns, serve);
        nodra_edm_fns_datalist_init(&fns, serve);
        ASSERT_EQ(nodra_register_edm2(p->conn, "", &fns, p->thread.evm, &items, 0, &p->reg), ZERR_OK);
    });
}

ptp_show_provider::~ptp_show_provider()
{
    p->thread.run([&] {
        nodra_edm_unregister(p->reg);
        _nodra_unbind(p->conn);
    });
}

void ptp_show_provider::add(const std::string &name, const void *record, const bag_descriptor_type *bag)
{
    uint8_t *data = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(bag_encode(record, bag, &data, &length), ZERR_OK) << name;
    items[name] = std::string(reinterpret_cast<const char *>(data), length);
    free(data);
}
