// lumeno-pdf-to-text: `convtool pdf-to-text`, in a program that links only what the text export
// needs. convtool becomes this program with its own arguments.
#include "PDFToTextCommand.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "pdf-to-text") != 0) {
        std::fprintf(stderr, "lumeno-pdf-to-text: run it as convtool pdf-to-text\n");
        return 2;
    }
    const int code = PDFToTextCommandMain(argc - 1, argv + 1);
    std::fflush(stdout);
    // A failing entry answers -1; keep the shell's status at 1 rather than 255.
    return code < 0 ? 1 : code;
}
