// Test control of the checkpoint service.
#pragma once

#include <cstddef>
#include <cstdint>

#include "chkpt.h"

enum class chkpt_test_op : uint32_t {
    INIT,
    GO_ACTIVE,
    GO_PRIMARY_ACTIVE,
    REGISTER,
    CREATE,
    SAVE,
    DELETE,
    GET,
    ITERATE_START,
    ITERATE_NEXT,
    COUNT
};

// Close the store and drop every instance; the next use opens the store at path (":memory:" for
// a store that lives as long as the process; null for chkpt_store_path()).
void chkpt_test_reset(const char *path);
// The next count calls of op fail with code (0 count: none).
void chkpt_test_fail(chkpt_test_op op, zerrno code, uint32_t count);

// Several instances of one application in one process (a primary and its standby): an instance
// has its own descriptor, tables and role. The calls of chkpt.h act on the calling thread's
// current instance; each thread starts with the process's own.
struct chkpt_instance_type;
chkpt_instance_type *chkpt_test_instance_new(const char *owner);
void chkpt_test_instance_use(chkpt_instance_type *instance); // null: back to the process's own
void chkpt_test_instance_free(chkpt_instance_type *instance);

// Records of a table of the current instance's application, whatever the instance's role.
size_t chkpt_test_record_count(uint32_t table_id);
