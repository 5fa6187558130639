// Checkpoint service: durable records of an application, kept across restarts of the process and
// handed to the application's standby instances.
//
// An application (named in its descriptor, and owned by the process that registers it) has
// tables of records. Object ids are unique within the application and never 0. Records are
// written only by the instance that is primary-active; another instance that went active (a
// standby) receives the initial data transfer (IDT) of every table when it goes active and a
// change notice (NDT) for every later create, save and delete. Notices run on the event manager
// given to chkpt_init.
#pragma once

#include <cstddef>
#include <cstdint>

#include "evm.h"
#include "zerrno.h"

using chkpt_objid = uint64_t;

inline constexpr uint32_t CHKPT_ZERR_FACILITY = 0x7f06;
inline constexpr zerrno CHKPT_ERR_INVALID = zerr_make(CHKPT_ZERR_FACILITY, 1, 22 /*EINVAL*/);
inline constexpr zerrno CHKPT_ERR_NO_MEMORY = zerr_make(CHKPT_ZERR_FACILITY, 2, 12 /*ENOMEM*/);
inline constexpr zerrno CHKPT_ERR_NOT_FOUND = zerr_make(CHKPT_ZERR_FACILITY, 3, 2 /*ENOENT*/);
inline constexpr zerrno CHKPT_ERR_NOT_PRIMARY = zerr_make(CHKPT_ZERR_FACILITY, 4, 1 /*EPERM*/);
inline constexpr zerrno CHKPT_ERR_FULL = zerr_make(CHKPT_ZERR_FACILITY, 5, 28 /*ENOSPC*/);
inline constexpr zerrno CHKPT_ERR_TOO_BIG = zerr_make(CHKPT_ZERR_FACILITY, 6, 90 /*EMSGSIZE*/);
inline constexpr zerrno CHKPT_ERR_STORAGE = zerr_make(CHKPT_ZERR_FACILITY, 7, 5 /*EIO*/);
inline constexpr zerrno CHKPT_ERR_NOT_INIT = zerr_make(CHKPT_ZERR_FACILITY, 8, 22 /*EINVAL*/);
inline constexpr zerrno CHKPT_ERR_EXISTS = zerr_make(CHKPT_ZERR_FACILITY, 9, 17 /*EEXIST*/);

// IDT notice of the end of a table's transfer; other values are table ids.
inline constexpr uint32_t CHKPT_IDT_END = 0xFFFFFFFFu;
// NDT types.
inline constexpr uint32_t CHKPT_NDT_SAVE = 5;   // a record created (length 0) or written
inline constexpr uint32_t CHKPT_NDT_DELETE = 6; // a record deleted

// A change notice, 64 bytes. data and length are the record's bytes (none for a delete), valid
// until the callback returns.
struct chkpt_ndt_type {
    uint32_t type;
    uint32_t table_id;
    chkpt_objid objid;
    const uint8_t *data;
    uint32_t length;
    uint32_t reserved0;
    uint8_t reserved[32];
};
static_assert(sizeof(chkpt_ndt_type) == 64);

using chkpt_idt_fn = int (*)(uint32_t event);
using chkpt_ndt_fn = int (*)(const chkpt_ndt_type *notice);

// The application descriptor. flags carries 1 when checkpointing is in use; word1 and word2 are
// recorded only.
struct chkpt_appdesc_type {
    char name[24];
    uint32_t flags;
    uint32_t word1;
    uint32_t word2;
    chkpt_idt_fn idt_cb;
    chkpt_ndt_fn ndt_cb;
};

// A table descriptor. reserved0, flags, role and no_checkpoint are recorded only.
struct chkpt_tbldesc_type {
    uint32_t table_id;
    uint32_t reserved0;
    uint32_t record_size; // largest record, bytes
    uint32_t flags;
    uint32_t max_records;
    uint32_t role;
    uint32_t no_checkpoint;
};

struct chkpt_tbl_type;  // a registered table
struct chkpt_iter_type; // an iteration over a table

// Zero-fill a descriptor.
void chkpt_appdesc_init(chkpt_appdesc_type *desc);
void chkpt_tbldesc_init(chkpt_tbldesc_type *desc);

// Describe the process's application and attach its notices to the event manager. A second
// init while initialised is CHKPT_ERR_EXISTS.
zerrno chkpt_init(event_mgr_type *evm, const chkpt_appdesc_type *desc);
// This instance is active: a standby, to which the transfer of every table is started now.
zerrno chkpt_go_active(void);
// This instance is the primary and writes.
zerrno chkpt_go_primary_active(void);

// Register a table (CHKPT_ERR_EXISTS when this instance has it already) and give its handle.
zerrno chkpt_register(const chkpt_tbldesc_type *desc, chkpt_tbl_type **out);
// Forget a table's handle; its records stay.
zerrno chkpt_unregister(chkpt_tbl_type *table);

// Writes: only when primary-active (else CHKPT_ERR_NOT_PRIMARY).
// A new empty record with a new object id; key is kept with it (chkpt_get_bykey).
zerrno chkpt_create(chkpt_tbl_type *table, uint32_t key, chkpt_objid *out);
// Replace a record's bytes (at most the table's record size).
zerrno chkpt_save(chkpt_tbl_type *table, chkpt_objid objid, const void *data, size_t length);
zerrno chkpt_delete(chkpt_tbl_type *table, chkpt_objid objid);

// Reads. *length is in: the buffer's size, out: the record's length. A record longer than the
// buffer is CHKPT_ERR_TOO_BIG with its length in *length and nothing copied.
zerrno chkpt_get(chkpt_tbl_type *table, chkpt_objid objid, void *buffer, uint32_t *length);
// The first record created with the key.
zerrno chkpt_get_bykey(chkpt_tbl_type *table, uint32_t key, chkpt_objid *objid, void *buffer, uint32_t *length);

// Iteration in object-id order. Each next gives the record after the one given last, so deleting
// the current record (or any other) while iterating is safe. At the end *objid is 0. A record
// longer than the buffer is CHKPT_ERR_TOO_BIG (the iteration moves past it).
zerrno chkpt_iterate_start(chkpt_tbl_type *table, chkpt_iter_type **out);
zerrno chkpt_iterate_next(chkpt_iter_type *iter, chkpt_objid *objid, void *buffer, uint16_t *length);
void chkpt_iterate_end(chkpt_iter_type *iter);

// How many times the transfer of the table ended at this instance.
zerrno chkpt_get_stby_idt_count(uint32_t table_id, int32_t *count);

// The store file: $PTP_CHKPT_DB when set and not empty, else chkpt.db in the platform's run
// folder ($PTP_RUN_DIR, else /run/ptp, the folder of the daemon's socket).
const char *chkpt_store_path(void);
