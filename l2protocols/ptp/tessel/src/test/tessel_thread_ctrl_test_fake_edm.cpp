// Recording fakes of the operational-data handlers and the slave-lost trap for the thread-control
// test, which exercises the messages that carry them but not the handlers themselves (the agent
// program links them for real).
#include "evm.h"
#include "ptp_types.h"
#include "tessel_agent_neighbours.h"

namespace {
zerrno edm(const char *what, void *request)
{
    agent_nb_lock l;
    l.state.calls.emplace_back(what);
    l.state.edm_requests.push_back(request);
    return l.state.edm_result;
}
} // namespace

zerrno tessel_proto_edm_trap_init(event_mgr_type *)
{
    agent_nb_lock l;
    l.state.calls.emplace_back("edm_trap_init");
    return 0;
}
void tessel_proto_edm_trap_cleanup(void)
{
    agent_nb_lock l;
    l.state.calls.emplace_back("edm_trap_cleanup");
}
void tessel_proto_edm_trap_generate_slave_lost(const ptp_address_type *, const ptp_address_type *, int) {}

void tessel_edm_resume_packet_counters_request(void);
void tessel_edm_resume_packet_counters_request(void)
{
    agent_nb_lock l;
    l.state.calls.emplace_back("edm_resume_packet_counters_request");
}
zerrno tessel_edm_get(void *request)
{
    return edm("edm_get", request);
}
zerrno tessel_edm_list(void *request)
{
    return edm("edm_list", request);
}
zerrno tessel_edm_datalist(void *request)
{
    return edm("edm_datalist", request);
}
zerrno tessel_edm_set(void *request)
{
    return edm("edm_set", request);
}
