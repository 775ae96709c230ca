// The per-file preferences kept for at most 20 files, and the window's global defaults, in a
// settings file under a temporary XDG_CONFIG_HOME.
#include "CHMFilePreferences.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QThread>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

class FilePreferences : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // QSettings reads XDG_CONFIG_HOME once, on first use: set it before any test runs.
        configHome = scratchDir() + "/config";
        QDir().mkpath(configHome);
        qputenv("XDG_CONFIG_HOME", configHome.toLocal8Bit());
    }

    void SetUp() override {
        QSettings settings("Lumeno", "Lumeno+");
        settings.clear();
        settings.sync();
    }

    static QVariantMap filesInfo() {
        return QSettings("Lumeno", "Lumeno+").value("files info").toMap();
    }

    // Writes "files info" directly, each file stamped at the given time.
    static void storeFilesInfo(const std::vector<std::pair<QString, QDateTime>>& entries) {
        QVariantMap info;
        for (const auto& [file, date] : entries) {
            QVariantMap entry{{"last path", "index.htm"}};
            if (date.isValid())
                entry.insert("updated at", date);
            info.insert(file, entry);
        }
        QSettings("Lumeno", "Lumeno+").setValue("files info", info);
    }

    static QString configHome;
};

QString FilePreferences::configHome;

const QDateTime kBase(QDate(2020, 1, 1), QTime(12, 0));

} // namespace

TEST_F(FilePreferences, ValueWrittenForAFileIsReadBackAndStampedInTheSettingsFile) {
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    CHMFilePreferences::setPreference("html/a.htm", "/books/x y/guide.chm", "last path");
    CHMFilePreferences::setPreference("index", "/books/x y/guide.chm", "search type");
    EXPECT_EQ(CHMFilePreferences::getPreferenceforFile("/books/x y/guide.chm", "last path"),
              "html/a.htm");
    EXPECT_EQ(CHMFilePreferences::getPreferenceforFile("/books/x y/guide.chm", "search type"),
              "index");
    const QVariantMap entry = filesInfo().value("/books/x y/guide.chm").toMap();
    EXPECT_GE(entry.value("updated at").toDateTime(), before);
    // The path is one key of the stored map, not a settings group split on "/".
    EXPECT_TRUE(QFile::exists(configHome + "/Lumeno/Lumeno+.conf"));
    EXPECT_EQ(QSettings("Lumeno", "Lumeno+").childGroups(), QStringList());
}

TEST_F(FilePreferences, MissingFileOrKeyReadsAsNoValue) {
    EXPECT_FALSE(CHMFilePreferences::getPreferenceforFile("/nowhere.chm", "last path").isValid());
    CHMFilePreferences::setPreference("a.htm", "/one.chm", "last path");
    EXPECT_FALSE(CHMFilePreferences::getPreferenceforFile("/one.chm", "search type").isValid());
    EXPECT_FALSE(CHMFilePreferences::getPreferenceforFile("/two.chm", "last path").isValid());
}

TEST_F(FilePreferences, WritingNoValueRemovesTheKey) {
    CHMFilePreferences::setPreference("a.htm", "/one.chm", "last path");
    CHMFilePreferences::setPreference(QVariant(), "/one.chm", "last path");
    EXPECT_FALSE(CHMFilePreferences::getPreferenceforFile("/one.chm", "last path").isValid());
}

TEST_F(FilePreferences, TwentyFirstFileForgetsTheOldestAndKeepsTheOthers) {
    std::vector<std::pair<QString, QDateTime>> entries;
    for (int i = 0; i < 20; ++i) // file 07 is the oldest
        entries.push_back(
            {QString("/f%1.chm").arg(i, 2, 10, QChar('0')), kBase.addSecs(i == 7 ? -100 : i)});
    storeFilesInfo(entries);
    CHMFilePreferences::setPreference("a.htm", "/new.chm", "last path");
    const QVariantMap info = filesInfo();
    EXPECT_EQ(info.size(), 20);
    EXPECT_FALSE(info.contains("/f07.chm"));
    EXPECT_TRUE(info.contains("/new.chm"));
    EXPECT_TRUE(info.contains("/f00.chm"));
}

TEST_F(FilePreferences, AmongEqualOldestDatesTheFirstInKeyOrderGoes) {
    std::vector<std::pair<QString, QDateTime>> entries;
    for (int i = 0; i < 20; ++i)
        entries.push_back({QString("/f%1.chm").arg(i, 2, 10, QChar('0')),
                           i == 4 || i == 9 ? kBase : kBase.addSecs(10 + i)});
    storeFilesInfo(entries);
    CHMFilePreferences::setPreference("a.htm", "/new.chm", "last path");
    const QVariantMap info = filesInfo();
    EXPECT_FALSE(info.contains("/f04.chm"));
    EXPECT_TRUE(info.contains("/f09.chm"));
}

