// The tovarine tool's entry.
#include "command.h"

int main(int argc, char **argv) { return tovarine_tool::Main(argc, argv); }
