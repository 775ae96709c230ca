// Text from the user or from a book reaches a page's scripts only as a string literal made
// here, never spliced into code as it stands: whatever it holds (quotes, backslashes, line
// ends, "</script>", U+2028) it reads back as the same string and cannot end the literal.
#pragma once

#include <QString>

// A double-quoted JavaScript string literal of text, in printable ASCII. Every UTF-16 unit
// outside printable ASCII, and the quotes, "<", ">" and "&", is written as a \uXXXX escape, so
// unpaired surrogates survive too and no HTML or script end tag can appear in it. The literal
// is valid JSON as well.
QString javaScriptStringLiteral(const QString& text);
