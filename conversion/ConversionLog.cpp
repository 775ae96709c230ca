#include "ConversionLog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

std::mutex& hookLock() {
    static std::mutex lock;
    return lock;
}

ConversionLogHook& currentHook() {
    static ConversionLogHook hook;
    return hook;
}

void writeToStandardError(std::string_view line) {
    std::string text(line);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stderr);
}

} // namespace

ConversionLogHook SetConversionLogHook(ConversionLogHook hook) {
    const std::lock_guard<std::mutex> guard(hookLock());
    ConversionLogHook previous = std::move(currentHook());
    currentHook() = std::move(hook);
    return previous;
}

void ConversionLog(std::string_view line) {
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    ConversionLogHook hook;
    {
        // A copy, so that a hook may itself log or replace the hook without a deadlock.
        const std::lock_guard<std::mutex> guard(hookLock());
        hook = currentHook();
    }
    if (hook)
        hook(line);
    else
        writeToStandardError(line);
}

void ConversionLogf(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length < 0) {
        va_end(arguments);
        return;
    }
    std::vector<char> text(std::size_t(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, arguments);
    va_end(arguments);
    ConversionLog(std::string_view(text.data(), std::size_t(length)));
}
