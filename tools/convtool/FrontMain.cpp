// convtool's own process: the WebP commands run here, on the codec libraries alone. The text
// export runs in lumeno-pdf-to-text, which loads Poppler, ICU and libzip alone, and any other
// command (and the help) in lumeno-convtool; this process becomes the one it needs, arguments
// and all. Loading the libraries of every command costs more time and memory than encoding one
// picture or reading a short PDF's text.
#include "InstalledPaths.h"
#include "WebPCommands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

// The helpers live in the helpers' folder, so they cannot find the resources and other helpers
// from their own place as convtool does: they are told the folders convtool found. A variable
// the user set is passed on as it is.
void passFolder(const char* variable, const std::filesystem::path& relative) {
    const char* set = std::getenv(variable);
    if (set && *set)
        return;
    const std::filesystem::path folder = conversion::installedFolder(variable, relative);
    if (!folder.empty())
        ::setenv(variable, folder.c_str(), 1);
}

int finish(int code) {
    std::fflush(stdout);
    // A failing entry answers -1; keep the shell's status at 1 rather than 255.
    return code < 0 ? 1 : code;
}

int becomeHelper(const char* name, char** argv) {
    const std::filesystem::path helpers = std::filesystem::path("libexec") / "lumeno";
    const std::filesystem::path folder = conversion::installedFolder("LUMENO_LIBEXEC", helpers);
    if (folder.empty()) {
        std::fprintf(stderr, "convtool: the folder of its helper programs is missing\n");
        return 1;
    }
    passFolder("LUMENO_RESOURCES", std::filesystem::path("share") / "lumeno");
    passFolder("LUMENO_LIBEXEC", helpers);
    const std::string program = (folder / name).string();
    ::execv(program.c_str(), argv);
    std::fprintf(stderr, "convtool: %s cannot be run: %s\n", program.c_str(), std::strerror(errno));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && !std::strcmp(argv[1], "webp-encode"))
        return finish(EncoderToolMain(argc - 1, argv + 1));
    if (argc >= 2 && !std::strcmp(argv[1], "webp-decode"))
        return finish(DecoderToolMain(argc - 1, argv + 1));
    if (argc >= 2 && !std::strcmp(argv[1], "pdf-to-text"))
        return becomeHelper("lumeno-pdf-to-text", argv);
    return becomeHelper("lumeno-convtool", argv);
}
