// The checkpoint records' encoding glue: see tessel_gpb.h.
#include "tessel_gpb.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ptp_alloc.h"
#include "ptp_zerr_codes.h"
#include "tessel_alloc.h"
#include "tessel_assert.h"
#include "tessel_pm_log.h"

namespace {

// The encoders send every field: every presence bit of every message they fill is set.
constexpr uint32_t ALL_PRESENT = 0xFFFFFFFFu;

constexpr size_t GPB_ADDRESS_LEN = PTP_ADDRESS_VALUE_LEN;

bool has(uint32_t present, unsigned field)
{
    return (present & zidl_tessel_gpb_bit(field)) != 0;
}

// An absent optional field takes its default and counts as present from then on.
template <typename T, typename V>
void take_default(T *value, uint32_t *present, unsigned field, V fallback)
{
    if (!has(*present, field)) {
        *value = static_cast<T>(fallback);
        *present |= zidl_tessel_gpb_bit(field);
    }
}

// The message borrows the record's bytes while it is packed.
void borrow(zidl_tessel_gpb_bytes *bytes, const void *data, size_t len)
{
    bytes->data = const_cast<uint8_t *>(static_cast<const uint8_t *>(data));
    bytes->len = len;
}

void gpb_free(void *block, void *)
{
    std::free(block);
}

// ---- Encoding ----

void address_fill(zidl_tessel_gpb_address *msg, const ptp_address_type *addr)
{
    msg->address_type = addr->encap;
    borrow(&msg->address, addr->value, GPB_ADDRESS_LEN);
    msg->present = ALL_PRESENT;
}

void port_id_fill(zidl_tessel_gpb_port_id *msg, const ptp_port_id_type *id)
{
    msg->clock_id = id->clock_id;
    msg->port_num = id->port_num;
    msg->present = ALL_PRESENT;
}

void clock_fill(zidl_tessel_gpb_clock *msg, const ptp_clock_type *clock)
{
    msg->clock_id = clock->clock_id;
    msg->priority1 = clock->priority1;
    msg->clock_class = clock->clock_class;
    msg->accuracy = clock->accuracy;
    msg->offset_log_variance = clock->offset_log_variance;
    msg->priority2 = clock->priority2;
    msg->steps_removed = clock->steps_removed;
    msg->time_source = clock->time_source;
    // Signed values travel widened with their sign.
    msg->utc_offset.current_offset = static_cast<uint32_t>(int32_t{clock->utc_offset});
    msg->utc_offset.offset_valid = clock->utc_offset_valid != 0 ? 1 : 0;
    msg->utc_offset.present = ALL_PRESENT;
    msg->traceable.frequency_traceable = clock->frequency_traceable != 0 ? 1 : 0;
    msg->traceable.time_traceable = clock->time_traceable != 0 ? 1 : 0;
    msg->traceable.present = ALL_PRESENT;
    msg->timescale = clock->timescale;
    msg->leap_seconds = clock->leap_seconds;
    port_id_fill(&msg->sender, &clock->sender);
    port_id_fill(&msg->receiver, &clock->receiver);
    msg->local = clock->local != 0 ? 1 : 0;
    msg->configured_clock_class = clock->configured_clock_class;
    msg->configured_priority = clock->configured_priority;
    msg->present = ALL_PRESENT;
}

void foreign_master_fill(zidl_tessel_gpb_foreign_master *msg, const tessel_chkpt_foreign_master_type *fm)
{
    address_fill(&msg->address, &fm->peer_addr);
    address_fill(&msg->second_address, &fm->sent_to_addr);
    clock_fill(&msg->clock, &fm->master_clock);
    msg->master_word_1 = fm->transport;
    msg->configured_priority = fm->configured_priority;
    msg->master_word_3 = static_cast<uint32_t>(fm->delay_asymmetry);
    msg->priority_configured = fm->is_priority_configured != 0 ? 1 : 0;
    msg->configured_clock_class = fm->configured_clock_class;
    msg->clock_class_configured = fm->is_clock_class_configured != 0 ? 1 : 0;
    msg->master_state_flag = fm->is_nonnegotiated != 0 ? 1 : 0;
    msg->in_master_table = fm->is_in_master_table != 0 ? 1 : 0;
    msg->present = ALL_PRESENT;
}

void config_fill(zidl_tessel_gpb_config *msg, const tessel_chkpt_config_type *cfg)
{
    msg->encapsulation = cfg->encap;
    msg->log_announce_interval = static_cast<uint32_t>(cfg->announce_interval);
    msg->announce_timeout = cfg->announce_timeout;
    msg->log_sync_interval = static_cast<uint32_t>(cfg->sync_interval);
    msg->log_min_delay_req_interval = static_cast<uint32_t>(cfg->delay_req_interval);
    msg->transport = cfg->transport;
    msg->clock_operation.one_step = cfg->one_step != 0 ? 1 : 0;
    msg->clock_operation.present = ALL_PRESENT;
    msg->port_state_config = cfg->port_state;
    msg->source_ip.enable = cfg->source_ip.enable != 0 ? 1 : 0;
    borrow(&msg->source_ip.ip_address, cfg->source_ip.ip_address, PTP_IPV4_ADDR_LEN);
    msg->source_ip.present = ALL_PRESENT;
    msg->source_ipv6.enable = cfg->source_ipv6.enable != 0 ? 1 : 0;
    borrow(&msg->source_ipv6.ip_address, cfg->source_ipv6.ip_address, PTP_IPV6_ADDR_LEN);
    msg->source_ipv6.present = ALL_PRESENT;
    msg->sync_receive_timeout = cfg->sync_timeout;
    msg->delay_resp_receive_timeout = cfg->delay_resp_timeout;
    msg->deny_invalid_grants = cfg->deny_invalid_grants != 0 ? 1 : 0;
    msg->announce_grant_duration = cfg->announce_grant_duration;
    msg->sync_grant_duration = cfg->sync_grant_duration;
    msg->delay_resp_grant_duration = cfg->delay_resp_grant_duration;
    msg->local_priority = cfg->local_priority;
    address_fill(&msg->multicast_address, &cfg->multicast_address);
    msg->cos = cfg->cos;
    msg->general_cos = cfg->general_cos;
    msg->event_cos = cfg->event_cos;
    msg->dscp = cfg->dscp;
    msg->general_dscp = cfg->general_dscp;
    msg->event_dscp = cfg->event_dscp;
    msg->ipv4_ttl = cfg->ipv4_ttl;
    msg->ipv6_hop_limit = cfg->ipv6_hop_limit;
    msg->present = ALL_PRESENT;
}

// Measures, then packs once into the caller's buffer. A record that does not fit a table record
// packs nothing (*len 0): only an interface can grow that far, by the addresses the interface
// manager gives it, and that must not end the agent.
template <typename M>
void pack_record(const M *msg, size_t (*pack)(const M *, uint8_t *, size_t), uint8_t *buffer, size_t *len)
{
    const size_t required_size = pack(msg, nullptr, 0);
    if (required_size > TESSEL_CHKPT_RECORD_SIZE) {
        *len = 0;
        return;
    }
    *len = pack(msg, buffer, required_size);
    if (!(*len == required_size)) {
        tessel_internal_error("*len == required_size", __FILE__, __LINE__);
    }
}

// ---- Checks ----

zerrno missing(const char *check, const char *field)
{
    TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0, "%s: [ERROR] %s: A checkpoint entry was missing a %s value", check,
                        field);
    return PTP_ZERR2_GPB_ELEMENT_MISSING;
}

