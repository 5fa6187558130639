// dgs_trace_show [-E] [reader options]: the group-services trace buffers.
#include "group_trace_format.h"

int main(int argc, char **argv)
{
    return dgs_trace_show_main(argc, argv);
}
