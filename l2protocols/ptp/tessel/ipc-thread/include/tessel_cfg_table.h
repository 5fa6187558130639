// Master and slave tables of the interface configuration: the handlers of the "master-table" and
// "slave-table" leaves of an interface, the key and slave-capability checks they share, and the
// merges that carry a profile's entries into an interface's applied tables.
//
// An interface that has entries of its own in a table uses exactly those; one that has none uses
// the entries of its profile that the platform can carry.
#pragma once

#include <cstdint>

#include "bgen_args.h"
#include "nodra.h"
#include "ptp_types.h"
#include "tessel_if_config.h"
#include "zerrno.h"

// The interface name and the entry address of a master-table item, after the interface-type,
// capability, address and multicast checks.
zerrno tessel_cfg_if_check_master_key(const nodra_verify_event_info_td *event, ptp_address_type *addr,
                                      const bgen_args_td *args, char *ifname, bool *is_delete);
// 0 when the interface may run as a slave; 0x47F2D000 otherwise.
zerrno tessel_cfg_if_check_slave_capability(const char *ifname);

// The value and key checks of the slave "non-negotiated" leaf (verify_result, error_text may be
// null).
zerrno tessel_cfg_if_check_slave_nonnegotiated(const nodra_verify_event_info_td *event,
                                               nodra_verify_result_td *verify_result, char **error_text, uint32_t *flag,
                                               ptp_address_type *addr, const bgen_args_td *args, char *ifname,
                                               bool *is_delete);

// Handlers of the master-table leaves "enable", "priority", "multicast", "clock-class",
// "delay-asymmetry", "non-negotiated" and the slave-table leaf "non-negotiated".
zerrno tessel_cfg_if_verify_master_enable(const nodra_verify_event_info_td *event, char **error_text,
                                          nodra_verify_result_td *result, void *context, const bgen_args_td *args);
zerrno tessel_cfg_if_apply_master_enable(const nodra_verify_event_info_td *event, void *context,
                                         const bgen_args_td *args);
zerrno tessel_cfg_if_verify_master_priority(const nodra_verify_event_info_td *event, char **error_text,
                                            nodra_verify_result_td *result, void *context, const bgen_args_td *args);
zerrno tessel_cfg_if_apply_master_priority(const nodra_verify_event_info_td *event, void *context,
                                           const bgen_args_td *args);
zerrno tessel_cfg_if_verify_master_multicast(const nodra_verify_event_info_td *event, char **error_text,
                                             nodra_verify_result_td *result, void *context, const bgen_args_td *args);
zerrno tessel_cfg_if_apply_master_multicast(const nodra_verify_event_info_td *event, void *context,
                                            const bgen_args_td *args);
zerrno tessel_cfg_if_verify_master_clock_class(const nodra_verify_event_info_td *event, char **error_text,
                                               nodra_verify_result_td *result, void *context, const bgen_args_td *args);
zerrno tessel_cfg_if_apply_master_clock_class(const nodra_verify_event_info_td *event, void *context,
                                              const bgen_args_td *args);
zerrno tessel_cfg_if_verify_master_delay_asymmetry(const nodra_verify_event_info_td *event, char **error_text,
                                                   nodra_verify_result_td *result, void *context,
                                                   const bgen_args_td *args);
zerrno tessel_cfg_if_apply_master_delay_asymmetry(const nodra_verify_event_info_td *event, void *context,
                                                  const bgen_args_td *args);
zerrno tessel_cfg_if_verify_master_nonnegotiated(const nodra_verify_event_info_td *event, char **error_text,
                                                 nodra_verify_result_td *result, void *context,
                                                 const bgen_args_td *args);
zerrno tessel_cfg_if_apply_master_nonnegotiated(const nodra_verify_event_info_td *event, void *context,
                                                const bgen_args_td *args);
zerrno tessel_cfg_if_verify_slave_nonnegotiated(const nodra_verify_event_info_td *event, char **error_text,
                                                nodra_verify_result_td *result, void *context,
                                                const bgen_args_td *args);
zerrno tessel_cfg_if_apply_slave_nonnegotiated(const nodra_verify_event_info_td *event, void *context,
                                               const bgen_args_td *args);

// Profile merges: with an address, that one entry of the profile's table; without (null), the
// whole table. True when the interface's applied table changed (its update bit is then set).
uint32_t tessel_cfg_if_merge_master_entry(tessel_ipc_idb_type *idb, const ptp_address_type *addr);
uint32_t tessel_cfg_if_merge_slave_entry(tessel_ipc_idb_type *idb, const ptp_address_type *addr);
