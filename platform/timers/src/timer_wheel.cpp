// A timer wheel is a binary min-heap of armed timers ordered by (deadline, arming sequence), over
// a slab of timer records addressed by (generation, index) handles so that a stale handle is
// refused instead of touching a reused record. The heap's earliest deadline is mirrored into one
// alarm of the attached event manager.

#include "timer_wheel.h"

#include "evm_alarm.h"
#include "plat_clock.h"

#include <mutex>
#include <new>
#include <vector>

namespace {

constexpr uint32_t NOT_IN_HEAP = UINT32_MAX;

struct tw_entry {
    tw_callback_fn callback = nullptr;
    void *context = nullptr;
    uint64_t deadline = 0;
    uint64_t seq = 0;
    uint32_t generation = 1;
    uint32_t heap_pos = NOT_IN_HEAP;
    bool allocated = false;
};

void register_zerr_table()
{
    static const zerr_info_type rows[] = {
        {1, "Invalid argument to the timer facility"},
        {2, "Timer facility out of memory"},
        {3, "No such timer"},
        {4, "Timer wheel already attached to an event manager"},
        {5, "Timer wheel not attached to an event manager"},
        {10, "Invalid argument to the managed timers"},
        {11, "Managed timer not running"},
        {12, "Managed timer tree or parent was not empty"},
    };
    static const zerr_data_type table{2, "timers", TIMERS_ZERR_FACILITY, 8, rows, 0, 0};
    zerr_register(&table);
}

} // namespace

void plat_timers_register_errors()
{
    static std::once_flag once;
    std::call_once(once, register_zerr_table);
}

struct tw_wheel_type {
    std::vector<tw_entry> entries;
    std::vector<uint32_t> free_list;
    std::vector<uint32_t> heap; // entry indices
    uint64_t seq = 0;
    uint32_t allocated = 0;
    tw_expired_fn expired = nullptr;
    void *context = nullptr;
    uint32_t slots = 0;
    uint32_t granularity = 0;
    evm_alarm_type *alarm = nullptr;
    uint64_t alarm_deadline = EVM_ALARM_NEVER;
    // The expiry pass in progress takes only the timers due at its start and armed before it, so
    // that a timer re-armed for 0 ms from its callback waits for the next turn of the event loop.
    bool in_pass = false;
    uint64_t pass_now = 0;
    uint64_t pass_seq = 0;

    bool before(uint32_t a, uint32_t b) const
    {
        const tw_entry &x = entries[a];
        const tw_entry &y = entries[b];
        return x.deadline != y.deadline ? x.deadline < y.deadline : x.seq < y.seq;
    }

    void place(uint32_t pos, uint32_t idx)
    {
        heap[pos] = idx;
        entries[idx].heap_pos = pos;
    }

    void sift_up(uint32_t pos)
    {
        const uint32_t idx = heap[pos];
        while (pos > 0) {
            const uint32_t parent = (pos - 1) / 2;
            if (!before(idx, heap[parent]))
                break;
            place(pos, heap[parent]);
            pos = parent;
        }
        place(pos, idx);
    }

    void sift_down(uint32_t pos)
    {
        const uint32_t idx = heap[pos];
        const uint32_t n = static_cast<uint32_t>(heap.size());
        for (;;) {
            uint32_t child = 2 * pos + 1;
            if (child >= n)
                break;
            if (child + 1 < n && before(heap[child + 1], heap[child]))
                ++child;
            if (!before(heap[child], idx))
                break;
            place(pos, heap[child]);
            pos = child;
        }
        place(pos, idx);
    }

    void heap_remove(uint32_t idx)
    {
        const uint32_t pos = entries[idx].heap_pos;
        if (pos == NOT_IN_HEAP)
            return;
        entries[idx].heap_pos = NOT_IN_HEAP;
        const uint32_t last = heap.back();
        heap.pop_back();
        if (last == idx)
            return;
        place(pos, last);
        if (pos > 0 && before(last, heap[(pos - 1) / 2]))
            sift_up(pos);
        else
            sift_down(pos);
    }

    void heap_insert(uint32_t idx)
    {
        heap.push_back(idx);
        sift_up(static_cast<uint32_t>(heap.size() - 1));
    }

