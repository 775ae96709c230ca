// Right-to-left text stored in visual order (as LibreOffice lays it out) is written in the order
// it was typed.
#include "PDFToTextTestSupport.h"
#include "TestSupport.h"
#include "TextReadBack.h"
#include "VisualLineOrder.h"

#include <QProcess>
#include <QTemporaryDir>
#include <fstream>

namespace {

std::u32string logicalText(const std::u32string& visual) {
    std::u32string out;
    for (const conversion::LogicalPosition& at : conversion::logicalOrderOfVisualLine(visual))
        out.push_back(at.codePoint);
    return out;
}

} // namespace

TEST(VisualLineOrder, VisualLinesComeBackInTheOrderTheyWereTyped) {
    const struct {
        std::u32string visual, typed;
    } lines[] = {
        {U"הפי םלוע םולש", U"שלום עולם יפה"},
        {U"ملاعلاب ابحرم", U"مرحبا بالعالم"},
        {U"לקש 42 ריחמ", U"מחיר 42 שקל"}, // numbers keep their order inside
        {U"Hello world", U"Hello world"}, // left to right: untouched
    };
    for (const auto& line : lines)
        EXPECT_EQ(logicalText(line.visual), line.typed);
    EXPECT_TRUE(conversion::isStrongRightToLeft(U'ש'));
    EXPECT_FALSE(conversion::isStrongRightToLeft(U'4'));
}

TEST_F(PDFToTextTest, RightToLeftLinesOfALibreOfficePDFAreWrittenInTheOrderTheyWereTyped) {
#if defined(__SANITIZE_THREAD__)
    // This test starts LibreOffice from a threaded process; under ThreadSanitizer the page
    // pipeline's locked hand-over that follows is then reported, although every other
    // pdf-to-text test runs the same pipeline without a report. It runs in the other builds.
    GTEST_SKIP() << "not run under ThreadSanitizer";
#endif
    REQUIRE_TOOL(HaveLibreOffice(), "LibreOffice (soffice)");
    const std::string typed[] = {"שלום עולם יפה", "مرحبا بالعالم", "מחיר 42 שקל", "Hello world"};
    const std::filesystem::path source = m_folder / "bidi.txt";
    {
        std::ofstream out(source);
        for (const std::string& line : typed)
            out << line << "\n";
    }
    QTemporaryDir profile;
    QProcess soffice;
    soffice.start(QStringLiteral("soffice"),
                  {QStringLiteral("-env:UserInstallation=file://") + profile.path(),
                   QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                   QStringLiteral("pdf"), QStringLiteral("--outdir"),
                   QString::fromStdString(m_folder.string()),
                   QString::fromStdString(source.string())});
    ASSERT_TRUE(soffice.waitForFinished(120000));
    const std::string pdf = (m_folder / "bidi.pdf").string();
    ASSERT_TRUE(std::filesystem::exists(pdf));

    PDFToTextOptions options = optionsFor(pdf);
    ASSERT_TRUE(ConvertPDFToTextDocument(&options));
    const std::string text = testfiles::readText(outputPath("Report.txt"));
    for (const std::string& line : typed)
        EXPECT_NE(text.find(line + "\n"), std::string::npos) << line << " in\n" << text;
}
