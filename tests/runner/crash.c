/* A test program that crashes, for the test runner's own test: under Wine its crash must end the
   run at once with the crash reported, never wait for a click on a crash dialog. */
#include <stdio.h>

int main(void) {
    volatile int* nowhere = 0;
    puts("about to write through a null pointer");
    fflush(stdout);
    *nowhere = 1;
    return 0;
}