zerrno wrong_size(const char *check, const char *field)
{
    TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                        "%s: [ERROR] %s: A checkpoint entry for value %s was of the wrong size", check, field);
    return PTP_ZERR2_GPB_ELEMENT_SIZE;
}

zerrno undecodable(const char *step, int rv)
{
    TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0, "%s: [ERROR] %s: A checkpoint entry could not be decoded, rv: %d",
                        step, rv);
    return PTP_ZERR2_GPB_DECODE;
}

// A name buffer is taken whole; the stored one must be exactly its size.
constexpr uint64_t IFNAME_LEN = TESSEL_CHKPT_IFNAME_SIZE;

zerrno tessel_gpb_address_check(const zidl_tessel_gpb_address *msg)
{
    constexpr const char *check = "tessel_gpb_address_check";
    if (msg->address.len != GPB_ADDRESS_LEN) {
        return wrong_size(check, "address");
    }
    if (!has(msg->present, 1)) {
        return missing(check, "address_type");
    }
    if (!has(msg->present, 2)) {
        return missing(check, "address");
    }
    return 0;
}

zerrno tessel_gpb_port_id_check(const zidl_tessel_gpb_port_id *msg)
{
    constexpr const char *check = "tessel_gpb_port_id_check";
    if (!has(msg->present, 1)) {
        return missing(check, "clock_id");
    }
    if (!has(msg->present, 2)) {
        return missing(check, "port_num");
    }
    return 0;
}

// The other members of a clock default to 0, which unpacking left them.
zerrno tessel_gpb_clock_check(const zidl_tessel_gpb_clock *msg)
{
    if (!has(msg->present, 1)) {
        return missing("tessel_gpb_clock_check", "clock_id");
    }
    zerrno rc = tessel_gpb_port_id_check(&msg->receiver);
    if (rc == 0) {
        rc = tessel_gpb_port_id_check(&msg->sender);
    }
    return rc;
}

zerrno tessel_gpb_clock_operation_check(const zidl_tessel_gpb_clock_operation *msg)
{
    return has(msg->present, 1) ? 0 : missing("tessel_gpb_clock_operation_check", "one_step");
}

zerrno tessel_gpb_source_ip_check(zidl_tessel_gpb_source_ip *msg)
{
    if (msg->ip_address.len != PTP_IPV4_ADDR_LEN) {
        return wrong_size("tessel_gpb_source_ip_check", "ip_address");
    }
    take_default(&msg->enable, &msg->present, 1, 0);
    return 0;
}

