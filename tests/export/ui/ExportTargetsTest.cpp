// The "targets" book exported by chmtool once, read back with qpdf and Poppler: each link and
// outline entry leads to the line that shows its target, and nothing of a frameset or of a line
// wider than the paper is cut. A link lands when the first line of text at or below its
// destination is its target's.
#include "CHMDocument.h"
#include "ExportPagePrinter.h"
#include "ExportTestData.h"
#include "ExportWebProfile.h"
#include "PageTextContent.h"
#include "TestSupport.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <algorithm>
#include <gtest/gtest.h>

using namespace exporttest;

namespace {

class ExportTargets : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_folder = new QString(freshFolder(QStringLiteral("targets-export")));
        s_run = new testsupport::ToolRun(testsupport::runChmTool(
            {QStringLiteral("export"), testsupport::fixturePath(QStringLiteral("targets")),
             *s_folder}));
        s_pdf = new QString(QDir(*s_folder).filePath(QStringLiteral("targets.pdf")));
        s_words = new std::vector<std::vector<WordBox>>(pageWords(*s_pdf));
    }
    static void TearDownTestSuite() {
        delete s_words;
        delete s_pdf;
        delete s_run;
        delete s_folder;
    }
    void SetUp() override {
        ASSERT_EQ(s_run->status, 0) << s_run->err.toStdString();
        ASSERT_FALSE(s_words->empty());
    }

    // The first page whose words begin with these, in order.
    static int pageShowingLine(const QString& line) {
        const QStringList wanted = line.split(QLatin1Char(' '));
        for (std::size_t p = 0; p < s_words->size(); ++p) {
            const std::vector<WordBox>& on = (*s_words)[p];
            for (std::size_t i = 0; i + wanted.size() <= on.size(); ++i) {
                bool all = true;
                for (qsizetype k = 0; k < wanted.size() && all; ++k)
                    all = on[i + static_cast<std::size_t>(k)].text == wanted[k];
                if (all)
                    return static_cast<int>(p);
            }
        }
        return -1;
    }

    // The first line of text at or below y on the page, its words left to right.
    static QString lineAt(int page, double y) {
        if (page < 0 || page >= static_cast<int>(s_words->size()))
            return {};
        std::vector<WordBox> on = (*s_words)[static_cast<std::size_t>(page)];
        // A destination stands 2 points above its word's top.
        const double limit = y + 0.5;
        double first = -1;
        for (const WordBox& w : on) {
            if (w.top <= limit)
                first = std::max(first, w.top);
        }
        std::vector<WordBox> line;
        std::copy_if(on.begin(), on.end(), std::back_inserter(line),
                     [&](const WordBox& w) { return w.top <= limit && w.top >= first - 3.0; });
        std::sort(line.begin(), line.end(),
                  [](const WordBox& a, const WordBox& b) { return a.left < b.left; });
        QStringList texts;
        for (const WordBox& w : line)
            texts << w.text;
        return texts.join(QLatin1Char(' '));
    }

    // The link on the home page (page 1) whose rectangle holds these words.
    static Link homeLink(const QString& text) {
        for (const Link& link : links(*s_pdf)) {
            if (link.page != 0)
                continue;
            QStringList inside;
            for (const WordBox& w : (*s_words)[0]) {
                const double x = (w.left + w.right) / 2, y = (w.bottom + w.top) / 2;
                if (x >= link.left - 1 && x <= link.right + 1 && y >= link.bottom - 1 &&
                    y <= link.top + 1)
                    inside << w.text;
            }
            if (inside.join(QLatin1Char(' ')) == text)
                return link;
        }
        ADD_FAILURE() << "no link \"" << text.toStdString() << "\" on the home page";
        return {};
    }

    static const OutlineEntry* entry(const QString& title) {
        static std::vector<OutlineEntry> entries = outline(*s_pdf);
        std::vector<const OutlineEntry*> work;
        for (const OutlineEntry& e : entries)
            work.push_back(&e);
        while (!work.empty()) {
            const OutlineEntry* e = work.back();
            work.pop_back();
            if (e->title == title)
                return e;
            for (const OutlineEntry& kid : e->kids)
                work.push_back(&kid);
        }
        ADD_FAILURE() << "no outline entry " << title.toStdString();
        static const OutlineEntry none;
        return &none;
    }

    static void expectLandsOn(const QString& what, int page, double y, const QString& line) {
        SCOPED_TRACE(what.toStdString());
        EXPECT_EQ(page, pageShowingLine(line));
        EXPECT_TRUE(lineAt(page, y).contains(line))
            << "lands at \"" << lineAt(page, y).toStdString() << "\" (y " << y << ")";
    }

    static QString* s_folder;
    static testsupport::ToolRun* s_run;
    static QString* s_pdf;
    static std::vector<std::vector<WordBox>>* s_words;
};

