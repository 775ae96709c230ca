// Containers made to exhaust the reader: objects that claim gigabytes, sitemaps with more
// entries and deeper nesting than any book has. Nothing claimed is allocated on the file's word.
#include "CHMDocument.h"
#include "CHMTableOfContent.h"
#include "ITSSProtocol.h"
#include "TestChmWriter.h"
#include "TestDocument.h"

#include <QUrl>
#include <atomic>
#include <cstddef>
#include <gtest/gtest.h>

using namespace testsupport;

// AddressSanitizer reports every allocation to hooks installed here; other builds lack it.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*,
                                                                            size_t),
                                                         void (*freeHook)(const volatile void*))
    __attribute__((weak));

namespace {

constexpr quint64 kThreeGiB = 3ull << 30;

std::atomic<bool> recording{false};
std::atomic<size_t> largestAllocation{0};

void noteAllocation(const volatile void*, size_t size) {
    if (!recording.load(std::memory_order_relaxed))
        return;
    size_t seen = largestAllocation.load(std::memory_order_relaxed);
    while (size > seen && !largestAllocation.compare_exchange_weak(seen, size))
        ;
}

void noteFree(const volatile void*) {}

// The largest single allocation made while it exists; unknown (-1) in builds without
// AddressSanitizer.
class LargestAllocation {
public:
    LargestAllocation() {
        static const bool installed =
            __sanitizer_install_malloc_and_free_hooks &&
            __sanitizer_install_malloc_and_free_hooks(noteAllocation, noteFree) != 0;
        m_known = installed;
        largestAllocation = 0;
        recording = true;
    }
    ~LargestAllocation() { recording = false; }
    qint64 bytes() const { return m_known ? static_cast<qint64>(largestAllocation.load()) : -1; }

private:
    bool m_known = false;
};

const CHMObjectEntry* listed(const CHMDocument& doc, const QByteArray& name) {
    for (const CHMObjectEntry& e : doc.objects()) {
        if (e.name == name)
            return &e;
    }
    return nullptr;
}

QByteArray sitemapEntry(const QByteArray& name, const QByteArray& local) {
    return "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"" + name +
           "\"><param name=\"Local\" value=\"" + local + "\"></object>";
}

int depthOfLastBranch(const CHMTableOfContent& toc) {
    int levels = 0;
    for (const LinkItem* item = toc.rootItems(); item->numberOfChildren() > 0; ++levels)
        item = item->childAtIndex(static_cast<int>(item->numberOfChildren()) - 1);
    return levels;
}

} // namespace

TEST(HostileContainer, ObjectClaimingGigabytesReadsAsNullWithoutBeingAllocated) {
    const QByteArray bytes = writeChm({
        // Metadata claiming gigabytes is passed over: the book opens with the default home page.
        {"/#SYSTEM", systemFile({{3, "Title"}}), kThreeGiB},
        {"/index.htm", "<p>home</p>"},
        {"/huge.htm", "<p>tiny</p>", kThreeGiB},
        // Below the reader's own limit, but far beyond what the file holds.
        {"/big.png", QByteArray(64, 'p'), CHMDocument::kMaxObjectLength - 1},
    });
    auto doc = openDocument("claims-gigabytes.chm", bytes);
    ASSERT_TRUE(doc);
    EXPECT_TRUE(doc->docTitle().isEmpty());
    EXPECT_EQ(doc->homePath(), "/index.htm");
    const CHMObjectEntry* huge = listed(*doc, "/huge.htm");
    ASSERT_NE(huge, nullptr);
    ASSERT_EQ(huge->length, kThreeGiB);
    const CHMObjectEntry* big = listed(*doc, "/big.png");
    ASSERT_NE(big, nullptr);

    LargestAllocation allocation;
    EXPECT_TRUE(doc->exist("/huge.htm"));
    EXPECT_TRUE(doc->content("/huge.htm").isNull());
    EXPECT_TRUE(doc->contentOfEntry(*huge).isNull());
    EXPECT_TRUE(doc->content("/big.png").isNull());
    EXPECT_TRUE(doc->contentOfEntry(*big).isNull());
    // The page is served as the reader's own page for a missing page; other objects fail.
    const ITSSResponse page =
        ITSSProtocol::startLoading(QUrl("itss://chm/huge.htm"), doc.get(), "CP1252", false);
    EXPECT_TRUE(page.ok);
    EXPECT_TRUE(page.isMissingPage);
    EXPECT_FALSE(page.bytes.contains("tiny"));
    EXPECT_FALSE(
        ITSSProtocol::startLoading(QUrl("itss://chm/big.png"), doc.get(), "CP1252", false).ok);
    if (allocation.bytes() >= 0) {
        EXPECT_LT(allocation.bytes(), 1 << 20);
    }
    // The honest objects beside them still read.
    EXPECT_EQ(doc->content("/index.htm"), QByteArray("<p>home</p>"));
}

