// dgs_endpoint_show: a show request to a named end point, found through the service directory.
#include "dgs_endpoint_show.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dgs.h"
#include "evm.h"
#include "plat_getopt.h"
#include "qsm.h"

namespace {

void on_directory_event(void *) {}
void on_message(dgs_bind_type *, uint32_t, uint32_t, const uint8_t *, uint32_t, void *) {}

// The address of the one end point of the name, or empty (after saying why when the name is
// not unique).
std::vector<uint8_t> lookup_endpoint(const char *lookup_name)
{
    qsm_lookup_request_type request{};
    request.type = QSM_LOOKUP_IPC_SERVICE;
    std::snprintf(request.name, sizeof request.name, "%s", lookup_name);
    request.kind = QSM_KIND_IPC_ENDPOINT;
    qsm_reply_type reply{};
    zerrno status = 0;
    qsm_service_info_type **list = nullptr;
    uint32_t count = 0;
    std::vector<uint8_t> endp;
    const zerrno rc = qsm_lookup_ipc_service(&request, &reply, &status, 1, &list, &count);
    if (rc == 0 && status == 0 && count > 0 && list != nullptr && list[0] != nullptr) {
        if (count > 1) {
            std::fprintf(stderr, "qsm_lookup failed for '%s' due to cnt %u\n", lookup_name, count);
            for (uint32_t i = 0; i < count && list[i] != nullptr; ++i)
                std::fprintf(stderr, " dest_info_p[%d]: jid '%u', pid '%d', pname '%s', service '%s'\n",
                             static_cast<int>(i), list[i]->jid, list[i]->pid, list[i]->pname, list[i]->service);
        } else {
            const uint32_t size = list[0]->endp_size < QSM_ENDP_MAX ? list[0]->endp_size : QSM_ENDP_MAX;
            endp.assign(list[0]->endp, list[0]->endp + size);
        }
    }
    if (list != nullptr) {
        if (const zerrno freed = qsm_free_service_info(list, 1); freed != 0)
            std::fprintf(stderr, "qsm_free_service_info failed rc = %u\n", freed);
    }
    return endp;
}

} // namespace

int dgs_endpoint_show_main(int argc, char **argv)
{
    event_mgr_type *evm = event_manager_create(nullptr, nullptr, 10);
    const char *name = nullptr;
    const char *suffix = nullptr;
    uint32_t bits = 0;
    opterr = 0;
    optind = 1;
    int c;
    while ((c = _getopt(argc, argv, "se:daE:")) != -1) {
        switch (c) {
        case 'e': name = optarg; break;
        case 'E': suffix = optarg; break;
        case 'd': bits |= 1; break;
        case 's': bits |= 2; break;
        case 'a': bits |= 4; break;
        default: break; // not ours: ignored
        }
    }
    int status = 1;
    dgs_bind_type *bind = nullptr;
    dgs_handle_type *handle = nullptr;
    std::vector<uint8_t> endp;
    char lookup_name[255];
    if ((bits & 3) == 0 || name == nullptr) {
        std::fprintf(stderr, "Missing Input\n");
        goto done;
    }
    if (suffix != nullptr)
        std::snprintf(lookup_name, sizeof lookup_name, "%s%s", name, suffix);
    else
        std::snprintf(lookup_name, sizeof lookup_name, "%s", name);
    qsm_init(evm, on_directory_event, nullptr);
    endp = lookup_endpoint(lookup_name);
    if (endp.empty()) {
        std::fprintf(stderr, "Can't lookup end point\n");
        goto done;
    }
    if (dgs_bind(evm, on_message, name, DGS_BIND_CLIENT, 0, nullptr, &bind) != 0) {
        std::fprintf(stderr, "Can't initialize DGS\n");
        goto done;
    }
    if (dgs_endp_to_hdl(bind, endp.data(), static_cast<uint32_t>(endp.size()), &handle) != 0) {
        std::fprintf(stderr, "Invalid end point\n");
        goto done;
    }
    {
        const dgs_buffer_type who = {argv[0], static_cast<uint32_t>(std::strlen(argv[0]))};
        if (const zerrno rc = dgs_send_mtype(handle, &who, 1, DGS_MTYPE_SHOW, bits | DGS_SHOW_REQUEST); rc != 0) {
            std::fprintf(stderr, "Failed dgs_show command %d\n", static_cast<int>(rc));
            goto done;
        }
    }
    status = 0;
done:
    dgs_unbind(bind);
    event_manager_destroy(evm);
    return status;
}
