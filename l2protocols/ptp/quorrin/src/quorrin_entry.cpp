// The controller program's entry.
#include "quorrin_main.h"

int main(int argc, char **argv)
{
    return quorrin_main(argc, argv);
}
