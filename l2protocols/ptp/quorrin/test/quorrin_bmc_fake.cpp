// Recording fake of best-master selection (its checkpoint half is quorrin_bmc_chkpt_fake.cpp).
#include "quorrin_fakes.h"

namespace {

quorrin_fake_bmc_type bmc;
bool network_options_changed = false;
const bool registered = quorrin_fake_on_reset([] {
    bmc = quorrin_fake_bmc_type{};
    network_options_changed = false;
});

} // namespace

quorrin_fake_bmc_type &quorrin_fake_bmc()
{
    (void)registered;
    return bmc;
}

zerrno quorrin_bmc_init(event_mgr_type *)
{
    quorrin_fake_record("quorrin_bmc_init");
    return quorrin_fake_result("quorrin_bmc_init");
}

void quorrin_bmc_shutdown(void)
{
    quorrin_fake_record("quorrin_bmc_shutdown");
}

void quorrin_bmc_clock_update(const ptp_clock_type *clock, uint32_t node_id, uint32_t ifhandle,
                              int32_t log_sync_interval, int32_t log_delay_req_interval, int32_t delay_asymmetry,
                              const ptp_address_type *address)
{
    quorrin_fake_record("quorrin_bmc_clock_update");
    quorrin_fake_bmc_type::report_type report{};
    report.present = clock != nullptr;
    if (clock != nullptr) {
        report.clock = *clock;
    }
    report.node_id = node_id;
    report.ifhandle = ifhandle;
    report.log_sync_interval = log_sync_interval;
    report.log_delay_req_interval = log_delay_req_interval;
    report.delay_asymmetry = delay_asymmetry;
    report.address = *address;
    bmc.reports.push_back(report);
}

void quorrin_bmc_resync_request(uint32_t node_id)
{
    quorrin_fake_record("quorrin_bmc_resync_request " + std::to_string(node_id));
}

const ptp_clock_type *quorrin_bmc_get_gm(quorrin_bmc_gm_type *gm)
{
    if (gm != nullptr) {
        *gm = bmc.gm;
    }
    return bmc.has_gm ? &bmc.gm_clock : nullptr;
}

const ptp_clock_type *quorrin_bmc_get_gm_oper(quorrin_bmc_gm_type *gm)
{
    return quorrin_bmc_get_gm(gm);
}

void quorrin_bmc_get_advertised_clock(ptp_clock_type *clock, quorrin_bmc_advertised_extra_type *extra)
{
    *clock = bmc.advertised;
    if (extra != nullptr) {
        *extra = bmc.advertised_extra;
    }
}

void quorrin_bmc_get_local_clock(ptp_clock_type *clock, quorrin_bmc_local_ids_type *ids)
{
    *clock = bmc.local_clock;
    if (ids != nullptr) {
        *ids = {};
    }
}

bool quorrin_bmc_get_local_clock_gm(void)
{
    return bmc.local_clock_gm;
}

bool quorrin_bmc_get_seen_prtc(void)
{
    return bmc.oper.seen_prtc;
}

void quorrin_bmc_get_virtual_port(quorrin_bmc_vp_state_type *vp)
{
    *vp = bmc.vp;
}

bool quorrin_bmc_get_selection_local_clock(ptp_clock_type *clock)
{
    if (bmc.has_selection) {
        *clock = bmc.selection_clock;
    }
    return bmc.has_selection;
}

void quorrin_bmc_get_oper_state(quorrin_bmc_oper_state_type *state)
{
    *state = bmc.oper;
}

void quorrin_bmc_for_each_ranked(void (*fn)(const quorrin_bmc_clock_type *record, void *ctx), void *ctx)
{
    std::vector<quorrin_bmc_clock_type> &list = bmc.ranked;
    for (size_t i = 0; i < list.size(); i++) {
        list[i].prev = i > 0 ? &list[i - 1] : nullptr;
        list[i].next = i + 1 < list.size() ? &list[i + 1] : nullptr;
    }
    for (const quorrin_bmc_clock_type &record : list) {
        fn(&record, ctx);
    }
}

