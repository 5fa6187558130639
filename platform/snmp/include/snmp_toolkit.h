// The SNMP agent's plug-in toolkit: what a MIB plug-in loaded by the agent calls (object
// registration, instance decoding, var-binds, octet strings, 64-bit counters, set processing,
// trap-enable items and traps), and the records it shares with the agent.
//
// A plug-in is a shared object the agent opens by file name. It exports init_<module>(handle,
// flag) (non-zero flag: load, 0: unload), <module>_OidList (its column descriptors, in any order)
// and <module>_OidListNum; the agent calls a column's getter for every request that names an
// instance of it, and its test function on a set. Everything here is served by the agent that
// loaded the plug-in (see snmp_host.h).
#pragma once

#include <cstdint>

#include "evm.h"
#include "nodra.h"

// Search types handed to a getter.
inline constexpr int SNMP_EXACT = 160;
inline constexpr int SNMP_NEXT = 161;

// ASN.1 types of a descriptor and a var-bind.
inline constexpr uint8_t SNMP_INTEGER_TYPE = 0x02;
inline constexpr uint8_t SNMP_OCTET_PRIM_TYPE = 0x04;
inline constexpr uint8_t SNMP_NULL_TYPE = 0x05;
inline constexpr uint8_t SNMP_OBJECT_ID_TYPE = 0x06;
inline constexpr uint8_t SNMP_COUNTER_TYPE = 0x41;
inline constexpr uint8_t SNMP_GAUGE_TYPE = 0x42;
inline constexpr uint8_t SNMP_COUNTER_64_TYPE = 0x46;

// Access of a descriptor.
inline constexpr uint8_t SNMP_READ_ONLY = 0x20;
inline constexpr uint8_t SNMP_READ_WRITE = 0x21;

// Error statuses of set processing (as on the wire).
inline constexpr int SNMP_NO_ERROR = 0;
inline constexpr int SNMP_GEN_ERROR = 5;
inline constexpr int SNMP_WRONG_TYPE_ERROR = 7;
inline constexpr int SNMP_WRONG_VALUE_ERROR = 10;
inline constexpr int SNMP_NO_CREATION_ERROR = 11;
inline constexpr int SNMP_RESOURCE_UNAVAILABLE_ERROR = 13;
inline constexpr int SNMP_COMMIT_FAILED_ERROR = 14;
inline constexpr int SNMP_NOT_WRITABLE_ERROR = 17;

// Set-entry states.
inline constexpr int SNMP_UNKNOWN_STATE = 1;
inline constexpr int SNMP_ADD_MODIFY = 3;

// Enterprise-specific generic trap number.
inline constexpr int SNMP_ENTERPRISE_TRAP = 6;

// The longest dotted text MakeDotFromOID writes, with its terminating zero.
inline constexpr uint32_t SNMP_DOT_OID_MAX = 1536;

struct OID {
    int32_t length;
    uint32_t *oid_ptr;
};

struct OctetString {
    uint8_t *octet_ptr;
    int32_t length;
};

// A 64-bit counter in two halves.
struct UInt64 {
    uint32_t big;
    uint32_t little;
};

// A value handed to a test function.
struct ObjectSyntax {
    uint8_t type;
    int32_t slval;
    uint32_t ulval;
    OctetString *os_value;
};

struct ContextInfo; // the agent's own, never looked into by plug-ins

// One var-bind of an answer or a trap, and the next of its list. The var-bind owns its name and
// its value (octet string, counter).
struct VarBind {
    OID *name;
    uint8_t type;
    int32_t slval;   // INTEGER
    uint32_t ulval;  // Counter32, Gauge32
    OctetString *os; // OCTET STRING
    UInt64 *uint64;  // Counter64
    VarBind *next_var;
};

struct ObjectInfo;
struct doList_t;

using snmp_get_fn = VarBind *(*)(OID *incoming, ObjectInfo *object, int searchType, ContextInfo *contextInfo,
                                 int serialNum);
using snmp_test_fn = int (*)(OID *incoming, ObjectInfo *object, ObjectSyntax *value, doList_t *doHead, doList_t *doCur,
                             ContextInfo *contextInfo);
using snmp_set_fn = int (*)(doList_t *doHead, doList_t *doCur, ContextInfo *contextInfo);

// A column descriptor (a row of <module>_OidList).
struct ObjectInfo {
    OID oid;
    uint8_t oidtype;
    uint8_t oidstatus;
    uint8_t nominator;
    uint8_t priority;
    snmp_get_fn getter;
    snmp_test_fn test;
    snmp_set_fn set;
};

// One pending entry of a set request: the plug-in's test function fills it in (set and clean-up
// functions, its scratch record, its state); the agent calls the set functions of every entry
// once all of them tested well, then the clean-up functions.
struct doList_t {
    snmp_set_fn setMethod;
    void (*cleanupMethod)(doList_t *entry);
    void *data;
    int state;
    doList_t *next;
};

