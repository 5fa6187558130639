// The PTP MIB plug-ins of the SNMP agent: what each exports to the agent, the column table both
// are built from, and what the frame and the notifications share. Built twice from the same
// sources: as zelvoPtpmib (module zelvoPtpMIB) and, with ZELVO_PTP_MIB_V2, as zelvoPtpmibv2
// (module zelvoPtpMIBv2, exported names of zelvoPtpmibv2_names.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "nodra.h"
#include "snmp_toolkit.h"

#ifdef ZELVO_PTP_MIB_V2
#include "zelvoPtpmibv2_names.h"
#endif

#define ZPTP_EXPORT extern "C" __attribute__((visibility("default")))

#ifdef ZELVO_PTP_MIB_V2
inline constexpr uint32_t ZPTP_MIB_ROOT_ARC = 1052;
#define ZPTP_TEXT(t) "zPtpv2" t
#define ZPTP_MODULE_NAME "zelvoPtpmibv2"
#else
inline constexpr uint32_t ZPTP_MIB_ROOT_ARC = 760;
#define ZPTP_TEXT(t) "zPtp" t
#define ZPTP_MODULE_NAME "zelvoPtpmib"
#endif
#define ZPTP_MIB_ROOT_ARCS 1, 3, 6, 1, 4, 1, 47071, 9, ZPTP_MIB_ROOT_ARC
inline constexpr int32_t ZPTP_MIB_ROOT_LENGTH = 9;

// One column value of a cached row: a number, or an octet string or counter the row owns.
struct zelvoPtpmib_column_value {
    uint32_t number;
    OctetString *os;
    UInt64 *counter;
};

inline constexpr uint32_t ZPTP_COLUMN_MAX = 16; // nominators 0 to 15

// A cached row: its index values, its columns by nominator, and the valid bit of each (bit n for
// nominator n). Associate rows also say whether the peer is a unicast peer.
struct zelvoPtpmib_row_type {
    uint32_t domain;
    uint32_t clock_type;
    uint32_t instance;
    uint32_t port_number;
    uint32_t peer_index;
    zelvoPtpmib_column_value columns[ZPTP_COLUMN_MAX];
    uint32_t valid;
    bool unicast_peer;
};

// ---- exported to the agent ----

ZPTP_EXPORT void init_zelvoPtpmib(snmp_mib_handle_ct *mib, int flag);
ZPTP_EXPORT const snmp_oid_name_ct zelvoPtpmib_oid_table[];
ZPTP_EXPORT ObjectInfo zelvoPtpmib_OidList[];
ZPTP_EXPORT const uint32_t zelvoPtpmib_OidListNum;
ZPTP_EXPORT snmp_mib_debug_ct zelvoPtpmib_debug_flags;
ZPTP_EXPORT const uint32_t zelvoPtpmib_capabilities;
ZPTP_EXPORT const char *const zelvoPtpmib_trapstrings[];

#define ZPTP_GETTER(name) ZPTP_EXPORT VarBind *name(OID *, ObjectInfo *, int, ContextInfo *, int);
ZPTP_GETTER(zPtpSystemEntry_get)
ZPTP_GETTER(zPtpSystemDomainEntry_get)
ZPTP_GETTER(zPtpClockNodeEntry_get)
ZPTP_GETTER(zPtpClockCurrentDSEntry_get)
ZPTP_GETTER(zPtpClockParentDSEntry_get)
ZPTP_GETTER(zPtpClockDefaultDSEntry_get)
ZPTP_GETTER(zPtpClockRunningEntry_get)
ZPTP_GETTER(zPtpClockTimePropertiesDSEntry_get)
ZPTP_GETTER(zPtpClockTransDefaultDSEntry_get)
ZPTP_GETTER(zPtpClockPortEntry_get)
ZPTP_GETTER(zPtpClockPortDSEntry_get)
ZPTP_GETTER(zPtpClockPortRunningEntry_get)
ZPTP_GETTER(zPtpClockPortTransDSEntry_get)
ZPTP_GETTER(zPtpClockPortAssociateEntry_get)
ZPTP_GETTER(zelvoPtpMIBSystemInfo_get)
ZPTP_GETTER(zelvoPtpMIBNotificationControl_get)
#undef ZPTP_GETTER

