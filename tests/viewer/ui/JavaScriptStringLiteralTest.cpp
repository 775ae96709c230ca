// Texts reach page scripts only as literals that read back as the same text and cannot end
// early. The web engine reads them back in FindTest; here, their form and a JSON round trip.
#include "JavaScriptStringLiteral.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

// The literal read back by a JSON parser (the literal is valid JSON too).
QString readBack(const QString& literal) {
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(QStringLiteral("[%1]").arg(literal).toUtf8(), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << literal.toStdString();
    return document.array().at(0).toString();
}

bool isPrintableAscii(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return false;
    }
    return true;
}

} // namespace

TEST(JavaScriptStringLiteral, PlainTextIsOnlyQuoted) {
    EXPECT_EQ(javaScriptStringLiteral("lantern"), "\"lantern\"");
    EXPECT_EQ(javaScriptStringLiteral(""), "\"\"");
}

TEST(JavaScriptStringLiteral, QuotesBackslashesAndLineEndsCannotEndTheLiteral) {
    const QString text = QStringLiteral("it's \"fine\" C:\\path\\ \\\" end\nnext\r\t\u2028\u2029");
    const QString literal = javaScriptStringLiteral(text);
    EXPECT_TRUE(isPrintableAscii(literal)) << literal.toStdString();
    // Inside the outer quotes no quote stands unescaped, and no line end at all.
    const QString inner = literal.mid(1, literal.size() - 2);
    EXPECT_FALSE(inner.contains('\''));
    for (qsizetype i = 0; i < inner.size(); ++i) {
        if (inner[i] == '\\') {
            ++i; // an escape: the next character is part of it
            continue;
        }
        EXPECT_NE(inner[i], '"') << "unescaped quote at " << i;
    }
    EXPECT_EQ(readBack(literal), text);
}

TEST(JavaScriptStringLiteral, NoScriptEndTagOrCommentOpenerAppears) {
    const QString text = QStringLiteral("</script><script>alert(1)</script><!-- &amp;");
    const QString literal = javaScriptStringLiteral(text);
    EXPECT_FALSE(literal.contains('<'));
    EXPECT_FALSE(literal.contains('>'));
    EXPECT_FALSE(literal.contains('&'));
    EXPECT_EQ(readBack(literal), text);
}

TEST(JavaScriptStringLiteral, TextBeyondAsciiKeepsEveryUnit) {
    const QString text = QStringLiteral("café 搜索 😀 \u00A0\u007F");
    EXPECT_EQ(readBack(javaScriptStringLiteral(text)), text);
    // An unpaired surrogate is kept as its own escape rather than replaced.
    const QString lone(QChar(0xD800));
    EXPECT_EQ(javaScriptStringLiteral(lone), "\"\\uD800\"");
}