QString* ExportTargets::s_folder = nullptr;
testsupport::ToolRun* ExportTargets::s_run = nullptr;
QString* ExportTargets::s_pdf = nullptr;
std::vector<std::vector<WordBox>>* ExportTargets::s_words = nullptr;

} // namespace

// The float page's list terms float, and the engine paints floats before the text around them:
// its first reported words are "Object lists", far below the title.
TEST_F(ExportTargets, PageAndWhatStartsItLandAtTheTopOfItsFirstPrintedPage) {
    const QString title = QStringLiteral("Containers reference");
    const Link page = homeLink(QStringLiteral("float page"));
    expectLandsOn(QStringLiteral("link to the page"), page.targetPage, page.targetY, title);
    const Link top = homeLink(QStringLiteral("top heading"));
    expectLandsOn(QStringLiteral("link to its first heading"), top.targetPage, top.targetY, title);
    const OutlineEntry* float_ = entry(QStringLiteral("Float"));
    expectLandsOn(QStringLiteral("outline entry"), float_->targetPage, float_->targetY, title);
}

// A span hidden with visibility:hidden before the first heading, and navigation that the page's
// print style sheet makes invisible before the second: neither is printed text.
TEST_F(ExportTargets, AnchorsAfterInvisibleTextLandOnTheirHeadings) {
    for (const auto& [link, title, heading] :
         {std::tuple{"after heading", "After", "After heading"},
          std::tuple{"tail heading", "Tail", "Tail heading"}}) {
        const QString line = QString::fromUtf8(heading);
        const Link l = homeLink(QString::fromUtf8(link));
        expectLandsOn(QStringLiteral("link ") + link, l.targetPage, l.targetY, line);
        const OutlineEntry* e = entry(QString::fromUtf8(title));
        expectLandsOn(QStringLiteral("entry ") + title, e->targetPage, e->targetY, line);
    }
}

// What the walk hands the matcher: neither invisible text, and each target's own text.
TEST(ExportTargetsWalk, LeavesOutTextThatIsInvisibleOnScreenOrInPrint) {
    std::unique_ptr<CHMDocument> document =
        CHMDocument::open(testsupport::fixturePath(QStringLiteral("targets")));
    ASSERT_TRUE(document);
    ExportWebProfile profile(document.get());
    ExportPagePrinter printer(profile.profile(), ExportPageSettings());
    ExportPagePrinter::Result printed;
    QEventLoop loop;
    printer.print(CHMDocument::composeURL(QStringLiteral("hidden.htm")),
                  [&](const ExportPagePrinter::Result& result) {
                      printed = result;
                      loop.quit();
                  });
    loop.exec();
    ASSERT_TRUE(printed.printed) << printed.failure.toStdString();
    const PageTextContent walked = PageTextContent::fromWalk(printed.walk);
    const QString text = QString::fromUtf8(walked.text());
    EXPECT_TRUE(text.contains(QLatin1String("Opening words")));
    EXPECT_FALSE(text.contains(QLatin1String("Unseen span words")));
    EXPECT_FALSE(text.contains(QLatin1String("[previous]")));
    ASSERT_EQ(walked.anchors().size(), 2u);
    EXPECT_EQ(walked.anchors()[0].name, QStringLiteral("after"));
    EXPECT_EQ(walked.anchors()[0].ownText, QStringLiteral("After heading"));
    EXPECT_EQ(text.indexOf(QLatin1String("After heading")),
              static_cast<qsizetype>(walked.anchors()[0].charIndex));
}

