#include "LibreOfficeConverter.h"

#include "ChildProcess.h"
#include "ConversionLog.h"
#include "LibreOfficeIsolation.h"
#include "OutputFile.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace conversion {

namespace {

// file:// URL of an absolute path, with everything but unreserved characters and '/' escaped.
std::string fileURL(const std::filesystem::path& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path.string()) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            url.push_back(char(c));
        } else {
            url.push_back('%');
            url.push_back(hex[c >> 4]);
            url.push_back(hex[c & 15]);
        }
    }
    return url;
}

} // namespace

std::filesystem::path findLibreOffice() {
    const char* pathVariable = std::getenv("PATH");
    if (!pathVariable)
        return {};
    for (const char* program : {"soffice", "libreoffice"}) {
        std::string_view rest = pathVariable;
        while (true) {
            const size_t colon = rest.find(':');
            const std::string_view folder = rest.substr(0, colon);
            if (!folder.empty()) {
                const std::filesystem::path candidate = std::filesystem::path(folder) / program;
                if (::access(candidate.c_str(), X_OK) == 0)
                    return candidate;
            }
            if (colon == std::string_view::npos)
                break;
            rest.remove_prefix(colon + 1);
        }
    }
    return {};
}

bool convertWithLibreOffice(const LibreOfficeConversion& conversion, std::string& error) {
    const std::filesystem::path program = findLibreOffice();
    if (program.empty()) {
        error = "LibreOffice (soffice) is not installed; it is needed for this format";
        return false;
    }
    TemporaryFolder scratch;
    if (!scratch.create("office", "LibreOffice", error))
        return false;
    const std::filesystem::path profile = scratch.path() / "profile";
    const std::filesystem::path outFolder = scratch.path() / "out";
    const std::filesystem::path log = scratch.path() / "soffice.log";
    const std::filesystem::path input = scratch.path() / ("document." + conversion.inputExtension);
    std::error_code ec;
    std::filesystem::create_directory(outFolder, ec);
    if (!writeIsolatedProfile(profile, error))
        return false;
    if (FILE* file = std::fopen(input.c_str(), "wb")) {
        const bool complete = std::fwrite(conversion.input.data(), 1, conversion.input.size(),
                                          file) == conversion.input.size();
        if (std::fclose(file) != 0 || !complete) {
            error = input.string() + ": " + std::strerror(errno);
            return false;
        }
    } else {
        error = input.string() + ": " + std::strerror(errno);
        return false;
    }

    std::vector<std::string> arguments = {program.string(),
                                          "-env:UserInstallation=" + fileURL(profile),
                                          "--headless",
                                          "--invisible",
                                          "--nologo",
                                          "--nodefault",
                                          "--nolockcheck",
                                          "--norestore",
                                          "--nofirststartwizard",
                                          "--convert-to",
                                          conversion.target,
                                          "--outdir",
                                          outFolder.string(),
                                          input.string()};
    ChildProcessOptions options;
    options.timeLimit = conversion.timeLimit;
    options.network = ChildNetwork::None;
    // Its own temporary files go with the scratch folder, even when it is killed.
    const std::filesystem::path temporary = scratch.path() / "tmp";
    std::filesystem::create_directory(temporary, ec);
    options.environment = {"TMPDIR=" + temporary.string()};
    const ChildProcessResult run = runChildProcess(program, arguments, log, options);
    if (run.outcome != ChildProcessResult::NotStarted &&
        run.isolation == NetworkIsolation::NotIsolated) {
        static std::atomic<bool> said{false};
        if (!said.exchange(true))
            ConversionLogf("LibreOffice runs with this system's network: no network namespace can "
                           "be made here (%s); only its settings keep it from fetching what "
                           "documents link to",
                           std::strerror(run.isolationError));
    }
    if (run.outcome == ChildProcessResult::NotStarted) {
        error = run.error;
        return false;
    }
    if (run.outcome == ChildProcessResult::TimedOut) {
        error = "LibreOffice did not finish within " +
                std::to_string(conversion.timeLimit.count()) + " seconds";
        return false;
    }
    if (run.outcome != ChildProcessResult::Exited || run.exitCode != 0) {
        error = "LibreOffice failed";
        const std::string tail = readLogTail(log);
        if (!tail.empty())
            error += ": " + tail;
        return false;
    }
    // The output is named after the input with the target's extension; an HTML export writes
    // the document's pictures beside it.
    const std::filesystem::path made =
        outFolder / ("document." + conversion.target.substr(0, conversion.target.find(':')));
    if (!std::filesystem::is_regular_file(made, ec)) {
        error = "LibreOffice made no file";
        const std::string tail = readLogTail(log);
        if (!tail.empty())
            error += ": " + tail;
        return false;
    }
    std::filesystem::copy_file(made, conversion.output,
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) {
        error = conversion.output.string() + ": " + ec.message();
        return false;
    }
    if (conversion.companions.empty())
        return true;
    std::error_code listing;
    for (const auto& entry : std::filesystem::directory_iterator(outFolder, listing)) {
        std::error_code notAFile;
        if (entry.path() == made || !entry.is_regular_file(notAFile))
            continue;
        std::filesystem::copy_file(entry.path(), conversion.companions / entry.path().filename(),
                                   std::filesystem::copy_options::overwrite_existing, ec);
        if (ec) {
            error =
                (conversion.companions / entry.path().filename()).string() + ": " + ec.message();
            return false;
        }
    }
    if (listing) {
        error = outFolder.string() + ": " + listing.message();
        return false;
    }
    return true;
}

} // namespace conversion
