// ptp_show_jotlog: prints the trace buffers of the PTP processes as text.
#include "ptp_show_jotlog.h"

int main(int argc, char **argv)
{
    return ptp_show_jotlog_main(argc, argv);
}