// The heading breaks to a new printed page right after the text before it, with no white space
// between them in the page's text.
TEST_F(ExportTargets, AnchorThatStartsAPrintedPageLandsOnThatPage) {
    const QString line = QStringLiteral("Part heading here");
    const Link link = homeLink(QStringLiteral("part heading"));
    expectLandsOn(QStringLiteral("link"), link.targetPage, link.targetY, line);
    const OutlineEntry* part = entry(QStringLiteral("Part"));
    expectLandsOn(QStringLiteral("outline entry"), part->targetPage, part->targetY, line);
}

// Each frame's page is also exported on its own: printed whole within the frameset, its last
// line shows twice.
TEST_F(ExportTargets, FramesOfAFramesetArePrintedWhole) {
    const QString text = pageTexts(*s_pdf).join(QLatin1Char('\n'));
    EXPECT_EQ(text.count(QLatin1String("Last nav item")), 2);
    EXPECT_EQ(text.count(QLatin1String("Last body paragraph")), 2);
    const OutlineEntry* frames = entry(QStringLiteral("Frames"));
    expectLandsOn(QStringLiteral("outline entry"), frames->targetPage, frames->targetY,
                  QStringLiteral("Nav item 1"));
}

TEST_F(ExportTargets, LineThatMustNotWrapIsShrunkUntilItFitsThePage) {
    const int page = pageShowingLine(QStringLiteral("Wide line"));
    ASSERT_GE(page, 0);
    QStringList words;
    for (const WordBox& w : (*s_words)[static_cast<std::size_t>(page)])
        words << w.text;
    for (int i = 1; i <= 60; ++i)
        EXPECT_TRUE(words.contains(QStringLiteral("wideToken%1").arg(i, 2, 10, QLatin1Char('0'))))
            << i;
    EXPECT_TRUE(words.contains(QStringLiteral("Below")));
    // The page's inner frame is shrunk with it, not cut to the top of what it holds. Its page
    // is exported on its own too.
    const QString text = pageTexts(*s_pdf).join(QLatin1Char('\n'));
    EXPECT_EQ(text.count(QLatin1String("Last inner line")), 2);
}

// The script page fails twice as it loads ("Illegal constructor" and a bad appendChild).
TEST_F(ExportTargets, PageScriptErrorsGoToTheLogNotToStandardError) {
    EXPECT_FALSE(s_run->err.contains(QLatin1String("Illegal constructor")))
        << s_run->err.toStdString();
    EXPECT_FALSE(s_run->err.contains(QLatin1String("Uncaught"))) << s_run->err.toStdString();

    const QByteArray rules = qgetenv("QT_LOGGING_RULES");
    qputenv("QT_LOGGING_RULES", "lumeno.page.debug=true");
    const testsupport::ToolRun logged = testsupport::runChmTool(
        {QStringLiteral("export"), testsupport::fixturePath(QStringLiteral("targets")),
         freshFolder(QStringLiteral("targets-logged"))});
    if (rules.isNull())
        qunsetenv("QT_LOGGING_RULES");
    else
        qputenv("QT_LOGGING_RULES", rules);
    EXPECT_EQ(logged.status, 0);
    EXPECT_TRUE(logged.err.contains(QLatin1String("lumeno.page")) &&
                logged.err.contains(QLatin1String("Illegal constructor")))
        << logged.err.toStdString();
}
