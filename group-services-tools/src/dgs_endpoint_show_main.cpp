// dgs_endpoint_show -e NAME [-E SUFFIX] -d|-s [-a]: a show request to a group-services end point.
#include "dgs_endpoint_show.h"

int main(int argc, char **argv)
{
    return dgs_endpoint_show_main(argc, argv);
}