// Row functions: (serial number, context, nominator, search type, the table's index values).
#define ZPTP_ROW_ARGS int serialNum, ContextInfo *contextInfo, int nominator, int searchType
ZPTP_EXPORT zelvoPtpmib_row_type *k_zPtpSystemEntry_get(ZPTP_ROW_ARGS, uint32_t domain, uint32_t instance);
ZPTP_EXPORT zelvoPtpmib_row_type *k_zPtpSystemDomainEntry_get(ZPTP_ROW_ARGS, int32_t clock_type);
ZPTP_EXPORT zelvoPtpmib_row_type *k_zPtpClockNodeEntry_get(ZPTP_ROW_ARGS, uint32_t domain, int32_t clock_type,
                                                           uint32_t instance);
ZPTP_EXPORT zelvoPtpmib_row_type *k_zPtpClockCurrentDSEntry_get(ZPTP_ROW_ARGS, uint32_t domain, int32_t clock_type,
                                                                uint32_t instance);
ZPTP_EXPORT zelvoPtpmib_row_type *k_zPtpClockParentDSEntry_get(ZPTP_ROW_ARGS, uint32_t domain, int32_t clock_type,
                                                               uint32_t instance);
ZPTP_EXPORT zelvoPtpmib_row_type *k_zPtpClockDefaultDSEntry_get(ZPTP_ROW_ARGS, uint32_t domain, int32_t clock_type,
                                                                uint32_t instance);
ZPTP_EXPORT zelvoPtpmib_row_type *k_zPtpClockRunningEntry_get(ZPTP_ROW_ARGS, uint32_t domain, int32_t clock_type,
                                                              uint32_t instance);
ZPTP_EXPORT zelvoPtpmib_row_type *k_zPtpClockTimePropertiesDSEntry_get(ZPTP_ROW_ARGS, uint32_t domain,
                                                                       int32_t clock_type, uint32_t instance);
ZPTP_EXPORT zelvoPtpmib_row_type *k_zPtpClockTransDefaultDSEntry_get(ZPTP_ROW_ARGS, uint32_t domain, uint32_t instance);
ZPTP_EXPORT zelvoPtpmib_row_type *k_zPtpClockPortEntry_get(ZPTP_ROW_ARGS, uint32_t domain, int32_t clock_type,
                                                           uint32_t instance, uint32_t port_number);
ZPTP_EXPORT zelvoPtpmib_row_type *k_zPtpClockPortDSEntry_get(ZPTP_ROW_ARGS, uint32_t domain, int32_t clock_type,
                                                             uint32_t instance, uint32_t port_number);
ZPTP_EXPORT zelvoPtpmib_row_type *k_zPtpClockPortRunningEntry_get(ZPTP_ROW_ARGS, uint32_t domain, int32_t clock_type,
                                                                  uint32_t instance, uint32_t port_number);
ZPTP_EXPORT zelvoPtpmib_row_type *k_zPtpClockPortTransDSEntry_get(ZPTP_ROW_ARGS, uint32_t domain, uint32_t instance,
                                                                  uint32_t port_number);
ZPTP_EXPORT zelvoPtpmib_row_type *k_zPtpClockPortAssociateEntry_get(ZPTP_ROW_ARGS, uint32_t domain, int32_t clock_type,
                                                                    uint32_t instance, uint32_t port_number,
                                                                    uint32_t peer_index);
ZPTP_EXPORT zelvoPtpmib_row_type *k_zelvoPtpMIBSystemInfo_get(ZPTP_ROW_ARGS);
#undef ZPTP_ROW_ARGS

ZPTP_EXPORT int zelvoPtpMIBNotificationControl_test(OID *incoming, ObjectInfo *object, ObjectSyntax *value,
                                                    doList_t *doHead, doList_t *doCur, ContextInfo *contextInfo);
ZPTP_EXPORT int zelvoPtpMIBNotificationControl_set(doList_t *doHead, doList_t *doCur, ContextInfo *contextInfo);
ZPTP_EXPORT void zelvoPtpMIBNotificationControl_free(void *scratch);
ZPTP_EXPORT void *k_zelvoPtpMIBNotificationControl_get(int serialNum, ContextInfo *contextInfo, int nominator);
ZPTP_EXPORT int k_zelvoPtpMIBNotificationControl_test(ObjectInfo *object, ObjectSyntax *value, doList_t *dp,
                                                      ContextInfo *contextInfo);