void quorrin_bmc_get_servo_options(uint32_t *servo_mode, uint32_t *network_type)
{
    *servo_mode = bmc.servo_mode;
    *network_type = bmc.network_type;
}

void quorrin_bmc_platform_clock_update(uint32_t active, uint32_t using_ptp_for_frequency, uint32_t using_ptp_for_time,
                                       const ptp_platform_clock_props_type *local_props,
                                       const ptp_platform_clock_props_type *selection_props, uint32_t vp_connected,
                                       uint32_t utc_info_valid, uint32_t from_init)
{
    quorrin_fake_record("quorrin_bmc_platform_clock_update");
    quorrin_fake_bmc_type::platform_update_type update{};
    update.active = active;
    update.using_frequency = using_ptp_for_frequency;
    update.using_time = using_ptp_for_time;
    update.local = *local_props;
    update.has_selection = selection_props != nullptr;
    if (selection_props != nullptr) {
        update.selection = *selection_props;
    }
    update.vp_connected = vp_connected;
    update.utc_info_valid = utc_info_valid;
    update.from_init = from_init;
    bmc.platform_updates.push_back(update);
}

bool quorrin_bmc_is_node_active(void)
{
    return bmc.node_active;
}

void quorrin_bmc_servo_started(void)
{
    quorrin_fake_record("quorrin_bmc_servo_started");
}

void quorrin_bmc_gm_synced(void)
{
    quorrin_fake_record("quorrin_bmc_gm_synced");
}

void quorrin_bmc_gm_sync_lost(void)
{
    quorrin_fake_record("quorrin_bmc_gm_sync_lost");
}

const char *quorrin_bmc_ql_value_to_str(uint8_t value)
{
    return value == 22 ? "Opt-I/PRC" : "QL";
}

bool &quorrin_fake_bmc_network_options_changed()
{
    return network_options_changed;
}

void quorrin_bmc_apts_update(void)
{
    quorrin_fake_record("quorrin_bmc_apts_update");
}

void quorrin_bmc_clock_id_update(void)
{
    quorrin_fake_record("quorrin_bmc_clock_id_update");
}
void quorrin_bmc_domain_update(void)
{
    quorrin_fake_record("quorrin_bmc_domain_update");
}
void quorrin_bmc_priority_update(void)
{
    quorrin_fake_record("quorrin_bmc_priority_update");
}
void quorrin_bmc_clock_class_update(void)
{
    quorrin_fake_record("quorrin_bmc_clock_class_update");
}
void quorrin_bmc_timescale_update(void)
{
    quorrin_fake_record("quorrin_bmc_timescale_update");
}
void quorrin_bmc_time_source_update(void)
{
    quorrin_fake_record("quorrin_bmc_time_source_update");
}
void quorrin_bmc_time_traceable_update(void)
{
    quorrin_fake_record("quorrin_bmc_time_traceable_update");
}
void quorrin_bmc_profile_update(void)
{
    quorrin_fake_record("quorrin_bmc_profile_update");
}
void quorrin_bmc_ql_option_update(void)
{
    quorrin_fake_record("quorrin_bmc_ql_option_update");
}
bool quorrin_bmc_network_options_update(void)
{
    quorrin_fake_record("quorrin_bmc_network_options_update");
    return network_options_changed;
}
void quorrin_bmc_virtual_port_configured(bool configured)
{
    quorrin_fake_record(std::string("quorrin_bmc_virtual_port_configured ") + (configured ? "1" : "0"));
}
void quorrin_bmc_virtual_port_update(quorrin_bmc_vp_field_type field, bool deleted, uint32_t value)
{
    quorrin_fake_record("quorrin_bmc_virtual_port_update " + std::to_string(static_cast<uint32_t>(field)) + " " +
                        (deleted ? "deleted" : "set") + " " + std::to_string(value));
}
void quorrin_bmc_leap_second_update(uint8_t leap_seconds, const quorrin_platform_offset_info_type *info)
{
    quorrin_fake_record("quorrin_bmc_leap_second_update " + std::to_string(leap_seconds) + " " +
                        std::to_string(info->utc_offset) + " " + std::to_string(info->offset_valid));
}
