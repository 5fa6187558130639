// The platform's service directory: which process owns a named group-services end point. A
// process publishes its end point by binding it (dgs_bind in dgs.h); a lookup returns every end
// point of the name. The directory is kept by the platform daemon ($PTP_PLATFORM_SOCKET).
#pragma once

#include <cstdint>

#include "evm.h"
#include "zerrno.h"

inline constexpr uint32_t QSM_NAME_MAX = 255;
inline constexpr uint32_t QSM_PNAME_MAX = 63;
inline constexpr uint32_t QSM_ENDP_MAX = 64;
// The request of a lookup of an IPC end point by name.
inline constexpr uint32_t QSM_LOOKUP_IPC_SERVICE = 260;
inline constexpr uint32_t QSM_KIND_IPC_ENDPOINT = 0x40000004;

struct qsm_lookup_request_type {
    uint32_t type; // QSM_LOOKUP_IPC_SERVICE
    char name[QSM_NAME_MAX + 1];
    uint32_t kind; // QSM_KIND_IPC_ENDPOINT
};

// Where the directory's answer lands; the entries come back in the list.
struct qsm_reply_type {
    uint32_t count;
};

// One end point of the name: its owner and its address (endp_size bytes of endp).
struct qsm_service_info_type {
    uint32_t jid;
    int32_t pid;
    char pname[QSM_PNAME_MAX + 1];
    char service[QSM_NAME_MAX + 1];
    uint32_t endp_size;
    uint8_t endp[QSM_ENDP_MAX];
};

using qsm_event_fn = void (*)(void *context);

// Connects this process to the directory; callback is kept for directory events (none are sent
// by this directory). Again after a first success: 0.
zerrno qsm_init(event_mgr_type *evm, qsm_event_fn callback, void *context);
// Looks the request's name up. On success *status is 0, *count the number of end points of that
// name and *list (when count > 0) an allocated array of that many entries, freed with
// qsm_free_service_info; lists must be 1 (one list). A failed call or status leaves *list null.
zerrno qsm_lookup_ipc_service(const qsm_lookup_request_type *request, qsm_reply_type *reply, zerrno *status,
                              uint32_t lists, qsm_service_info_type ***list, uint32_t *count);
zerrno qsm_free_service_info(qsm_service_info_type **list, uint32_t lists);
