// The recorder every fake writes to.
#include <map>
#include <mutex>

#include "quorrin_fakes.h"

namespace {

// A test may look while the process it runs on another thread records.
std::mutex lock;
std::vector<std::string> calls;
std::map<std::string, zerrno> failures;

} // namespace

std::vector<std::string> &quorrin_fake_calls()
{
    return calls;
}

std::vector<std::string> quorrin_fake_calls_copy()
{
    std::lock_guard<std::mutex> guard(lock);
    return calls;
}

void quorrin_fake_record(const std::string &call)
{
    std::lock_guard<std::mutex> guard(lock);
    calls.push_back(call);
}

void quorrin_fake_fail(const std::string &call, zerrno code)
{
    failures[call] = code;
}

zerrno quorrin_fake_result(const std::string &call)
{
    const auto it = failures.find(call);
    return it == failures.end() ? 0 : it->second;
}

std::vector<void (*)()> &reset_hooks()
{
    static std::vector<void (*)()> hooks;
    return hooks;
}

bool quorrin_fake_on_reset(void (*hook)())
{
    reset_hooks().push_back(hook);
    return true;
}

void quorrin_fake_reset()
{
    calls.clear();
    failures.clear();
    for (void (*hook)() : reset_hooks()) {
        hook();
    }
}
