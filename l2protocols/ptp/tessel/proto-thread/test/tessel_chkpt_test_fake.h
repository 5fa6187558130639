// What the recording fakes of the checkpoint writers' neighbours saw, and how they answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tessel_chkpt.h"

struct chkpt_fake_state_type {
    uint32_t role = 1;  // tessel_issu_get_issu_role
    bool active = true; // tessel_main_is_active
    int fm_present = 0; // what the best-foreign-master call answers
    tessel_chkpt_foreign_master_type fm{};
    std::vector<std::string> encoded; // "<record>:<key>" of every encode call, in order
    // The last record of each kind handed to its encoder (the interface record with its lists).
    tessel_chkpt_gl_type gl{};
    std::vector<uint8_t> if_rec;
    bool if_too_big = false; // the interface encoder packs nothing, as for a record that does not fit
    tessel_chkpt_unicast_grant_type grant{};
    tessel_chkpt_peer_index_type peer_index{};
    std::vector<uint32_t> idt_sent;
    std::vector<uint32_t> ndt_sent; // notice types
    // When set, the sends also hand the notice on (to the protocol thread's handlers, say), while
    // the service's bytes are still valid.
    void (*idt_forward)(uint32_t notice) = nullptr;
    void (*ndt_forward)(const void *notice) = nullptr;
};

extern chkpt_fake_state_type chkpt_fake;

void chkpt_fake_reset();
// The bytes the encoding fake writes for a record: its encode call's "<record>:<key>" text.
std::string chkpt_fake_stored(uint32_t table_id, chkpt_objid objid);
