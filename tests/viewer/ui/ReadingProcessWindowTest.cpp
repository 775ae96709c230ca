// A book's window when its reading process dies, stops or has large objects to send: the window
// says the book is damaged and stays usable, never waits for the process, and the other windows
// of the application read on.
#include "LargePictureBook.h"
#include "WindowTestFixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <csignal>

using webtest::waitUntil;

namespace {

QMessageBox* damageMessage(CHMDocumentWindow* window) {
    return window->findChild<QMessageBox*>(QStringLiteral("damagedBookMessage"));
}

// The longest the GUI thread went without running its event loop while the object lived.
class EventLoopPauses {
public:
    EventLoopPauses() {
        m_clock.start();
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
        m_timer.start();
    }
    qint64 longestMs() const { return std::max(m_longest, m_clock.elapsed() - m_last); }

private:
    QElapsedTimer m_clock;
    QTimer m_timer;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

// A process that has ended and been collected: not even a zombie is left of it.
bool isReaped(qint64 pid) {
    return !QFile::exists(QStringLiteral("/proc/%1").arg(pid));
}

// What the process has read from files: a reading process, the bytes of its book's objects.
qint64 bytesRead(qint64 pid) {
    QFile io(QStringLiteral("/proc/%1/io").arg(pid));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("rchar: "))
            return line.mid(7).toLongLong();
    }
    return -1;
}

} // namespace

class ReadingProcessWindow : public WindowTestFixture {};

TEST_F(ReadingProcessWindow, AKilledProcessMarksItsWindowDamagedWhileAnotherWindowServesPages) {
    CHMDocumentWindow* killed = openFixture("nested");
    CHMDocumentWindow* other = openFixture("sample");
    ASSERT_TRUE(killed && other);
    const qint64 pid = killed->document()->readerProcessId();
    ASSERT_GT(pid, 0);
    ASSERT_NE(pid, other->document()->readerProcessId());
    ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);

    // The window learns of it by itself, before any page is asked for.
    const auto damageMessage = [](CHMDocumentWindow* window) {
        return window->findChild<QMessageBox*>(QStringLiteral("damagedBookMessage"));
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return damageMessage(killed) != nullptr; }, 10000));
    ASSERT_NE(damageMessage(killed), nullptr);
    EXPECT_TRUE(damageMessage(killed)->text().contains("nested.chm"));
    EXPECT_TRUE(killed->document()->isDamaged());

    // Its pages now read as missing, and the window still answers.
    ASSERT_TRUE(load(killed, QStringLiteral("/intro.htm")));
    EXPECT_TRUE(bodyText(currentPage(killed)).contains("This book has no page at"));
    EXPECT_EQ(killed->findChildren<QMessageBox*>(QStringLiteral("damagedBookMessage")).size(), 1);

    // The other book reads on in its own process.
    ASSERT_TRUE(load(other, QStringLiteral("/about.htm")));
    EXPECT_TRUE(bodyText(currentPage(other)).contains("About This Sample"));
    EXPECT_FALSE(other->document()->isDamaged());
    EXPECT_EQ(damageMessage(other), nullptr);
}

TEST_F(ReadingProcessWindow, AKilledProcessIsCollectedAtOnceWhileItsWindowStaysOpen) {
    CHMDocumentWindow* window = openFixture("nested");
    ASSERT_NE(window, nullptr);
    const qint64 pid = window->document()->readerProcessId();
    ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
    EXPECT_TRUE(waitUntil([&] { return damageMessage(window) != nullptr; }, 10000));
    EXPECT_TRUE(waitUntil([&] { return isReaped(pid); }, 10000))
        << "the process stays a zombie while its window is open";
    EXPECT_TRUE(window->isVisible());
}

// A stopped process (SIGSTOP, or chmlib looping on a crafted book) answers nothing: its window
// and every other window go on answering the user, and at the whole answer's deadline the
// process counts as dead.
TEST_F(ReadingProcessWindow, AStoppedProcessHoldsUpNoWindowAndItsBookIsDamagedAtTheDeadline) {
    const testsupport::EnvironmentValue deadline("LUMENO_CHM_READER_DEADLINE_MS", "5000");
    CHMDocumentWindow* stopped = openFixture("nested");
    CHMDocumentWindow* other = openFixture("sample");
    ASSERT_TRUE(stopped && other);
    const qint64 pid = stopped->document()->readerProcessId();
    ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGSTOP), 0);

    const EventLoopPauses pauses;
    stopped->loadPath(QStringLiteral("/intro.htm"));
    // Its own window answers the keyboard and searches.
    QLineEdit* field = stopped->sidebar()->searchField();
    QTest::keyClicks(field, "leaf");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(field->text(), "leaf");
    // Another book's window reads pages.
    ASSERT_TRUE(load(other, QStringLiteral("/about.htm")));
    EXPECT_TRUE(bodyText(currentPage(other)).contains("About This Sample"));

    EXPECT_TRUE(waitUntil([&] { return damageMessage(stopped) != nullptr; }, 60000));
    EXPECT_LT(pauses.longestMs(), 3000) << "the GUI thread stood still that long";
    EXPECT_TRUE(stopped->document()->isDamaged());
    EXPECT_FALSE(other->document()->isDamaged());
    EXPECT_TRUE(waitUntil([&] { return isReaped(pid); }, 10000));
}

// Twenty pictures of one large object, each asked for by a URL of its own: every copy arrives,
// and the object is read once for all of them, in pieces, not once whole for each.
TEST_F(ReadingProcessWindow, ALargePictureAskedForTwentyTimesAtOnceArrivesEveryTimeAndIsReadOnce) {
    constexpr qint64 kPictureBytes = 3 << 20;
    const QString path = testsupport::scratchDir() + "/pictures.chm";
    // Uncompressed: each read of the picture reads its bytes from the file.
    ASSERT_TRUE(testsupport::writeLargePictureBook(path, kPictureBytes, 20,
                                                   testsupport::PictureSection::Uncompressed));
    CHMDocumentWindow* window = openWindow(path);
    ASSERT_NE(window, nullptr);
    const QVariant arrived = webtest::waitForJavaScript(
        currentPage(window), "Array.from(document.images).filter(i => i.complete && "
                             "i.naturalWidth == 1 && i.naturalHeight == 1).length == 20");
    EXPECT_EQ(arrived, true);
    const qint64 read = bytesRead(window->document()->readerProcessId());
    ASSERT_GE(read, kPictureBytes);
    EXPECT_LT(read, 2 * kPictureBytes) << "the reading process read " << read << " bytes";
}
