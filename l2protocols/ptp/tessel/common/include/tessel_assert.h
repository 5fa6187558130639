// Internal errors of the agent's modules: the condition, where, then the process ends (and is
// restarted by the platform). Always on, in every build.
#pragma once

[[noreturn]] void tessel_internal_error(const char *what, const char *file, int line);

#define TESSEL_ASSERT(cond)                                                                                            \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            tessel_internal_error(#cond, __FILE__, __LINE__);                                                          \
        }                                                                                                              \
    } while (0)
