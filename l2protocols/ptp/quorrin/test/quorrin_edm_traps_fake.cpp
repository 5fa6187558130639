// Recording fake of the operational data and traps.
#include "quorrin_edm_traps.h"
#include "quorrin_fakes.h"

zerrno quorrin_edm_init(event_mgr_type *)
{
    quorrin_fake_record("quorrin_edm_init");
    return quorrin_fake_result("quorrin_edm_init");
}

zerrno quorrin_edm_gl_init(event_mgr_type *)
{
    quorrin_fake_record("quorrin_edm_gl_init");
    return quorrin_fake_result("quorrin_edm_gl_init");
}

void quorrin_edm_shutdown(void)
{
    quorrin_fake_record("quorrin_edm_shutdown");
}

void quorrin_edm_trap_generate_clock_state(uint32_t state)
{
    quorrin_fake_record("quorrin_edm_trap_generate_clock_state " + std::to_string(state));
}

void quorrin_edm_trap_generate_threshold_breach(int64_t offset, uint16_t sub_ns)
{
    quorrin_fake_record("quorrin_edm_trap_generate_threshold_breach " + std::to_string(offset) + " " +
                        std::to_string(sub_ns));
}

void quorrin_edm_trap_generate_clock_class(ptp_clock_type clock)
{
    quorrin_fake_record("trap clock-class " + std::to_string(clock.clock_class));
}

void quorrin_edm_trap_generate_time_source(void)
{
    quorrin_fake_record("trap time-source");
}

void quorrin_edm_trap_generate_utc_offset(void)
{
    quorrin_fake_record("trap utc-offset");
}

void quorrin_edm_trap_generate_master_lost(const ptp_address_type *peer, bool present)
{
    quorrin_fake_record(std::string("trap master-") + (present ? "found" : "lost") + (peer != nullptr ? " peer" : ""));
}
