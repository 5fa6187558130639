// Stand-ins of the configuration modules the intake calls that are not built yet (profile
// database, global items, master and slave tables, interoperation items), for the agent program
// the integration tests run. Profiles cannot be created; table and interoperation items are
// refused with a text that says so; global items find no handler (each is logged as a failed
// notify item).
#include <cstdlib>
#include <cstring>

#include "tessel_cfg.h"
#include "tessel_intf_caps.h"

namespace {

constexpr const char *NOT_AVAILABLE = "This configuration item is not available in this agent";

zerrno refuse_verify(char **error_text, nodra_verify_result_td *result)
{
    result->result = NODRA_VERIFY_RESULT_FAIL;
    *error_text = strdup(NOT_AVAILABLE);
    return PTP_ZERR_INVALID_ARG;
}

const backend_node_td gl_nodes[] = {
    {nullptr, 0, BACKEND_NODE_ROOT, -1, -1, -1, 0, 1},
};

} // namespace

zerrno tessel_cfg_prf_db_init(void)
{
    return 0;
}
void tessel_cfg_prf_db_destroy(void) {}
zerrno tessel_cfg_get_prf_db(const char *, tessel_prf_db_type **out_prf)
{
    *out_prf = nullptr;
    return PTP_ZERR_INVALID_ARG;
}
void tessel_cfg_prf_db_delete(tessel_prf_db_type **prf)
{
    *prf = nullptr;
}
bool tessel_cfg_prf_master_entry_remove_walker(tessel_master_db_type *, void *)
{
    return true;
}
bool tessel_cfg_prf_slave_entry_remove_walker(tessel_slave_db_type *, void *)
{
    return true;
}

const backend_schema_td tessel_cfg_gl_schema{gl_nodes, 1, nullptr, 0, 0};

zerrno tessel_cfg_if_check_slave_capability(const char *)
{
    return tessel_intf_caps_supports_slave() ? 0 : PTP_ZERR_CARD_NO_SLAVE;
}
uint32_t tessel_cfg_if_merge_master_entry(tessel_ipc_idb_type *, const ptp_address_type *)
{
    return 0;
}
uint32_t tessel_cfg_if_merge_slave_entry(tessel_ipc_idb_type *, const ptp_address_type *)
{
    return 0;
}
void tessel_cfg_if_reconcile_interop_config(tessel_ipc_idb_type *, bool *changed)
{
    *changed = false;
}

#define REFUSED_ITEM_(item)                                                                                            \
    zerrno tessel_cfg_if_verify_##item(const nodra_verify_event_info_td *, char **error_text,                          \
                                       nodra_verify_result_td *result, void *, const bgen_args_td *)                   \
    {                                                                                                                  \
        return refuse_verify(error_text, result);                                                                      \
    }                                                                                                                  \
    zerrno tessel_cfg_if_apply_##item(const nodra_verify_event_info_td *, void *, const bgen_args_td *)                \
    {                                                                                                                  \
        return PTP_ZERR_INVALID_ARG;                                                                                   \
    }
REFUSED_ITEM_(master_enable)
REFUSED_ITEM_(master_priority)
REFUSED_ITEM_(master_multicast)
REFUSED_ITEM_(master_clock_class)
REFUSED_ITEM_(master_delay_asymmetry)
REFUSED_ITEM_(master_nonnegotiated)
REFUSED_ITEM_(slave_nonnegotiated)
REFUSED_ITEM_(interop_profile)
REFUSED_ITEM_(interop_domain)
REFUSED_ITEM_(interop_priority)
REFUSED_ITEM_(interop_clock_accuracy)
REFUSED_ITEM_(interop_oslv)
REFUSED_ITEM_(interop_clock_class_default)
REFUSED_ITEM_(interop_clock_class_mapping)
#undef REFUSED_ITEM_
