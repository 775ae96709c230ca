// The list of the Text Encoding menus: the shipped "textencoding.plist" names only encodings
// the reader can decode and announce, and no input makes the parser fail other than politely.
#include "TextEncodingList.h"
#include "TestSupport.h"
#include "TextEncodingTable.h"

#include <gtest/gtest.h>

namespace {

QByteArray plist(const QByteArray& root) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + root +
           "</plist>\n";
}

QByteArray entry(const QByteArray& title, const QByteArray& name) {
    return "<dict><key>title</key><string>" + title + "</string><key>name</key><string>" + name +
           "</string></dict>";
}

} // namespace

TEST(TextEncodingList, EveryShippedEntryHasADecoderAndAWebLabel) {
    QString error;
    const auto list =
        TextEncodingList::fromFile(testsupport::resourcesPath() + "/textencoding.plist", &error);
    ASSERT_TRUE(list) << error.toStdString();
    ASSERT_GT(list->count(), 1);
    EXPECT_TRUE(list->entryForTag(0)->name.isEmpty());
    for (int tag = 1; tag < list->count(); ++tag) {
        const QString name = list->nameForTag(tag);
        SCOPED_TRACE(name.toStdString());
        EXPECT_FALSE(list->entryForTag(tag)->title.isEmpty());
        EXPECT_FALSE(webCharsetForEncoding(name).isEmpty());
        EXPECT_FALSE(decodeText(QByteArray("Lumeno"), name).isNull());
        EXPECT_EQ(list->tagForName(name), tag) << "listed twice";
    }
}

TEST(TextEncodingList, ShippedListOffersTheCodePagesOfTheCorpusLanguages) {
    const auto list =
        TextEncodingList::fromFile(testsupport::resourcesPath() + "/textencoding.plist", nullptr);
    ASSERT_TRUE(list);
    for (const char* name : {"CP936", "CP950", "CP932", "CP949", "CP1251", "CP1252", "UTF-8"})
        EXPECT_GT(list->tagForName(QString::fromLatin1(name)), 0) << name;
}

TEST(TextEncodingList, TagsRunOverAllGroupsAndSkipBrokenEntries) {
    const auto list = TextEncodingList::fromData(
        plist("<array><array>" + entry("Auto", "ignored") + entry("Unicode", "UTF-8") +
              "</array><array>" + entry("", "CP1252") + entry("Cyrillic", "CP1251") +
              "<dict><key>title</key><integer>7</integer><key>name</key><string>CP1250</string>"
              "</dict>" +
              entry("Thai", "cp874") + "</array><array></array><integer>3</integer></array>"),
        nullptr);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->groups().size(), 2u);
    EXPECT_EQ(list->count(), 4);
    EXPECT_EQ(list->entryForTag(0)->title, "Auto");
    // Automatic never names an encoding, whatever the file says.
    EXPECT_TRUE(list->nameForTag(0).isNull());
    EXPECT_EQ(list->nameForTag(1), "UTF-8");
    EXPECT_EQ(list->nameForTag(2), "CP1251");
    EXPECT_EQ(list->nameForTag(3), "cp874");
    EXPECT_EQ(list->tagForName("CP874"), 3);
    EXPECT_EQ(list->tagForName("CP1252"), -1);
    EXPECT_EQ(list->tagForName(""), 0);
    EXPECT_EQ(list->entryForTag(4), nullptr);
    EXPECT_EQ(list->entryForTag(-1), nullptr);
}

TEST(TextEncodingList, UnusableFirstEntryStillLeavesTagZeroAutomatic) {
    const auto list = TextEncodingList::fromData(
        plist("<array><string>x</string><array>" + entry("Unicode", "UTF-8") + "</array></array>"),
        nullptr);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->entryForTag(0)->title, "Automatic");
    EXPECT_TRUE(list->nameForTag(0).isNull());
    EXPECT_EQ(list->nameForTag(1), "UTF-8");
}

TEST(TextEncodingList, EmptyRootGivesAnEmptyList) {
    const auto list = TextEncodingList::fromData(plist("<array/>"), nullptr);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->count(), 0);
    EXPECT_TRUE(list->groups().empty());
    EXPECT_TRUE(list->nameForTag(0).isNull());
}

TEST(TextEncodingList, DataThatIsNoListOfGroupsFailsWithAReason) {
    for (const QByteArray& data : {QByteArray(), QByteArray("not a plist"), plist("<dict/>"),
                                   plist("<array><array>"), QByteArray("bplist00\xff\xff\xff", 11),
                                   QByteArray(TextEncodingList::kMaxDataSize + 1, ' ')}) {
        QString error;
        EXPECT_FALSE(TextEncodingList::fromData(data, &error)) << data.left(40).toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
    QString error;
    EXPECT_FALSE(TextEncodingList::fromFile(testsupport::scratchDir() + "/none.plist", &error));
    EXPECT_TRUE(error.startsWith("cannot be read")) << error.toStdString();
    EXPECT_FALSE(TextEncodingList::fromFile(QString(), &error));
    EXPECT_EQ(error, "is missing");
}
