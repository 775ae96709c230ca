// Containers crafted to make chmlib read something other than what the reader's checks looked
// at, or more than its buffers hold. Each one is refused with a message, by the core and by every
// chmtool command, or read safely.
#include "CHMDocument.h"
#include "ChmContainerModel.h"
#include "TestSupport.h"

#include <functional>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// A compiled, LZX-compressed fixture taken apart.
chmcraft::Model fixtureModel(const QString& name) {
    auto model = chmcraft::parse(readWholeFile(fixturePath(name)));
    if (!model)
        ADD_FAILURE() << "the fixture " << name.toStdString() << " does not parse";
    return model.value_or(chmcraft::Model{});
}

quint64 field(const chmcraft::Model& m, const chmcraft::Entry& e, qsizetype at, int width) {
    const QByteArray b = m.bytesOf(e);
    quint64 v = 0;
    for (int i = 0; i < width; ++i)
        v |= static_cast<quint64>(static_cast<quint8>(b.at(at + i))) << (8 * i);
    return v;
}

// Appends a copy of an object's bytes, edited, to the section, and lists it under another name
// right before the original (chmlib's scan takes the first name that compares equal).
void addTwin(chmcraft::Model& m, const char* of, const QByteArray& name,
             const std::function<void(QByteArray&)>& edit) {
    chmcraft::Entry* original = m.find(of);
    ASSERT_NE(original, nullptr) << of;
    QByteArray bytes = m.bytesOf(*original);
    edit(bytes);
    chmcraft::Entry twin = *original;
    twin.name = name;
    twin.offset = static_cast<quint64>(m.content.size());
    twin.length = static_cast<quint64>(bytes.size());
    m.content += bytes;
    m.entries.insert(m.entries.begin() + (original - m.entries.data()), twin);
}

void putField(QByteArray& b, qsizetype at, quint64 v, int width) {
    for (int i = 0; i < width; ++i)
        b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

struct Opened {
    std::unique_ptr<CHMDocument> doc;
    QString error;
};

Opened openCrafted(const QString& name, const chmcraft::Model& m) {
    Opened o;
    o.doc = CHMDocument::open(writeScratchFile(name + ".chm", chmcraft::write(m)), &o.error);
    return o;
}

// Reads everything a reader would: every listed object, the home page, the sitemaps.
void readEverything(CHMDocument& doc) {
    for (const CHMObjectEntry& e : doc.objects())
        doc.contentOfEntry(e);
    doc.content(doc.homePath());
    doc.setCustomizedEncodingName(QStringLiteral("CP1251"));
    doc.setupTOCSource();
}

// Every chmtool command on the file exits with a status (no signal) and, when it refuses the
// file, says why on standard error.
void expectChmtoolRefuses(const QString& path) {
    const QList<QStringList> commands = {{"info", path},
                                         {"toc", path},
                                         {"index", path},
                                         {"pages", path},
                                         {"list", path},
                                         {"cat", path, "/index.htm"},
                                         {"serve", path, "itss://chm/index.htm"},
                                         {"search", path, "fixture"},
                                         {"search", "--index", path, "fixture"}};
    for (const QStringList& args : commands) {
        const ToolRun run = runChmTool(args);
        EXPECT_EQ(run.status, 1) << args.join(' ').toStdString(); // -1: a signal or a hang
        EXPECT_TRUE(run.err.contains("is damaged")) << args.join(' ').toStdString();
    }
}

} // namespace

TEST(CraftedContainer, TwinControlDataThatChmlibWouldUseIsRefusedWithAMessage) {
    // chmlib's lookup ignores case and stops at NUL: each twin below is what it would read, and
    // its zero window divided by two is chmlib's divisor while it opens the file.
    const QByteArray control = chmcraft::kControlData;
    const QByteArray twins[] = {control.toLower(), control + QByteArray("\0hostile", 8),
                                QByteArray("::DATASPACE/Storage/MSCompressed/ControlData")};
    for (const QByteArray& twinName : twins) {
        chmcraft::Model m = fixtureModel("sample");
        addTwin(m, chmcraft::kControlData, twinName, [](QByteArray& b) { putField(b, 16, 0, 4); });
        const Opened o = openCrafted("twin-control", m);
        EXPECT_EQ(o.doc, nullptr) << twinName.toStdString();
        EXPECT_TRUE(o.error.contains(QLatin1String("is damaged"))) << o.error.toStdString();
    }
}

