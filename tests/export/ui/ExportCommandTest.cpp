// The window's export command on the real web engine: the progress dialog, cancelling from it,
// and the closing message.
#include "ExportCommand.h"
#include "CHMDocument.h"
#include "ExportTestData.h"
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

class ExportCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        document = CHMDocument::open(testsupport::fixturePath(QStringLiteral("links")));
        ASSERT_TRUE(document);
        profile = std::make_unique<ExportWebProfile>(document.get());
        window.show();
        command = new ExportCommand(document.get(), &window, [this] { return profile->profile(); });
        QObject::connect(command, &ExportCommand::exportEnded, [this](bool ok, const QString&) {
            ended = true;
            written = ok;
        });
    }

    std::unique_ptr<CHMDocument> document;
    std::unique_ptr<ExportWebProfile> profile;
    QWidget window;
    ExportCommand* command = nullptr;
    bool ended = false;
    bool written = false;
    QEventLoop loop;
};

} // namespace

TEST_F(ExportCommandTest, ProgressDialogIsUpFromTheStartAndAWrittenExportEndsWithThreeChoices) {
    const QString output =
        QDir(exporttest::freshFolder(QStringLiteral("command"))).filePath("links.pdf");
    bool completionShown = false;
    QStringList completionButtons;
    QObject::connect(command, &ExportCommand::exportEnded, [&] {
        // The message opens just after the end is announced.
        QTimer::singleShot(0, [&] {
            if (QMessageBox* box = command->completionMessage()) {
                completionShown = box->isVisible();
                for (QAbstractButton* button : box->buttons())
                    completionButtons << button->text();
                box->button(QMessageBox::Ok)->click();
            }
            loop.quit();
        });
    });
    command->exportToFile(output);
    ASSERT_TRUE(command->progressDialog());
    EXPECT_TRUE(command->progressDialog()->isVisible());
    EXPECT_TRUE(command->progressDialog()->labelText().contains(QLatin1String("links.chm")));
    EXPECT_FALSE(command->action()->isEnabled());
    loop.exec();

    EXPECT_TRUE(ended);
    EXPECT_TRUE(written);
    EXPECT_TRUE(QFileInfo::exists(output));
    EXPECT_TRUE(completionShown);
    EXPECT_EQ(completionButtons.size(), 3);
    EXPECT_FALSE(command->progressDialog() && command->progressDialog()->isVisible());
    EXPECT_TRUE(command->action()->isEnabled());
}

TEST_F(ExportCommandTest, CancelInTheProgressDialogStopsAfterThePageAndShowsNoMessage) {
    const QString folder = exporttest::freshFolder(QStringLiteral("command-cancel"));
    QObject::connect(command, &ExportCommand::exportEnded, &loop, &QEventLoop::quit);
    command->exportToFile(QDir(folder).filePath(QStringLiteral("links.pdf")));
    ASSERT_TRUE(command->progressDialog());
    // As soon as a page is in, as the user does: the dialog's Cancel button.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QProgressDialog* dialog = command->progressDialog();
        if (dialog && dialog->labelText().contains(QLatin1String(" pages")) &&
            !dialog->labelText().endsWith(QLatin1String("\n0 pages"))) {
            for (QPushButton* button : dialog->findChildren<QPushButton*>())
                button->click();
            poll.stop();
        }
    });
    poll.start(1);
    loop.exec();
    EXPECT_TRUE(ended);
    EXPECT_FALSE(written);
    EXPECT_FALSE(command->completionMessage());
    EXPECT_TRUE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    for (QWidget* widget : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<QMessageBox*>(widget) && widget->isVisible());
}

TEST(ExportCommand, SavePanelProposesTheBooksNameWithoutItsLastSuffix) {
    EXPECT_EQ(ExportCommand::proposedName(QStringLiteral("/books/Manual.chm")), "Manual");
    EXPECT_EQ(ExportCommand::proposedName(QStringLiteral("/books/my.help.chm")), "my.help");
}