TEST(HostileContainer, HugeAndDeepSitemapsOpenWithCappedTrees) {
    constexpr int kDepth = 100000;
    constexpr int kIndexEntries = 50000;
    QByteArray toc;
    toc.reserve(kDepth * 110);
    for (int i = 0; i < kDepth; ++i)
        toc += "<ul>" + sitemapEntry("n", "p" + QByteArray::number(i) + ".htm");
    QByteArray index = "<ul>";
    index.reserve(kIndexEntries * 90);
    // Descending, so that the index's sort has work to do.
    for (int i = kIndexEntries; i > 0; --i)
        index += sitemapEntry("k" + QByteArray::number(i), "a.htm");
    const QByteArray bytes = writeChm({
        {"/#SYSTEM", systemFile({{0, QByteArray("toc.hhc\0", 8)},
                                 {1, QByteArray("index.hhk\0", 10)},
                                 {2, QByteArray("p0.htm\0", 7)}})},
        {"/toc.hhc", toc},
        {"/index.hhk", index},
        {"/p0.htm", "<p>first</p>"},
    });

    auto doc = openDocument("huge-sitemaps.chm", bytes);
    ASSERT_TRUE(doc);
    ASSERT_TRUE(doc->tocSource());
    ASSERT_TRUE(doc->indexSource());
    EXPECT_EQ(depthOfLastBranch(*doc->tocSource()), CHMTableOfContent::kMaxDepth);
    EXPECT_EQ(doc->tocSource()->pageList().size(), size_t(kDepth));
    std::vector<LinkItem*> stack;
    EXPECT_NE(doc->tocSource()->itemForPath("p99999.htm", &stack), nullptr);
    EXPECT_EQ(stack.size(), size_t(CHMTableOfContent::kMaxDepth));
    ASSERT_EQ(doc->indexSource()->rootChildrenCount(), quint64(kIndexEntries));
    EXPECT_EQ(doc->indexSource()->rootItems()->childAtIndex(0)->name(), "k1");
}

TEST(HostileContainer, AListBeyondTheItemCapCountsTheEntriesItLeftOut) {
    // Bare entries keep the sitemap small; the cap counts entries as they are made, empty ones
    // too, and purges those afterwards. The entries past the cap are written in the spellings
    // the counting must see: upper case, with attributes, nested in lists, with a name.
    const quint64 extra = 1234;
    QByteArray sitemap = "<ul>";
    sitemap.reserve(static_cast<qsizetype>(CHMTableOfContent::kMaxItems) * 4 + 65536);
    for (quint64 i = 0; i + 1 < CHMTableOfContent::kMaxItems; ++i)
        sitemap += "<li>";
    sitemap += "<li><param name=name value=last>";
    const char* const pastTheCap[] = {"<LI>", "<li class=\"x\">", "<ul><li></ul>",
                                      "<li><param name=name value=over>"};
    for (quint64 i = 0; i < extra; ++i)
        sitemap += pastTheCap[i % 4];
    sitemap += "<link><list></ul>"; // not entries
    const CHMTableOfContent toc(sitemap, QString());
    EXPECT_EQ(toc.truncatedItemCount(), extra);
    ASSERT_EQ(toc.rootChildrenCount(), 1u);
    EXPECT_EQ(toc.rootItems()->childAtIndex(0)->name(), "last");
    const CHMTableOfContent whole("<ul><li><li></ul>", QString());
    EXPECT_EQ(whole.truncatedItemCount(), 0u);

    // chmtool says on standard error that the list was cut, and by how much.
    const QString path = writeScratchFile(
        "cut-index.chm", writeChm({{"/#SYSTEM", systemFile({{1, QByteArray("index.hhk\0", 10)},
                                                            {2, QByteArray("p.htm\0", 6)}})},
                                   {"/index.hhk", sitemap},
                                   {"/p.htm", "<p>page</p>"}}));
    const ToolRun tool = runChmTool({"index", path});
    EXPECT_EQ(tool.status, 0);
    EXPECT_TRUE(
        tool.err.contains("index: the list was cut at 100000 entries; 1234 more were left out"));
}