ZPTP_EXPORT int k_zelvoPtpMIBNotificationControl_ready(ObjectInfo *object, ObjectSyntax *value, doList_t *doHead,
                                                       doList_t *dp);
ZPTP_EXPORT int k_zelvoPtpMIBNotificationControl_set(void *scratch, ContextInfo *contextInfo, int state);

// ---- the column table ----
//
// X(object, getter, type, access, nominator, arcs below the root...): the 91 accessible objects
// in table order; every identifier below derives from it.
#define ZPTP_INT SNMP_INTEGER_TYPE
#define ZPTP_OCT SNMP_OCTET_PRIM_TYPE
#define ZPTP_C32 SNMP_COUNTER_TYPE
#define ZPTP_GAU SNMP_GAUGE_TYPE
#define ZPTP_C64 SNMP_COUNTER_64_TYPE
#define ZPTP_RO SNMP_READ_ONLY
#define ZPTP_RW SNMP_READ_WRITE
// clang-format off
#define ZPTP_COLUMNS(X) \
    X(zPtpDomainClockPortsTotal, zPtpSystemEntry_get, ZPTP_GAU, ZPTP_RO, 2, 1, 1, 1, 1, 3) \
    X(zPtpDomainClockPortPhysicalInterfacesTotal, zPtpSystemEntry_get, ZPTP_GAU, ZPTP_RO, 3, 1, 1, 1, 1, 4) \
    X(zPtpSystemDomainTotals, zPtpSystemDomainEntry_get, ZPTP_GAU, ZPTP_RO, 1, 1, 1, 2, 1, 2) \
    X(zPtpClockInput1ppsEnabled, zPtpClockNodeEntry_get, ZPTP_INT, ZPTP_RO, 3, 1, 1, 3, 1, 4) \
    X(zPtpClockInputFrequencyEnabled, zPtpClockNodeEntry_get, ZPTP_INT, ZPTP_RO, 4, 1, 1, 3, 1, 5) \
    X(zPtpClockTODEnabled, zPtpClockNodeEntry_get, ZPTP_INT, ZPTP_RO, 5, 1, 1, 3, 1, 6) \
    X(zPtpClockOutput1ppsEnabled, zPtpClockNodeEntry_get, ZPTP_INT, ZPTP_RO, 6, 1, 1, 3, 1, 7) \
    X(zPtpClockOutput1ppsOffsetEnabled, zPtpClockNodeEntry_get, ZPTP_INT, ZPTP_RO, 7, 1, 1, 3, 1, 8) \
    X(zPtpClockOutput1ppsOffsetValue, zPtpClockNodeEntry_get, ZPTP_GAU, ZPTP_RO, 8, 1, 1, 3, 1, 9) \
    X(zPtpClockOutput1ppsOffsetNegative, zPtpClockNodeEntry_get, ZPTP_INT, ZPTP_RO, 9, 1, 1, 3, 1, 10) \
    X(zPtpClockInput1ppsInterface, zPtpClockNodeEntry_get, ZPTP_OCT, ZPTP_RO, 10, 1, 1, 3, 1, 11) \
    X(zPtpClockOutput1ppsInterface, zPtpClockNodeEntry_get, ZPTP_OCT, ZPTP_RO, 11, 1, 1, 3, 1, 12) \
    X(zPtpClockTODInterface, zPtpClockNodeEntry_get, ZPTP_OCT, ZPTP_RO, 12, 1, 1, 3, 1, 13) \
    X(zPtpSystemProfile, zelvoPtpMIBSystemInfo_get, ZPTP_INT, ZPTP_RO, 0, 1, 1, 4) \
    X(zPtpClockCurrentDSStepsRemoved, zPtpClockCurrentDSEntry_get, ZPTP_C32, ZPTP_RO, 3, 1, 2, 1, 1, 4) \
    X(zPtpClockCurrentDSOffsetFromMaster, zPtpClockCurrentDSEntry_get, ZPTP_OCT, ZPTP_RO, 4, 1, 2, 1, 1, 5) \
    X(zPtpClockCurrentDSMeanPathDelay, zPtpClockCurrentDSEntry_get, ZPTP_OCT, ZPTP_RO, 5, 1, 2, 1, 1, 6) \
    X(zPtpClockCurrentDSOffsetSeverityLevel, zPtpClockCurrentDSEntry_get, ZPTP_INT, ZPTP_RO, 6, 1, 2, 1, 1, 7) \
    X(zPtpClockParentDSParentPortIdentity, zPtpClockParentDSEntry_get, ZPTP_OCT, ZPTP_RO, 3, 1, 2, 2, 1, 4) \
    X(zPtpClockParentDSParentStats, zPtpClockParentDSEntry_get, ZPTP_INT, ZPTP_RO, 4, 1, 2, 2, 1, 5) \
    X(zPtpClockParentDSOffset, zPtpClockParentDSEntry_get, ZPTP_INT, ZPTP_RO, 5, 1, 2, 2, 1, 6) \
    X(zPtpClockParentDSClockPhChRate, zPtpClockParentDSEntry_get, ZPTP_INT, ZPTP_RO, 6, 1, 2, 2, 1, 7) \
    X(zPtpClockParentDSGMClockIdentity, zPtpClockParentDSEntry_get, ZPTP_OCT, ZPTP_RO, 7, 1, 2, 2, 1, 8) \
    X(zPtpClockParentDSGMClockPriority1, zPtpClockParentDSEntry_get, ZPTP_INT, ZPTP_RO, 8, 1, 2, 2, 1, 9) \
    X(zPtpClockParentDSGMClockPriority2, zPtpClockParentDSEntry_get, ZPTP_INT, ZPTP_RO, 9, 1, 2, 2, 1, 10) \
    X(zPtpClockParentDSGMClockQualityClass, zPtpClockParentDSEntry_get, ZPTP_GAU, ZPTP_RO, 10, 1, 2, 2, 1, 11) \
    X(zPtpClockParentDSGMClockQualityAccuracy, zPtpClockParentDSEntry_get, ZPTP_INT, ZPTP_RO, 11, 1, 2, 2, 1, 12) \
    X(zPtpClockParentDSGMClockQualityOffset, zPtpClockParentDSEntry_get, ZPTP_GAU, ZPTP_RO, 12, 1, 2, 2, 1, 13) \
    X(zPtpClockDefaultDSTwoStepFlag, zPtpClockDefaultDSEntry_get, ZPTP_INT, ZPTP_RO, 3, 1, 2, 3, 1, 4) \
    X(zPtpClockDefaultDSClockIdentity, zPtpClockDefaultDSEntry_get, ZPTP_OCT, ZPTP_RO, 4, 1, 2, 3, 1, 5) \
    X(zPtpClockDefaultDSPriority1, zPtpClockDefaultDSEntry_get, ZPTP_INT, ZPTP_RO, 5, 1, 2, 3, 1, 6) \
    X(zPtpClockDefaultDSPriority2, zPtpClockDefaultDSEntry_get, ZPTP_INT, ZPTP_RO, 6, 1, 2, 3, 1, 7) \
    X(zPtpClockDefaultDSSlaveOnly, zPtpClockDefaultDSEntry_get, ZPTP_INT, ZPTP_RO, 7, 1, 2, 3, 1, 8) \
    X(zPtpClockDefaultDSQualityClass, zPtpClockDefaultDSEntry_get, ZPTP_GAU, ZPTP_RO, 8, 1, 2, 3, 1, 9) \
    X(zPtpClockDefaultDSQualityAccuracy, zPtpClockDefaultDSEntry_get, ZPTP_INT, ZPTP_RO, 9, 1, 2, 3, 1, 10) \
    X(zPtpClockDefaultDSQualityOffset, zPtpClockDefaultDSEntry_get, ZPTP_INT, ZPTP_RO, 10, 1, 2, 3, 1, 11) \
    X(zPtpClockRunningState, zPtpClockRunningEntry_get, ZPTP_INT, ZPTP_RO, 3, 1, 2, 4, 1, 4) \
    X(zPtpClockRunningPacketsSent, zPtpClockRunningEntry_get, ZPTP_C64, ZPTP_RO, 4, 1, 2, 4, 1, 5) \
    X(zPtpClockRunningPacketsReceived, zPtpClockRunningEntry_get, ZPTP_C64, ZPTP_RO, 5, 1, 2, 4, 1, 6) \
    X(zPtpClockRunningOldState, zPtpClockRunningEntry_get, ZPTP_INT, ZPTP_RO, 6, 1, 2, 4, 1, 7) \
    X(zPtpClockRunningNewState, zPtpClockRunningEntry_get, ZPTP_INT, ZPTP_RO, 7, 1, 2, 4, 1, 8) \
    X(zPtpClockTimePropertiesDSCurrentUTCOffsetValid, zPtpClockTimePropertiesDSEntry_get, ZPTP_INT, ZPTP_RO, 3, 1, 2, 5, 1, 4) \
    X(zPtpClockTimePropertiesDSCurrentUTCOffset, zPtpClockTimePropertiesDSEntry_get, ZPTP_INT, ZPTP_RO, 4, 1, 2, 5, 1, 5) \
    X(zPtpClockTimePropertiesDSLeap59, zPtpClockTimePropertiesDSEntry_get, ZPTP_INT, ZPTP_RO, 5, 1, 2, 5, 1, 6) \
    X(zPtpClockTimePropertiesDSLeap61, zPtpClockTimePropertiesDSEntry_get, ZPTP_INT, ZPTP_RO, 6, 1, 2, 5, 1, 7) \
    X(zPtpClockTimePropertiesDSTimeTraceable, zPtpClockTimePropertiesDSEntry_get, ZPTP_INT, ZPTP_RO, 7, 1, 2, 5, 1, 8) \
    X(zPtpClockTimePropertiesDSFreqTraceable, zPtpClockTimePropertiesDSEntry_get, ZPTP_INT, ZPTP_RO, 8, 1, 2, 5, 1, 9) \
    X(zPtpClockTimePropertiesDSPTPTimescale, zPtpClockTimePropertiesDSEntry_get, ZPTP_INT, ZPTP_RO, 9, 1, 2, 5, 1, 10) \
    X(zPtpClockTimePropertiesDSSource, zPtpClockTimePropertiesDSEntry_get, ZPTP_INT, ZPTP_RO, 10, 1, 2, 5, 1, 11) \
    X(zPtpClockTransDefaultDSClockIdentity, zPtpClockTransDefaultDSEntry_get, ZPTP_OCT, ZPTP_RO, 2, 1, 2, 6, 1, 3) \
    X(zPtpClockTransDefaultDSNumOfPorts, zPtpClockTransDefaultDSEntry_get, ZPTP_C32, ZPTP_RO, 3, 1, 2, 6, 1, 4) \
    X(zPtpClockTransDefaultDSDelay, zPtpClockTransDefaultDSEntry_get, ZPTP_INT, ZPTP_RO, 4, 1, 2, 6, 1, 5) \
    X(zPtpClockTransDefaultDSPrimaryDomain, zPtpClockTransDefaultDSEntry_get, ZPTP_INT, ZPTP_RO, 5, 1, 2, 6, 1, 6) \
    X(zPtpClockPortName, zPtpClockPortEntry_get, ZPTP_OCT, ZPTP_RO, 4, 1, 2, 7, 1, 5) \
    X(zPtpClockPortRole, zPtpClockPortEntry_get, ZPTP_INT, ZPTP_RO, 5, 1, 2, 7, 1, 6) \
    X(zPtpClockPortSyncOneStep, zPtpClockPortEntry_get, ZPTP_INT, ZPTP_RO, 6, 1, 2, 7, 1, 7) \
    X(zPtpClockPortCurrentPeerAddressType, zPtpClockPortEntry_get, ZPTP_INT, ZPTP_RO, 7, 1, 2, 7, 1, 8) \
    X(zPtpClockPortCurrentPeerAddress, zPtpClockPortEntry_get, ZPTP_OCT, ZPTP_RO, 8, 1, 2, 7, 1, 9) \
    X(zPtpClockPortNumOfAssociatedPorts, zPtpClockPortEntry_get, ZPTP_GAU, ZPTP_RO, 9, 1, 2, 7, 1, 10) \
    X(zPtpClockPortDSName, zPtpClockPortDSEntry_get, ZPTP_OCT, ZPTP_RO, 4, 1, 2, 8, 1, 5) \
    X(zPtpClockPortDSPortIdentity, zPtpClockPortDSEntry_get, ZPTP_OCT, ZPTP_RO, 5, 1, 2, 8, 1, 6) \
    X(zPtpClockPortDSAnnouncementInterval, zPtpClockPortDSEntry_get, ZPTP_INT, ZPTP_RO, 6, 1, 2, 8, 1, 7) \
    X(zPtpClockPortDSAnnounceRctTimeout, zPtpClockPortDSEntry_get, ZPTP_INT, ZPTP_RO, 7, 1, 2, 8, 1, 8) \
    X(zPtpClockPortDSSyncInterval, zPtpClockPortDSEntry_get, ZPTP_INT, ZPTP_RO, 8, 1, 2, 8, 1, 9) \
    X(zPtpClockPortDSMinDelayReqInterval, zPtpClockPortDSEntry_get, ZPTP_INT, ZPTP_RO, 9, 1, 2, 8, 1, 10) \
    X(zPtpClockPortDSPeerDelayReqInterval, zPtpClockPortDSEntry_get, ZPTP_INT, ZPTP_RO, 10, 1, 2, 8, 1, 11) \
    X(zPtpClockPortDSDelayMech, zPtpClockPortDSEntry_get, ZPTP_INT, ZPTP_RO, 11, 1, 2, 8, 1, 12) \
    X(zPtpClockPortDSPeerMeanPathDelay, zPtpClockPortDSEntry_get, ZPTP_OCT, ZPTP_RO, 12, 1, 2, 8, 1, 13) \
    X(zPtpClockPortDSGrantDuration, zPtpClockPortDSEntry_get, ZPTP_GAU, ZPTP_RO, 13, 1, 2, 8, 1, 14) \
    X(zPtpClockPortDSPTPVersion, zPtpClockPortDSEntry_get, ZPTP_INT, ZPTP_RO, 14, 1, 2, 8, 1, 15) \
    X(zPtpClockPortRunningName, zPtpClockPortRunningEntry_get, ZPTP_OCT, ZPTP_RO, 4, 1, 2, 9, 1, 5) \
    X(zPtpClockPortRunningState, zPtpClockPortRunningEntry_get, ZPTP_INT, ZPTP_RO, 5, 1, 2, 9, 1, 6) \
    X(zPtpClockPortRunningRole, zPtpClockPortRunningEntry_get, ZPTP_INT, ZPTP_RO, 6, 1, 2, 9, 1, 7) \
    X(zPtpClockPortRunningInterfaceIndex, zPtpClockPortRunningEntry_get, ZPTP_INT, ZPTP_RO, 7, 1, 2, 9, 1, 8) \
    X(zPtpClockPortRunningIPversion, zPtpClockPortRunningEntry_get, ZPTP_INT, ZPTP_RO, 8, 1, 2, 9, 1, 9) \
    X(zPtpClockPortRunningEncapsulationType, zPtpClockPortRunningEntry_get, ZPTP_INT, ZPTP_RO, 9, 1, 2, 9, 1, 10) \
    X(zPtpClockPortRunningTxMode, zPtpClockPortRunningEntry_get, ZPTP_INT, ZPTP_RO, 10, 1, 2, 9, 1, 11) \
    X(zPtpClockPortRunningRxMode, zPtpClockPortRunningEntry_get, ZPTP_INT, ZPTP_RO, 11, 1, 2, 9, 1, 12) \
    X(zPtpClockPortRunningPacketsReceived, zPtpClockPortRunningEntry_get, ZPTP_C64, ZPTP_RO, 12, 1, 2, 9, 1, 13) \
    X(zPtpClockPortRunningPacketsSent, zPtpClockPortRunningEntry_get, ZPTP_C64, ZPTP_RO, 13, 1, 2, 9, 1, 14) \
    X(zPtpClockPortTransDSPortIdentity, zPtpClockPortTransDSEntry_get, ZPTP_OCT, ZPTP_RO, 3, 1, 2, 10, 1, 4) \
    X(zPtpClockPortTransDSlogMinPdelayReqInt, zPtpClockPortTransDSEntry_get, ZPTP_INT, ZPTP_RO, 4, 1, 2, 10, 1, 5) \
    X(zPtpClockPortTransDSFaultyFlag, zPtpClockPortTransDSEntry_get, ZPTP_INT, ZPTP_RO, 5, 1, 2, 10, 1, 6) \
    X(zPtpClockPortTransDSPeerMeanPathDelay, zPtpClockPortTransDSEntry_get, ZPTP_OCT, ZPTP_RO, 6, 1, 2, 10, 1, 7) \
    X(zPtpClockPortAssociateAddressType, zPtpClockPortAssociateEntry_get, ZPTP_INT, ZPTP_RO, 5, 1, 2, 11, 1, 6) \
    X(zPtpClockPortAssociateAddress, zPtpClockPortAssociateEntry_get, ZPTP_OCT, ZPTP_RO, 6, 1, 2, 11, 1, 7) \
    X(zPtpClockPortAssociatePacketsSent, zPtpClockPortAssociateEntry_get, ZPTP_C64, ZPTP_RO, 7, 1, 2, 11, 1, 8) \
    X(zPtpClockPortAssociatePacketsReceived, zPtpClockPortAssociateEntry_get, ZPTP_C64, ZPTP_RO, 8, 1, 2, 11, 1, 9) \
    X(zPtpClockPortAssociateInErrors, zPtpClockPortAssociateEntry_get, ZPTP_C64, ZPTP_RO, 9, 1, 2, 11, 1, 10) \
    X(zPtpClockPortAssociateOutErrors, zPtpClockPortAssociateEntry_get, ZPTP_C64, ZPTP_RO, 10, 1, 2, 11, 1, 11) \
    X(zPtpMIBEnableStatusNotification, zelvoPtpMIBNotificationControl_get, ZPTP_INT, ZPTP_RW, 0, 1, 3, 1)
