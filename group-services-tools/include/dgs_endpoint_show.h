// dgs_endpoint_show: asks the owner of a group-services end point to print its state.
#pragma once

// The command line ("se:daE:"): -e NAME the end point, -E SUFFIX added to the name for the
// directory lookup only, -d, -s, -a the request's bits 1, 2 and 4 (-d or -s needed). Failures are
// one line on standard error. Returns the exit status: 0, or 1 on any failure.
int dgs_endpoint_show_main(int argc, char **argv);