zerrno tessel_gpb_source_ipv6_check(zidl_tessel_gpb_source_ipv6 *msg)
{
    if (msg->ip_address.len != PTP_IPV6_ADDR_LEN) {
        return wrong_size("tessel_gpb_source_ipv6_check", "ip_address");
    }
    take_default(&msg->enable, &msg->present, 1, 0);
    return 0;
}

// The best foreign master: a failure here drops the master, not the record.
zerrno foreign_master_check(const zidl_tessel_gpb_foreign_master *msg)
{
    zerrno rc = tessel_gpb_address_check(&msg->address);
    if (rc == 0) {
        rc = tessel_gpb_address_check(&msg->second_address);
    }
    if (rc == 0) {
        rc = tessel_gpb_clock_check(&msg->clock);
    }
    return rc;
}

zerrno config_check(zidl_tessel_gpb_config *msg)
{
    uint32_t *p = &msg->present;
    take_default(&msg->encapsulation, p, 1, 2);
    take_default(&msg->log_announce_interval, p, 2, 1);
    take_default(&msg->announce_timeout, p, 3, 3);
    take_default(&msg->log_sync_interval, p, 4, 0);
    take_default(&msg->log_min_delay_req_interval, p, 5, 0);
    take_default(&msg->transport, p, 6, 0);
    zerrno rc = tessel_gpb_clock_operation_check(&msg->clock_operation);
    if (rc != 0) {
        return rc;
    }
    take_default(&msg->port_state_config, p, 8, 0);
    if ((rc = tessel_gpb_source_ip_check(&msg->source_ip)) != 0 ||
        (rc = tessel_gpb_source_ipv6_check(&msg->source_ipv6)) != 0) {
        return rc;
    }
    take_default(&msg->sync_receive_timeout, p, 11, 5000);
    take_default(&msg->delay_resp_receive_timeout, p, 12, 5000);
    take_default(&msg->deny_invalid_grants, p, 13, 0);
    take_default(&msg->announce_grant_duration, p, 14, 300);
    take_default(&msg->sync_grant_duration, p, 15, 300);
    take_default(&msg->delay_resp_grant_duration, p, 16, 300);
    take_default(&msg->local_priority, p, 17, 128);
    if ((rc = tessel_gpb_address_check(&msg->multicast_address)) != 0) {
        return rc;
    }
    take_default(&msg->cos, p, 19, 6);
    take_default(&msg->general_cos, p, 20, 6);
    take_default(&msg->event_cos, p, 21, 6);
    take_default(&msg->dscp, p, 22, 46);
    take_default(&msg->general_dscp, p, 23, 46);
    take_default(&msg->event_dscp, p, 24, 46);
    take_default(&msg->ipv4_ttl, p, 25, 255);
    take_default(&msg->ipv6_hop_limit, p, 26, 255);
    return 0;
}

// The address lists' length, from counts that may be anything.
uint64_t addr_list_len(uint32_t num_ipv4, uint32_t num_ipv6)
{
    return uint64_t{PTP_IPV4_ADDR_LEN} * num_ipv4 + uint64_t{PTP_IPV6_ADDR_LEN} * num_ipv6;
}

zerrno tessel_gpb_if_check(zidl_tessel_gpb_if *msg)
{
    constexpr const char *check = "tessel_gpb_if_check";
    uint32_t *p = &msg->present;
    if (msg->ifname.len != IFNAME_LEN) {
        return wrong_size(check, "ifname");
    }
    static constexpr struct {
        unsigned field;
        const char *name;
    } required[] = {{2, "ifhandle"}, {3, "iftype"}, {4, "port_num"}, {5, "port_state"}, {6, "im_state"}};
    for (const auto &r : required) {
        if (!has(*p, r.field)) {
            return missing(check, r.name);
        }
    }
    if (!has(*p, 7) || !has(*p, 8) || !has(*p, 9)) {
        msg->ether_info_known = 0;
        *p |= zidl_tessel_gpb_bit(7);
    }
    // Known ether information is copied into its fixed buffer: it must be that buffer, and its
    // length must lie within it.
    if (msg->ether_info_known != 0 &&
        (msg->ether_info.len != TESSEL_CHKPT_ETHER_INFO_MAX || msg->ether_info_len > TESSEL_CHKPT_ETHER_INFO_MAX)) {
        return wrong_size(check, "ether_info");
    }
    if (msg->ip_address.len != PTP_IPV4_ADDR_LEN) {
        return wrong_size(check, "ip_address");
    }
    if (msg->ipv6_address.len != PTP_IPV6_ADDR_LEN) {
        return wrong_size(check, "ipv6_address");
    }
    take_default(&msg->vrf_known, p, 12, 0);
    take_default(&msg->vrf, p, 13, 0);
    take_default(&msg->foreign_master_present, p, 14, 0);
    if (msg->foreign_master_present != 0 && foreign_master_check(&msg->foreign_master) != 0) {
        msg->foreign_master_present = 0;
    }
    zerrno rc = config_check(&msg->config);
    if (rc != 0) {
        return rc;
    }
    take_default(&msg->num_ipv4_addr, p, 17, 0);
    take_default(&msg->num_ipv6_addr, p, 18, 0);
    if (msg->addr_list.len != addr_list_len(msg->num_ipv4_addr, msg->num_ipv6_addr)) {
        return wrong_size(check, "addr_list");
    }
    return 0;
}

