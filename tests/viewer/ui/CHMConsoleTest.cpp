// The console bridge's log line for untrusted page text.
#include "CHMConsole.h"

#include <gtest/gtest.h>

TEST(CHMConsole, LineBreaksAndTerminalControlsCannotForgeOrRewriteLogLines) {
    EXPECT_EQ(CHMConsole::formatLine("hello, 世界"), "hello, 世界");
    EXPECT_EQ(CHMConsole::formatLine("one\ntwo\r\nthree\u2028four"),
              "one\\ntwo\\r\\nthree\\x2028four");
    EXPECT_EQ(CHMConsole::formatLine(QString("\x1b[2Jgone") + QChar(0x9b) + "x\\"),
              "\\x1b[2Jgone\\x9bx\\\\");
}