TEST_F(FilePreferences, WritingAKnownFileForgetsNothing) {
    std::vector<std::pair<QString, QDateTime>> entries;
    for (int i = 0; i < 20; ++i)
        entries.push_back({QString("/f%1.chm").arg(i, 2, 10, QChar('0')), kBase.addSecs(i)});
    storeFilesInfo(entries);
    CHMFilePreferences::setPreference("b.htm", "/f05.chm", "last path");
    EXPECT_EQ(filesInfo().size(), 20);
    EXPECT_EQ(CHMFilePreferences::getPreferenceforFile("/f05.chm", "last path"), "b.htm");
}

TEST_F(FilePreferences, FileJustWrittenIsKeptEvenWhenOthersLookNewer) {
    // Every stored date lies in the future, as after the clock was set back.
    std::vector<std::pair<QString, QDateTime>> entries;
    const QDateTime future = QDateTime::currentDateTime().addYears(5);
    for (int i = 0; i < 20; ++i)
        entries.push_back({QString("/f%1.chm").arg(i, 2, 10, QChar('0')), future.addSecs(i)});
    storeFilesInfo(entries);
    CHMFilePreferences::setPreference("a.htm", "/new.chm", "last path");
    const QVariantMap info = filesInfo();
    EXPECT_EQ(info.size(), 20);
    EXPECT_TRUE(info.contains("/new.chm"));
    EXPECT_FALSE(info.contains("/f00.chm"));
}

TEST_F(FilePreferences, EntryWithoutADateIsForgottenFirst) {
    std::vector<std::pair<QString, QDateTime>> entries;
    for (int i = 0; i < 20; ++i)
        entries.push_back({QString("/f%1.chm").arg(i, 2, 10, QChar('0')),
                           i == 12 ? QDateTime() : kBase.addSecs(i)});
    storeFilesInfo(entries);
    CHMFilePreferences::setPreference("a.htm", "/new.chm", "last path");
    EXPECT_FALSE(filesInfo().contains("/f12.chm"));
    EXPECT_TRUE(filesInfo().contains("/f00.chm"));
}

TEST_F(FilePreferences, OverfullStoreIsBroughtBackToTwentyFiles) {
    std::vector<std::pair<QString, QDateTime>> entries;
    for (int i = 0; i < 30; ++i)
        entries.push_back({QString("/f%1.chm").arg(i, 2, 10, QChar('0')), kBase.addSecs(i)});
    storeFilesInfo(entries);
    CHMFilePreferences::setPreference("a.htm", "/new.chm", "last path");
    const QVariantMap info = filesInfo();
    EXPECT_EQ(info.size(), 20);
    EXPECT_FALSE(info.contains("/f10.chm"));
    EXPECT_TRUE(info.contains("/f11.chm"));
}

TEST_F(FilePreferences, DamagedFilesInfoIsStartedAfresh) {
    QSettings("Lumeno", "Lumeno+").setValue("files info", "not a map");
    CHMFilePreferences::setPreference("a.htm", "/one.chm", "last path");
    EXPECT_EQ(CHMFilePreferences::getPreferenceforFile("/one.chm", "last path"), "a.htm");
}

TEST_F(FilePreferences, GlobalDefaultsComeBackTypedAfterAReload) {
    EXPECT_FALSE(CHMFilePreferences::globalDefault("zoom factor").isValid());
    CHMFilePreferences::setGlobalDefault("zoom factor", 1.5);
    CHMFilePreferences::setGlobalDefault("Sidebar Width", 240.0);
    CHMFilePreferences::setGlobalDefault("search", "lighthouse");
    QSettings("Lumeno", "Lumeno+").sync();
    const QVariant zoom = CHMFilePreferences::globalDefault("zoom factor");
    EXPECT_EQ(zoom.typeId(), QMetaType::Double);
    EXPECT_DOUBLE_EQ(zoom.toDouble(), 1.5);
    EXPECT_DOUBLE_EQ(CHMFilePreferences::globalDefault("Sidebar Width").toDouble(), 240.0);
    EXPECT_EQ(CHMFilePreferences::globalDefault("search"), "lighthouse");
    CHMFilePreferences::setGlobalDefault("search", QVariant());
    EXPECT_FALSE(CHMFilePreferences::globalDefault("search").isValid());
    QSettings("Lumeno", "Lumeno+").setValue("zoom factor", "large");
    EXPECT_FALSE(CHMFilePreferences::globalDefault("zoom factor").isValid());
}
