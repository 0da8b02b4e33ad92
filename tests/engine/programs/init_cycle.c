/* Initializes and shuts the engine down twice through the shared library, for
 * a leak check under valgrind. Usage: init_cycle MODEL_DIR */
#include <stdio.h>

#include "brightloom.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: init_cycle MODEL_DIR\n");
        return 2;
    }
    for (int round = 0; round < 2; ++round) {
        if (brightloom_init(argv[1]) != 0) {
            fprintf(stderr, "init failed: %s\n", brightloom_get_error());
            return 1;
        }
        brightloom_shutdown();
    }
    return 0;
}
