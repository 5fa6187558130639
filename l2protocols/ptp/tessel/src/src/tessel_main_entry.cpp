// The program tessel.
#include "tessel_main.h"

int main()
{
    return tessel_main();
}
