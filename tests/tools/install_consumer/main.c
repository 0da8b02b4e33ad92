/* A host program built against the installed package: initializes the
 * engine on a model directory and checks that a failure carries its message. */
#include <brightloom.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s MODEL_DIR\n", argv[0]);
        return 2;
    }
    if (brightloom_init_lite(argv[1], 0) != 0) {
        fprintf(stderr, "init failed: %s\n", brightloom_get_error());
        return 1;
    }
    if (face_start_server(8080) != -1 ||
        strcmp(brightloom_get_error(), "HTTP server not yet implemented") != 0) {
        fprintf(stderr, "unexpected error text: %s\n", brightloom_get_error());
        return 1;
    }
    brightloom_shutdown();
    printf("installed library works\n");
    return 0;
}
