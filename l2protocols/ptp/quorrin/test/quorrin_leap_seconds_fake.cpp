// Recording fake of the leap-second database; its readers answer the test's values. Its last
// start-up call can make the process leave its event loop once it runs, so that a test sees
// start-up and teardown whole.
#include "quorrin_fakes.h"
#include "quorrin_leap_seconds.h"
#include "quorrin_main.h"

namespace {

event_async_ctx_type exit_event{};
bool exit_attached = false;
bool exit_when_running = false;
quorrin_fake_leap_seconds_type leap;
const bool registered = quorrin_fake_on_reset([] {
    exit_attached = false;
    exit_when_running = false;
    leap = quorrin_fake_leap_seconds_type{};
});

int exit_cb(const event_async_ctx_type *, int32_t, void *)
{
    quorrin_fake_record("exit");
    quorrin_main_exiting();
    return 0;
}

} // namespace

quorrin_fake_leap_seconds_type &quorrin_fake_leap_seconds()
{
    return leap;
}

void quorrin_fake_exit_when_running(bool exit)
{
    (void)registered;
    exit_when_running = exit;
}

void quorrin_fake_post_exit()
{
    if (exit_attached) {
        event_send_async(exit_event.coid, exit_event.code, 0);
    }
}

zerrno quorrin_leap_seconds_init(event_mgr_type *evm)
{
    exit_attached = event_async_attach_event(evm, 0, exit_cb, nullptr, &exit_event) >= 0;
    quorrin_fake_record("quorrin_leap_seconds_init");
    return quorrin_fake_result("quorrin_leap_seconds_init");
}

zerrno quorrin_leap_seconds_start_updates(void)
{
    quorrin_fake_record("quorrin_leap_seconds_start_updates");
    if (exit_when_running) {
        quorrin_fake_post_exit();
    }
    return quorrin_fake_result("quorrin_leap_seconds_start_updates");
}

void quorrin_leap_seconds_shutdown(void)
{
    quorrin_fake_record("quorrin_leap_seconds_shutdown");
}

void quorrin_leap_seconds_chkpt_gm_ndt(const chkpt_ndt_type *notice)
{
    quorrin_fake_record("quorrin_leap_seconds_chkpt_gm_ndt " + std::to_string(notice->table_id));
}

void quorrin_leap_seconds_gm_update(int16_t utc_offset, uint32_t offset_valid, uint8_t leap_seconds)
{
    quorrin_fake_record("leap gm_update " + std::to_string(utc_offset) + " " + std::to_string(offset_valid) + " " +
                        std::to_string(leap_seconds));
}

void quorrin_leap_seconds_gm_lost(void)
{
    quorrin_fake_record("leap gm_lost");
}

void quorrin_leap_seconds_timescale_update(uint8_t timescale)
{
    quorrin_fake_record("leap timescale " + std::to_string(timescale));
}

void quorrin_leap_seconds_platform_update(bool present, int16_t utc_offset, uint32_t offset_valid, uint8_t leap_seconds)
{
    quorrin_fake_record("leap platform_update " + std::to_string(present) + " " + std::to_string(utc_offset) + " " +
                        std::to_string(offset_valid) + " " + std::to_string(leap_seconds));
}

void quorrin_leap_seconds_cfg_offset_apply(int16_t offset, time_t start)
{
    quorrin_fake_record("quorrin_leap_seconds_cfg_offset_apply " + std::to_string(offset) + " " +
                        std::to_string(start));
}

void quorrin_leap_seconds_cfg_offset_delete(time_t start)
{
    quorrin_fake_record("quorrin_leap_seconds_cfg_offset_delete " + std::to_string(start));
}

void quorrin_leap_seconds_file_cfg_apply(const char *url, uint32_t days)
{
    quorrin_fake_record(std::string("quorrin_leap_seconds_file_cfg_apply ") + url + " " + std::to_string(days));
}

void quorrin_leap_seconds_file_cfg_delete(void)
{
    quorrin_fake_record("quorrin_leap_seconds_file_cfg_delete");
}

void quorrin_leap_seconds_profile_update(uint32_t profile)
{
    quorrin_fake_record("quorrin_leap_seconds_profile_update " + std::to_string(profile));
}

void quorrin_leap_seconds_chkpt_delete_all(void)
{
    quorrin_fake_record("quorrin_leap_seconds_chkpt_delete_all");
}

void quorrin_leap_seconds_process(uint32_t actions)
{
    quorrin_fake_record("quorrin_leap_seconds_process " + std::to_string(actions));
}

zerrno quorrin_leap_seconds_db_add_or_update(int16_t offset, time_t start)
{
    quorrin_fake_record("quorrin_leap_seconds_db_add_or_update " + std::to_string(offset) + " " +
                        std::to_string(start));
    return quorrin_fake_result("quorrin_leap_seconds_db_add_or_update");
}

void quorrin_leap_seconds_select_best(void)
{
    quorrin_fake_record("quorrin_leap_seconds_select_best");
}

void quorrin_leap_seconds_get_current(quorrin_leap_seconds_offset_info_type *info)
{
    *info = leap.current;
}

uint32_t quorrin_leap_seconds_db_count(void)
{
    return static_cast<uint32_t>(leap.entries.size());
}

const quorrin_leap_seconds_db_entry_type *quorrin_leap_seconds_db_first(void)
{
    quorrin_leap_seconds_db_entry_type *prev = nullptr;
    for (quorrin_leap_seconds_db_entry_type &entry : leap.entries) {
        entry.prev = prev;
        entry.next = nullptr;
        if (prev != nullptr) {
            prev->next = &entry;
        }
        prev = &entry;
    }
    return leap.entries.empty() ? nullptr : &leap.entries.front();
}

bool quorrin_leap_seconds_db_invalid(void)
{
    return leap.invalid;
}

void quorrin_leap_seconds_get_summary(quorrin_leap_seconds_summary_type *summary)
{
    *summary = leap.summary;
}
