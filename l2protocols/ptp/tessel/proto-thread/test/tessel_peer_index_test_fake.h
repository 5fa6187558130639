// What the peer-index tests' fakes record and answer.
#pragma once

#include <cstdint>
#include <vector>

#include "ptp_types.h"

struct pi_fake_state_type {
    uint32_t role = 1; // primary
    uint64_t next_obj_id = 0;
    std::vector<uint32_t> chkpt_updates; // peer index of each record written
    std::vector<uint64_t> chkpt_deletes; // object id of each record deleted
    std::vector<ptp_address_type> deleted_peers;
    std::vector<ptp_address_type> deleted_fms;
};
extern pi_fake_state_type pi_fake;

// The order of the hand-filled foreign-master and unicast-peer trees.
int pi_fake_peer_compare(const void *a, const void *b, void *context);
