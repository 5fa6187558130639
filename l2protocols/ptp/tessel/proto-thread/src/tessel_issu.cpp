// The agent's client of the in-service upgrade service.
#include "tessel_issu.h"

#include "issul.h"
#include "ptp_syslog.h"
#include "tessel_fsm_types.h"
#include "tessel_pm_log.h"
#include "tessel_port_mgr.h"
#include "tessel_proto_db.h"

namespace {

struct issu_state_type {
    uint32_t role = TESSEL_ISSU_ROLE_NONE;
    issul_handle_type *handle = nullptr;
    bool met_chkpt = false;
    bool met_controller_resync = false;
    bool met_thread_resync = false;
};

issu_state_type issu;

bool *met_flag(uint32_t milestone)
{
    switch (milestone) {
    case TESSEL_ISSU_MILESTONE_CHKPT: return &issu.met_chkpt;
    case TESSEL_ISSU_MILESTONE_CONTROLLER_RESYNC: return &issu.met_controller_resync;
    case TESSEL_ISSU_MILESTONE_THREAD_RESYNC: return &issu.met_thread_resync;
    default: return nullptr;
    }
}

constexpr issul_milestone_type agent_milestones[] = {
    {TESSEL_ISSU_MILESTONE_CONTROLLER_RESYNC, "Controller Resync"},
    {TESSEL_ISSU_MILESTONE_THREAD_RESYNC, "Thread Resync"},
};

zerrno init_failed(const char *text, zerrno rc)
{
    ptp_syslog_init_failed(text, zerr_strerror(rc));
    return rc;
}

void milestone_report(uint32_t milestone, const char *action, zerrno rc)
{
    ptp_syslog_milestone_comm_failed(issul_milestone_to_string(milestone), action, zerr_strerror(rc));
}

bool readiness_walk(tessel_proto_idb_type *idb, void *)
{
    tessel_port_mgr_readiness_check(idb, 0, true);
    return true;
}

} // namespace

uint32_t tessel_issu_get_issu_role(void)
{
    return issu.role;
}

uint32_t tessel_issu_is_milestone_met(uint32_t milestone)
{
    const bool *flag = met_flag(milestone);
    return flag != nullptr && *flag ? 1 : 0;
}

zerrno tessel_issu_init(event_mgr_type *evm)
{
    zerrno rc = issul_init(evm, "Tessel", &issu.handle);
    if (rc != 0) {
        issu.handle = nullptr;
        return init_failed("Failed initalize ISSUL connection: ", rc);
    }
    // The notice is an event attached to our event manager: a failure here must fail the init,
    // or the agent would never hear of a switchover.
    rc = issul_register_role(issu.handle, tessel_issu_role_change_cb, nullptr);
    if (rc != 0) {
        return init_failed("Failed to register for ISSU role notifications: ", rc);
    }
    const uint32_t role = issul_get_issu_role(issu.handle);
    if (role == TESSEL_ISSU_ROLE_NONE) {
        return init_failed("Failed synchronously get ISSU role: ", PTP_ZERR2_NO_ISSU_ROLE);
    }
    issu.role = role;
    TESSEL_PM_DEBUG(TESSEL_AREA_ISSU, 0, "%s: Received ISSU role from ZURO Vuri: %s", issul_issu_role_to_string(role));
    ptp_trace<PTP_TRACE_UTIL_ISSU_ROLE_RECEIVED>({tessel_pm_sum()}, role);
    if (role != TESSEL_ISSU_ROLE_SECONDARY) {
        return 0;
    }

    ptp_trace<PTP_TRACE_TESSEL_ISSU_REGISTER_MILESTONES>({tessel_pm_det()});
    const issul_milestone_set_type set{2, agent_milestones, "ptp_issu_debug_script"};
    rc = issul_register_milestones(issu.handle, &set);
    if (rc != 0) {
        return init_failed("Failed to register ISSU milestones: ", rc);
    }
    ptp_trace<PTP_TRACE_TESSEL_ISSU_REGISTER_MILESTONES_DONE>({tessel_pm_det()});

    ptp_trace<PTP_TRACE_TESSEL_ISSU_START_THREAD_RESYNC>({tessel_pm_det()});
    rc = issul_milestone_start(issu.handle, TESSEL_ISSU_MILESTONE_THREAD_RESYNC);
    if (rc != 0) {
        return init_failed("Failed to start thread resync ISSU milestone: ", rc);
    }
    ptp_trace<PTP_TRACE_TESSEL_ISSU_START_THREAD_RESYNC_DONE>({tessel_pm_det()});

    ptp_trace<PTP_TRACE_TESSEL_ISSU_START_CHKPT>({tessel_pm_det()});
    rc = issul_milestone_start(issu.handle, TESSEL_ISSU_MILESTONE_CHKPT);
    if (rc != 0) {
        return init_failed("Failed to start checkpoint ISSU milestone: ", rc);
    }
    ptp_trace<PTP_TRACE_TESSEL_ISSU_START_CHKPT_DONE>({tessel_pm_det()});
    return 0;
}

