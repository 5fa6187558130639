// An IPC-thread interface record for the port manager to create a port from, as tests build it.
#pragma once

#include <cstring>

#include "ptp_types.h"
#include "tessel_ipc_db.h"
#include "tessel_master_db.h"
#include "tessel_port_mgr.h"
#include "tessel_slave_db.h"

struct ipc_record {
    tessel_ipc_idb_type r{};
    ipc_record(const char *name, ifhtype ifh)
    {
        std::strncpy(r.header.ifname, name, sizeof r.header.ifname - 1);
        r.header.ifhandle = ifh;
        r.if_type = 1;
        r.im_state = 3;
        r.ether_info_len = 6;
        r.applied_config.encap = PTP_ENCAP_IPV4;
        r.applied_config.announce_timeout = 3;
        r.applied_ipv4_addr = 0x0A000001;
        tessel_master_db_init(&r.applied_config.master_table);
        tessel_slave_db_init(&r.applied_config.slave_table);
        r.flags = TESSEL_IPC_FLAG_UPDATE_CREATED | TESSEL_IPC_FLAG_ENABLED | TESSEL_IPC_FLAG_VRF_ID_KNOWN |
                  TESSEL_IPC_FLAG_ETHER_INFO_KNOWN;
    }
    ~ipc_record()
    {
        tessel_master_db_destroy(&r.applied_config.master_table);
        tessel_slave_db_destroy(&r.applied_config.slave_table);
    }
};