zerrno tessel_gpb_local_clock_check(zidl_tessel_gpb_local_clock *msg)
{
    if (!has(msg->present, 1)) {
        return missing("tessel_gpb_local_clock_check", "clock_id");
    }
    take_default(&msg->domain, &msg->present, 2, 0);
    return 0;
}

zerrno tessel_gpb_gl_check(zidl_tessel_gpb_gl *msg)
{
    constexpr const char *check = "tessel_gpb_gl_check";
    uint32_t *p = &msg->present;
    take_default(&msg->local_clock_present, p, 1, 0);
    if (!has(*p, 2)) {
        msg->local_clock_present = 0;
    }
    take_default(&msg->bmc_present, p, 3, 0);
    if (!has(*p, 4)) {
        msg->bmc_present = 0;
    }
    if (!has(*p, 5)) {
        return missing(check, "advertised");
    }
    take_default(&msg->synced, p, 6, 0);
    if (!has(*p, 7)) {
        return missing(check, "supports_slave");
    }
    take_default(&msg->reserved_1, p, 8, 0);
    take_default(&msg->reserved_2, p, 9, 0);
    if (!has(*p, 10)) {
        return missing(check, "selected");
    }
    take_default(&msg->profile, p, 11, 0);
    take_default(&msg->profile_version, p, 12, 1);
    take_default(&msg->min_clock_class_present, p, 13, 0);
    take_default(&msg->min_clock_class, p, 14, 0);
    zerrno rc = 0;
    if (has(*p, 2)) {
        rc = tessel_gpb_local_clock_check(&msg->local_clock);
    }
    if (rc == 0 && has(*p, 4)) {
        rc = tessel_gpb_clock_check(&msg->bmc);
    }
    if (rc == 0) {
        rc = tessel_gpb_clock_check(&msg->advertised);
    }
    return rc;
}

zerrno tessel_gpb_unicast_grant_check(zidl_tessel_gpb_unicast_grant *msg)
{
    constexpr const char *check = "tessel_gpb_unicast_grant_check";
    uint32_t *p = &msg->present;
    if (msg->ifname.len != IFNAME_LEN) {
        return wrong_size(check, "ifname");
    }
    if (!has(*p, 2)) {
        return missing(check, "ifhandle");
    }
    zerrno rc = tessel_gpb_address_check(&msg->peer_addr);
    if (rc == 0) {
        rc = tessel_gpb_address_check(&msg->second_address);
    }
    if (rc == 0) {
        rc = tessel_gpb_port_id_check(&msg->peer_port_id);
    }
    if (rc != 0) {
        return rc;
    }
    static constexpr struct {
        unsigned field;
        const char *name;
    } granted[] = {{6, "is_announce_granted"}, {7, "is_sync_granted"}, {8, "is_delay_resp_granted"}};
    for (const auto &r : granted) {
        if (!has(*p, r.field)) {
            return missing(check, r.name);
        }
    }
    take_default(&msg->log_announce_interval, p, 16, 1);
    take_default(&msg->req_log_announce_interval, p, 19, 1);
    take_default(&msg->log_sync_interval, p, 17, 0);
    take_default(&msg->log_delay_resp_interval, p, 18, 0);
    take_default(&msg->req_log_sync_interval, p, 20, 0);
    take_default(&msg->req_log_delay_resp_interval, p, 21, 0);
    take_default(&msg->announce_grant_duration, p, 9, 300);
    take_default(&msg->sync_grant_duration, p, 10, 300);
    take_default(&msg->delay_resp_grant_duration, p, 11, 300);
    static constexpr struct {
        unsigned field;
        const char *name;
    } expiry[] = {{12, "announce_expiry_time"}, {13, "sync_expiry_time"}, {14, "delay_resp_expiry_time"}};
    for (const auto &r : expiry) {
        if (!has(*p, r.field)) {
            return missing(check, r.name);
        }
    }
    take_default(&msg->is_nonnegotiated, p, 15, 0);
    return 0;
}

zerrno tessel_gpb_peer_index_check(zidl_tessel_gpb_peer_index *msg)
{
    constexpr const char *check = "tessel_gpb_peer_index_check";
    if (msg->ifname.len != IFNAME_LEN) {
        return wrong_size(check, "ifname");
    }
    const zerrno rc = tessel_gpb_address_check(&msg->address);
    if (rc != 0) {
        return rc;
    }
    return has(msg->present, 3) ? 0 : missing(check, "peer_index");
}

// ---- Copying back ----

