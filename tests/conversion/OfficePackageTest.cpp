// The ODT and DOCX packages written in memory: what the office formats make of spaces, tabs, the
// XML special characters and font names with spaces, read back by unzip+libxml2 and LibreOffice.
#include "TestFiles.h"
#include "TestSupport.h"
#include "TextDocumentEncoders.h"
#include "TextReadBack.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace conversion;

namespace {

StyledText awkwardText() {
    StyledText text;
    TextStyle heading{"DejaVu Sans", 16, true, false};
    TextStyle body{"Noto Sans CJK SC", 10.5, false, true};
    text.append(heading, "  Two leading spaces & <tags> \"quoted\"\n");
    text.append(body, "a\tb   three spaces, 中文 in the same run\n\n");
    text.append(heading, "last line without an end");
    return text;
}

using Encoder = bool (*)(const StyledText&, std::string&, std::string&);

std::string writePackage(const std::filesystem::path& folder, const std::string& name,
                         Encoder encode) {
    std::string bytes, error;
    EXPECT_TRUE(encode(awkwardText(), bytes, error)) << error;
    const std::string path = (folder / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

class OfficePackageTest : public testing::Test {
protected:
    void SetUp() override { m_folder = testfiles::freshDir("office-package"); }
    void TearDown() override { std::filesystem::remove_all(m_folder); }
    std::filesystem::path m_folder;
};

} // namespace

TEST_F(OfficePackageTest, ODTKeepsEverySpaceTabAndSpecialCharacterWithItsStyle) {
    const std::string path = writePackage(m_folder, "awkward.odt", encodeODT);
    const ReadDocument document = ReadODT(path);
    ASSERT_TRUE(document.ok);
    EXPECT_EQ(document.text, "  Two leading spaces & <tags> \"quoted\"\n"
                             "a\tb   three spaces, 中文 in the same run\n"
                             "\n"
                             "last line without an end\n");
    EXPECT_TRUE(HasRun(document, "Two leading spaces & <tags>", true, false));
    EXPECT_TRUE(HasRun(document, "three spaces, 中文", false, true));
    bool cjkFont = false;
    for (const ReadRun& run : document.runs)
        cjkFont |= run.font == "'Noto Sans CJK SC'" && run.size == 10.5;
    EXPECT_TRUE(cjkFont) << "a family with spaces is quoted as one name";
}

TEST_F(OfficePackageTest, LibreOfficeReadsTheODTAndDOCXPackagesAsTheSameText) {
    REQUIRE_TOOL(HaveLibreOffice(), "LibreOffice (soffice)");
    const std::pair<std::string, Encoder> packages[] = {{"awkward.odt", encodeODT},
                                                        {"awkward.docx", encodeDOCX}};
    for (const auto& [name, encode] : packages) {
        std::string text;
        ASSERT_TRUE(LibreOfficeText(writePackage(m_folder, name, encode), text)) << name;
        if (text.rfind("\xEF\xBB\xBF", 0) == 0)
            text.erase(0, 3);
        EXPECT_NE(text.find("  Two leading spaces & <tags> \"quoted\""), std::string::npos)
            << name << ": " << text;
        EXPECT_NE(text.find("a\tb   three spaces, 中文 in the same run"), std::string::npos)
            << name << ": " << text;
        EXPECT_NE(text.find("last line without an end"), std::string::npos) << name;
    }
}
