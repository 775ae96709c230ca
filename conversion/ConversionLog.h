// The one way the conversion library reports: every message it has for a person goes through a
// settable hook, one line per call (no trailing newline). Without a hook set, a line goes to
// standard error followed by a newline, which is what the command-line host shows. A host with a
// window or a log of its own sets the hook before running jobs; jobs may run on any thread, so the
// hook must be safe to call from the job's thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

using ConversionLogHook = std::function<void(std::string_view line)>;

// Routes every later message to `hook`; an empty hook restores the standard-error default.
// Answers the hook that was set before, so that a caller can put it back.
ConversionLogHook SetConversionLogHook(ConversionLogHook hook);

// Sends one message to the hook. A trailing newline is taken off; inner newlines stay.
void ConversionLog(std::string_view line);

// printf-style form of ConversionLog.
void ConversionLogf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The outcome of a step at the library's edge: success, or a code and a message.
struct ConversionResult {
    int code = 0;
    std::string message;

    bool ok() const { return code == 0; }
    explicit operator bool() const { return ok(); }

    static ConversionResult success() { return {}; }
    static ConversionResult failure(int code, std::string message) {
        return {code == 0 ? -1 : code, std::move(message)};
    }
};
