// Interoperation configuration of an interface (items under "interop" below its "ptp/pi/"): the
// profile and domain of the network on the far side and per-direction overrides of the Announce
// clock fields. The interface's own record and its profile's record are merged into the applied
// record that the protocol thread converts Announces with.
#pragma once

#include <cstdint>

#include "bgen_args.h"
#include "nodra.h"
#include "tessel_if_config.h"
#include "tessel_interop_config.h"
#include "zerrno.h"

// Which value an interoperation item writes: ingress 0-5, egress 6-11.
enum tessel_cfg_interop_item_type : uint32_t {
    TESSEL_CFG_INTEROP_PRIORITY1 = 0,
    TESSEL_CFG_INTEROP_PRIORITY2 = 1,
    TESSEL_CFG_INTEROP_CLOCK_ACCURACY = 2,
    TESSEL_CFG_INTEROP_OSLV = 3,
    TESSEL_CFG_INTEROP_CLOCK_CLASS_DEFAULT = 4,
    TESSEL_CFG_INTEROP_CLOCK_CLASS_MAPPING = 5,
};
inline constexpr uint32_t TESSEL_CFG_INTEROP_EGRESS_OFFSET = 6;

// The interoperation update routines, shared by the interface items and the profile items. A set
// stores the value and sets its presence bit; a delete stores 0 and clears it. Mapping: key is
// the class to map (a delete keeps the table's bit while another entry is present).
void tessel_cfg_interop_set_profile(tessel_interop_config_type *cfg, bool is_delete, uint32_t profile);
void tessel_cfg_interop_set_domain(tessel_interop_config_type *cfg, bool is_delete, uint32_t domain);
// item: 0-11 as above; an item that is not one of the caller's own is an internal error.
void tessel_cfg_interop_set_value(tessel_interop_config_type *cfg, uint32_t item, bool is_delete, uint32_t value,
                                  uint32_t key);

// Recomputes the applied record from the profile's and the interface's (the interface's values
// win); *changed when it differs from before. When no record can be allocated the applied record
// stays as it was (MEM_ALLOC) and no change is reported.
void tessel_cfg_if_reconcile_interop_config(tessel_ipc_idb_type *idb, bool *changed);

// Checks of the interop rows (verify_result and error_text may be null). The mapping check also
// gives the key (the class to map).
zerrno tessel_cfg_if_check_interop_profile(const nodra_verify_event_info_td *event,
                                           nodra_verify_result_td *verify_result, char **error_text, uint32_t *value,
                                           const bgen_args_td *args, char *ifname, bool *is_delete);
zerrno tessel_cfg_if_check_interop_domain(const nodra_verify_event_info_td *event,
                                          nodra_verify_result_td *verify_result, char **error_text, uint32_t *value,
                                          const bgen_args_td *args, char *ifname, bool *is_delete);
zerrno tessel_cfg_if_check_interop_priority(const nodra_verify_event_info_td *event,
                                            nodra_verify_result_td *verify_result, char **error_text, uint32_t *value,
                                            const bgen_args_td *args, char *ifname, bool *is_delete);
zerrno tessel_cfg_if_check_interop_clock_accuracy(const nodra_verify_event_info_td *event,
                                                  nodra_verify_result_td *verify_result, char **error_text,
                                                  uint32_t *value, const bgen_args_td *args, char *ifname,
                                                  bool *is_delete);
zerrno tessel_cfg_if_check_interop_oslv(const nodra_verify_event_info_td *event, nodra_verify_result_td *verify_result,
                                        char **error_text, uint32_t *value, const bgen_args_td *args, char *ifname,
                                        bool *is_delete);
zerrno tessel_cfg_if_check_interop_clock_class_default(const nodra_verify_event_info_td *event,
                                                       nodra_verify_result_td *verify_result, char **error_text,
                                                       uint32_t *value, const bgen_args_td *args, char *ifname,
                                                       bool *is_delete);
zerrno tessel_cfg_if_check_interop_clock_class_mapping(const nodra_verify_event_info_td *event,
                                                       nodra_verify_result_td *verify_result, char **error_text,
                                                       uint32_t *value, uint32_t *key, const bgen_args_td *args,
                                                       char *ifname, bool *is_delete);

// Handlers of rows 35-48.
zerrno tessel_cfg_if_verify_interop_profile(const nodra_verify_event_info_td *event, char **error_text,
                                            nodra_verify_result_td *result, void *context, const bgen_args_td *args);
zerrno tessel_cfg_if_apply_interop_profile(const nodra_verify_event_info_td *event, void *context,
                                           const bgen_args_td *args);
zerrno tessel_cfg_if_verify_interop_domain(const nodra_verify_event_info_td *event, char **error_text,
                                           nodra_verify_result_td *result, void *context, const bgen_args_td *args);
zerrno tessel_cfg_if_apply_interop_domain(const nodra_verify_event_info_td *event, void *context,
                                          const bgen_args_td *args);
zerrno tessel_cfg_if_verify_interop_priority(const nodra_verify_event_info_td *event, char **error_text,
                                             nodra_verify_result_td *result, void *context, const bgen_args_td *args);
zerrno tessel_cfg_if_apply_interop_priority(const nodra_verify_event_info_td *event, void *context,
                                            const bgen_args_td *args);
zerrno tessel_cfg_if_verify_interop_clock_accuracy(const nodra_verify_event_info_td *event, char **error_text,
                                                   nodra_verify_result_td *result, void *context,
                                                   const bgen_args_td *args);
zerrno tessel_cfg_if_apply_interop_clock_accuracy(const nodra_verify_event_info_td *event, void *context,
                                                  const bgen_args_td *args);
zerrno tessel_cfg_if_verify_interop_oslv(const nodra_verify_event_info_td *event, char **error_text,
                                         nodra_verify_result_td *result, void *context, const bgen_args_td *args);
zerrno tessel_cfg_if_apply_interop_oslv(const nodra_verify_event_info_td *event, void *context,
                                        const bgen_args_td *args);
zerrno tessel_cfg_if_verify_interop_clock_class_default(const nodra_verify_event_info_td *event, char **error_text,
                                                        nodra_verify_result_td *result, void *context,
                                                        const bgen_args_td *args);
zerrno tessel_cfg_if_apply_interop_clock_class_default(const nodra_verify_event_info_td *event, void *context,
                                                       const bgen_args_td *args);
zerrno tessel_cfg_if_verify_interop_clock_class_mapping(const nodra_verify_event_info_td *event, char **error_text,
                                                        nodra_verify_result_td *result, void *context,
                                                        const bgen_args_td *args);
zerrno tessel_cfg_if_apply_interop_clock_class_mapping(const nodra_verify_event_info_td *event, void *context,
                                                       const bgen_args_td *args);
