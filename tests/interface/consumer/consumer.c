#include <tovarine.h>

int main(void) {
    /* The selector starts at 0 and the exchange hands back the value it replaced. */
    return f9832144782(7) == 0 && f9832144782(0) == 7 ? 0 : 1;
}
