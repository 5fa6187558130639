// Recording fakes and shared helpers of the configuration tests (test code only).
#include "tessel_cfg_global_test_fake.h"

#include <arpa/inet.h>

#include <cstring>

#include "imc.h"
#include "plat_debug.h"
#include "ptp_debug.h"
#include "ptp_platform_intf_capability.h"
#include "qor_log.h"
#include "tessel_alloc.h"
#include "tessel_cfg.h"
#include "tessel_cfg_gl.h"
#include "tessel_cfg_interop.h"
#include "tessel_debug_areas.h"
#include "tessel_intf_caps.h"
#include "tessel_ipc_db.h"
#include "tuple.h"

cfg_fake_type cfg_fake;

// ---- Fakes: the thread control's IPC side and the process entry ----

void tessel_ipc_set_ptp_enable(uint32_t enable)
{
    cfg_fake.ptp_enable.push_back(enable);
}

void tessel_ipc_set_clock_profile(uint32_t profile, uint32_t telecom_clock_type)
{
    cfg_fake.clock_profile.emplace_back(profile, telecom_clock_type);
}

uint32_t tessel_ipc_get_clock_profile(uint32_t *telecom_clock_type)
{
    if (telecom_clock_type != nullptr) {
        *telecom_clock_type = 1;
    }
    return cfg_fake.clock_profile.empty() ? 0 : cfg_fake.clock_profile.back().first;
}

void tessel_ipc_set_min_clock_class(uint8_t min_clock_class)
{
    cfg_fake.min_clock_class.push_back(min_clock_class);
}

void tessel_ipc_if_update_add(tessel_ipc_idb_type *idb)
{
    cfg_fake.if_update_add.emplace_back(idb->header.ifname);
}

bool tessel_thread_ctrl_is_proto_thread()
{
    return false;
}

bool tessel_thread_ctrl_is_ipc_thread_blocked()
{
    return false;
}

void tessel_ipc_if_update_flush(void)
{
    cfg_fake.flushes++;
}

void tessel_ipc_db_sync_check(void) {}

void tessel_main_request_exit(void) {}

bool tessel_main_is_active(void)
{
    return true;
}

// ---- Helpers ----

namespace {

debug_event_type debug_table[TESSEL_DEBUG_AREA_COUNT];

void free_records()
{
    std::vector<tessel_ipc_idb_type *> all;
    tessel_ipc_db_walk(
        [](tessel_ipc_idb_type *idb, void *c) {
            static_cast<std::vector<tessel_ipc_idb_type *> *>(c)->push_back(idb);
            return true;
        },
        &all, nullptr, false);
    for (tessel_ipc_idb_type *idb : all) {
        tessel_cfg_if_release_config(idb);
        tessel_ipc_db_delete(idb);
    }
}

} // namespace

void cfg_fake_teardown()
{
    free_records();
    tessel_cfg_prf_db_destroy();
    tessel_ipc_db_destroy();
    tessel_intf_caps_shutdown();
    ptp_platform_intf_capability_test_reset();
}

void cfg_fake_reset(uint16_t caps)
{
    cfg_fake = cfg_fake_type{};
    tessel_cfg_verify_batch_has_valid_item = false;
    tessel_cfg_sweep_needed = false;
    tessel_cfg_apply_batch_state = 0;
    tessel_cfg_if_enable_count = 0;
    tessel_cfg_gl_reset();
    qor_errmsg_set_syslog(false);
    qor_errmsg_capture_clear();
    static bool registered = [] {
        return ptp_debug_register(nullptr, debug_table, tessel_debug_areas, TESSEL_DEBUG_AREA_COUNT, nullptr) == 0;
    }();
    (void)registered;
    debug_set_area(PTP_DEBUG_PATH, "config", "internal:");
    debug_capture_clear();
    tessel_ipc_db_init();
    tessel_cfg_prf_db_init();
    ptp_platform_intf_capability_test_set(1, caps, 4);
    tessel_intf_caps_init(nullptr);
}

std::vector<std::string> cfg_debug_lines()
{
    std::vector<std::string> out;
    for (const std::string &l : debug_captured()) {
        // Profile creation and deletion lines are the database's business, not the items'.
        if (l.find("profile db") == std::string::npos) {
            out.push_back(l);
        }
    }
    return out;
}

cfg_event_type cfg_event_u32(uint32_t event, uint32_t value)
{
    cfg_event_type e;
    e.info.event = event;
    e.info.datatype = NODRA_ITEM_DATATYPE_UINT32;
    e.bytes.resize(4);
    std::memcpy(e.bytes.data(), &value, 4);
    return e;
}

cfg_event_type cfg_event_tuple(uint32_t event, const std::vector<tuple_field_type> &fields)
{
    cfg_event_type e;
    e.info.event = event;
    e.info.datatype = NODRA_ITEM_DATATYPE_PACKED;
    tuple_pack_fields(fields, &e.bytes);
    return e;
}

cfg_event_type cfg_event_text(uint32_t event, const char *text)
{
    cfg_event_type e;
    e.info.event = event;
    e.info.datatype = NODRA_ITEM_DATATYPE_STRING;
    e.bytes.assign(text, text + std::strlen(text));
    return e;
}

cfg_event_type cfg_event_delete()
{
    cfg_event_type e;
    e.info.event = NODRA_EVENT_DELETE;
    return e;
}

const nodra_event_info_td *cfg_event_info(cfg_event_type &e)
{
    e.info.new_data = e.bytes.empty() ? nullptr : e.bytes.data();
    e.info.new_length = static_cast<uint32_t>(e.bytes.size());
    e.info.old_data = e.old_bytes.empty() ? nullptr : e.old_bytes.data();
    e.info.old_length = static_cast<uint32_t>(e.old_bytes.size());
    e.info.index = 1;
    e.info.count = 1;
    return &e.info;
}

bgen_args_td cfg_args_name(const char *name, uint32_t bg_ident)
{
    bgen_args_td a{};
    bgen_args_init(&a, bg_ident);
    if (name != nullptr) {
        bgen_args_set_string(&a, 0, name);
    } else {
        a.missing_mask |= 1;
        a.count = 1;
    }
    return a;
}

bgen_args_td cfg_args_addr(const char *name, uint32_t kind, const char *addr_text, uint32_t bg_ident)
{
    bgen_args_td a = cfg_args_name(name, bg_ident);
    bgen_args_set_uint(&a, 1, kind);
    if (kind == 1) {
        bgen_args_set_string(&a, 2, addr_text);
        a.missing_mask |= 1u << 3;
        a.count = 4;
    } else {
        a.missing_mask |= 1u << 2;
        uint8_t bytes[16] = {};
        const int family = kind == 3 ? AF_INET6 : AF_INET;
        inet_pton(family, addr_text, bytes);
        bgen_args_set_ip(&a, 3, kind == 3 ? BGEN_IP_V6 : BGEN_IP_V4, bytes);
    }
    return a;
}

tessel_ipc_idb_type *cfg_idb(const char *ifname)
{
    tessel_ipc_idb_type *idb = nullptr;
    tessel_cfg_get_create_idb(ifname, &idb);
    return idb;
}
