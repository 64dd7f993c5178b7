/* Prints the pointer size of the process it runs in; exits 0 when that is the size it was built
 * for, so running it tells whether programs of this word size can run here at all. */
#include <stdio.h>

int main(void) {
    printf("sizeof(void*)=%u\n", (unsigned)sizeof(void *));
    return 0;
}
