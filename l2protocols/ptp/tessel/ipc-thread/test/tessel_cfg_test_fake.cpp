// Recording fakes for the configuration tests: the thread control's IPC-side glue, the process
// entry's exit request, and the profile, table and interoperation modules the intake calls.
// Profiles are real records kept in a map, so that tests fill their values and the merge reads
// them.
#include "tessel_cfg_test_fake.h"

#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "tessel_alloc.h"
#include "tessel_intf_caps.h"

cfg_fake_state_type cfg_fake;

namespace {

std::map<std::string, std::unique_ptr<tessel_prf_db_type>> profiles;

void rec(const std::string &what)
{
    std::lock_guard<std::mutex> g(cfg_fake.lock);
    cfg_fake.calls.push_back(what);
}

const backend_node_td gl_nodes[] = {
    {nullptr, 0, BACKEND_NODE_ROOT, -1, -1, -1, 0, 1},
};

} // namespace

tessel_prf_db_type *cfg_fake_profile(const char *name)
{
    tessel_prf_db_type *prf = nullptr;
    tessel_cfg_get_prf_db(name, &prf);
    return prf;
}

uint32_t cfg_fake_profile_count()
{
    return static_cast<uint32_t>(profiles.size());
}

void cfg_fake_reset()
{
    std::lock_guard<std::mutex> g(cfg_fake.lock);
    cfg_fake.calls.clear();
    cfg_fake.clock_profile = 0;
    cfg_fake.exit_requested = 0;
}

// ---- Thread control and process entry ----

bool tessel_thread_ctrl_is_proto_thread()
{
    return false;
}
bool tessel_thread_ctrl_is_ipc_thread_blocked()
{
    return false;
}
void tessel_ipc_if_update_add(tessel_ipc_idb_type *idb)
{
    rec(std::string("if_update_add ") + idb->header.ifname);
}
void tessel_ipc_if_update_flush(void)
{
    rec("if_update_flush");
}
void tessel_ipc_db_sync_check(void) {}
uint32_t tessel_ipc_get_clock_profile(uint32_t *telecom_clock_type)
{
    if (telecom_clock_type != nullptr) {
        *telecom_clock_type = 1;
    }
    return cfg_fake.clock_profile;
}
void tessel_main_request_exit(void)
{
    rec("request_exit");
    cfg_fake.exit_requested++;
}
bool tessel_main_is_active(void)
{
    return true;
}

// ---- Profile database ----

zerrno tessel_cfg_prf_db_init(void)
{
    rec("prf_db_init");
    return 0;
}
void tessel_cfg_prf_db_destroy(void)
{
    rec("prf_db_destroy");
    for (auto &[name, prf] : profiles) {
        tessel_free(prf->prf_config.interop_cfg);
    }
    profiles.clear();
}
zerrno tessel_cfg_get_prf_db(const char *name, tessel_prf_db_type **out_prf)
{
    auto &slot = profiles[name];
    if (!slot) {
        slot = std::make_unique<tessel_prf_db_type>();
        snprintf(slot->name, sizeof slot->name, "%s", name);
    }
    *out_prf = slot.get();
    return 0;
}
void tessel_cfg_prf_db_delete(tessel_prf_db_type **prf)
{
    rec(std::string("prf_db_delete ") + (*prf)->name);
    profiles.erase((*prf)->name);
    *prf = nullptr;
}
bool tessel_cfg_prf_master_entry_remove_walker(tessel_master_db_type *, void *context)
{
    static_cast<tessel_cfg_prf_entry_remove_ctx_type *>(context)->changed = true;
    return true;
}
bool tessel_cfg_prf_slave_entry_remove_walker(tessel_slave_db_type *, void *context)
{
    static_cast<tessel_cfg_prf_entry_remove_ctx_type *>(context)->changed = true;
    return true;
}

const backend_schema_td tessel_cfg_gl_schema{gl_nodes, 1, nullptr, 0, 0};

// ---- Tables and interoperation ----

zerrno tessel_cfg_if_check_slave_capability(const char *ifname)
{
    rec(std::string("check_slave_capability ") + ifname);
    return tessel_intf_caps_supports_slave() ? 0 : PTP_ZERR_CARD_NO_SLAVE;
}
uint32_t tessel_cfg_if_merge_master_entry(tessel_ipc_idb_type *idb, const ptp_address_type *)
{
    rec(std::string("merge_master_entry ") + idb->header.ifname);
    return 0;
}
uint32_t tessel_cfg_if_merge_slave_entry(tessel_ipc_idb_type *idb, const ptp_address_type *)
{
    rec(std::string("merge_slave_entry ") + idb->header.ifname);
    return 0;
}
void tessel_cfg_if_reconcile_interop_config(tessel_ipc_idb_type *, bool *changed)
{
    *changed = cfg_fake.interop_changed;
}

#define RECORDED_ITEM_(item)                                                                                           \
    zerrno tessel_cfg_if_verify_##item(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *result,    \
                                       void *, const bgen_args_td *)                                                   \
    {                                                                                                                  \
        rec("verify " #item);                                                                                          \
        result->result = NODRA_VERIFY_RESULT_PASS;                                                                     \
        tessel_cfg_verify_batch_has_valid_item = true;                                                                 \
        return 0;                                                                                                      \
    }                                                                                                                  \
    zerrno tessel_cfg_if_apply_##item(const nodra_verify_event_info_td *, void *, const bgen_args_td *args)            \
    {                                                                                                                  \
        rec("apply " #item " " + std::to_string(args->bg_ident));                                                      \
        return 0;                                                                                                      \
    }
RECORDED_ITEM_(master_enable)
RECORDED_ITEM_(master_priority)
RECORDED_ITEM_(master_multicast)
RECORDED_ITEM_(master_clock_class)
RECORDED_ITEM_(master_delay_asymmetry)
RECORDED_ITEM_(master_nonnegotiated)
RECORDED_ITEM_(slave_nonnegotiated)
RECORDED_ITEM_(interop_profile)
RECORDED_ITEM_(interop_domain)
RECORDED_ITEM_(interop_priority)
RECORDED_ITEM_(interop_clock_accuracy)
RECORDED_ITEM_(interop_oslv)
RECORDED_ITEM_(interop_clock_class_default)
RECORDED_ITEM_(interop_clock_class_mapping)
#undef RECORDED_ITEM_
