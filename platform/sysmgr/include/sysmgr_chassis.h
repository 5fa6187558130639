// For the platform's own services: the chassis description and node of this process, as the
// node-identity calls see them. Not for product code.
#pragma once

#include "chassis.h"

// Null when the process has no chassis, or its node is not in it. The description stays valid
// until sysmgr_test_reset or sysmgr_test_set_chassis.
const chassis_desc_type *sysmgr_chassis(void);
const chassis_node_type *sysmgr_my_node(void);
// Whether the node came from the environment ($PTP_NODE): a process of the chassis, whose
// platform services are kept by the daemon.
bool sysmgr_node_from_environment(void);
