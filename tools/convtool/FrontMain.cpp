// convtool's own process: the WebP commands run here, on the codec libraries alone; any other
// command (and the help) runs in lumeno-convtool, which this process becomes, arguments and all.
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

// lumeno-convtool lives in the helpers' folder, so it cannot find the resources and helpers
// from its own place as convtool does: it is told the folders convtool found. A variable the
// user set is passed on as it is.
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

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && !std::strcmp(argv[1], "webp-encode"))
        return finish(EncoderToolMain(argc - 1, argv + 1));
    if (argc >= 2 && !std::strcmp(argv[1], "webp-decode"))
        return finish(DecoderToolMain(argc - 1, argv + 1));
    const std::filesystem::path helpers = std::filesystem::path("libexec") / "lumeno";
    const std::filesystem::path folder = conversion::installedFolder("LUMENO_LIBEXEC", helpers);
    if (folder.empty()) {
        std::fprintf(stderr, "convtool: the folder of its helper programs is missing\n");
        return 1;
    }
    passFolder("LUMENO_RESOURCES", std::filesystem::path("share") / "lumeno");
    passFolder("LUMENO_LIBEXEC", helpers);
    const std::string program = (folder / "lumeno-convtool").string();
    ::execv(program.c_str(), argv);
    std::fprintf(stderr, "convtool: %s cannot be run: %s\n", program.c_str(), std::strerror(errno));
    return 1;
}
