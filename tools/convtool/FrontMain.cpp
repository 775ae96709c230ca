// convtool as installed: a small front that starts quickly. The text export, which pdftotext's
// users run on one long document after another, runs right here, in a program that loads only
// what it needs (Poppler, ICU, libzip); every other command, and the text export's ODT and Word
// formats (Qt and LibreOffice), run in convtool-commands beside this program, which takes this
// process over with the same arguments. Loading the libraries of every command costs more time
// and memory than reading a short PDF's text.
#include "InstalledPaths.h"
#include "PDFToTextCommand.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc >= 2 && !std::strcmp(argv[1], "pdf-to-text") &&
        !PDFToTextCommandNeedsAllLibraries(argc - 1, argv + 1)) {
        const int code = PDFToTextCommandMain(argc - 1, argv + 1);
        std::fflush(stdout);
        return code < 0 ? 1 : code;
    }
    const std::string full = (conversion::executableDir() / "convtool-commands").string();
    argv[0] = const_cast<char*>(full.c_str());
    execv(full.c_str(), argv);
    std::fprintf(stderr, "convtool: cannot run %s: %s\n", full.c_str(), std::strerror(errno));
    return 127;
}
