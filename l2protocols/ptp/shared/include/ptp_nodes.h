// The list of nodes that publish agent data in the database.
#pragma once

#include <cstdint>

#include "zerrno.h"

// The node ids listed under "/oper/ptp/node/" (lower-case hexadecimal names), in name order, in
// a new array that the caller frees with free(). No entries gives success with no array and
// count 0. Any failure gives its code, no array and count 0; while the database client library
// is not readable that is 0x8081c200 and the database is not called. Names that are not a node
// id (not hexadecimal, wider than 32 bits) are skipped.
zerrno ptp_nodes_list(uint32_t **nodes, uint32_t *count);
