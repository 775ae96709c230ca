// Texts reach page scripts only as literals that read back as the same text and cannot end
// early. The web engine reads them back in FindTest; here, their form and a JSON round trip.
#include "JavaScriptStringLiteral.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

TEST(JavaScriptStringLiteral, EveryTextIsPrintableAsciiThatNoQuoteTagOrLineEndCanEndEarly) {
    EXPECT_EQ(javaScriptStringLiteral("lantern"), "\"lantern\"");
    // An unpaired surrogate is kept as its own escape rather than replaced.
    EXPECT_EQ(javaScriptStringLiteral(QString(QChar(0xD800))), "\"\\uD800\"");
    for (const QString& text :
         {QStringLiteral(""),
          QStringLiteral("it's \"fine\" C:\\path\\ \\\" end\nnext\r\t\u2028\u2029"),
          QStringLiteral("</script><script>alert(1)</script><!-- &amp;"),
          QStringLiteral("café 搜索 😀 \u00A0\u007F")}) {
        SCOPED_TRACE(text.toStdString());
        const QString literal = javaScriptStringLiteral(text);
        const QString inner = literal.mid(1, literal.size() - 2);
        ASSERT_TRUE(literal.startsWith('"') && literal.endsWith('"'));
        for (qsizetype i = 0; i < inner.size(); ++i) {
            EXPECT_TRUE(inner[i].unicode() >= 0x20 && inner[i].unicode() <= 0x7E) << i;
            EXPECT_FALSE(QStringLiteral("'<>&").contains(inner[i])) << i;
            if (inner[i] == '\\')
                ++i; // an escape: the next character is part of it
            else
                EXPECT_NE(inner[i], '"') << "unescaped quote at " << i;
        }
        // The literal is valid JSON too: a JSON parser reads it back as the text.
        QJsonParseError error;
        const QJsonDocument read = QJsonDocument::fromJson(("[" + literal + "]").toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError);
        EXPECT_EQ(read.array().at(0).toString(), text);
    }
}
