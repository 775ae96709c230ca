// The Text Encoding list: the shipped file, tag 0 in odd files, polite failure on bad input.
#include "TextEncodingList.h"
#include "HostilePlists.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

QByteArray plist(const QByteArray& root) {
    return "<?xml version=\"1.0\"?><plist version=\"1.0\">" + root + "</plist>";
}

} // namespace

TEST(TextEncodingList, ShippedListOffersTheCorpusCodePagesOnceEach) {
    const auto list =
        TextEncodingList::fromFile(testsupport::resourcesPath() + "/textencoding.plist", nullptr);
    ASSERT_TRUE(list);
    for (int tag = 1; tag < list->count(); ++tag)
        EXPECT_EQ(list->tagForName(list->nameForTag(tag)), tag) << "listed twice";
    for (const char* name : {"CP936", "CP950", "CP932", "CP949", "CP1251", "CP1252", "UTF-8"})
        EXPECT_GT(list->tagForName(QString::fromLatin1(name)), 0) << name;
}

TEST(TextEncodingList, TagZeroIsAutomaticEvenWhenTheFileLacksIt) {
    auto list = TextEncodingList::fromData(
        plist("<array><string>x</string><array><dict><key>title</key><string>Unicode</string>"
              "<key>name</key><string>UTF-8</string></dict></array></array>"),
        nullptr);
    ASSERT_TRUE(list && list->count() == 2);
    EXPECT_EQ(list->entryForTag(0)->title, "Automatic");
    EXPECT_TRUE(list->nameForTag(0).isNull());
    EXPECT_EQ(list->tagForName(""), 0);
    EXPECT_TRUE(list->entryForTag(2) == nullptr && list->entryForTag(-1) == nullptr);
    list = TextEncodingList::fromData(plist("<array/>"), nullptr);
    EXPECT_TRUE(list && list->count() == 0 && list->nameForTag(0).isNull());
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
}

TEST(TextEncodingList, HostileListsWithinTheSizeLimitAreRefusedBeforeParsing) {
    const std::string deep = hostileplist::binaryDeepNest(100000);
    ASSERT_LT(qsizetype(deep.size()), TextEncodingList::kMaxDataSize);
    for (const std::string& bytes :
         {deep, hostileplist::binaryDoublingReferences(40), hostileplist::xmlDeepNest(20000)}) {
        QString error;
        EXPECT_FALSE(TextEncodingList::fromData(QByteArray::fromStdString(bytes), &error));
        EXPECT_TRUE(error.contains("can be read safely")) << error.toStdString();
    }
}