TEST(CraftedContainer, ACopyInTheChunkTheIndexLeadsToIsRefused) {
    // One chunk per entry with an index over them: the lookup goes straight to the chunk of the
    // later copy, whose reset interval is zero; the first copy is the sound one.
    chmcraft::Model m = fixtureModel("sample");
    addTwin(m, chmcraft::kControlData, chmcraft::kControlData,
            [](QByteArray& b) { putField(b, 12, 0, 4); });
    std::stable_sort(m.entries.begin(), m.entries.end(),
                     [](const chmcraft::Entry& a, const chmcraft::Entry& b) {
                         return a.name.toLower() < b.name.toLower();
                     });
    // Put the sound copy first: the walk in chunk order meets it first.
    m.entriesPerChunk = 1;
    m.withIndex = true;
    const Opened o = openCrafted("index-twin", m);
    EXPECT_EQ(o.doc, nullptr);
    EXPECT_TRUE(o.error.contains(QLatin1String("listed twice"))) << o.error.toStdString();
}

TEST(CraftedContainer, NamesChmlibCannotTellApartAreRefusedEvenForPlainPages) {
    for (const QByteArray& twin : {QByteArray("/INDEX.HTM"), QByteArray("/index.htm\0x", 12)}) {
        chmcraft::Model m = fixtureModel("sample");
        chmcraft::Entry* page = m.find("/index.htm");
        ASSERT_NE(page, nullptr);
        chmcraft::Entry copy = *page;
        copy.name = twin;
        m.entries.push_back(copy);
        const Opened o = openCrafted("page-twin", m);
        EXPECT_EQ(o.doc, nullptr) << twin.toStdString();
        EXPECT_FALSE(o.error.isEmpty());
    }
}

// The reset table of the fixture with `extra` junk bytes put into the compressed stream right
// before block `block`'s start, and every later start moved along, so that block `block - 1`
// (or the last one, when `block` is the count) becomes that much longer.
chmcraft::Model withLongBlock(int block, quint64 extra) {
    chmcraft::Model m = fixtureModel("chunks");
    chmcraft::Entry* reset = m.find(chmcraft::kResetTable);
    chmcraft::Entry* content = m.find(chmcraft::kContent);
    if (!reset || !content) {
        ADD_FAILURE() << "no LZX section";
        return m;
    }
    const quint64 count = field(m, *reset, 4, 4), table = field(m, *reset, 12, 4);
    const quint64 compressed = field(m, *reset, 24, 8);
    EXPECT_GE(count, 2u) << "the fixture needs two blocks at least";
    QByteArray stream = m.bytesOf(*content);
    const quint64 cut = static_cast<quint64>(block) < count
                            ? field(m, *reset, static_cast<qsizetype>(table + 8 * block), 8)
                            : compressed;
    stream.insert(static_cast<qsizetype>(cut), QByteArray(static_cast<qsizetype>(extra), '\x5A'));
    for (quint64 i = static_cast<quint64>(block); i < count; ++i)
        m.patch(*reset, table + 8 * i,
                field(m, *reset, static_cast<qsizetype>(table + 8 * i), 8) + extra, 8);
    m.patch(*reset, 24, compressed + extra, 8);
    content->offset = static_cast<quint64>(m.content.size());
    content->length = static_cast<quint64>(stream.size());
    m.content += stream;
    return m;
}

TEST(CraftedContainer, ABlockLongerThanChmlibsBufferIsRefusedOnEveryPath) {
    // chmlib reads a block into 0x8000 + 6144 bytes; one byte more overflows it on the path that
    // does not check. Both a middle block and the last block (measured from the compressed
    // length) are refused; exactly the buffer's size is still accepted.
    for (int block : {1, 2}) {
        const Opened refused = openCrafted("long-block", withLongBlock(block, 0x8000 + 6144 + 1));
        EXPECT_EQ(refused.doc, nullptr) << "block " << block;
        EXPECT_TRUE(refused.error.contains(QLatin1String("longer than a block can be")))
            << refused.error.toStdString();
    }
    const chmcraft::Model fits = withLongBlock(1, 0x8000 + 6144 - 0x2000);
    const Opened accepted = openCrafted("fitting-block", fits);
    ASSERT_NE(accepted.doc, nullptr) << accepted.error.toStdString();
    readEverything(*accepted.doc); // garbage to LZX, but never outside a buffer
}

