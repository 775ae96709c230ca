// The window's export command on the real web engine: the progress dialog, cancelling from it,
// and the closing message.
#include "ExportCommand.h"
#include "CHMDocument.h"
#include "ExportWebProfile.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

struct CommandRun {
    bool ended = false;
    bool written = false;
    bool sawDialogAtStart = false;
    bool completionShown = false;
    QStringList completionButtons;
};

QString folderFor(const QString& name) {
    const QString folder = QDir(testsupport::scratchDir()).filePath(name);
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    return folder;
}

} // namespace

TEST(ExportCommand, ProgressDialogIsUpFromTheStartAndAWrittenExportEndsWithThreeChoices) {
    std::unique_ptr<CHMDocument> document =
        CHMDocument::open(testsupport::fixturePath(QStringLiteral("links")));
    ASSERT_TRUE(document);
    ExportWebProfile profile(document.get());
    QWidget window;
    window.show();
    auto* command =
        new ExportCommand(document.get(), &window, [&profile] { return profile.profile(); });
    EXPECT_EQ(command->action()->text(), QStringLiteral("Export as PDF"));
    const QString output =
        QDir(folderFor(QStringLiteral("command"))).filePath(QStringLiteral("links.pdf"));

    CommandRun run;
    QEventLoop loop;
    QObject::connect(command, &ExportCommand::exportEnded, [&](bool written, const QString&) {
        run.ended = true;
        run.written = written;
        // The message opens just after the end is announced.
        QTimer::singleShot(0, [&] {
            if (QMessageBox* box = command->completionMessage()) {
                run.completionShown = box->isVisible();
                for (QAbstractButton* button : box->buttons())
                    run.completionButtons << button->text();
                box->button(QMessageBox::Ok)->click();
            }
            loop.quit();
        });
    });
    command->exportToFile(output);
    run.sawDialogAtStart = command->progressDialog() && command->progressDialog()->isVisible();
    EXPECT_TRUE(command->progressDialog()->labelText().contains(QLatin1String("links.chm")));
    EXPECT_FALSE(command->action()->isEnabled());
    loop.exec();

    EXPECT_TRUE(run.sawDialogAtStart);
    EXPECT_TRUE(run.ended);
    EXPECT_TRUE(run.written);
    EXPECT_TRUE(QFileInfo::exists(output));
    EXPECT_TRUE(run.completionShown);
    EXPECT_EQ(run.completionButtons.size(), 3);
    EXPECT_FALSE(command->progressDialog() && command->progressDialog()->isVisible());
    EXPECT_TRUE(command->action()->isEnabled());
}

TEST(ExportCommand, CancelInTheProgressDialogStopsAfterThePageAndShowsNoMessage) {
    std::unique_ptr<CHMDocument> document =
        CHMDocument::open(testsupport::fixturePath(QStringLiteral("links")));
    ASSERT_TRUE(document);
    ExportWebProfile profile(document.get());
    QWidget window;
    window.show();
    auto* command =
        new ExportCommand(document.get(), &window, [&profile] { return profile.profile(); });
    const QString folder = folderFor(QStringLiteral("command-cancel"));
    CommandRun run;
    QEventLoop loop;
    QObject::connect(command, &ExportCommand::exportEnded, [&](bool written, const QString&) {
        run.ended = true;
        run.written = written;
        loop.quit();
    });
    command->exportToFile(QDir(folder).filePath(QStringLiteral("links.pdf")));
    ASSERT_TRUE(command->progressDialog());
    // Cancel as soon as a page is in.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QProgressDialog* dialog = command->progressDialog();
        if (dialog && dialog->labelText().contains(QLatin1String(" pages")) &&
            !dialog->labelText().endsWith(QLatin1String("\n0 pages"))) {
            // As the user does: the dialog's Cancel button.
            for (QPushButton* button : dialog->findChildren<QPushButton*>())
                button->click();
            poll.stop();
        }
    });
    poll.start(1);
    loop.exec();
    EXPECT_TRUE(run.ended);
    EXPECT_FALSE(run.written);
    EXPECT_FALSE(command->completionMessage());
    EXPECT_TRUE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    for (QWidget* widget : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<QMessageBox*>(widget) && widget->isVisible());
}

TEST(ExportCommand, SavePanelProposesTheBooksName) {
    EXPECT_EQ(ExportCommand::proposedName(QStringLiteral("/books/Manual.chm")),
              QStringLiteral("Manual"));
    EXPECT_EQ(ExportCommand::proposedName(QStringLiteral("/books/my.help.chm")),
              QStringLiteral("my.help"));
}
