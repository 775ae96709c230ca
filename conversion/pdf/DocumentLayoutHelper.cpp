// Running the layout in the helper program.
#include "ChildProcess.h"
#include "ConversionLog.h"
#include "DocumentLayout.h"
#include "InstalledPaths.h"
#include "OutputFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <unistd.h>

namespace conversion {

namespace {

constexpr const char* kHelperName = "lumeno-text-layout";

// Passes the helper's messages on to this process's log, each once a process (a run of many
// documents in one font that is not installed says so once); answers the helper's last other
// line, its error when it failed.
std::string relayNotes(const std::filesystem::path& log) {
    static std::mutex lock;
    static std::set<std::string> said;
    // Far more than the helper and the libraries it loads write; a log beyond it is cut.
    constexpr std::size_t kLongest = std::size_t(1) << 20;
    std::string text = readLogTail(log, kLongest);
    std::string last;
    std::size_t start = 0;
    const std::size_t prefix = std::strlen(kLayoutNotePrefix);
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.compare(0, prefix, kLayoutNotePrefix) != 0) {
            if (!line.empty())
                last = line;
            continue;
        }
        const std::string note = line.substr(prefix);
        bool first = false;
        {
            const std::lock_guard<std::mutex> guard(lock);
            first = said.insert(note).second;
        }
        if (first)
            ConversionLog(note);
    }
    return last;
}

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
    ChildProcessOptions options;
    options.timeLimit = timeLimit;
    options.cancelled = [target] { return target && target->isConversionCancelled(); };
    options.grace = kHelperGraceTime;
    const ChildProcessResult run =
        runChildProcess(helper, arguments, folder.path() / "layout.log", options);
    std::error_code ignored;
    // The helper's error is its last line; Qt and fontconfig may have written before it.
    const std::string lastLine = relayNotes(folder.path() / "layout.log");
    switch (run.outcome) {
    case ChildProcessResult::Exited:
        if (run.exitCode == 0)
            return true;
        error = lastLine.empty() ? "the layout failed" : lastLine;
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
