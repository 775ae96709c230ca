// The application's Text Encoding menu built from "textencoding.plist" (no web engine): items,
// tags and separators, the pop-up copies, and a list that is missing at first.
#include "CHMTextEncodingMenu.h"
#include "TestSupport.h"
#include "WebTestSupport.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <gtest/gtest.h>

namespace {

QByteArray plist(const QByteArray& groups) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><array>" + groups +
           "</array></plist>\n";
}

QByteArray entry(const QByteArray& title, const QByteArray& name) {
    return "<dict><key>title</key><string>" + title + "</string><key>name</key><string>" + name +
           "</string></dict>";
}

// Each test reads its resources from a folder of its own.
class EncodingMenu : public ::testing::Test {
protected:
    void SetUp() override {
        static int count = 0;
        m_dir = testsupport::scratchDir() + QStringLiteral("/resources%1").arg(++count);
        ASSERT_TRUE(QDir().mkpath(m_dir));
        qputenv("LUMENO_RESOURCES", m_dir.toLocal8Bit());
    }
    void TearDown() override { qunsetenv("LUMENO_RESOURCES"); }

    void writeList(const QByteArray& bytes) const {
        QFile file(m_dir + QStringLiteral("/textencoding.plist"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    QString m_dir;
};

QStringList describe(const QMenu* menu) {
    QStringList out;
    for (const QAction* item : menu->actions())
        out << (item->isSeparator() ? QStringLiteral("-")
                                    : QStringLiteral("%1=%2")
                                          .arg(item->text())
                                          .arg(CHMTextEncodingMenu::tagOf(item)));
    return out;
}

} // namespace

TEST_F(EncodingMenu, TwoGroupsOfTwoEntriesGiveFourTaggedItemsAndOneSeparator) {
    writeList(plist("<array>" + entry("Automatic", "") + entry("Unicode", "UTF-8") + "</array>" +
                    "<array>" + entry("Western", "CP1252") + entry("Cyrillic", "CP1251") +
                    "</array>"));
    CHMTextEncodingMenu menus;
    ASSERT_TRUE(menus.initEncodingMenu());
    EXPECT_EQ(describe(menus.menu()),
              (QStringList{"Automatic=0", "Unicode=1", "-", "Western=2", "Cyrillic=3"}));
    EXPECT_TRUE(menus.getEncodingByTag(0).isNull());
    EXPECT_EQ(menus.getEncodingByTag(2), "CP1252");
    EXPECT_TRUE(menus.getEncodingByTag(4).isNull());
    EXPECT_TRUE(menus.getEncodingByTag(-1).isNull());
    EXPECT_EQ(menus.tagForEncoding("cp1251"), 3);

    // Built once: a second call adds nothing; a pop-up gets a copy of every item.
    ASSERT_TRUE(menus.initEncodingMenu());
    QMenu popup;
    menus.initEncodingMenu(&popup);
    EXPECT_EQ(describe(&popup), describe(menus.menu()));
    EXPECT_EQ(menus.menu()->actions().size(), 5);
    // Nothing to act on before a window marks its choice.
    for (const QAction* item : popup.actions())
        EXPECT_TRUE(item->isSeparator() || !item->isEnabled()) << item->text().toStdString();
}

TEST_F(EncodingMenu, BrokenEntriesAreLeftOutWithoutTakingATag) {
    writeList(
        plist("<array>" + entry("Automatic", "") + "</array><array>" +
              "<dict><key>name</key><string>CP1250</string></dict>" + entry("Unicode", "UTF-8") +
              "<dict><key>title</key><string>No name</string></dict>" +
              entry("Martian", "X-MARTIAN") + "<string>not a dictionary</string>" +
              entry("Greek", "CP1253") + "</array><array>" + entry("", "CP1254") + "</array>"));
    webtest::LogCapture log;
    CHMTextEncodingMenu menus;
    ASSERT_TRUE(menus.initEncodingMenu());
    // The group left empty leaves no separator behind.
    EXPECT_EQ(describe(menus.menu()), (QStringList{"Automatic=0", "-", "Unicode=1", "Greek=2"}));
    EXPECT_EQ(menus.getEncodingByTag(2), "CP1253");
    EXPECT_TRUE(log.contains("has no \"title\""));
    EXPECT_TRUE(log.contains("has no \"name\""));
    EXPECT_TRUE(log.contains("X-MARTIAN"));
    EXPECT_TRUE(log.contains("is not a dictionary"));
}

TEST_F(EncodingMenu, MissingListIsLoggedAndReadAtTheNextOpening) {
    webtest::LogCapture log;
    CHMTextEncodingMenu menus;
    QMenu popup;
    menus.initEncodingMenu(&popup);
    EXPECT_FALSE(menus.isInitialized());
    EXPECT_TRUE(menus.menu()->isEmpty());
    EXPECT_TRUE(popup.isEmpty());
    EXPECT_TRUE(log.contains("textencoding.plist is missing"));

    writeList("<plist><array><array>");
    emit menus.menu()->aboutToShow();
    EXPECT_FALSE(menus.isInitialized());
    EXPECT_TRUE(log.contains("textencoding.plist is not a property list"));

    writeList(plist("<array>" + entry("Automatic", "") + entry("Unicode", "UTF-8") + "</array>"));
    emit menus.menu()->aboutToShow();
    EXPECT_TRUE(menus.isInitialized());
    EXPECT_EQ(describe(menus.menu()), (QStringList{"Automatic=0", "Unicode=1"}));
}

TEST_F(EncodingMenu, ShippedListOpensWithAutomaticAndNamesOnlyKnownEncodings) {
    qunsetenv("LUMENO_RESOURCES");
    qputenv("LUMENO_RESOURCES", testsupport::resourcesPath().toLocal8Bit());
    webtest::LogCapture log;
    CHMTextEncodingMenu menus;
    ASSERT_TRUE(menus.initEncodingMenu());
    EXPECT_FALSE(log.contains("textencoding.plist"));
    const QList<QAction*> items = menus.menu()->actions();
    ASSERT_FALSE(items.isEmpty());
    EXPECT_EQ(items.first()->text(), "Automatic");
    EXPECT_FALSE(items.last()->isSeparator());
    for (const char* name : {"UTF-8", "CP1252", "CP1251", "CP936", "CP950", "CP932", "CP949"})
        EXPECT_GT(menus.tagForEncoding(QString::fromLatin1(name)), 0) << name;
}