TEST(CraftedContainer, ControlDataChmlibWouldDivideByOrWrapIsRefused) {
    struct Case {
        const char* what;
        qsizetype at;
        quint64 value;
    };
    const Case cases[] = {
        {"zero window", 16, 0},
        {"zero reset interval", 12, 0},
        {"zero windows per reset", 20, 0},
        {"window that wraps to zero in 32 bits", 16, 0x20000},
        {"reset interval that wraps in 32 bits", 12, 0x20000 + 2},
        {"window too large for LZX", 16, 0x80},
        {"reset interval not a multiple of half the window", 16, 8},
        {"unknown version", 8, 7},
    };
    // The crafting itself must not be what gets a file refused.
    const Opened untouched = openCrafted("plain", fixtureModel("sample"));
    ASSERT_NE(untouched.doc, nullptr) << untouched.error.toStdString();
    EXPECT_FALSE(untouched.doc->content(untouched.doc->homePath()).isEmpty());
    for (const Case& c : cases) {
        chmcraft::Model m = fixtureModel("sample");
        chmcraft::Entry* control = m.find(chmcraft::kControlData);
        ASSERT_NE(control, nullptr);
        m.patch(*control, static_cast<quint64>(c.at), c.value, 4);
        const Opened o = openCrafted("control", m);
        EXPECT_EQ(o.doc, nullptr) << c.what;
        EXPECT_TRUE(o.error.contains(QLatin1String("is damaged"))) << c.what;
    }
    // Control data shorter than what chmlib unpacks leaves its fields unset.
    chmcraft::Model m = fixtureModel("sample");
    m.find(chmcraft::kControlData)->length = 0x14;
    EXPECT_EQ(openCrafted("short-control", m).doc, nullptr);
}

TEST(CraftedContainer, ResetTablesChmlibMisreadsAreRefused) {
    struct Case {
        const char* what;
        quint64 at;
        quint64 value;
        int width;
    };
    const Case cases[] = {
        {"unknown version", 0, 1, 4},
        {"no blocks", 4, 0, 4},
        {"block length not a frame", 32, 0x10000, 8},
        {"table outside the object", 12, 0x7FFFFFFF, 4},
        {"compressed length past the stream", 24, 1ull << 40, 8},
    };
    for (const Case& c : cases) {
        chmcraft::Model m = fixtureModel("sample");
        chmcraft::Entry* reset = m.find(chmcraft::kResetTable);
        ASSERT_NE(reset, nullptr);
        m.patch(*reset, c.at, c.value, c.width);
        const Opened o = openCrafted("reset", m);
        EXPECT_EQ(o.doc, nullptr) << c.what;
        EXPECT_FALSE(o.error.isEmpty()) << c.what;
    }
}

TEST(CraftedContainer, EveryChmtoolCommandRefusesEachHoleWithAMessage) {
    chmcraft::Model twin = fixtureModel("sample");
    addTwin(twin, chmcraft::kControlData, QByteArray(chmcraft::kControlData).toLower(),
            [](QByteArray& b) { putField(b, 16, 0, 4); });
    expectChmtoolRefuses(writeScratchFile("tool-twin.chm", chmcraft::write(twin)));
    expectChmtoolRefuses(
        writeScratchFile("tool-long.chm", chmcraft::write(withLongBlock(1, 0x10000))));
}

TEST(CraftedContainer, DirectoryHeadersChmlibReadsDifferentlyAreRefused) {
    // chmlib places chunks after a header of exactly 0x54 bytes and knows version 1 only; with
    // another header the checks and chmlib would read different chunks.
    const QByteArray plain = chmcraft::write(fixtureModel("sample"));
    constexpr qsizetype kItsp = 0x78;
    for (const auto& [at, value] : {std::pair{kItsp + 8, 0x60u}, std::pair{kItsp + 4, 2u}}) {
        QByteArray bytes = plain;
        putField(bytes, at, value, 4);
        QString error;
        EXPECT_EQ(CHMDocument::open(writeScratchFile("itsp.chm", bytes), &error), nullptr);
        EXPECT_TRUE(error.contains(QLatin1String("is damaged"))) << error.toStdString();
    }
    // Control data longer than chmlib's 256-byte buffer.
    chmcraft::Model m = fixtureModel("sample");
    chmcraft::Entry* control = m.find(chmcraft::kControlData);
    ASSERT_NE(control, nullptr);
    const QByteArray longer = m.bytesOf(*control) + QByteArray(300, '\0');
    control->offset = static_cast<quint64>(m.content.size());
    control->length = static_cast<quint64>(longer.size());
    m.content += longer;
    EXPECT_EQ(openCrafted("long-control", m).doc, nullptr);
}

