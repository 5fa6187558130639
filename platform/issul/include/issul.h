// In-service upgrade service: the upgrade role of a client process, the milestones it and the
// service define, and role-change notices delivered on the client's event manager.
//
// Roles: 0 none (no answer yet), 1 primary, 2 secondary, 3 the role of a primary that is being
// replaced. Milestone status: 0 not started, 1 started, 2 met.
#pragma once

#include <cstdint>

#include "evm.h"
#include "zerrno.h"

inline constexpr uint32_t ISSUL_ROLE_NONE = 0;
inline constexpr uint32_t ISSUL_ROLE_PRIMARY = 1;
inline constexpr uint32_t ISSUL_ROLE_SECONDARY = 2;
inline constexpr uint32_t ISSUL_ROLE_RETIRING = 3;

inline constexpr uint32_t ISSUL_MILESTONE_NOT_STARTED = 0;
inline constexpr uint32_t ISSUL_MILESTONE_STARTED = 1;
inline constexpr uint32_t ISSUL_MILESTONE_MET = 2;

// The service's own checkpoint milestone.
inline constexpr uint32_t ISSUL_MILESTONE_CHECKPOINT = 2;

// Facility of the service's own codes.
inline constexpr uint32_t ISSUL_ZERR_FACILITY = 0x1A5;
inline constexpr zerrno ISSUL_ERR_INVALID = zerr_make(ISSUL_ZERR_FACILITY, 1);      // bad argument
inline constexpr zerrno ISSUL_ERR_NO_MILESTONE = zerr_make(ISSUL_ZERR_FACILITY, 2); // unknown milestone
inline constexpr zerrno ISSUL_ERR_EVENT = zerr_make(ISSUL_ZERR_FACILITY, 3);        // event attach failed

struct issul_handle_type; // one client connection

// A role-change notice: the context given at registration and the new role.
using issul_role_change_fn = void (*)(void *context, uint32_t new_role);

// One milestone a client defines, and the set it registers.
struct issul_milestone_type {
    uint32_t id;
    const char *name;
};
struct issul_milestone_set_type {
    uint32_t count;
    const issul_milestone_type *milestones;
    const char *debug_script; // run by the service when the milestone set stalls
};

zerrno issul_init(event_mgr_type *evm, const char *client_name, issul_handle_type **out_handle);
// Attaches the notice to the client's event manager; notices are delivered there.
zerrno issul_register_role(issul_handle_type *handle, issul_role_change_fn callback, void *context);
// The current role, or 0 when the service cannot tell.
uint32_t issul_get_issu_role(issul_handle_type *handle);
zerrno issul_register_milestones(issul_handle_type *handle, const issul_milestone_set_type *set);
zerrno issul_get_milestone_status(issul_handle_type *handle, uint32_t milestone, uint32_t *out_status);
zerrno issul_milestone_start(issul_handle_type *handle, uint32_t milestone);
zerrno issul_milestone_met(issul_handle_type *handle, uint32_t milestone);
// Non-zero in *out_ready when every milestone of the upgrade is met.
zerrno issul_am_i_issu_ready(issul_handle_type *handle, uint32_t *out_ready);
const char *issul_milestone_to_string(uint32_t milestone);
const char *issul_issu_role_to_string(uint32_t role);
// Detaches the notice and frees the connection; null is ignored.
void issul_fini(issul_handle_type *handle);

// ---- Test control ------------------------------------------------------------------------

enum class issul_test_op : uint32_t {
    INIT,
    REGISTER_ROLE,
    GET_ROLE,
    REGISTER_MILESTONES,
    GET_STATUS,
    START,
    MET,
    AM_I_READY,
    COUNT
};

// Back to no role, no milestones, no failures, nothing recorded.
void issul_test_reset();
// The role that issul_get_issu_role answers (without a notice).
void issul_test_set_role(uint32_t role);
// Stores the role and posts a notice of it to every registered client.
void issul_test_fire_role_change(uint32_t role);
// The next call of op fails with code (0: no failure).
void issul_test_fail(issul_test_op op, zerrno code);
void issul_test_set_milestone_status(uint32_t milestone, uint32_t status);
uint32_t issul_test_milestone_status(uint32_t milestone);
// Milestones registered by clients, and the debug script given with them.
uint32_t issul_test_registered_count();
const char *issul_test_registered_script();
// Calls of op so far.
uint32_t issul_test_calls(issul_test_op op);
void issul_test_set_ready(uint32_t ready);
// Clients connected now.
uint32_t issul_test_clients();
