// A book's window when its reading process dies: the window says the book is damaged and stays
// usable, and the other windows of the application read on.
#include "WindowTestFixture.h"

#include <QMessageBox>
#include <csignal>

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
