// A checkpoint client in its own process, for tests: its node, name and the daemon come from its
// environment ($PTP_NODE, $PTP_PROC_NAME, $PTP_PLATFORM_SOCKET). Application "ptp", table 0.
//   chkpt_client write N     primary: N records "record I", then "done"; runs until killed
//   chkpt_client read        "count C last L" for the records in id order, then ends
//   chkpt_client standby     active: prints "idt E" and "ndt TYPE TABLE BYTES" for each notice
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "chkpt.h"
#include "evm.h"

namespace {

int on_idt(uint32_t event)
{
    printf("idt %d\n", static_cast<int32_t>(event));
    fflush(stdout);
    return 0;
}

int on_ndt(const chkpt_ndt_type *n)
{
    printf("ndt %u %u %.*s\n", n->type, n->table_id, static_cast<int>(n->length),
           reinterpret_cast<const char *>(n->data));
    fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    const std::string mode = argv[1];
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    chkpt_appdesc_type d;
    chkpt_appdesc_init(&d);
    strcpy(d.name, "ptp");
    d.flags = 1;
    d.idt_cb = on_idt;
    d.ndt_cb = on_ndt;
    if (chkpt_init(evm, &d) != 0)
        return 1;
    if ((mode == "write" ? chkpt_go_primary_active() : chkpt_go_active()) != 0)
        return 1;
    chkpt_tbldesc_type td;
    chkpt_tbldesc_init(&td);
    td.record_size = 64;
    chkpt_tbl_type *t = nullptr;
    if (chkpt_register(&td, &t) != 0)
        return 1;
    if (mode == "write" && argc > 2) {
        for (long i = 0; i < strtol(argv[2], nullptr, 10); ++i) {
            const std::string v = "record " + std::to_string(i);
            chkpt_objid id = 0;
            if (chkpt_create(t, 0, &id) != 0 || chkpt_save(t, id, v.data(), v.size()) != 0)
                return 1;
        }
        printf("done\n");
        fflush(stdout);
    } else if (mode == "read") {
        chkpt_iter_type *it = nullptr;
        if (chkpt_iterate_start(t, &it) != 0)
            return 1;
        int count = 0;
        std::string last;
        for (;;) {
            char buf[64];
            uint16_t len = sizeof buf;
            chkpt_objid id = 0;
            if (chkpt_iterate_next(it, &id, buf, &len) != 0)
                return 1;
            if (id == 0)
                break;
            count++;
            last.assign(buf, len);
        }
        chkpt_iterate_end(it);
        printf("count %d last %s\n", count, last.c_str());
        return 0;
    }
    for (;;) {
        event_type *e = event_block(evm);
        if (e != nullptr)
            zq_event_dispatch(e);
    }
}
