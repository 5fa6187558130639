// What the recording fakes of the checkpoint recovery's neighbours saw, and how they answer; and
// the stored bytes of records, by the real encoding.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tessel_chkpt.h"

struct chkpt_recover_fake_state_type {
    std::vector<std::string> calls;
    std::set<uint32_t> milestones_met;
    uint32_t port_num_running = 0;
    zerrno fsm_init_rc = 0;
    zerrno grant_restore_rc = 0;
    // The port manager's go-active step in short: register the tables and read them.
    bool go_active_reads = true;
};

extern chkpt_recover_fake_state_type recover_fake;

void chkpt_recover_fake_reset();
// Frees what the fakes made for the ports (peer entries, peer index entries).
void chkpt_recover_fake_release_ports();
// The stored bytes of a record (its encoding).
std::string chkpt_recover_fake_encode(const tessel_chkpt_gl_type &rec);
std::string chkpt_recover_fake_encode(const tessel_chkpt_if_type &rec);
std::string chkpt_recover_fake_encode(const tessel_chkpt_unicast_grant_type &rec);
std::string chkpt_recover_fake_encode(const tessel_chkpt_peer_index_type &rec);
// The calls recorded that begin with prefix.
std::vector<std::string> chkpt_recover_fake_calls(const std::string &prefix);
