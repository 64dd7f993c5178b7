// The same checks of tovarine_host.h compiled as C++: the header must serve C++ hosts unchanged.
#include "host_kit_test.c"
