// A stand-in for the chat program: it prints the arguments it was started
// with and, when CORVANE_CHAT_RECORD names a file, writes them there, one
// per line, so a test can compare them with the pass-on command line.
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    printf("Corvane Chat (demo) started with %d arguments:\n", argc);
    for (int i = 0; i < argc; i++) {
        printf("  [%d] %s\n", i, argv[i]);
    }
    fflush(stdout);
    const char* record = getenv("CORVANE_CHAT_RECORD");
    if (record == nullptr || *record == 0) {
        return 0;
    }
    FILE* out = fopen(record, "wb");
    if (out == nullptr) {
        return 1;
    }
    for (int i = 0; i < argc; i++) {
        fprintf(out, "%s\n", argv[i]);
    }
    return fclose(out) == 0 ? 0 : 1;
}
