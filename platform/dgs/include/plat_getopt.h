// The platform's option parser: getopt over the command line, with the platform's name.
#pragma once

#include <unistd.h>

inline int _getopt(int argc, char *const argv[], const char *optstring)
{
    return getopt(argc, argv, optstring);
}
