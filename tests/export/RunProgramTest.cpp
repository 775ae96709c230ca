// The helper the export tests read PDFs back through (qpdf --json): it gives a program's output,
// errors and status, stops one that hangs, and leaves ThreadSanitizer seeing this thread's locks
// afterwards (QProcess does not: see tests/support/RunProgram.cpp).
#include "TestSupport.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using testsupport::runProgram;
using testsupport::ToolRun;

TEST(RunProgram, GivesOutputErrorsAndStatusAndStopsAProgramThatHangs) {
    struct Case {
        const char* name;
        QStringList args;
        int timeoutMs;
        int status;
        QByteArray out;
        QString err;
    };
    const QString sh = QStringLiteral("sh");
    const Case cases[] = {
        {"output and status",
         {QStringLiteral("-c"), QStringLiteral("printf 'a\\nb'; exit 3")},
         60000,
         3,
         "a\nb",
         QString()},
        {"errors apart",
         {QStringLiteral("-c"), QStringLiteral("printf out; printf err >&2")},
         60000,
         0,
         "out",
         QStringLiteral("err")},
        {"more than a pipe holds",
         {QStringLiteral("-c"), QStringLiteral("head -c 300000 /dev/zero")},
         60000,
         0,
         QByteArray(300000, '\0'),
         QString()},
        {"stdin is empty", {QStringLiteral("-c"), QStringLiteral("cat")}, 60000, 0, "", QString()},
        {"hangs", {QStringLiteral("-c"), QStringLiteral("sleep 30")}, 200, -1, "", QString()},
    };
    for (const Case& c : cases) {
        const ToolRun run = runProgram(sh, c.args, c.timeoutMs);
        EXPECT_EQ(run.status, c.status) << c.name;
        EXPECT_EQ(run.out, c.out) << c.name;
        EXPECT_EQ(run.err, c.err) << c.name;
    }
    const ToolRun missing = runProgram(QStringLiteral("/nonexistent/lumeno-no-such-program"), {});
    EXPECT_EQ(missing.status, -1);
    EXPECT_FALSE(missing.err.isEmpty());
}

// Under ThreadSanitizer (halt_on_error=1) a run that blinded it to this thread's locks makes the
// hand-over below a reported race and the program fail; elsewhere it checks the value only.
TEST(RunProgram, ThreadsLocksStayVisibleAfterARunSoAHandOverUnderAMutexIsNoRace) {
    ASSERT_EQ(runProgram(QStringLiteral("true"), {}).status, 0);
    std::mutex mutex;
    std::condition_variable ready;
    long handed = 0;
    bool set = false;
    long seen = 0;
    std::thread reader([&] {
        std::unique_lock lock(mutex);
        ready.wait(lock, [&] { return set; });
        seen = handed;
    });
    {
        const std::lock_guard lock(mutex);
        handed = 42;
        set = true;
    }
    ready.notify_one();
    reader.join();
    EXPECT_EQ(seen, 42);
}
