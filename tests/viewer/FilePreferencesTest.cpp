// Per-file preferences (kept for 20 files at most) and global defaults, under a scratch config.
#include "CHMFilePreferences.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QSettings>
#include <functional>
#include <gtest/gtest.h>

namespace {

const QDateTime kBase(QDate(2020, 1, 1), QTime(12, 0));

class FilePreferences : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // QSettings reads XDG_CONFIG_HOME once, on first use: set it before any test runs.
        qputenv("XDG_CONFIG_HOME", (testsupport::scratchDir() + "/config").toLocal8Bit());
    }
    void SetUp() override { QSettings("Lumeno", "Lumeno+").clear(); }

    static QVariantMap filesInfo() {
        return QSettings("Lumeno", "Lumeno+").value("files info").toMap();
    }

    // Stores /f00.chm, /f01.chm ... stamped by `dateOf`, writes for `written`, answers the rest.
    static QVariantMap fillAndWrite(int count, const std::function<QDateTime(int)>& dateOf,
                                    const QString& written = "/new.chm") {
        QVariantMap info;
        for (int i = 0; i < count; ++i) {
            QVariantMap entry{{"last path", "index.htm"}};
            if (dateOf(i).isValid())
                entry.insert("updated at", dateOf(i));
            info.insert(QString("/f%1.chm").arg(i, 2, 10, QChar('0')), entry);
        }
        QSettings("Lumeno", "Lumeno+").setValue("files info", info);
        CHMFilePreferences::setPreference("a.htm", written, "last path");
        return filesInfo();
    }
};

} // namespace

TEST_F(FilePreferences, ValueWrittenOverDamagedInfoIsReadBackStampedAndRemovable) {
    const QString book = "/books/x y/guide.chm";
    QSettings("Lumeno", "Lumeno+").setValue("files info", "not a map");
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    CHMFilePreferences::setPreference("html/a.htm", book, "last path");
    EXPECT_EQ(CHMFilePreferences::getPreferenceforFile(book, "last path"), "html/a.htm");
    EXPECT_FALSE(CHMFilePreferences::getPreferenceforFile(book, "search type").isValid());
    EXPECT_GE(filesInfo().value(book).toMap().value("updated at").toDateTime(), before);
    // The path is one key of the stored map, not a settings group split on "/".
    EXPECT_TRUE(QFile::exists(testsupport::scratchDir() + "/config/Lumeno/Lumeno+.conf"));
    EXPECT_EQ(QSettings("Lumeno", "Lumeno+").childGroups(), QStringList());
    CHMFilePreferences::setPreference(QVariant(), book, "last path");
    EXPECT_FALSE(CHMFilePreferences::getPreferenceforFile(book, "last path").isValid());
}

TEST_F(FilePreferences, NewFileBeyondTwentyForgetsTheUndatedThenTheOldestFirstInKeyOrder) {
    QVariantMap info = fillAndWrite(20, [](int i) { return kBase.addSecs(i == 7 ? -100 : i); });
    EXPECT_TRUE(!info.contains("/f07.chm") && info.contains("/new.chm"));
    info = fillAndWrite(20, [](int i) { return kBase.addSecs(i == 4 || i == 9 ? 0 : 10 + i); });
    EXPECT_TRUE(!info.contains("/f04.chm") && info.contains("/f09.chm"));
    info = fillAndWrite(20, [](int i) { return i == 12 ? QDateTime() : kBase.addSecs(i); });
    EXPECT_TRUE(!info.contains("/f12.chm") && info.contains("/f00.chm"));
    info = fillAndWrite(30, [](int i) { return kBase.addSecs(i); }); // overfull
    EXPECT_EQ(info.size(), 20);
    EXPECT_TRUE(!info.contains("/f10.chm") && info.contains("/f11.chm"));
}

TEST_F(FilePreferences, KnownFileForgetsNothingAndTheFileJustWrittenStays) {
    QVariantMap info = fillAndWrite(
        20, [](int i) { return kBase.addSecs(i); }, "/f05.chm");
    EXPECT_EQ(info.size(), 20);
    // Every stored date in the future, as after the clock was set back.
    const QDateTime future = QDateTime::currentDateTime().addYears(5);
    info = fillAndWrite(20, [&future](int i) { return future.addSecs(i); });
    EXPECT_TRUE(info.contains("/new.chm") && !info.contains("/f00.chm"));
}

TEST_F(FilePreferences, GlobalDefaultsComeBackTypedAndAWrongTypeReadsAsNoValue) {
    CHMFilePreferences::setGlobalDefault("zoom factor", 1.5);
    EXPECT_EQ(CHMFilePreferences::globalDefault("zoom factor").typeId(), QMetaType::Double);
    EXPECT_DOUBLE_EQ(CHMFilePreferences::globalDefault("zoom factor").toDouble(), 1.5);
    CHMFilePreferences::setGlobalDefault("zoom factor", QVariant());
    EXPECT_FALSE(CHMFilePreferences::globalDefault("zoom factor").isValid());
    QSettings("Lumeno", "Lumeno+").setValue("zoom factor", "large");
    EXPECT_FALSE(CHMFilePreferences::globalDefault("zoom factor").isValid());
}
