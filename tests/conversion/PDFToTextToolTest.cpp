// convtool pdf-to-text: arguments, default extensions, exit codes; convtool hands the text export
// to its lean helper and every other command to the program with the whole library.
#include "PDFToTextTestSupport.h"
#include "TextReadBack.h"

namespace {

int runTool(const std::string& arguments, std::string* output = nullptr) {
    int status = -1;
    const std::string text = testfiles::capture(
        std::string(LUMENO_CONVTOOL) + " pdf-to-text " + arguments + " 2>&1", &status);
    if (output)
        *output = text;
    return status;
}

} // namespace

TEST_F(PDFToTextTest, ToolWritesPerPageFilesWithTheFormatsExtensionAndOpensEncryptedInput) {
    const std::string out = testfiles::shellQuote(m_folder.string());
    EXPECT_EQ(runTool(testfiles::shellQuote(TestPDF("twelve.pdf")) + " " + out +
                      " --format 6 --per-page --first 3 --last 5"),
              0);
    EXPECT_EQ(runTool(testfiles::shellQuote(TestPDF("locked.pdf")) + " " + out +
                      " --format 1 --first 11 --password 'open sesame' --base Secret"),
              0);
    EXPECT_EQ(outputNames(), (std::set<std::string>{"Secret.txt", "twelve-03.docx",
                                                    "twelve-04.docx", "twelve-05.docx"}));
    EXPECT_EQ(NormalizeSpace(ReadDOCX(outputPath("twelve-04.docx")).text),
              NormalizeSpace(PdftotextOf(TestPDF("twelve.pdf"), 4, 4)));
    EXPECT_EQ(NormalizeSpace(testfiles::readText(outputPath("Secret.txt"))),
              NormalizeSpace(PdftotextOf(TestPDF("twelve.pdf"), 11, 12)));
}

TEST_F(PDFToTextTest, ToolReportsBadArgumentsAndFailures) {
    const std::string in = testfiles::shellQuote(TestPDF("twelve.pdf"));
    const std::string out = testfiles::shellQuote(m_folder.string());
    std::string message;
    EXPECT_EQ(runTool(in + " " + out, &message), 2);
    EXPECT_NE(message.find("--format"), std::string::npos);
    EXPECT_EQ(runTool(in + " " + out + " --format x"), 2);
    EXPECT_EQ(runTool(in + " " + out + " --format 1 --bogus"), 2);
    EXPECT_EQ(runTool(in + " " + out + " --format 9", &message), 1);
    EXPECT_NE(message.find("unknown text format"), std::string::npos);
    EXPECT_EQ(runTool(testfiles::shellQuote(TestPDF("notapdf.pdf")) + " " + out + " --format 1",
                      &message),
              1);
    EXPECT_NE(message.find("cannot be opened"), std::string::npos);
    EXPECT_EQ(runTool("--help", &message), 0);
    EXPECT_TRUE(outputNames().empty());
}

TEST_F(PDFToTextTest, TheTextExportWritesEveryFormatAndConvtoolHandsOtherCommandsOn) {
    const std::string in = testfiles::shellQuote(TestPDF("twelve.pdf"));
    const std::string out = testfiles::shellQuote(m_folder.string());
    // The last --format given counts.
    EXPECT_EQ(runTool(in + " " + out + " --format 1 --first 2 --last 2 --format 7"), 0);
    EXPECT_EQ(runTool(in + " " + out + " --first 3 --last 3 --base --format --format 1"), 0);
    EXPECT_EQ(outputNames(), (std::set<std::string>{"--format.txt", "twelve.odt"}));
    EXPECT_EQ(NormalizeSpace(ReadODT(outputPath("twelve.odt")).text),
              NormalizeSpace(PdftotextOf(TestPDF("twelve.pdf"), 2, 2)));
    int status = -1;
    const std::string help =
        testfiles::capture(std::string(LUMENO_CONVTOOL) + " --help 2>&1", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(help.find("pdf-images"), std::string::npos) << help;
    const std::string unknown =
        testfiles::capture(std::string(LUMENO_CONVTOOL) + " no-such-command 2>&1", &status);
    EXPECT_NE(unknown.find("unknown command"), std::string::npos) << unknown;
    EXPECT_EQ(status, 2);
}