// A stored name is taken whole, and always ends in a NUL whatever was stored.
void name_copy(char (&dst)[TESSEL_CHKPT_IFNAME_SIZE], const zidl_tessel_gpb_bytes &src)
{
    std::memcpy(dst, src.data, sizeof dst);
    dst[sizeof dst - 1] = '\0';
}

void port_id_copy(const zidl_tessel_gpb_port_id *in, ptp_port_id_type *out)
{
    out->clock_id = in->clock_id;
    out->port_num = static_cast<uint16_t>(in->port_num);
}

void foreign_master_copy(const zidl_tessel_gpb_foreign_master *in, tessel_chkpt_foreign_master_type *out)
{
    tessel_gpb_address_unserialize(&in->address, &out->peer_addr);
    tessel_gpb_address_unserialize(&in->second_address, &out->sent_to_addr);
    tessel_gpb_clock_unserialize(&in->clock, &out->master_clock);
    out->transport = in->master_word_1;
    out->configured_priority = static_cast<uint8_t>(in->configured_priority);
    out->delay_asymmetry = static_cast<ptp_delay_asymmetry_type>(in->master_word_3);
    out->is_priority_configured = in->priority_configured;
    out->configured_clock_class = static_cast<uint8_t>(in->configured_clock_class);
    out->is_clock_class_configured = in->clock_class_configured;
    out->is_nonnegotiated = in->master_state_flag;
    out->is_in_master_table = in->in_master_table;
}

void config_copy(const zidl_tessel_gpb_config *in, tessel_chkpt_config_type *out)
{
    out->encap = in->encapsulation;
    out->announce_interval = static_cast<int32_t>(in->log_announce_interval);
    out->announce_timeout = in->announce_timeout;
    out->sync_interval = static_cast<int32_t>(in->log_sync_interval);
    out->delay_req_interval = static_cast<int32_t>(in->log_min_delay_req_interval);
    out->transport = in->transport;
    out->one_step = in->clock_operation.one_step;
    out->port_state = in->port_state_config;
    out->source_ip.enable = in->source_ip.enable;
    std::memcpy(out->source_ip.ip_address, in->source_ip.ip_address.data, PTP_IPV4_ADDR_LEN);
    out->source_ipv6.enable = in->source_ipv6.enable;
    std::memcpy(out->source_ipv6.ip_address, in->source_ipv6.ip_address.data, PTP_IPV6_ADDR_LEN);
    out->sync_timeout = in->sync_receive_timeout;
    out->delay_resp_timeout = in->delay_resp_receive_timeout;
    out->deny_invalid_grants = in->deny_invalid_grants;
    out->announce_grant_duration = in->announce_grant_duration;
    out->sync_grant_duration = in->sync_grant_duration;
    out->delay_resp_grant_duration = in->delay_resp_grant_duration;
    out->local_priority = static_cast<uint8_t>(in->local_priority);
    tessel_gpb_address_unserialize(&in->multicast_address, &out->multicast_address);
    out->cos = in->cos;
    out->general_cos = in->general_cos;
    out->event_cos = in->event_cos;
    out->dscp = in->dscp;
    out->general_dscp = in->general_dscp;
    out->event_dscp = in->event_dscp;
    out->ipv4_ttl = in->ipv4_ttl;
    out->ipv6_hop_limit = in->ipv6_hop_limit;
}

void if_copy(const zidl_tessel_gpb_if *in, uint32_t secondary, tessel_chkpt_if_type *out)
{
    name_copy(out->ifname, in->ifname);
    out->ifhandle = in->ifhandle;
    out->iftype = static_cast<uint16_t>(in->iftype);
    out->port_num = static_cast<uint16_t>(in->port_num);
    out->port_state = in->port_state;
    out->im_state = in->im_state;
    // A standby does not take the primary's ether information.
    if (secondary == 0 && in->ether_info_known != 0) {
        out->ether_info_known = 1;
        std::memcpy(out->ether_info, in->ether_info.data, TESSEL_CHKPT_ETHER_INFO_MAX);
        out->ether_info_len = in->ether_info_len;
    }
    std::memcpy(out->ip_address, in->ip_address.data, PTP_IPV4_ADDR_LEN);
    std::memcpy(out->ipv6_address, in->ipv6_address.data, PTP_IPV6_ADDR_LEN);
    out->vrf_known = in->vrf_known;
    out->ipv4_vrf = in->vrf;
    out->foreign_master_present = in->foreign_master_present;
    if (in->foreign_master_present != 0) {
        foreign_master_copy(&in->foreign_master, &out->foreign_master);
    }
    config_copy(&in->config, &out->config);
    out->num_ipv4_addr = in->num_ipv4_addr;
    out->num_ipv6_addr = in->num_ipv6_addr;
    if (in->addr_list.len != 0) {
        std::memcpy(tessel_chkpt_if_addr_list(out), in->addr_list.data, in->addr_list.len);
    }
}

