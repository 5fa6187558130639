// The agent's operational data on the protocol thread: the get, list, data-list and set requests
// the IPC thread forwards ("EDM Get", ...), answered from both threads' interface records and the
// counters; packet-counter requests wait for fresh offload statistics.
#pragma once

#include <cstdint>

#include "nodra_backend.h"
#include "zerrno.h"

// Saved packet-counter request kinds.
enum tessel_edm_packet_counter_req_type : uint32_t {
    TESSEL_EDM_PACKET_COUNTER_REQ_NONE = 0,
    TESSEL_EDM_PACKET_COUNTER_REQ_NODE_GET = 1,
    TESSEL_EDM_PACKET_COUNTER_REQ_IF_GET = 2,
    TESSEL_EDM_PACKET_COUNTER_REQ_IF_LIST = 3,
    TESSEL_EDM_PACKET_COUNTER_REQ_IF_DATALIST = 4,
};

// Entry points: request is the database's nodra_edm_request_td, whose item table is one of the
// schemas below. 0 with the answer in the request, a code, or NODRA_EDM_IN_PROGRESS (the answer
// follows as the parked inter-thread reply).
zerrno tessel_edm_get(void *request);
zerrno tessel_edm_list(void *request);
zerrno tessel_edm_datalist(void *request);
zerrno tessel_edm_set(void *request);
// The offload statistics arrived (or timed out): answers the saved packet-counter request.
void tessel_edm_resume_packet_counters_request(void);

// The item tables the registration hands the database. Per-interface paths, by the index of the
// registration's path table (its rows 0 to 10; the key is the interface name).
inline constexpr uint32_t TESSEL_EDM_IF_PATH_COUNT = 11;
extern const backend_schema_td *const tessel_edm_if_schemas[TESSEL_EDM_IF_PATH_COUNT];
// Below "/oper/ptp/&&/" and "/action/ptp/&&/".
extern const backend_schema_td tessel_edm_node_oper_schema;
extern const backend_schema_td tessel_edm_node_action_schema;
