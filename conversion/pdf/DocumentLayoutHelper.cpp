// Running the layout in the helper program.
#include "ChildProcess.h"
#include "DocumentLayout.h"
#include "InstalledPaths.h"
#include "OutputFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace conversion {

namespace {

constexpr const char* kHelperName = "lumeno-text-layout";

} // namespace

std::filesystem::path findLayoutHelper() {
    const std::filesystem::path folder =
        installedFolder("LUMENO_LIBEXEC", std::filesystem::path("libexec") / "lumeno");
    if (folder.empty())
        return {};
    const std::filesystem::path helper = folder / kHelperName;
    return ::access(helper.c_str(), X_OK) == 0 ? helper : std::filesystem::path();
}

bool layOutDocumentInHelper(const DocumentLayoutRequest& request, std::string& error,
                            ConversionProgress* target, std::chrono::milliseconds timeLimit) {
    const std::filesystem::path helper = findLayoutHelper();
    if (helper.empty()) {
        error = std::string("the text layout program (") + kHelperName + ") is not installed";
        return false;
    }
    TemporaryFolder folder;
    if (!folder.create("layout", "the layout", error))
        return false;
    std::vector<std::string> arguments = layoutArguments(request);
    arguments.insert(arguments.begin(), helper.string());
    const ChildProcessResult run =
        runChildProcess(helper, arguments, (folder.path() / "layout.log"), timeLimit,
                        [target] { return target && target->isConversionCancelled(); });
    std::error_code ignored;
    switch (run.outcome) {
    case ChildProcessResult::Exited:
        if (run.exitCode == 0)
            return true;
        // The helper's message is its last line; Qt and fontconfig may have written before it.
        error = readLogTail((folder.path() / "layout.log"));
        if (const std::size_t newline = error.rfind('\n'); newline != std::string::npos)
            error.erase(0, newline + 1);
        if (error.empty())
            error = "the layout failed";
        break;
    case ChildProcessResult::Signalled:
        error = "the layout program failed on this document";
        break;
    case ChildProcessResult::TimedOut:
        error =
            "the layout did not finish within " +
            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(timeLimit).count()) +
            " seconds";
        break;
    case ChildProcessResult::Cancelled:
        error = "cancelled";
        break;
    case ChildProcessResult::NotStarted:
        error = run.error;
        break;
    }
    std::filesystem::remove(request.print, ignored);
    return false;
}

} // namespace conversion