void gl_copy(const zidl_tessel_gpb_gl *in, tessel_chkpt_gl_type *out)
{
    std::memset(out, 0, sizeof *out);
    out->local_clock_present = in->local_clock_present;
    out->local_clock_id = in->local_clock.clock_id;
    out->local_clock_domain = in->local_clock.domain;
    out->bmc_present = in->bmc_present;
    tessel_gpb_clock_unserialize(&in->bmc, &out->bmc);
    tessel_gpb_clock_unserialize(&in->advertised, &out->advertised);
    out->synced = in->synced;
    out->slave_supported = in->supports_slave;
    out->reserved[0] = in->reserved_1;
    out->reserved[1] = in->reserved_2;
    out->selected = in->selected;
    out->profile = in->profile;
    out->profile_version = in->profile_version;
    out->min_clock_class_present = in->min_clock_class_present;
    out->min_clock_class = static_cast<uint8_t>(in->min_clock_class);
}

void unicast_grant_copy(const zidl_tessel_gpb_unicast_grant *in, tessel_chkpt_unicast_grant_type *out)
{
    std::memset(out, 0, sizeof *out);
    name_copy(out->ifname, in->ifname);
    out->ifhandle = in->ifhandle;
    tessel_gpb_address_unserialize(&in->peer_addr, &out->peer_addr);
    tessel_gpb_address_unserialize(&in->second_address, &out->local_addr);
    port_id_copy(&in->peer_port_id, &out->peer_port_id);
    out->grant_flags = static_cast<uint8_t>((in->is_announce_granted != 0 ? TESSEL_CHKPT_GRANT_ANNOUNCE : 0) |
                                            (in->is_sync_granted != 0 ? TESSEL_CHKPT_GRANT_SYNC : 0) |
                                            (in->is_delay_resp_granted != 0 ? TESSEL_CHKPT_GRANT_DELAY_RESP : 0));
    // Log intervals keep the low 8 bits of their widened value.
    out->log_interval[0] = static_cast<int8_t>(in->log_announce_interval);
    out->log_interval[1] = static_cast<int8_t>(in->log_sync_interval);
    out->log_interval[2] = static_cast<int8_t>(in->log_delay_resp_interval);
    out->app_log_interval[0] = static_cast<int8_t>(in->req_log_announce_interval);
    out->app_log_interval[1] = static_cast<int8_t>(in->req_log_sync_interval);
    out->app_log_interval[2] = static_cast<int8_t>(in->req_log_delay_resp_interval);
    out->duration[0] = in->announce_grant_duration;
    out->duration[1] = in->sync_grant_duration;
    out->duration[2] = in->delay_resp_grant_duration;
    out->expiry[0] = in->announce_expiry_time;
    out->expiry[1] = in->sync_expiry_time;
    out->expiry[2] = in->delay_resp_expiry_time;
    out->nonnegotiated_flags = in->is_nonnegotiated != 0 ? 1 : 0;
}

void peer_index_copy(const zidl_tessel_gpb_peer_index *in, tessel_chkpt_peer_index_type *out)
{
    std::memset(out, 0, sizeof *out);
    name_copy(out->ifname, in->ifname);
    tessel_gpb_address_unserialize(&in->address, &out->peer_addr);
    out->peer_index = static_cast<uint16_t>(in->peer_index);
}

} // namespace

// ---- Encoding ----

void tessel_gpb_if_encode(tessel_chkpt_if_type *rec, uint8_t *buffer, size_t *len)
{
    zidl_tessel_gpb_if msg{};
    borrow(&msg.ifname, rec->ifname, sizeof rec->ifname);
    msg.ifhandle = rec->ifhandle;
    msg.iftype = rec->iftype;
    msg.port_num = rec->port_num;
    msg.port_state = rec->port_state;
    msg.im_state = rec->im_state;
    msg.ether_info_known = rec->ether_info_known != 0 ? 1 : 0;
    borrow(&msg.ether_info, rec->ether_info, sizeof rec->ether_info);
    msg.ether_info_len = rec->ether_info_len;
    borrow(&msg.ip_address, rec->ip_address, sizeof rec->ip_address);
    borrow(&msg.ipv6_address, rec->ipv6_address, sizeof rec->ipv6_address);
    msg.vrf_known = rec->vrf_known != 0 ? 1 : 0;
    msg.vrf = rec->ipv4_vrf;
    msg.foreign_master_present = rec->foreign_master_present != 0 ? 1 : 0;
    foreign_master_fill(&msg.foreign_master, &rec->foreign_master);
    config_fill(&msg.config, &rec->config);
    msg.num_ipv4_addr = rec->num_ipv4_addr;
    msg.num_ipv6_addr = rec->num_ipv6_addr;
    borrow(&msg.addr_list, tessel_chkpt_if_addr_list(rec), addr_list_len(rec->num_ipv4_addr, rec->num_ipv6_addr));
    msg.present = ALL_PRESENT;
    pack_record(&msg, zidl_tessel_gpb_if_pack, buffer, len);
}