void tessel_issu_milestone_start(uint32_t milestone)
{
    if (issu.role != TESSEL_ISSU_ROLE_SECONDARY) {
        return;
    }
    uint32_t status = ISSUL_MILESTONE_MET;
    zerrno rc = issul_get_milestone_status(issu.handle, milestone, &status);
    if (rc == 0) {
        if (status != ISSUL_MILESTONE_NOT_STARTED) {
            return;
        }
        rc = issul_milestone_start(issu.handle, milestone);
        if (rc == 0) {
            TESSEL_PM_DEBUG(TESSEL_AREA_ISSU, 0, "%s: Started milestone '%s'", issul_milestone_to_string(milestone));
            ptp_trace<PTP_TRACE_TESSEL_ISSU_MILESTONE_STARTED>({tessel_pm_unq()}, milestone);
            return;
        }
    }
    TESSEL_PM_DEBUG_ERR(TESSEL_AREA_ISSU, 0, "%s: [ERROR] Failed to mark milestone '%s' as started: %s",
                        issul_milestone_to_string(milestone), zerr_strerror(rc));
    ptp_trace<PTP_TRACE_TESSEL_ISSU_MILESTONE_START_FAILED>({tessel_pm_unq()}, milestone, rc);
    milestone_report(milestone, "started", rc);
}

void tessel_issu_milestone_met(uint32_t milestone)
{
    tessel_issu_milestone_start(milestone);
    if (bool *flag = met_flag(milestone); flag != nullptr) {
        *flag = true;
    }
    if (issu.role != TESSEL_ISSU_ROLE_SECONDARY) {
        return;
    }
    uint32_t status = ISSUL_MILESTONE_MET;
    zerrno rc = issul_get_milestone_status(issu.handle, milestone, &status);
    if (rc == 0) {
        if (status == ISSUL_MILESTONE_MET) {
            return;
        }
        rc = issul_milestone_met(issu.handle, milestone);
        if (rc == 0) {
            uint32_t ready = 0;
            const bool answered = issul_am_i_issu_ready(issu.handle, &ready) == 0;
            TESSEL_PM_DEBUG(TESSEL_AREA_ISSU, 0, "%s: Met milestone '%s', ISSU ready: %s",
                            issul_milestone_to_string(milestone),
                            !answered    ? "unknown"
                            : ready != 0 ? "yes"
                                         : "no");
            ptp_trace<PTP_TRACE_TESSEL_ISSU_MILESTONE_MET>({tessel_pm_unq()}, milestone, answered ? 1u : 0u,
                                                           answered && ready != 0 ? 1u : 0u);
            return;
        }
    }
    milestone_report(milestone, "met", rc);
}

void tessel_issu_fini(void)
{
    issu.met_chkpt = false;
    issu.met_controller_resync = false;
    issu.met_thread_resync = false;
    issul_fini(issu.handle);
    issu.handle = nullptr;
    issu.role = TESSEL_ISSU_ROLE_NONE;
}

void tessel_issu_role_change_cb(void *, uint32_t new_role)
{
    const uint32_t old_role = issu.role;
    TESSEL_PM_DEBUG(TESSEL_AREA_ISSU, 0, "%s: Received NG ISSU role from ZURO Vuri - new role: %s, old role: %s",
                    issul_issu_role_to_string(new_role), issul_issu_role_to_string(old_role));
    ptp_trace<PTP_TRACE_UTIL_ISSU_ROLE_CHANGE>({tessel_pm_sum()}, new_role, old_role);
    if (new_role == TESSEL_ISSU_ROLE_NONE || new_role == old_role) {
        return;
    }
    if (old_role == TESSEL_ISSU_ROLE_NONE) {
        issu.role = new_role;
        return;
    }
    if (new_role == TESSEL_ISSU_ROLE_PRIMARY && old_role == TESSEL_ISSU_ROLE_SECONDARY) {
        issu.role = new_role;
        tessel_port_mgr_issu_resync();
        return;
    }
    if (new_role == TESSEL_ISSU_ROLE_RETIRING && old_role == TESSEL_ISSU_ROLE_PRIMARY) {
        issu.role = new_role;
        tessel_proto_db_walk(readiness_walk, nullptr, nullptr, false);
        return;
    }
    TESSEL_PM_DEBUG(TESSEL_AREA_ISSU, 0,
                    "%s: Did not expect ISSU role %s from ZURO Vuri (current ISSU role is %s). Ignoring",
                    issul_issu_role_to_string(new_role), issul_issu_role_to_string(old_role));
    ptp_trace<PTP_TRACE_UTIL_ISSU_ROLE_UNEXPECTED>({tessel_pm_sum()}, new_role, old_role);
}
