#include "tessel_chkpt_startup.h"

#include <cstring>
#include <mutex>

#include "chkpt.h"
#include "ptp_syslog.h"
#include "tessel_assert.h"
#include "tessel_thread_ctrl.h"

namespace {

std::mutex received_mutex;
std::vector<uint32_t> received_idt;
std::vector<uint32_t> received_ndt_types;

// The service calls these on the IPC thread; the work belongs to the protocol thread.
int idt_cb(uint32_t event)
{
    tessel_thread_ctrl_send_idt(event);
    return 0;
}

int ndt_cb(const chkpt_ndt_type *notice)
{
    tessel_thread_ctrl_send_ndt(notice);
    return 0;
}

} // namespace

zerrno tessel_chkpt_init(event_mgr_type *evm)
{
    chkpt_appdesc_type desc;
    chkpt_appdesc_init(&desc);
    strncpy(desc.name, TESSEL_CHKPT_APP_NAME, sizeof desc.name - 1);
    desc.idt_cb = idt_cb;
    desc.ndt_cb = ndt_cb;
    const zerrno rc = chkpt_init(evm, &desc);
    if (rc != 0) {
        ptp_syslog_init_failed("Failed to initialize checkpoint: ", zerr_strerror(rc));
    }
    return rc;
}

void tessel_chkpt_go_active(void)
{
    const zerrno rc = chkpt_go_active();
    if (rc != 0) {
        tessel_internal_error(zerr_strerror(rc), __FILE__, __LINE__);
    }
}

void tessel_chkpt_go_primary_active(void)
{
    const zerrno rc = chkpt_go_primary_active();
    if (rc != 0) {
        tessel_internal_error(zerr_strerror(rc), __FILE__, __LINE__);
    }
}

void tessel_chkpt_idt_received(uint32_t notice)
{
    std::lock_guard<std::mutex> g(received_mutex);
    received_idt.push_back(notice);
}

void tessel_chkpt_ndt_received(const void *notice)
{
    chkpt_ndt_type ndt;
    memcpy(&ndt, notice, sizeof ndt);
    std::lock_guard<std::mutex> g(received_mutex);
    received_ndt_types.push_back(ndt.type);
}

std::vector<uint32_t> tessel_chkpt_received_idt(void)
{
    std::lock_guard<std::mutex> g(received_mutex);
    return received_idt;
}

std::vector<uint32_t> tessel_chkpt_received_ndt_types(void)
{
    std::lock_guard<std::mutex> g(received_mutex);
    return received_ndt_types;
}
