// Encoding names, decoders and the repair of entity-encoded sitemap text.
#include "TextEncodingTable.h"

#include <gtest/gtest.h>

TEST(TextEncoding, CodePagesDecodeAndReachTheWebEngineAndInvalidInputGivesNull) {
    const char* const names[][2] = {{"CP936", "GBK"},       {"cp1252", "windows-1252"},
                                    {"CP932", "Shift_JIS"}, {"CP950", "Big5"},
                                    {"CP949", "EUC-KR"},    {"no-such-thing", ""}};
    for (const auto& [name, web] : names)
        EXPECT_EQ(webCharsetForEncoding(name), web) << name;
    EXPECT_EQ(decodeText("\xb0\xef\xd6\xfa", "CP936"), QString::fromUtf8("帮助"));
    EXPECT_EQ(decodeText("caf\xc3\xa9", ""), QString::fromUtf8("café"));
    EXPECT_TRUE(decodeText("\xff\xfe\xfd", "").isNull());
    EXPECT_TRUE(decodeText("abc", "no-such-encoding").isNull());
    EXPECT_FALSE(decodeText("", "CP936").isNull());
}

TEST(TextEncoding, EveryTableLcidHasADecoderAndAWebLabel) {
    for (quint32 lcid : {0x0409u, 0x0401u, 0x0419u, 0x0405u, 0x0404u, 0x0804u, 0x0411u, 0x0412u,
                         0x041Eu, 0x0408u, 0x040Du, 0x041Fu, 0x0425u, 0x042Au}) {
        const QString name = encodingNameForLCID(lcid);
        EXPECT_FALSE(decodeText("abc", name).isNull() || webCharsetForEncoding(name).isEmpty())
            << lcid << " " << name.toStdString();
    }
    EXPECT_TRUE(encodingNameForLCID(0).isNull());
}

TEST(TextEncoding, EntityEncodedBytesAreReadInTheFilesCodePage) {
    // "&Ecirc;&Icirc;&Icirc;&Dstrok;" as libxml2 leaves it: three Latin-1 letters and an entity
    // it does not know. Latin-1 in a Western file, and text holding Cyrillic, stay as they are.
    EXPECT_EQ(repairEntityEncodedText(QString::fromUtf8("ÊÎÎ&Dstrok;"), "CP1251"),
              QString::fromUtf8("КООР"));
    EXPECT_EQ(repairEntityEncodedText(QString::fromUtf8("Café"), "CP1252"),
              QString::fromUtf8("Café"));
    EXPECT_EQ(repairEntityEncodedText("plain", "CP936"), "plain");
    EXPECT_EQ(repairEntityEncodedText(QString::fromUtf8("Кофе é"), "CP1251"),
              QString::fromUtf8("Кофе é"));
}