void tessel_gpb_gl_encode(tessel_chkpt_gl_type *rec, uint8_t *buffer, size_t *len)
{
    zidl_tessel_gpb_gl msg{};
    msg.local_clock_present = rec->local_clock_present != 0 ? 1 : 0;
    msg.local_clock.clock_id = rec->local_clock_id;
    msg.local_clock.domain = rec->local_clock_domain;
    msg.local_clock.present = ALL_PRESENT;
    msg.bmc_present = rec->bmc_present != 0 ? 1 : 0;
    clock_fill(&msg.bmc, &rec->bmc);
    clock_fill(&msg.advertised, &rec->advertised);
    msg.synced = rec->synced != 0 ? 1 : 0;
    msg.supports_slave = rec->slave_supported != 0 ? 1 : 0;
    msg.reserved_1 = rec->reserved[0];
    msg.reserved_2 = rec->reserved[1];
    msg.selected = rec->selected != 0 ? 1 : 0;
    msg.profile = rec->profile;
    msg.profile_version = rec->profile_version;
    msg.min_clock_class_present = rec->min_clock_class_present != 0 ? 1 : 0;
    msg.min_clock_class = rec->min_clock_class;
    msg.present = ALL_PRESENT;
    pack_record(&msg, zidl_tessel_gpb_gl_pack, buffer, len);
}

void tessel_gpb_unicast_grant_encode(tessel_chkpt_unicast_grant_type *rec, uint8_t *buffer, size_t *len)
{
    zidl_tessel_gpb_unicast_grant msg{};
    borrow(&msg.ifname, rec->ifname, sizeof rec->ifname);
    msg.ifhandle = rec->ifhandle;
    address_fill(&msg.peer_addr, &rec->peer_addr);
    address_fill(&msg.second_address, &rec->local_addr);
    port_id_fill(&msg.peer_port_id, &rec->peer_port_id);
    msg.is_announce_granted = (rec->grant_flags & TESSEL_CHKPT_GRANT_ANNOUNCE) != 0 ? 1 : 0;
    msg.is_sync_granted = (rec->grant_flags & TESSEL_CHKPT_GRANT_SYNC) != 0 ? 1 : 0;
    msg.is_delay_resp_granted = (rec->grant_flags & TESSEL_CHKPT_GRANT_DELAY_RESP) != 0 ? 1 : 0;
    msg.announce_grant_duration = rec->duration[0];
    msg.sync_grant_duration = rec->duration[1];
    msg.delay_resp_grant_duration = rec->duration[2];
    // The stored expiry times are their low 32 bits.
    msg.announce_expiry_time = static_cast<uint32_t>(rec->expiry[0]);
    msg.sync_expiry_time = static_cast<uint32_t>(rec->expiry[1]);
    msg.delay_resp_expiry_time = static_cast<uint32_t>(rec->expiry[2]);
    msg.is_nonnegotiated = (rec->nonnegotiated_flags & 1) != 0 ? 1 : 0;
    msg.log_announce_interval = static_cast<uint32_t>(int32_t{rec->log_interval[0]});
    msg.log_sync_interval = static_cast<uint32_t>(int32_t{rec->log_interval[1]});
    msg.log_delay_resp_interval = static_cast<uint32_t>(int32_t{rec->log_interval[2]});
    msg.req_log_announce_interval = static_cast<uint32_t>(int32_t{rec->app_log_interval[0]});
    msg.req_log_sync_interval = static_cast<uint32_t>(int32_t{rec->app_log_interval[1]});
    msg.req_log_delay_resp_interval = static_cast<uint32_t>(int32_t{rec->app_log_interval[2]});
    msg.present = ALL_PRESENT;
    pack_record(&msg, zidl_tessel_gpb_unicast_grant_pack, buffer, len);
}

void tessel_gpb_peer_index_encode(tessel_chkpt_peer_index_type *rec, uint8_t *buffer, size_t *len)
{
    zidl_tessel_gpb_peer_index msg{};
    borrow(&msg.ifname, rec->ifname, sizeof rec->ifname);
    address_fill(&msg.address, &rec->peer_addr);
    msg.peer_index = rec->peer_index;
    msg.present = ALL_PRESENT;
    pack_record(&msg, zidl_tessel_gpb_peer_index_pack, buffer, len);
}

// ---- Decoding ----

void *ptp_gpb_calloc(size_t size, void *)
{
    // An empty byte string still gets a block of its own, so that it reads as received.
    return tessel_calloc(1, std::max<size_t>(size, 1));
}

void tessel_gpb_address_unserialize(const zidl_tessel_gpb_address *in, ptp_address_type *out)
{
    std::memset(out, 0, sizeof *out);
    out->encap = in->address_type;
    if (in->address.data != nullptr) {
        std::memcpy(out->value, in->address.data, std::min<uint64_t>(in->address.len, sizeof out->value));
    }
}

