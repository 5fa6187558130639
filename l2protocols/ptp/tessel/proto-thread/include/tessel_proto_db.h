// The protocol thread's interface database ("Protocol Thread"): one tessel_proto_idb_type per
// PTP port, by name and by interface handle. Every operation runs on the protocol thread only.
#pragma once

#include <cstdint>

#include "ptp_types.h"
#include "tessel_db.h"
#include "tessel_fsm_types.h"
#include "zerrno.h"

// Called for each record in name order; returns true to go on, false to stop (heeded on a walk
// from the start).
using tessel_proto_db_walk_fn = bool (*)(tessel_proto_idb_type *idb, void *context);

// The answer of tessel_proto_db_get_by_addr when no record owns the address.
inline constexpr zerrno TESSEL_PROTO_DB_ADDR_NOT_FOUND = 2;

// The record's flag bits, by name.
inline bool port_mgr_mark(const tessel_proto_idb_type *idb)
{
    return (idb->flags & TESSEL_PROTO_IDB_PORT_MGR_MARK) != 0;
}
inline bool port_mgr_ready(const tessel_proto_idb_type *idb)
{
    return (idb->flags & TESSEL_PROTO_IDB_PORT_MGR_READY) != 0;
}
inline bool ether_info_known(const tessel_proto_idb_type *idb)
{
    return (idb->flags & TESSEL_PROTO_IDB_ETHER_INFO_KNOWN) != 0;
}
inline bool vrf_id_known(const tessel_proto_idb_type *idb)
{
    return (idb->flags & TESSEL_PROTO_IDB_VRF_ID_KNOWN) != 0;
}

zerrno tessel_proto_db_init();
void tessel_proto_db_cleanup();
zerrno tessel_proto_db_create(const char *ifname, tessel_proto_idb_type **out_idb);
// Frees the address lists, then unlinks and frees the record.
void tessel_proto_db_delete(tessel_proto_idb_type *idb);
void tessel_proto_db_add_ifhandle(ifhtype ifhandle, tessel_proto_idb_type *idb);
void tessel_proto_db_remove_ifhandle(tessel_proto_idb_type *idb);
zerrno tessel_proto_db_get_by_ifname(const char *ifname, tessel_proto_idb_type **out_idb);
zerrno tessel_proto_db_get_by_ifhandle(ifhtype ifhandle, tessel_proto_idb_type **out_idb);
void tessel_proto_db_walk(tessel_proto_db_walk_fn callback, void *context, const char *start_ifname, bool skip_start);
// The record that owns the address (its source MAC, or one of its IPv4/IPv6 addresses): 0 and
// the record, or TESSEL_PROTO_DB_ADDR_NOT_FOUND. out_idb may be null.
zerrno tessel_proto_db_get_by_addr(const ptp_address_type *address, tessel_proto_idb_type **out_idb);
