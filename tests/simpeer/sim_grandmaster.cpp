// A simulated PTP grandmaster, the peer of a chassis interface.
#include "sim_program.h"

int main(int argc, char **argv)
{
    return simpeer::program_main(argc, argv, true);
}