// clang-format on

// The identifiers of the columns (ID<object>), of the index object the notifications name, and
// of the 17 notifications (root.0.N).
#define ZPTP_DECLARE_ID(object, getter, type, access, nominator, ...)                                                  \
    extern uint32_t ID##object[ZPTP_MIB_ROOT_LENGTH + std::initializer_list<uint32_t>{__VA_ARGS__}.size()];
ZPTP_COLUMNS(ZPTP_DECLARE_ID)
#undef ZPTP_DECLARE_ID
extern uint32_t IDzPtpClockPortClockInstanceIndex[14];
extern uint32_t IDzelvoPtpMIB[ZPTP_MIB_ROOT_LENGTH];
inline constexpr uint32_t ZPTP_NOTIFICATION_COUNT = 17;
extern uint32_t IDzelvoPtpNotification[ZPTP_NOTIFICATION_COUNT + 1][11]; // [N], N from 1

// ---- shared by the frame and the notifications ----

// Counts the associate rows of unicast peers, from data read afresh.
using zelvoPtpmib_slave_count_fn = uint32_t (*)();
uint32_t zelvoPtpmib_slave_count();

// Registers the trap-enable items and the notification items (once), and removes them.
void ptp_mib_traps_init(snmp_mib_handle_ct *mib, event_mgr_type *evm, nodra_conn_td *conn,
                        zelvoPtpmib_slave_count_fn slave_count);
void ptp_mib_traps_shutdown(snmp_mib_handle_ct *mib);

// The columns (type, address bytes) of a bag address as this module encodes them: false when
// neither column is answered; *length 0 when only the type is.
struct ptp_bag_address;
bool zelvoPtpmib_address_columns(const ptp_bag_address *address, bool for_table, uint32_t *type, uint8_t *bytes,
                                 uint32_t *length);
// Clock identity text "0x%x:...:%x" of a 64-bit identity (at most 64 characters).
void zelvoPtpmib_clock_id_text(uint64_t id, char *text, size_t size);
// The MIB value of a bag time source.
uint32_t zelvoPtpmib_time_source(uint32_t source);

#define ZPTP_DEBUG(...)                                                                                                \
    do {                                                                                                               \
        if (zelvoPtpmib_debug_flags.enable != 0) {                                                                     \
            buginf(&zelvoPtpmib_debug_flags, 0, 0, __VA_ARGS__);                                                       \
        }                                                                                                              \
    } while (0)
