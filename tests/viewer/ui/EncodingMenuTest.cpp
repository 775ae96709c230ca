// The application's Text Encoding menu built from "textencoding.plist" (no web engine).
#include "CHMTextEncodingMenu.h"
#include "WindowTestFixture.h"

#include <QTemporaryDir>

namespace {

QByteArray entry(const QByteArray& title, const QByteArray& name) {
    return "<dict><key>title</key><string>" + title + "</string><key>name</key><string>" + name +
           "</string></dict>";
}

class EncodingMenu : public ::testing::Test {
protected:
    void SetUp() override { qputenv("LUMENO_RESOURCES", m_dir.path().toLocal8Bit()); }
    void TearDown() override { qunsetenv("LUMENO_RESOURCES"); }
    void writeList(const QByteArray& groups) const {
        QFile file(m_dir.path() + "/textencoding.plist");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("<?xml version=\"1.0\"?><plist><array>" + groups + "</array></plist>");
    }
    QTemporaryDir m_dir; // each test reads its resources from a folder of its own
};

QStringList describe(const QMenu* menu) {
    QStringList out;
    for (const QAction* item : menu->actions())
        out << (item->isSeparator()
                    ? "-"
                    : item->text() + "=" + QString::number(CHMTextEncodingMenu::tagOf(item)));
    return out;
}

} // namespace

TEST_F(EncodingMenu, MissingListIsLoggedAndTheNextOpeningBuildsTheKeptEntriesOnce) {
    webtest::LogCapture log;
    CHMTextEncodingMenu menus;
    EXPECT_TRUE(!menus.initEncodingMenu() && menus.menu()->isEmpty());
    EXPECT_TRUE(log.contains("textencoding.plist is missing"));
    writeList("<array>" + entry("Automatic", "CP1250") + entry("Unicode", "UTF-8") +
              "</array><array><dict><key>name</key><string>CP1250</string></dict>" +
              entry("Western", "CP1252") + "<dict><key>title</key><string>No name</string></dict>" +
              entry("Martian", "X-MARTIAN") + "<string>not a dictionary</string>" +
              entry("Cyrillic", "cp1251") + "</array><array>" + entry("", "CP1254") + "</array>");
    emit menus.menu()->aboutToShow();
    // Broken entries take no tag; the group they leave empty leaves no separator behind.
    EXPECT_EQ(describe(menus.menu()),
              (QStringList{"Automatic=0", "Unicode=1", "-", "Western=2", "Cyrillic=3"}));
    for (const char* line : {"no \"title\"", "no \"name\"", "X-MARTIAN", "not a dictionary"})
        EXPECT_TRUE(log.contains(line)) << line;
    EXPECT_TRUE(menus.getEncodingByTag(0).isNull());
    EXPECT_EQ(menus.tagForEncoding("CP1251"), 3);
    ASSERT_TRUE(menus.initEncodingMenu());
    EXPECT_EQ(menus.menu()->actions().size(), 5);
}

TEST_F(EncodingMenu, PopUpCopiesEveryItemDisabledUntilAWindowMarksItsChoice) {
    writeList("<array>" + entry("A", "") + "</array><array>" + entry("U", "UTF-8") + "</array>");
    CHMTextEncodingMenu menus;
    QMenu popup;
    menus.initEncodingMenu(&popup);
    EXPECT_EQ(describe(&popup), (QStringList{"A=0", "-", "U=1"}));
    for (const QAction* item : popup.actions())
        EXPECT_TRUE(item->isSeparator() || !item->isEnabled()) << item->text().toStdString();
}