    // Keep the manager's alarm on the earliest deadline.
    void sync_alarm()
    {
        if (alarm == nullptr)
            return;
        const uint64_t next = heap.empty() ? EVM_ALARM_NEVER : entries[heap[0]].deadline;
        if (next != alarm_deadline) {
            alarm_deadline = next;
            evm_alarm_set(alarm, next);
        }
    }

    bool due_in_pass() const
    {
        if (heap.empty())
            return false;
        const tw_entry &e = entries[heap[0]];
        return e.deadline != pass_now ? e.deadline < pass_now : e.seq <= pass_seq;
    }

    tw_entry *lookup(tw_handle_type handle, uint32_t *index)
    {
        const uint32_t idx = static_cast<uint32_t>(handle & 0xffffffffu);
        const uint32_t gen = static_cast<uint32_t>(handle >> 32);
        if (idx == 0 || idx > entries.size())
            return nullptr;
        tw_entry &e = entries[idx - 1];
        if (!e.allocated || e.generation != gen)
            return nullptr;
        *index = idx - 1;
        return &e;
    }
};

namespace {

void process_all(tw_wheel_type *wheel)
{
    bool more = true;
    while (more && tw_process_next_expired_timer(wheel, &more) == ZERR_OK) {
    }
}

void wheel_alarm_fired(evm_alarm_type *, void *context)
{
    auto *wheel = static_cast<tw_wheel_type *>(context);
    wheel->alarm_deadline = EVM_ALARM_NEVER; // a fired alarm is disarmed
    if (wheel->expired != nullptr)
        wheel->expired(wheel, wheel->context);
    else
        process_all(wheel);
    wheel->sync_alarm();
}

} // namespace

zerrno tw_create_wheel_2(uint32_t slots, uint32_t granularity, uint32_t, tw_wheel_type **wheel, void *, void *,
                         tw_expired_fn expired, void *context, uint32_t)
{
    plat_timers_register_errors();
    if (wheel == nullptr)
        return TW_ERR_INVALID;
    auto *w = new (std::nothrow) tw_wheel_type;
    if (w == nullptr)
        return TW_ERR_NO_MEMORY;
    w->slots = slots;
    w->granularity = granularity;
    w->expired = expired;
    w->context = context;
    *wheel = w;
    return ZERR_OK;
}

zerrno tw_evm_attach(tw_wheel_type *wheel, event_mgr_type *evm)
{
    if (wheel == nullptr || evm == nullptr)
        return TW_ERR_INVALID;
    if (wheel->alarm != nullptr)
        return TW_ERR_ATTACHED;
    wheel->alarm = evm_alarm_new(evm, wheel_alarm_fired, wheel);
    if (wheel->alarm == nullptr)
        return TW_ERR_INVALID;
    wheel->alarm_deadline = EVM_ALARM_NEVER;
    wheel->sync_alarm();
    return ZERR_OK;
}

zerrno tw_evm_detach(tw_wheel_type *wheel)
{
    if (wheel == nullptr)
        return TW_ERR_INVALID;
    if (wheel->alarm == nullptr)
        return TW_ERR_NOT_ATTACHED;
    evm_alarm_free(wheel->alarm);
    wheel->alarm = nullptr;
    wheel->alarm_deadline = EVM_ALARM_NEVER;
    return ZERR_OK;
}

zerrno tw_destroy_wheel(tw_wheel_type *wheel)
{
    if (wheel == nullptr)
        return TW_ERR_INVALID;
    evm_alarm_free(wheel->alarm);
    delete wheel;
    return ZERR_OK;
}

zerrno tw_alloc(tw_wheel_type *wheel, tw_callback_fn callback, tw_handle_type *timer, void *context)
{
    if (wheel == nullptr || callback == nullptr || timer == nullptr)
        return TW_ERR_INVALID;
    uint32_t idx;
    if (!wheel->free_list.empty()) {
        idx = wheel->free_list.back();
        wheel->free_list.pop_back();
    } else {
        if (wheel->entries.size() >= UINT32_MAX - 1)
            return TW_ERR_NO_MEMORY;
        wheel->entries.emplace_back();
        idx = static_cast<uint32_t>(wheel->entries.size() - 1);
    }
    tw_entry &e = wheel->entries[idx];
    e.callback = callback;
    e.context = context;
    e.allocated = true;
    e.heap_pos = NOT_IN_HEAP;
    ++wheel->allocated;
    *timer = static_cast<uint64_t>(e.generation) << 32 | (idx + 1);
    return ZERR_OK;
}

