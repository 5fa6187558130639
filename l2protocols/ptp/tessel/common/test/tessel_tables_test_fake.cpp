#include "tessel_common_fakes.inc"
