// Encoding names, decoders and the repair of entity-encoded sitemap text.
#include "TextEncodingTable.h"

#include <gtest/gtest.h>

TEST(TextEncoding, CodePageNamesReachIconvAndTheWebEngine) {
    EXPECT_EQ(webCharsetForEncoding("CP936"), "GBK");
    EXPECT_EQ(webCharsetForEncoding("cp1252"), "windows-1252");
    EXPECT_EQ(webCharsetForEncoding("CP932"), "Shift_JIS");
    EXPECT_EQ(webCharsetForEncoding("CP950"), "Big5");
    EXPECT_EQ(webCharsetForEncoding("CP949"), "EUC-KR");
    EXPECT_TRUE(webCharsetForEncoding("").isEmpty());
    EXPECT_TRUE(webCharsetForEncoding("no-such-thing").isEmpty());
    EXPECT_EQ(iconvNameForEncoding("CP950"), "BIG5");
}

TEST(TextEncoding, DecodesInTheNamedCodePageAndRejectsInvalidBytes) {
    EXPECT_EQ(decodeText("\xb0\xef\xd6\xfa", "CP936"), QString::fromUtf8("帮助"));
    EXPECT_EQ(decodeText("\xca\xee\xee\xf0", "CP1251"), QString::fromUtf8("Коор"));
    EXPECT_EQ(decodeText("caf\xc3\xa9", ""), QString::fromUtf8("café"));
    EXPECT_TRUE(decodeText("\xff\xfe\xfd", "").isNull());
    EXPECT_TRUE(decodeText("abc", "no-such-encoding").isNull());
    EXPECT_FALSE(decodeText("", "CP936").isNull());
}

TEST(TextEncoding, EveryTableLcidHasADecoder) {
    for (quint32 lcid : {0x0409u, 0x0401u, 0x0419u, 0x0405u, 0x0404u, 0x0804u, 0x0411u, 0x0412u,
                         0x041Eu, 0x0408u, 0x040Du, 0x041Fu, 0x0425u, 0x042Au}) {
        const QString name = encodingNameForLCID(lcid);
        ASSERT_FALSE(name.isEmpty()) << lcid;
        EXPECT_FALSE(decodeText("abc", name).isNull()) << name.toStdString();
        EXPECT_FALSE(webCharsetForEncoding(name).isEmpty()) << name.toStdString();
    }
    EXPECT_TRUE(encodingNameForLCID(0).isNull());
}

TEST(TextEncoding, EntityEncodedBytesAreReadInTheFilesCodePage) {
    // "&Ecirc;&Icirc;&Icirc;&Dstrok;" as libxml2 leaves it: three Latin-1 letters and an
    // entity it does not know.
    const QString parsed = QString::fromUtf8("ÊÎÎ&Dstrok;");
    EXPECT_EQ(repairEntityEncodedText(parsed, "CP1251"), QString::fromUtf8("КООР"));
    // Latin-1 text in a Western file, and text that already holds Cyrillic, stay as they are.
    EXPECT_EQ(repairEntityEncodedText(QString::fromUtf8("Café"), "CP1252"),
              QString::fromUtf8("Café"));
    EXPECT_EQ(repairEntityEncodedText(QString::fromUtf8("Кофе é"), "CP1251"),
              QString::fromUtf8("Кофе é"));
    EXPECT_EQ(repairEntityEncodedText("plain", "CP936"), "plain");
}
