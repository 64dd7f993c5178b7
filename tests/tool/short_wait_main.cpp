// The tool with the store's busy time-out cut to 200 ms: for the tests that hold the store's
// write lock past it on purpose, which the tool itself would wait out for the shipped 10 s.
#include "command.h"
#include "platform/posix/registry_test_controls.h"

int main(int argc, char **argv) {
    tovarine::registry::SetBusyTimeout(200);
    return tovarine_tool::Main(argc, argv);
}