namespace {

// LZX bits as the decoder reads them: 16-bit little-endian words, most significant bit first.
class LzxWriter {
public:
    void put(quint32 value, int bits) {
        for (int i = bits - 1; i >= 0; --i)
            m_bits.push_back((value >> i) & 1);
    }
    // Canonical codes of a set of code lengths, as the decoder assigns them.
    static std::vector<std::pair<quint32, int>> codes(const std::vector<int>& lengths) {
        std::vector<std::pair<quint32, int>> out(lengths.size(), {0, 0});
        quint32 code = 0;
        int previous = 0;
        for (int len = 1; len <= 16; ++len) {
            for (size_t s = 0; s < lengths.size(); ++s) {
                if (lengths[s] != len)
                    continue;
                code <<= (len - previous);
                previous = len;
                out[s] = {code++, len};
            }
        }
        return out;
    }
    // Code lengths after a reset (all zero before), through a pretree of 4- and 5-bit codes.
    void lengths(const std::vector<int>& target) {
        std::vector<int> pre(20, 0);
        for (int i = 0; i < 15; ++i)
            pre[static_cast<size_t>(i)] = 4;
        pre[15] = pre[16] = 5;
        for (int l : pre)
            put(static_cast<quint32>(l), 4);
        const auto pc = codes(pre);
        for (int l : target) {
            const auto& [code, bits] = pc[static_cast<size_t>(l ? 17 - l : 0)];
            put(code, bits);
        }
    }
    size_t size() const { return m_bits.size(); }
    QByteArray bytes(qsizetype limit) const {
        std::vector<int> bits = m_bits;
        while (bits.size() % 16)
            bits.push_back(0);
        QByteArray out;
        for (size_t w = 0; w < bits.size(); w += 16) {
            quint32 v = 0;
            for (int i = 0; i < 16; ++i)
                v = (v << 1) | static_cast<quint32>(bits[w + static_cast<size_t>(i)]);
            out.append(static_cast<char>(v & 0xFF));
            out.append(static_cast<char>(v >> 8));
        }
        return out.left(limit);
    }

private:
    std::vector<int> m_bits;
};

// One verbatim block of 0x8000 literals `symbol` (byte 0 has a 1-bit code, 'A' a 16-bit one)
// in a frame cut to at most `frameBytes`; the fixture's own compressed section is dropped.
chmcraft::Model withLiterals(int symbol, qsizetype frameBytes) {
    chmcraft::Model m = fixtureModel("bare");
    LzxWriter w;
    w.put(0, 1);            // no E8 translation header
    w.put(1, 3);            // verbatim block
    w.put(0x8000 >> 8, 16); // of 0x8000 bytes
    w.put(0, 8);
    std::vector<int> main(512, 0); // a 64 KiB window: 256 literals and 256 match symbols
    for (int i = 0; i < 15; ++i)
        main[static_cast<size_t>(i)] = i + 1;
    main[15] = main['A'] = 16;
    w.lengths(std::vector<int>(main.begin(), main.begin() + 256));
    w.lengths(std::vector<int>(main.begin() + 256, main.end()));
    w.lengths(std::vector<int>(249, 0));
    const auto [code, bits] = LzxWriter::codes(main)[static_cast<size_t>(symbol)];
    for (int i = 0; i < 0x8000; ++i)
        w.put(code, bits);
    const QByteArray stream = w.bytes(frameBytes);
    chmcraft::Entry* reset = m.find(chmcraft::kResetTable);
    chmcraft::Entry* content = m.find(chmcraft::kContent);
    const quint64 table = field(m, *reset, 12, 4);
    m.patch(*reset, 4, 1, 4);
    m.patch(*reset, table, 0, 8);
    m.patch(*reset, 16, 0x8000, 8);
    m.patch(*reset, 24, static_cast<quint64>(stream.size()), 8);
    content->offset = static_cast<quint64>(m.content.size());
    content->length = static_cast<quint64>(stream.size());
    m.content += stream;
    for (chmcraft::Entry& e : m.entries) {
        if (e.section == 1) {
            e.offset = 0;
            e.length = std::max<quint64>(1, std::min<quint64>(e.length, 0x8000));
        }
    }
    return m;
}

} // namespace

TEST(CraftedContainer, AFrameWhoseCodesRunPastItsBytesIsNeverDecodedByChmlib) {
    // chmlib's decoder would read some 26 KiB past its block buffer for this frame (and show
    // what it finds there in the page). The book opens; its compressed pages read as missing,
    // every time they are asked for.
    const Opened o = openCrafted("long-codes", withLiterals('A', 0x8000 + 6144 - 16));
    ASSERT_NE(o.doc, nullptr) << o.error.toStdString();
    int compressed = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        for (const CHMObjectEntry& e : o.doc->objects()) {
            if (e.section == 1) {
                ++compressed;
                EXPECT_TRUE(o.doc->contentOfEntry(e).isNull()) << e.name.toStdString();
            }
        }
    }
    EXPECT_GT(compressed, 0);
    // The same block with 1-bit codes fits its bytes: its pages read, as zeros.
    const Opened sound = openCrafted("short-codes", withLiterals(0, 0x8000));
    ASSERT_NE(sound.doc, nullptr) << sound.error.toStdString();
    for (const CHMObjectEntry& e : sound.doc->objects()) {
        if (e.section == 1) {
            const QByteArray bytes = sound.doc->contentOfEntry(e);
            EXPECT_EQ(bytes, QByteArray(static_cast<qsizetype>(e.length), '\0'))
                << e.name.toStdString();
        }
    }
}
