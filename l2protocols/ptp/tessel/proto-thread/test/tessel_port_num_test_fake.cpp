#define TESSEL_PM_FAKES_REAL_CONTROLLER_LINK
#include "tessel_pm_test_fakes.inc"
