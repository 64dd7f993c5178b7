#include <string.h>
#include <tovarine_host.h>

int main(void) {
    /* The header belongs to the package CMake found. */
    if (strcmp(TOVARINE_VERSION_STRING, PACKAGE_VERSION) != 0) return 2;
    /* The typed calls link against the installed library. */
    tovarine_stream_outputs out = {0};
    tovarine_read_stream("?segment=4&channel=r", &out);
    if (out.segment != 4 || out.channel != 1) return 3;
    /* The selector starts at 0 and the exchange hands back the value it replaced. */
    return tovarine_set_instance_selector(7) == 0 && f9832144782(0) == 7 ? 0 : 1;
}