zerrno tw_update(tw_wheel_type *wheel, tw_handle_type timer, uint32_t period_ms, uint32_t)
{
    if (wheel == nullptr)
        return TW_ERR_INVALID;
    uint32_t idx;
    tw_entry *e = wheel->lookup(timer, &idx);
    if (e == nullptr)
        return TW_ERR_BAD_TIMER;
    wheel->heap_remove(idx);
    e->deadline = plat_clock_mono_ns() + static_cast<uint64_t>(period_ms) * 1000000ull;
    e->seq = ++wheel->seq;
    wheel->heap_insert(idx);
    wheel->sync_alarm();
    return ZERR_OK;
}

zerrno tw_stop_2(tw_wheel_type *wheel, tw_handle_type timer)
{
    if (wheel == nullptr)
        return TW_ERR_INVALID;
    uint32_t idx;
    if (wheel->lookup(timer, &idx) == nullptr)
        return TW_ERR_BAD_TIMER;
    wheel->heap_remove(idx);
    wheel->sync_alarm();
    return ZERR_OK;
}

zerrno tw_untimeout(tw_wheel_type *wheel, tw_handle_type timer)
{
    if (wheel == nullptr)
        return TW_ERR_INVALID;
    uint32_t idx;
    tw_entry *e = wheel->lookup(timer, &idx);
    if (e == nullptr)
        return TW_ERR_BAD_TIMER;
    wheel->heap_remove(idx);
    e->allocated = false;
    e->callback = nullptr;
    e->context = nullptr;
    // A new generation makes every copy of the old handle invalid.
    e->generation = e->generation == UINT32_MAX ? 1 : e->generation + 1;
    wheel->free_list.push_back(idx);
    --wheel->allocated;
    wheel->sync_alarm();
    return ZERR_OK;
}

int tw_sleeping_2(tw_wheel_type *wheel, tw_handle_type timer)
{
    if (wheel == nullptr)
        return -1;
    uint32_t idx;
    tw_entry *e = wheel->lookup(timer, &idx);
    if (e == nullptr)
        return -1;
    return e->heap_pos == NOT_IN_HEAP ? 1 : 0;
}

zerrno tw_process_next_expired_timer(tw_wheel_type *wheel, bool *more)
{
    if (wheel == nullptr || more == nullptr)
        return TW_ERR_INVALID;
    *more = false;
    if (!wheel->in_pass) {
        wheel->in_pass = true;
        wheel->pass_now = plat_clock_mono_ns();
        wheel->pass_seq = wheel->seq;
    }
    if (!wheel->due_in_pass()) {
        wheel->in_pass = false;
        return ZERR_OK;
    }
    const uint32_t idx = wheel->heap[0];
    wheel->heap_remove(idx);
    tw_entry &e = wheel->entries[idx];
    const tw_handle_type handle = static_cast<uint64_t>(e.generation) << 32 | (idx + 1);
    // The callback may re-arm, stop or free its own timer, or others: read nothing of it after.
    e.callback(wheel, handle, e.context);
    *more = wheel->due_in_pass();
    if (!*more)
        wheel->in_pass = false;
    wheel->sync_alarm();
    return ZERR_OK;
}

uint32_t tw_armed_count(const tw_wheel_type *wheel)
{
    return wheel != nullptr ? static_cast<uint32_t>(wheel->heap.size()) : 0;
}

uint32_t tw_allocated_count(const tw_wheel_type *wheel)
{
    return wheel != nullptr ? wheel->allocated : 0;
}

zerrno tw_remaining_ms(tw_wheel_type *wheel, tw_handle_type timer, uint64_t *ms)
{
    if (wheel == nullptr || ms == nullptr)
        return TW_ERR_INVALID;
    uint32_t idx;
    tw_entry *e = wheel->lookup(timer, &idx);
    if (e == nullptr || e->heap_pos == NOT_IN_HEAP)
        return TW_ERR_BAD_TIMER;
    const uint64_t now = plat_clock_mono_ns();
    const uint64_t left = e->deadline > now ? e->deadline - now : 0;
    *ms = (left + 999999) / 1000000;
    return ZERR_OK;
}