// A row of a plug-in's object table: an object name and its dotted identifier; a row of two
// null pointers ends it. The first row is the module's root.
struct snmp_oid_name_ct {
    const char *name;
    const char *oid;
};

// A plug-in's debug descriptor: prints are made while enable is non-zero.
struct snmp_mib_debug_ct {
    const char *name;
    uint32_t enable;
};

struct snmp_mib_handle_ct; // the agent's record of one loaded plug-in

// A trap-enable item's callback: the item's event (NODRA_EVENT_DELETE when it went), its data
// type and new value.
using snmp_enable_traps_fn = void (*)(const nodra_verify_event_info_td *event);

// Registers the module's root and tables; the result is the registration, null on failure.
void *snmp_load_oid(snmp_mib_handle_ct *mib, const snmp_oid_name_ct *table);
// Removes a registration made by snmp_load_oid (null is ignored).
void snmp_unload_oid(snmp_mib_handle_ct *mib, void *registration);
// The agent's event manager, from a registration; null for none.
event_mgr_type *snmp_import_evmh(void *registration);
// 0 on success.
int snmp_register_mib_debug(snmp_mib_handle_ct *mib, snmp_mib_debug_ct *debug);
// A plug-in's debug print (made only while its descriptor is enabled).
void buginf(const snmp_mib_debug_ct *debug, int reserved1, int reserved2, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

// Decodes the index component at arc position `index` of the request into *value. For an exact
// search the arc must be there. For a next search (*carry 1 asks for the successor): a missing arc
// is 0 (and clears the carry, the shorter request being below every instance); a present arc takes
// the carry, which stays set when the component overflows (it wraps to 0 and the carry goes to the
// component before). Negative on error.
int InstToUInt(const OID *instance, int index, uint32_t *value, int searchType, int *carry);
// The same for a signed component: arcs above 2147483647 are no value of it (exact: an error;
// next: 0 with the carry set).
int InstToInt(const OID *instance, int index, int32_t *value, int searchType, int *carry);

// The answer of a getter: the descriptor's column identifier with the instance arcs, and the
// value, by the descriptor's type: a pointer to a 32-bit number for INTEGER, Counter32 and Gauge32;
// an OctetString * or UInt64 * that the var-bind takes over. Null when memory is short (an
// octet string or counter given is freed).
VarBind *MakeVarBind(const ObjectInfo *object, const OID *instance, const void *value);
// A trap's var-bind: the object's identifier, the instance arcs (null or empty for none), and
// the value (INTEGER: a pointer to a 32-bit number; OCTET STRING: an OctetString * taken over).
VarBind *MakeVarBindWithValue(const OID *object, const OID *instance, uint8_t type, const void *value);
// A var-bind with a NULL value.
VarBind *MakeVarBindWithNull(const OID *object, const OID *instance);
// Frees a var-bind and every one after it (null is ignored).
void FreeVarBindList(VarBind *list);

OctetString *MakeOctetString(const uint8_t *bytes, int32_t length);
OctetString *MakeOctetStringFromText(const char *text);
OctetString *CloneOctetString(const OctetString *os);
void FreeOctetString(OctetString *os);
UInt64 *CloneUInt64(const UInt64 *value);
void FreeUInt64(UInt64 *value);

// The instance 0 of a scalar.
extern OID snmp_zeroOID;

// The test function of every read-only column: SNMP_NOT_WRITABLE_ERROR.
int readOnly_test(OID *incoming, ObjectInfo *object, ObjectSyntax *value, doList_t *doHead, doList_t *doCur,
                  ContextInfo *contextInfo);

// Registers a trap-enable item: the agent calls the callback with the item's value now (its
// default while it is not configured) and on every change. 0 on success.
int snmp_register_enable_traps_callback2(snmp_mib_handle_ct *mib, const char *item, uint32_t type, uint32_t size,
                                         const void *default_value, snmp_enable_traps_fn callback);
// Removes a trap-enable registration of the plug-in (0 on success).
int snmp_unregister_enable_traps_callback(snmp_mib_handle_ct *mib, const char *item);

// The dotted text of an identifier into buffer (at least SNMP_DOT_OID_MAX bytes). 0 on success.
int MakeDotFromOID(const OID *oid, char *buffer);

// Sends a notification: generic SNMP_ENTERPRISE_TRAP, the specific number, the var-binds (taken
// over), the enterprise (the module root) and the notification's dotted identifier. 0 on success.
int snmp_trap(int generic, int specific, VarBind *bindings, const OID *enterprise, const char *trap_oid);

// Waits on a mutex the agent may also be waiting on, named for diagnostics.
void ptd_set_mutex_block(void *mutex, const char *tag, int line);
void ptd_unset_mutex_block(void *mutex);

// The interface-MIB index of an interface name (0 for an empty name).
int32_t ifmib_name_to_index(const char *name);
