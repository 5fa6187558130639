#include "tessel_pm_test_fakes.inc"