void tessel_gpb_clock_unserialize(const zidl_tessel_gpb_clock *in, ptp_clock_type *out)
{
    std::memset(out, 0, sizeof *out);
    out->clock_id = in->clock_id;
    out->priority1 = static_cast<uint8_t>(in->priority1);
    out->clock_class = static_cast<uint8_t>(in->clock_class);
    out->accuracy = static_cast<uint8_t>(in->accuracy);
    out->offset_log_variance = static_cast<uint16_t>(in->offset_log_variance);
    out->priority2 = static_cast<uint8_t>(in->priority2);
    out->steps_removed = static_cast<uint16_t>(in->steps_removed);
    out->time_source = static_cast<uint8_t>(in->time_source);
    out->utc_offset = static_cast<int16_t>(in->utc_offset.current_offset);
    out->utc_offset_valid = in->utc_offset.offset_valid;
    out->frequency_traceable = in->traceable.frequency_traceable;
    out->time_traceable = in->traceable.time_traceable;
    out->timescale = static_cast<uint8_t>(in->timescale);
    out->leap_seconds = static_cast<uint8_t>(in->leap_seconds);
    port_id_copy(&in->sender, &out->sender);
    port_id_copy(&in->receiver, &out->receiver);
    out->local = in->local;
    out->configured_clock_class = static_cast<uint8_t>(in->configured_clock_class);
    out->configured_priority = static_cast<uint8_t>(in->configured_priority);
}

zerrno tessel_gpb_if_unserialize(const uint8_t *bytes, size_t length, uint32_t secondary, tessel_chkpt_if_type **out)
{
    *out = nullptr;
    zidl_tessel_gpb_if msg;
    const int rv = zidl_tessel_gpb_if_unpack(&msg, bytes, length, ptp_gpb_calloc, nullptr);
    zerrno rc = rv != 0 ? undecodable("tessel_gpb_if_decode", rv) : tessel_gpb_if_check(&msg);
    if (rc == 0) {
        const size_t size = tessel_chkpt_if_size(msg.num_ipv4_addr, msg.num_ipv6_addr);
        auto *rec = static_cast<tessel_chkpt_if_type *>(tessel_calloc(1, size));
        if (rec == nullptr) {
            ptp_alloc_failure_report(size, "Decoded Interface Checkpoint Structure");
            rc = ENOMEM;
        } else {
            if_copy(&msg, secondary, rec);
            *out = rec;
        }
    }
    zidl_tessel_gpb_if_free(&msg, gpb_free, nullptr, 0);
    if (rc != 0) {
        ptp_trace<PTP_TRACE_TESSEL_GPB_IF_DECODE_FAILED>({tessel_pm_det()}, rc);
    }
    return rc;
}

zerrno tessel_gpb_gl_unserialize(const uint8_t *bytes, size_t length, tessel_chkpt_gl_type *out)
{
    zidl_tessel_gpb_gl msg;
    const int rv = zidl_tessel_gpb_gl_unpack(&msg, bytes, length, ptp_gpb_calloc, nullptr);
    const zerrno rc = rv != 0 ? undecodable("tessel_gpb_gl_decode", rv) : tessel_gpb_gl_check(&msg);
    if (rc == 0) {
        gl_copy(&msg, out);
    }
    zidl_tessel_gpb_gl_free(&msg, gpb_free, nullptr, 0);
    if (rc != 0) {
        ptp_trace<PTP_TRACE_TESSEL_GPB_GL_DECODE_FAILED>({tessel_pm_det()}, rc);
    }
    return rc;
}

zerrno tessel_gpb_unicast_grant_unserialize(const uint8_t *bytes, size_t length, tessel_chkpt_unicast_grant_type *out)
{
    zidl_tessel_gpb_unicast_grant msg;
    const int rv = zidl_tessel_gpb_unicast_grant_unpack(&msg, bytes, length, ptp_gpb_calloc, nullptr);
    const zerrno rc =
        rv != 0 ? undecodable("tessel_gpb_unicast_grant_decode", rv) : tessel_gpb_unicast_grant_check(&msg);
    if (rc == 0) {
        unicast_grant_copy(&msg, out);
    }
    zidl_tessel_gpb_unicast_grant_free(&msg, gpb_free, nullptr, 0);
    if (rc != 0) {
        ptp_trace<PTP_TRACE_TESSEL_GPB_UNICAST_GRANT_DECODE_FAILED>({tessel_pm_det()}, rc);
    }
    return rc;
}

zerrno tessel_gpb_peer_index_unserialize(const uint8_t *bytes, size_t length, tessel_chkpt_peer_index_type *out)
{
    zidl_tessel_gpb_peer_index msg;
    const int rv = zidl_tessel_gpb_peer_index_unpack(&msg, bytes, length, ptp_gpb_calloc, nullptr);
    const zerrno rc = rv != 0 ? undecodable("tessel_gpb_peer_index_decode", rv) : tessel_gpb_peer_index_check(&msg);
    if (rc == 0) {
        peer_index_copy(&msg, out);
    }
    zidl_tessel_gpb_peer_index_free(&msg, gpb_free, nullptr, 0);
    if (rc != 0) {
        ptp_trace<PTP_TRACE_TESSEL_GPB_PEER_INDEX_DECODE_FAILED>({tessel_pm_det()}, rc);
    }
    return rc;
}
