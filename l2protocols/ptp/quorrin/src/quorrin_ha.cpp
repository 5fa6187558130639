// The controller's in-service-upgrade role: which instance may write the checkpoint and drive the
// platform, the milestone the secondary reports once its checkpoint is restored, and what a
// takeover or a retirement changes.
#include "quorrin_ha.h"

#include "issul.h"
#include "ptp_syslog.h"
#include "ptp_zerr_codes.h"
#include "quorrin_bmc.h"
#include "quorrin_debug.h"
#include "quorrin_leap_seconds.h"
#include "quorrin_platform.h"
#include "quorrin_port_num.h"

namespace {

constexpr uint32_t AREA = quorrin_debug_area("ha");
constexpr const char *CLIENT_NAME = "Quorrin";
constexpr const char *DEBUG_SCRIPT = "ptp_issu_debug_script";

struct ha_state_type {
    uint32_t role = ISSUL_ROLE_NONE;
    issul_handle_type *handle = nullptr;
    event_mgr_type *evm = nullptr;
    bool milestone_2_met = false;
};

ha_state_type state;

zerrno init_failed(const char *text, zerrno rc)
{
    ptp_syslog_init_failed(text, zerr_strerror(rc));
    return rc;
}

const char *role_str(uint32_t role)
{
    return issul_issu_role_to_string(role);
}

void milestone_failed(uint32_t milestone, const char *action, zerrno rc)
{
    const char *name = issul_milestone_to_string(milestone);
    QUORRIN_DEBUG_ERR(AREA, "%s: Failed to mark milestone '%s' as %s: %s", name, action, zerr_strerror(rc));
    ptp_syslog_milestone_comm_failed(name, action, zerr_strerror(rc));
}

} // namespace

zerrno quorrin_ha_init(event_mgr_type *evm)
{
    state = ha_state_type{};
    state.evm = evm;
    zerrno rc = issul_init(evm, CLIENT_NAME, &state.handle);
    if (rc != 0) {
        state.handle = nullptr;
        return init_failed("Failed to register with ZURO Vuri: ", rc);
    }
    rc = issul_register_role(state.handle, quorrin_ha_role_change_cb, nullptr);
    if (rc != 0) {
        return init_failed("Failed to register with ZURO Vuri for role change notifications: ", rc);
    }
    state.role = issul_get_issu_role(state.handle);
    if (state.role == ISSUL_ROLE_NONE) {
        return init_failed("", PTP_ZERR2_NO_ISSU_ROLE);
    }
    QUORRIN_DEBUG(AREA, "%s: Received ISSU role from ZURO Vuri: %s", role_str(state.role));
    if (state.role == ISSUL_ROLE_SECONDARY) {
        QUORRIN_DEBUG(AREA, "%s: Registering ZURO Vuri milestones");
        const issul_milestone_type milestones[] = {
            {ISSUL_MILESTONE_CHECKPOINT, issul_milestone_to_string(ISSUL_MILESTONE_CHECKPOINT)}};
        const issul_milestone_set_type set{1, milestones, DEBUG_SCRIPT};
        rc = issul_register_milestones(state.handle, &set);
        if (rc != 0) {
            return init_failed("Failed to register ZURO Vuri milestones: ", rc);
        }
        quorrin_ha_milestone_start(ISSUL_MILESTONE_CHECKPOINT);
    }
    QUORRIN_DEBUG(AREA, "%s: Module initialization complete");
    return 0;
}

void quorrin_ha_shutdown(void)
{
    issul_fini(state.handle);
    state = ha_state_type{};
    QUORRIN_DEBUG(AREA, "%s: Module shutdown complete");
}

uint32_t quorrin_ha_get_issu_role(void)
{
    return state.role;
}

bool quorrin_ha_is_milestone_met(uint32_t milestone)
{
    return milestone == ISSUL_MILESTONE_CHECKPOINT && state.milestone_2_met;
}

void quorrin_ha_milestone_start(uint32_t milestone)
{
    if (state.role != ISSUL_ROLE_SECONDARY) {
        return;
    }
    uint32_t status = ISSUL_MILESTONE_NOT_STARTED;
    zerrno rc = issul_get_milestone_status(state.handle, milestone, &status);
    if (rc == 0 && status == ISSUL_MILESTONE_NOT_STARTED) {
        rc = issul_milestone_start(state.handle, milestone);
        if (rc == 0) {
            QUORRIN_DEBUG(AREA, "%s: Started milestone '%s", issul_milestone_to_string(milestone));
        }
    }
    if (rc != 0) {
        milestone_failed(milestone, "started", rc);
    }
}

void quorrin_ha_milestone_met(uint32_t milestone)
{
    if (state.role != ISSUL_ROLE_SECONDARY) {
        return;
    }
    quorrin_ha_milestone_start(milestone);
    if (milestone == ISSUL_MILESTONE_CHECKPOINT) {
        state.milestone_2_met = true;
    }
    const char *name = issul_milestone_to_string(milestone);
    uint32_t status = ISSUL_MILESTONE_NOT_STARTED;
    zerrno rc = issul_get_milestone_status(state.handle, milestone, &status);
    if (rc == 0 && status == ISSUL_MILESTONE_MET) {
        QUORRIN_DEBUG(AREA, "%s: Milestone met called for milestone '%s'when it has already been met", name);
        return;
    }
    if (rc == 0) {
        rc = issul_milestone_met(state.handle, milestone);
    }
    if (rc != 0) {
        milestone_failed(milestone, "met", rc);
        return;
    }
    uint32_t ready = 0;
    const char *ready_text = issul_am_i_issu_ready(state.handle, &ready) != 0 ? "unknown" : (ready != 0 ? "yes" : "no");
    QUORRIN_DEBUG(AREA, "%s: Met milestone '%s', ISSU ready: %s", name, ready_text);
}

void quorrin_ha_role_change_cb(void *, uint32_t new_role)
{
    const uint32_t old_role = state.role;
    QUORRIN_DEBUG(AREA, "%s: Received NG ISSU role from ZURO Vuri - new role: %s, old role: %s", role_str(new_role),
                  role_str(old_role));
    if (new_role == ISSUL_ROLE_NONE || new_role == old_role) {
        return;
    }
    if (old_role == ISSUL_ROLE_NONE) {
        state.role = new_role;
    } else if (old_role == ISSUL_ROLE_SECONDARY && new_role == ISSUL_ROLE_PRIMARY) {
        // Takeover: this instance writes from now on and drops what the old primary left.
        state.role = ISSUL_ROLE_PRIMARY;
        quorrin_bmc_go_primary_active();
        quorrin_leap_seconds_chkpt_delete_all();
        quorrin_port_num_chkpt_delete_all();
        if (quorrin_platform_servo_init() == 0) {
            quorrin_platform_slave_update();
        }
    } else if (old_role == ISSUL_ROLE_PRIMARY && new_role == ISSUL_ROLE_RETIRING) {
        state.role = ISSUL_ROLE_RETIRING;
        quorrin_platform_stop();
    } else {
        QUORRIN_DEBUG(AREA, "%s: Did not expect ISSU role %s from ZURO Vuri (current ISSU role is %s). Ignoring",
                      role_str(new_role), role_str(old_role));
    }
}
