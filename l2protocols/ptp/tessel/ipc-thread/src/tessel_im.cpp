#include "tessel_im.h"

#include <cstdlib>
#include <cstring>

#include "ptp_alloc.h"
#include "ptp_syslog.h"
#include "ptp_types.h"
#include "tessel_alloc.h"
#include "tessel_assert.h"
#include "tessel_batch.h"
#include "tessel_if_config.h"
#include "tessel_intf_caps.h"
#include "tessel_ipc_db.h"
#include "tessel_ipc_log.h"
#include "tessel_port_mgr.h"
#include "tessel_stats.h"
#include "tessel_thread_ctrl.h"

namespace {

constexpr uint32_t AREA = tessel_debug_area("im");

constexpr uint32_t ENCAP_ETHERNET = 1;
constexpr uint32_t ENCAP_IPV4 = 2;
constexpr uint32_t ENCAP_IPV6 = 3;

// The connection's value given at creation, the events it reports, and the bind parameters.
constexpr uint32_t IM_CONN_FLAGS = 14;
constexpr uint32_t IM_CONN_EVENTS = 0x7000;
constexpr imc_bind_params_type IM_BIND_PARAMS = {9, 0};

constexpr uint16_t ETHER_ATTRS[2] = {IMC_ATTR_LINE_STATE, IMC_ATTR_ETHER};
constexpr uint16_t IP_ATTRS[2] = {IMC_ATTR_LINE_STATE, IMC_ATTR_IP};

// Entry header of a kind-20 notification: length, handle, type, protocol, attribute count.
constexpr uint32_t ENTRY_HDR_LEN = 16;
constexpr uint32_t ATTR_HDR_LEN = 4;

// ---- Module state (IPC thread) ----
bool initialised;
bool connected;
event_mgr_type *im_evm;
event_conn_type *im_conn;
imc_ctx_type *ctrl_ctx;
imc_reg_type *notify_reg;
tessel_batch_info_type idb_batch;
tessel_batch_info_type register_batch;
tessel_batch_info_type register_basecaps_batch;
tessel_batch_info_type unregister_batch;
tessel_batch_info_type unregister_basecaps_batch;

uint32_t rd_u16(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 8 | p[1];
}

uint32_t rd_u32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

void count_node(uint32_t event)
{
    tessel_stats_increment_node_event_counter(event);
}

void unbind()
{
    if (ctrl_ctx != nullptr) {
        imc_control_server_unbind(ctrl_ctx);
        ctrl_ctx = nullptr;
        count_node(TESSEL_NODE_EVENT_IM_UNBINDED);
    }
}

// An attribute registration element for an encapsulation; its attribute list is its own.
void element_fill(tessel_batch_info_type *batch, tessel_ipc_idb_type *idb, uint32_t encap)
{
    auto *el = static_cast<imc_attr_reg_type *>(tessel_batch_get_next_free_element(batch));
    if (el == nullptr) {
        return;
    }
    *el = imc_attr_reg_type{};
    el->ifhandle = idb->header.ifhandle;
    el->all_nodes = 0xFF;
    const bool ether = encap == ENCAP_ETHERNET;
    if (ether) {
        el->protocol[0] = 0;
        el->protocol[1] = 0xFFFF;
    } else if (encap == ENCAP_IPV4) {
        el->protocol[0] = 12;
        el->protocol[1] = IMC_PROTO_IPV4;
    } else {
        el->protocol[0] = 19;
        el->protocol[1] = IMC_PROTO_IPV6;
    }
    auto *attrs = static_cast<uint16_t *>(malloc(sizeof ETHER_ATTRS));
    if (attrs == nullptr) {
        ptp_alloc_failure_report(sizeof ETHER_ATTRS, ether ? "IM eth attribute" : "IM UDP attribute");
        return;
    }
    memcpy(attrs, ether ? ETHER_ATTRS : IP_ATTRS, sizeof ETHER_ATTRS);
    el->attrs = attrs;
    el->attr_count = 2;
}

// Empties a batch of registration elements, freeing their attribute lists.
void element_batch_finish(tessel_batch_info_type *batch)
{
    auto *els = static_cast<imc_attr_reg_type *>(tessel_batch_get_elements(batch));
    const uint32_t count = tessel_batch_get_count(batch);
    for (uint32_t i = 0; i < count; i++) {
        free(const_cast<uint16_t *>(els[i].attrs));
    }
    tessel_batch_finish(batch);
}

// Step 1 of processing: the handles of the records that wait for one. False when the look-up
// itself failed (the connection is then errored and everything registered again).
bool resolve_handles()
{
    const uint32_t count = tessel_batch_get_count(&idb_batch);
    if (count == 0) {
        return true;
    }
    // Copied out first: enabling a record below may queue work in the batch this empties.
    auto **records = static_cast<tessel_ipc_idb_type **>(calloc(count, sizeof(tessel_ipc_idb_type *)));
    auto *names = static_cast<char(*)[IMC_NAME_SIZE]>(calloc(count, IMC_NAME_SIZE));
    auto *handles = static_cast<uint32_t *>(calloc(count, sizeof(uint32_t)));
    auto *errors = static_cast<zerrno *>(calloc(count, sizeof(zerrno)));
    bool found_all = false;
    bool conn_ok = true;
    if (records == nullptr || names == nullptr || handles == nullptr || errors == nullptr) {
        ptp_alloc_failure_report(count * IMC_NAME_SIZE, "IM interface names");
        conn_ok = false;
    } else {
        memcpy(records, tessel_batch_get_elements(&idb_batch), count * sizeof *records);
        for (uint32_t i = 0; i < count; i++) {
            // The names table is zeroed: each name keeps a NUL of its own.
            memcpy(names[i], records[i]->header.ifname, strnlen(records[i]->header.ifname, IMC_NAME_SIZE - 1));
        }
        const zerrno rc = imc_interface_find(ctrl_ctx, names, count, handles, errors);
        found_all = rc == 0;
        for (uint32_t i = 0; i < count; i++) {
            if (errors[i] != 0) {
                TESSEL_IPC_DEBUG_ERR(AREA, "%s: [ERROR] Failed to find interface handle for interface %s: %s",
                                     records[i]->header.ifname, zerr_strerror(errors[i]));
                ptp_trace<PTP_TRACE_TESSEL_IM_FIND_ENTRY_FAILED>({tessel_ipc_det(), tessel_ipc_unq()},
                                                                 records[i]->header.ifname, errors[i]);
            }
        }
        if (!found_all) {
            TESSEL_IPC_DEBUG_ERR(AREA, "%s: [ERROR] Failed to find interface handle from interface name: %s",
                                 zerr_strerror(rc));
            ptp_trace<PTP_TRACE_TESSEL_IM_FIND_FAILED>({tessel_ipc_det(), tessel_ipc_unq()}, rc);
            // An interface this node does not have fails alone: erroring the connection for it
            // would only replay the same failure for ever. It is looked up again when it is
            // enabled again or the connection returns.
            bool entry_failed = false;
            for (uint32_t i = 0; i < count; i++) {
                entry_failed = entry_failed || errors[i] != 0;
            }
            conn_ok = entry_failed;
        }
    }
    tessel_batch_finish(&idb_batch);
    if (found_all) {
        TESSEL_IPC_DEBUG(AREA, "%s: Successfully found interface handles for %u interfaces", count);
        ptp_trace<PTP_TRACE_TESSEL_IM_FIND_DONE>({tessel_ipc_det()}, count);
        count_node(TESSEL_NODE_EVENT_IFHANDLE_BATCH_GOT);
    } else {
        count_node(TESSEL_NODE_EVENT_IFHANDLE_BATCH_FAILED);
    }
    for (uint32_t i = 0; conn_ok && records != nullptr && i < count; i++) {
        if (errors[i] != 0 || handles[i] == 0) {
            continue;
        }
        tessel_ipc_idb_type *idb = records[i];
        idb->header.ifhandle = handles[i];
        idb->flags |= TESSEL_IPC_FLAG_UPDATE_IFHANDLE;
        tessel_ipc_db_add_ifhandle(handles[i], idb);
        tessel_ipc_if_update_add(idb);
        tessel_im_if_enable(idb);
    }
    free(records);
    free(names);
    free(handles);
    free(errors);
    return conn_ok;
}

// Step 2: one batch of registration elements to the interface manager.
bool send_attr_batch(tessel_batch_info_type *batch, uint32_t op)
{
    const uint32_t count = tessel_batch_get_count(batch);
    if (count == 0) {
        return true;
    }
    const char *un = (op & 1) != 0 ? "" : "un";
    const uint32_t registering = op & 1;
    const auto *els = static_cast<const imc_attr_reg_type *>(tessel_batch_get_elements(batch));
    auto *results = static_cast<zerrno *>(calloc(count, sizeof(zerrno)));
    bool ok = true;
    const zerrno rc = imc_attr_register(notify_reg, op, els, count, results);
    if (rc != 0) {
        TESSEL_IPC_DEBUG_ERR(AREA, "%s: [ERROR] Failed to %sregister for IM attributes: %s", un, zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_IM_ATTR_REGISTER_FAILED>({tessel_ipc_det(), tessel_ipc_unq()}, registering, rc);
        ok = false;
    }
    for (uint32_t i = 0; results != nullptr && i < count; i++) {
        if (results[i] != 0) {
            TESSEL_IPC_DEBUG_ERR(AREA, "%s: [ERROR] Failed to %sregister for IM attributes for a batch entry: %s", un,
                                 zerr_strerror(results[i]));
            ptp_trace<PTP_TRACE_TESSEL_IM_ATTR_REGISTER_ENTRY_FAILED>({tessel_ipc_det(), tessel_ipc_unq()}, registering,
                                                                      results[i]);
            ok = false;
        }
    }
    free(results);
    if (ok) {
        TESSEL_IPC_DEBUG(AREA, "%s: Successfully %sregistered %u interfaces for IM attribute updates", un, count);
        ptp_trace<PTP_TRACE_TESSEL_IM_ATTR_REGISTERED>({tessel_ipc_det()}, registering, count);
        count_node(TESSEL_NODE_EVENT_IM_BATCH_REGISTERED);
    } else {
        count_node(TESSEL_NODE_EVENT_IM_BATCH_REGISTER_FAILED);
    }
    return ok;
}

// Position of a record in the "IDB batch", or UINT32_MAX.
uint32_t idb_batch_find(const tessel_ipc_idb_type *idb)
{
    auto *const *records = static_cast<tessel_ipc_idb_type *const *>(tessel_batch_get_elements(&idb_batch));
    const uint32_t count = tessel_batch_get_count(&idb_batch);
    for (uint32_t i = 0; i < count; i++) {
        if (records[i] == idb) {
            return i;
        }
    }
    return UINT32_MAX;
}

// A record that goes away must not wait in the "IDB batch": the batch would resolve a freed
// record.
void idb_batch_remove(const tessel_ipc_idb_type *idb)
{
    const uint32_t at = idb_batch_find(idb);
    if (at == UINT32_MAX) {
        return;
    }
    auto **records = static_cast<tessel_ipc_idb_type **>(tessel_batch_get_elements(&idb_batch));
    const uint32_t count = tessel_batch_get_count(&idb_batch);
    memmove(&records[at], &records[at + 1], (count - at - 1) * sizeof *records);
    idb_batch.next_index--;
}

void error_connection()
{
    TESSEL_IPC_DEBUG_ERR(AREA, "%s: [ERROR] Erroring the connection to IM");
    if (im_conn != nullptr) {
        event_conn_error(im_conn);
    }
}

bool reregister_one(tessel_ipc_idb_type *idb, void *)
{
    idb->flags &= ~TESSEL_IPC_FLAG_IM_REGISTERED;
    if ((idb->flags & TESSEL_IPC_FLAG_ENABLED) != 0) {
        tessel_im_if_enable(idb);
    }
    return true;
}

// ---- Attribute values of a notification ----

void apply_vrf(tessel_ipc_idb_type *idb, const iparm_al_c_list_type *list)
{
    const bool known = (idb->flags & TESSEL_IPC_FLAG_VRF_ID_KNOWN) != 0;
    if (list->count > 0) {
        if (!known || idb->ipv4_vrf != list->vrf_id) {
            idb->ipv4_vrf = list->vrf_id;
            idb->flags |= TESSEL_IPC_FLAG_UPDATE_VRF_ID | TESSEL_IPC_FLAG_VRF_ID_KNOWN;
        }
    } else if (known) {
        idb->flags &= ~TESSEL_IPC_FLAG_VRF_ID_KNOWN;
        idb->flags |= TESSEL_IPC_FLAG_UPDATE_VRF_ID;
    }
}

void apply_ipv4(tessel_ipc_idb_type *idb, const iparm_al_c_list_type *list)
{
    const uint32_t n = list->count > 0 ? list->count : 1;
    auto *addrs = static_cast<uint32_t *>(tessel_calloc(n, sizeof(uint32_t)));
    uint32_t count = 0;
    if (addrs == nullptr) {
        ptp_syslog_mem_alloc(static_cast<unsigned int>(n * sizeof(uint32_t)), "Tessel IPv4 address list");
    } else if (list->count > 0) {
        // The primary address first, then the secondary ones, as the manager lists them.
        for (uint32_t i = 0; i < list->count; i++) {
            memcpy(&addrs[i], list->addrs[i].addr, 4);
        }
        count = list->count;
    } else {
        addrs[0] = 0xFFFFFFFFu;
        count = 1;
    }
    if (!tessel_db_ipv4_addr_list_equal(idb->ipv4_addr_list, idb->ipv4_addr_count, addrs, count)) {
        tessel_free(idb->ipv4_addr_list);
        idb->ipv4_addr_list = count > 0 ? addrs : nullptr;
        idb->ipv4_addr_count = count;
        idb->flags |= TESSEL_IPC_FLAG_IPV4_LIST_CHANGED;
        addrs = nullptr;
    }
    tessel_free(addrs);
    tessel_im_select_source_ipv4(idb);
}

void apply_ipv6(tessel_ipc_idb_type *idb, const iparm_al_c_list_type *list)
{
    using addr6 = uint8_t[PTP_IPV6_ADDR_LEN];
    uint32_t room = list->count > 1 ? list->count - 1u : list->count;
    const char *what = "Tessel IPv6 address list";
    if (list->count == 0) {
        room = 1;
        what = "Tessel IPv6 address list)";
    }
    auto *addrs = static_cast<addr6 *>(tessel_calloc(room, sizeof(addr6)));
    uint32_t count = 0;
    if (addrs == nullptr) {
        ptp_syslog_mem_alloc(static_cast<unsigned int>(room * sizeof(addr6)), what);
    } else if (list->count > 0) {
        for (uint32_t i = 0; i < list->count && count < room; i++) {
            if ((list->addrs[i].flags & IPARM_AL_EXCLUDED) == 0) {
                memcpy(addrs[count++], list->addrs[i].addr, PTP_IPV6_ADDR_LEN);
            }
        }
    } else {
        count = 1; // one all-zero address
    }
    const bool same =
        count == idb->ipv6_addr_count && (count == 0 || memcmp(addrs, idb->ipv6_addr_list, count * sizeof(addr6)) == 0);
    if (!same) {
        tessel_free(idb->ipv6_addr_list);
        idb->ipv6_addr_list = count > 0 ? addrs : nullptr;
        idb->ipv6_addr_count = count;
        idb->flags |= TESSEL_IPC_FLAG_IPV6_LIST_CHANGED;
        if (count > 0) {
            addrs = nullptr;
        }
    }
    tessel_free(addrs);
    tessel_im_select_source_ipv6(idb);
}

// One attribute of an entry; false when its value is malformed (the rest of the entry is not
// read).
bool apply_attr(tessel_ipc_idb_type *idb, uint32_t id, const uint8_t *value, uint32_t len)
{
    switch (id) {
    case IMC_ATTR_LINE_STATE: {
        if (len < 4) {
            return false;
        }
        const uint32_t state = rd_u32(value);
        if (state != idb->im_state) {
            idb->im_state = state;
            idb->flags |= TESSEL_IPC_FLAG_UPDATE_IM_STATE;
        }
        return true;
    }
    case IMC_ATTR_ETHER:
        if (len > sizeof idb->ether_info) {
            return false;
        }
        if (len != idb->ether_info_len || memcmp(idb->ether_info, value, len) != 0) {
            memcpy(idb->ether_info, value, len);
            idb->ether_info_len = len;
            idb->flags |= TESSEL_IPC_FLAG_UPDATE_ETHER_INFO | TESSEL_IPC_FLAG_ETHER_INFO_KNOWN;
        }
        return true;
    case IMC_ATTR_IP: {
        iparm_al_c_list_type *list = nullptr;
        if (iparm_al_c_tlv2addr(value, len, &list) != 0 || list == nullptr) {
            return false;
        }
        apply_vrf(idb, list);
        if (list->protocol == IMC_PROTO_IPV4) {
            apply_ipv4(idb, list);
        } else if (list->protocol == IMC_PROTO_IPV6) {
            apply_ipv6(idb, list);
        }
        iparm_al_c_free(list);
        return true;
    }
    default: return true;
    }
}

// One entry of an attribute notification; the entry's bytes are exactly [entry, entry + len).
void apply_entry(const uint8_t *entry, uint32_t len)
{
    const uint32_t ifhandle = rd_u32(entry + 4);
    tessel_ipc_idb_type *idb = nullptr;
    if (tessel_ipc_db_get_by_ifhandle(ifhandle, &idb) != 0 || idb == nullptr) {
        TESSEL_IPC_DEBUG_ERR(AREA, "%s: [ERROR] Received IM notification for interface which is not found in our "
                                   "database");
        ptp_trace<PTP_TRACE_TESSEL_IM_NOTIFY_UNKNOWN_IF>({tessel_ipc_det()});
        return;
    }
    tessel_stats_increment_ipc_idb_event_counter(idb, TESSEL_IPC_IDB_EVENT_IM_ATTR_NOTIFICATIONS);
    const uint64_t before = idb->flags;
    const uint32_t if_type = rd_u32(entry + 8);
    if (if_type != idb->if_type) {
        idb->if_type = if_type;
        idb->flags |= TESSEL_IPC_FLAG_UPDATE_IF_TYPE;
    }
    const uint32_t attr_count = rd_u16(entry + 14);
    uint32_t pos = ENTRY_HDR_LEN;
    for (uint32_t i = 0; i < attr_count && len - pos >= ATTR_HDR_LEN; i++) {
        const uint32_t id = rd_u16(entry + pos);
        const uint32_t alen = rd_u16(entry + pos + 2);
        pos += ATTR_HDR_LEN;
        if (alen > len - pos || !apply_attr(idb, id, entry + pos, alen)) {
            break;
        }
        pos += alen;
    }
    if (idb->flags != before) {
        tessel_ipc_if_update_add(idb);
    }
}

} // namespace

// ---- Lifecycle ----

zerrno tessel_im_init(event_mgr_type *evm)
{
    if (initialised) {
        return 0;
    }
    im_evm = evm;
    tessel_batch_init(&idb_batch, sizeof(tessel_ipc_idb_type *), "IDB batch");
    tessel_batch_init(&register_batch, sizeof(imc_attr_reg_type), "IM Attributes Register batch");
    tessel_batch_init(&register_basecaps_batch, sizeof(imc_attr_reg_type), "IM Attributes Register basecaps batch");
    tessel_batch_init(&unregister_batch, sizeof(imc_attr_reg_type), "IM Attributes Unregister batch");
    tessel_batch_init(&unregister_basecaps_batch, sizeof(imc_attr_reg_type), "IM Attributes Unregister basecaps batch");
    zerrno rc = iparm_al_c_init();
    if (rc != 0) {
        ptp_syslog_init_failed("Failed to initialise IP-ARM address library: ", zerr_strerror(rc));
        return rc;
    }
    rc = event_conn_create(evm, tessel_im_connect_cb, IM_CONN_FLAGS, nullptr, &im_conn);
    if (rc != 0) {
        ptp_syslog_init_failed("Failed to create connection to IM: ", zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_IM_CONN_FAILED>({tessel_ipc_det(), tessel_ipc_unq()}, rc);
        im_conn = nullptr;
        return rc;
    }
    rc = event_conn_notify(im_conn, IM_CONN_EVENTS, tessel_im_register_notify_cb, nullptr);
    if (rc != 0) {
        ptp_syslog_init_failed("Failed to register for notification of events on IM connection: ", zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_IM_CONN_NOTIFY_FAILED>({tessel_ipc_det(), tessel_ipc_unq()}, rc);
        return rc;
    }
    // Initialised before the open: the open's first attempt runs at once and may already queue.
    initialised = true;
    rc = event_conn_open(im_conn);
    if (rc != 0 && rc != EVENT_CONN_ALREADY_OPEN) {
        initialised = false;
        ptp_syslog_init_failed("Failed to open connection to IM: ", zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_IM_CONN_FAILED>({tessel_ipc_det(), tessel_ipc_unq()}, rc);
        return rc;
    }
    TESSEL_IPC_DEBUG(AREA, "%s: IM module initialised");
    ptp_trace<PTP_TRACE_TESSEL_IM_INIT_DONE>({tessel_ipc_det()});
    return 0;
}

void tessel_im_shutdown(void)
{
    initialised = false;
    tessel_batch_finish(&idb_batch);
    element_batch_finish(&register_batch);
    element_batch_finish(&register_basecaps_batch);
    element_batch_finish(&unregister_batch);
    element_batch_finish(&unregister_basecaps_batch);
    if (notify_reg != nullptr) {
        imc_unregister_callback(notify_reg);
        notify_reg = nullptr;
    }
    unbind();
    if (im_conn != nullptr) {
        event_conn_destroy(im_conn);
        im_conn = nullptr;
    }
    connected = false;
    im_evm = nullptr;
}

// ---- Connection ----

int tessel_im_connect_cb(event_conn_type *, void *)
{
    unbind();
    zerrno rc = imc_control_server_bind(&IM_BIND_PARAMS, 1, &ctrl_ctx);
    if (rc != 0) {
        ctrl_ctx = nullptr;
        TESSEL_IPC_DEBUG_ERR(AREA, "%s: [ERROR] Failed to bind to IM: %s", zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_IM_BIND_FAILED>({tessel_ipc_det(), tessel_ipc_unq()}, rc);
        count_node(TESSEL_NODE_EVENT_IM_BIND_FAILED);
        return -1;
    }
    count_node(TESSEL_NODE_EVENT_IM_BINDED);
    int32_t connid = -1;
    rc = imc_conn_ctx_to_connid(ctrl_ctx, &connid);
    if (rc != 0) {
        TESSEL_IPC_DEBUG_ERR(AREA, "%s: [ERROR] Failed to get IM conn ID from context: %s", zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_IM_CONNID_FAILED>({tessel_ipc_det(), tessel_ipc_unq()}, rc);
        count_node(TESSEL_NODE_EVENT_IM_CTX_FROM_CONNID_FAILED);
        return -1;
    }
    count_node(TESSEL_NODE_EVENT_IM_CTX_FROM_CONNID);
    TESSEL_IPC_DEBUG(AREA, "%s: Connection to IM successfully initialised");
    ptp_trace<PTP_TRACE_TESSEL_IM_CONNECTED>({tessel_ipc_det()});
    return connid;
}

int tessel_im_register_notify_cb(event_conn_type *conn, uint32_t event, void *)
{
    if (event == EVENT_CONN_UP) {
        connected = true;
        if (notify_reg != nullptr) {
            // The registration of the previous connection (the manager may have dropped it).
            imc_unregister_callback(notify_reg);
            notify_reg = nullptr;
        }
        const zerrno rc =
            imc_register_callback(im_evm, IMC_NOTIFY_CLASS_BULK, tessel_im_bulk_notify_cb, nullptr, &notify_reg);
        if (rc != 0) {
            notify_reg = nullptr;
            TESSEL_IPC_DEBUG_ERR(AREA, "%s: [ERROR] Failed to register for IM notifications: %s", zerr_strerror(rc));
            ptp_trace<PTP_TRACE_TESSEL_IM_NOTIFY_REGISTER_FAILED>({tessel_ipc_det(), tessel_ipc_unq()}, rc);
            count_node(TESSEL_NODE_EVENT_IM_NOTIFY_REGISTER_FAILED);
            TESSEL_IPC_DEBUG_ERR(AREA, "%s: [ERROR] Erroring the connection to IM");
            event_conn_error(conn);
            return 0;
        }
        count_node(TESSEL_NODE_EVENT_IM_NOTIFY_REGISTERED);
        // Whatever was registered went with the old connection: register every enabled
        // interface again.
        tessel_ipc_db_walk(reregister_one, nullptr, nullptr, false);
        tessel_im_process_batches();
    } else if (event == EVENT_CONN_DOWN || event == EVENT_CONN_CLOSED) {
        connected = false;
        unbind();
    }
    return 0;
}

// ---- Interfaces ----

void tessel_im_if_enable(tessel_ipc_idb_type *idb)
{
    if (!initialised) {
        return;
    }
    const uint32_t encap = idb->applied_config.encap;
    if ((idb->flags & TESSEL_IPC_FLAG_IM_REGISTERED) != 0) {
        TESSEL_ASSERT(idb->header.ifhandle != 0);
        if (idb->registered_encap == encap) {
            return;
        }
        // The encapsulation changed: the old attributes go, and the line state is unknown
        // until the new registration reports it.
        if (idb->im_state != TESSEL_IM_STATE_REREGISTERING) {
            idb->im_state = TESSEL_IM_STATE_REREGISTERING;
            idb->flags |= TESSEL_IPC_FLAG_UPDATE_IM_STATE;
        }
        tessel_im_if_unregister(idb);
    } else if (idb->header.ifhandle == 0) {
        if (idb_batch_find(idb) != UINT32_MAX) {
            return;
        }
        auto *slot = static_cast<tessel_ipc_idb_type **>(tessel_batch_get_next_free_element(&idb_batch));
        if (slot != nullptr) {
            *slot = idb;
            tessel_stats_increment_ipc_idb_event_counter(idb, TESSEL_IPC_IDB_EVENT_IFHANDLE_GET_BATCH);
        }
        return;
    }
    if (encap == ENCAP_ETHERNET) {
        element_fill(&register_basecaps_batch, idb, ENCAP_ETHERNET);
        idb->registered_encap = ENCAP_ETHERNET;
        tessel_stats_increment_ipc_idb_event_counter(idb, TESSEL_IPC_IDB_EVENT_IM_ETHER_REGISTER_BATCH);
    } else if (encap == ENCAP_IPV4 || encap == ENCAP_IPV6) {
        element_fill(&register_batch, idb, encap);
        idb->registered_encap = encap;
        tessel_stats_increment_ipc_idb_event_counter(idb, TESSEL_IPC_IDB_EVENT_IM_UDP_REGISTER_BATCH);
        if (!tessel_intf_caps_supports_platform_adjacency()) {
            // The agent resolves the peer's MAC itself, so it needs the Ethernet details too.
            element_fill(&register_basecaps_batch, idb, ENCAP_ETHERNET);
        }
    } else {
        return;
    }
    idb->flags |= TESSEL_IPC_FLAG_IM_REGISTERED;
}

void tessel_im_if_unregister(tessel_ipc_idb_type *idb)
{
    if ((idb->flags & TESSEL_IPC_FLAG_IM_REGISTERED) == 0) {
        return;
    }
    if (idb->registered_encap == ENCAP_ETHERNET) {
        element_fill(&unregister_basecaps_batch, idb, ENCAP_ETHERNET);
        tessel_stats_increment_ipc_idb_event_counter(idb, TESSEL_IPC_IDB_EVENT_IM_ETHER_UNREGISTER_BATCH);
    } else {
        element_fill(&unregister_batch, idb, idb->registered_encap);
        tessel_stats_increment_ipc_idb_event_counter(idb, TESSEL_IPC_IDB_EVENT_IM_UDP_UNREGISTER_BATCH);
        if (!tessel_intf_caps_supports_platform_adjacency()) {
            element_fill(&unregister_basecaps_batch, idb, ENCAP_ETHERNET);
        }
    }
    idb->flags &= ~TESSEL_IPC_FLAG_IM_REGISTERED;
}

void tessel_im_if_disable(tessel_ipc_idb_type *idb)
{
    if (initialised) {
        tessel_im_if_unregister(idb);
    }
    idb_batch_remove(idb);
    tessel_free(idb->ipv4_addr_list);
    idb->ipv4_addr_list = nullptr;
    idb->ipv4_addr_count = 0;
    tessel_free(idb->ipv6_addr_list);
    idb->ipv6_addr_list = nullptr;
    idb->ipv6_addr_count = 0;
}

void tessel_im_process_batches(void)
{
    if (!connected) {
        return;
    }
    bool ok = resolve_handles();
    struct {
        tessel_batch_info_type *batch;
        uint32_t op;
    } const sends[] = {
        {&unregister_batch, IMC_ATTR_OP_UNREGISTER},
        {&unregister_basecaps_batch, IMC_ATTR_OP_UNREGISTER_BASECAPS},
        {&register_batch, IMC_ATTR_OP_REGISTER},
        {&register_basecaps_batch, IMC_ATTR_OP_REGISTER_BASECAPS},
    };
    for (const auto &s : sends) {
        if (ok) {
            ok = send_attr_batch(s.batch, s.op);
        }
        element_batch_finish(s.batch);
    }
    if (!ok) {
        // The reconnection registers everything again.
        error_connection();
    }
}

// ---- Notifications ----

void tessel_im_bulk_notify_cb(const imc_notify_type *notify, void *)
{
    if (notify == nullptr) {
        return;
    }
    const char *kind_name = im_notify_reverse_lookup(notify->kind);
    TESSEL_IPC_DEBUG(AREA, "%s: Received %u '%s' IM notifications in bulk", notify->count,
                     kind_name != nullptr ? kind_name : "");
    ptp_trace<PTP_TRACE_TESSEL_IM_BULK_NOTIFY>({tessel_ipc_det()}, notify->count, notify->kind);
    count_node(TESSEL_NODE_EVENT_IM_NOTIFY_BATCH_RECEIVED);
    if (notify->kind == IMC_NOTIFY_ATTRIBUTES) {
        // Each entry gives its own length; one that does not fit what is left ends the walk.
        uint32_t pos = 0;
        for (uint32_t i = 0; i < notify->count && notify->entries != nullptr; i++) {
            if (notify->length - pos < ENTRY_HDR_LEN) {
                break;
            }
            const uint32_t len = rd_u32(notify->entries + pos);
            if (len < ENTRY_HDR_LEN || len > notify->length - pos) {
                break;
            }
            apply_entry(notify->entries + pos, len);
            pos += len;
        }
        tessel_ipc_if_update_flush();
    } else if (notify->kind == IMC_NOTIFY_REPLAY_DONE) {
        tessel_ipc_db_sync_check();
    }
}

bool tessel_im_select_source_ipv4(tessel_ipc_idb_type *idb)
{
    uint32_t addr = 0xFFFFFFFFu;
    if (idb->applied_config.source_ip.enable != 0) {
        addr = idb->applied_config.source_ip.address;
    } else if (idb->ipv4_addr_count > 0) {
        addr = idb->ipv4_addr_list[0];
    }
    if (addr == idb->applied_ipv4_addr) {
        return false;
    }
    idb->applied_ipv4_addr = addr;
    idb->flags |= TESSEL_IPC_FLAG_UPDATE_IP_ADDRESS;
    return true;
}

bool tessel_im_select_source_ipv6(tessel_ipc_idb_type *idb)
{
    uint8_t addr[PTP_IPV6_ADDR_LEN] = {};
    if (idb->applied_config.source_ipv6.enable != 0) {
        memcpy(addr, idb->applied_config.source_ipv6.address, sizeof addr);
    } else if (idb->ipv6_addr_count > 0) {
        memcpy(addr, idb->ipv6_addr_list[0], sizeof addr);
    }
    if (memcmp(addr, idb->applied_ipv6_addr, sizeof addr) == 0) {
        return false;
    }
    memcpy(idb->applied_ipv6_addr, addr, sizeof addr);
    idb->flags |= TESSEL_IPC_FLAG_UPDATE_IPV6_ADDRESS;
    return true;
}

imc_ctx_type *tessel_im_ctrl_ctx(void)
{
    return ctrl_ctx;
}

imc_ctx_type **tessel_im_ctrl_ctx_ref(void)
{
    return &ctrl_ctx;
}

bool tessel_im_is_connected(void)
{
    return connected;
}
