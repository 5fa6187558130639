// The program of one show tool: PTP_SHOW_ENTRY names its entry (ptp_show_<tool>_main).
#include "ptp_bags.h"
#include "ptp_show_utils.h"

int main(int argc, char **argv)
{
    bag_register_all_ptp_bags();
    PTP_SHOW_ENTRY(argc, argv);
    return 0;
}
