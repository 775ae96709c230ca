// The lzx target: chmlib's LZX decoder against libmspack's, on every compressed object the
// reader's checks let chmlib decode (CHMContainerLayout, then LzxRangeSafety over the object's
// reset intervals, as the document decides). An accepted object must decode without fault and
// to the same bytes in both. Differences that are no fault of chmlib's are skipped and counted:
// objects either library refuses or finds elsewhere, reset tables that disagree with the stream
// (chmlib follows the table, libmspack the stream), and E8 translation across a reset point
// (the two count its positions differently).
#include "FuzzCheck.h"
#include "FuzzTargets.h"
#include "LzxWalk.h"

#include "CHMContainerLayout.h"
#include "LzxRangeSafety.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <chm_lib.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mspack.h>
#include <optional>
#include <set>

#if defined(__SANITIZE_ADDRESS__)
#define LUMENO_FUZZ_HAS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMENO_FUZZ_HAS_ASAN 1
#endif
#endif
#ifndef LUMENO_FUZZ_HAS_ASAN
#define LUMENO_FUZZ_HAS_ASAN 0
#endif
#if LUMENO_FUZZ_HAS_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace fuzz {

namespace {

constexpr quint64 kFrame = 0x8000;
constexpr quint64 kMaxCompared = 1 << 20; // bytes of objects compared per input

// libmspack reads the input and writes the output in memory: no disk I/O per run.
struct MemoryFile {
    const QByteArray* input = nullptr;
    QByteArray* output = nullptr;
    qint64 position = 0;
};

struct MemorySystem : mspack_system {
    QByteArray input;
    QByteArray output;
    qint64 outputCap = 0;
};

mspack_file* memOpen(mspack_system* self, const char* name, int mode) {
    auto* sys = static_cast<MemorySystem*>(self);
    auto* f = new MemoryFile;
    if (std::strcmp(name, "in") == 0 && mode == MSPACK_SYS_OPEN_READ) {
        f->input = &sys->input;
    } else if (std::strcmp(name, "out") == 0 && mode == MSPACK_SYS_OPEN_WRITE) {
        sys->output.clear();
        f->output = &sys->output;
    } else {
        delete f;
        return nullptr;
    }
    return reinterpret_cast<mspack_file*>(f);
}

void memClose(mspack_file* file) {
    delete reinterpret_cast<MemoryFile*>(file);
}

int memRead(mspack_file* file, void* buffer, int bytes) {
    auto* f = reinterpret_cast<MemoryFile*>(file);
    if (!f->input || bytes < 0)
        return -1;
    const qint64 n = std::clamp<qint64>(f->input->size() - f->position, 0, bytes);
    std::memcpy(buffer, f->input->constData() + f->position, static_cast<size_t>(n));
    f->position += n;
    return static_cast<int>(n);
}

MemorySystem& memorySystem();

int memWrite(mspack_file* file, void* buffer, int bytes) {
    auto* f = reinterpret_cast<MemoryFile*>(file);
    if (!f->output || bytes < 0 || f->output->size() + bytes > memorySystem().outputCap)
        return -1;
    f->output->append(static_cast<const char*>(buffer), bytes);
    return bytes;
}

int memSeek(mspack_file* file, off_t offset, int mode) {
    auto* f = reinterpret_cast<MemoryFile*>(file);
    const qint64 size = f->input ? f->input->size() : f->output->size();
    const qint64 to = mode == MSPACK_SYS_SEEK_START ? offset
                      : mode == MSPACK_SYS_SEEK_CUR ? f->position + offset
                                                    : size + offset;
    if (to < 0 || to > size)
        return -1;
    f->position = to;
    return 0;
}

off_t memTell(mspack_file* file) {
    return reinterpret_cast<MemoryFile*>(file)->position;
}

void memMessage(mspack_file*, const char*, ...) {}

// Zeroed, so that what libmspack decodes never depends on what the heap held.
void* memAlloc(mspack_system*, size_t bytes) {
    return std::calloc(1, bytes);
}
void memFree(void* p) {
    std::free(p);
}
void memCopy(void* from, void* to, size_t bytes) {
    std::memmove(to, from, bytes);
}

MemorySystem& memorySystem() {
    static MemorySystem* sys = [] {
        auto* s = new MemorySystem;
        s->open = memOpen;
        s->close = memClose;
        s->read = memRead;
        s->write = memWrite;
        s->seek = memSeek;
        s->tell = memTell;
        s->message = memMessage;
        s->alloc = memAlloc;
        s->free = memFree;
        s->copy = memCopy;
        s->null_ptr = nullptr;
        return s;
    }();
    return *sys;
}

// What was compared, and what was skipped and why; printed every 4096 inputs and after each
// input when LUMENO_FUZZ_VERBOSE is set (libFuzzer leaves without running destructors).
struct Counts {
    unsigned long inputs = 0, compared = 0, comparedNew = 0, refusedByChecks = 0, chmlibShort = 0,
                  mspackRefused = 0, mspackElsewhere = 0, tableDisagrees = 0, e8 = 0;
    void print() const {
        std::fprintf(
            stderr,
            "lzx: %lu inputs, %lu objects compared, %lu of them (%.1f%%) bytes no seed holds; "
            "skipped: %lu refused by the checks, %lu short in chmlib, %lu refused by libmspack, "
            "%lu found elsewhere by libmspack, %lu with a reset table that disagrees with the "
            "stream, %lu with E8 across a reset\n",
            inputs, compared, comparedNew,
            compared ? 100.0 * static_cast<double>(comparedNew) / static_cast<double>(compared)
                     : 0.0,
            refusedByChecks, chmlibShort, mspackRefused, mspackElsewhere, tableDisagrees, e8);
    }
};
Counts counts;

// The object being decoded and by whom, named when AddressSanitizer reports (a fault in
// libmspack is no finding about chmlib).
const CHMObjectEntry* current = nullptr;
const char* decoder = "chmlib";

[[maybe_unused]] void nameCurrentObject() {
    if (current)
        std::fprintf(stderr, "lzx: the fault came while %s decoded %s (offset %llu, length %llu)\n",
                     decoder, current->name.constData(),
                     static_cast<unsigned long long>(current->offset),
                     static_cast<unsigned long long>(current->length));
}

struct Section {
    Section(const CHMContainerLayout& l, const QByteArray& f, quint32 mspackPer)
        : layout(&l), file(&f), mspackFramesPerReset(mspackPer) {}

    const CHMContainerLayout* layout;
    const QByteArray* file;
    quint32 mspackFramesPerReset; // libmspack's reading of the control data
    // Each reset interval is walked once per input, both ways, keyed by its first frame.
    mutable std::map<quint64, lzxfuzz::IntervalWalk> continuous, asChmlib;

    QByteArray stream() const {
        const CHMLzxFrames& f = layout->lzxFrames();
        return file->mid(static_cast<qsizetype>(f.streamOffset),
                         static_cast<qsizetype>(f.compressedLength));
    }
    // The interval from frame `start` as libmspack reads it: on from where each frame ended.
    const lzxfuzz::IntervalWalk& walkContinuous(quint64 start) const {
        auto it = continuous.find(start);
        if (it == continuous.end()) {
            const CHMLzxFrames& f = layout->lzxFrames();
            const quint64 from = f.starts[static_cast<size_t>(start)];
            // chmlib decodes whole frames, the last one too.
            it = continuous
                     .emplace(start,
                              lzxfuzz::walkInterval(
                                  stream().mid(static_cast<qsizetype>(from)), f.windowBits,
                                  static_cast<int>(f.framesPerReset), f.framesPerReset * kFrame))
                     .first;
        }
        return it->second;
    }
    // The interval from frame `start` as chmlib reads it: each frame where the table puts it.
    const lzxfuzz::IntervalWalk& walkAsChmlib(quint64 start) const {
        auto it = asChmlib.find(start);
        if (it == asChmlib.end()) {
            const CHMLzxFrames& f = layout->lzxFrames();
            const quint64 from = f.starts[static_cast<size_t>(start)];
            std::vector<uint64_t> starts;
            for (quint64 i = start + 1; i < start + f.framesPerReset && i < f.starts.size(); ++i)
                starts.push_back(f.starts[static_cast<size_t>(i)] - from);
            it =
                asChmlib
                    .emplace(start,
                             lzxfuzz::walkInterval(stream().mid(static_cast<qsizetype>(from)),
                                                   f.windowBits, static_cast<int>(f.framesPerReset),
                                                   f.framesPerReset * kFrame, &starts))
                    .first;
        }
        return it->second;
    }
};

std::optional<CHMContainerLayout> parseLayout(const QByteArray& file) {
    const auto fileSize = static_cast<quint64>(file.size());
    QString reason;
    return CHMContainerLayout::parse(
        file.left(0x60), fileSize,
        [&file, fileSize](quint64 at, quint64 length) {
            check(at <= fileSize && length <= fileSize - at, "a read reaches past the file's end");
            return file.mid(static_cast<qsizetype>(at), static_cast<qsizetype>(length));
        },
        &reason);
}

// The compressed objects the checks let chmlib decode (at most `limit` of them).
std::vector<const CHMObjectEntry*> accepted(const CHMContainerLayout& layout,
                                            const QByteArray& file) {
    std::vector<const CHMObjectEntry*> out;
    LzxRangeSafety safety;
    const auto readAt = [&file](quint64 at, quint64 length) {
        return file.mid(static_cast<qsizetype>(at), static_cast<qsizetype>(length));
    };
    quint64 budget = kMaxCompared;
    for (const CHMObjectEntry& e : layout.objects()) {
        if (e.section != 1 || e.length == 0 || e.length > budget)
            continue;
        if (!safety.rangeIsSafe(layout, e.offset, e.length, readAt)) {
            ++counts.refusedByChecks;
            continue;
        }
        budget -= e.length;
        out.push_back(&e);
    }
    return out;
}

quint64 le(const QByteArray& b, qsizetype at) {
    quint64 v = 0;
    for (int i = 0; i < 4 && at + i < b.size(); ++i)
        v |= quint64(static_cast<quint8>(b[at + i])) << (8 * i);
    return v;
}

struct StreamView {
    bool matchesTable = false;   // libmspack meets each of the object's frames where the table says
    bool reachesOutside = false; // a match before the object's end copies from outside the data
};

// Walks the reset intervals an object is decoded from. libmspack, reading the stream
// continuously, decodes what chmlib decodes only where it meets each frame where chmlib's reset
// table says it starts, and E8 positions count the same in both.
StreamView viewOf(const Section& s, const CHMObjectEntry& e) {
    StreamView view;
    const CHMLzxFrames& frames = s.layout->lzxFrames();
    const quint64 per = frames.framesPerReset;
    if (per == 0 || per != s.mspackFramesPerReset)
        return view;
    const quint64 firstFrame = e.offset / kFrame / per * per,
                  lastFrame = (e.offset + e.length - 1) / kFrame;
    for (quint64 start = firstFrame; start <= lastFrame; start += per) {
        if (start >= frames.starts.size())
            return view;
        const quint64 from = frames.starts[static_cast<size_t>(start)];
        const lzxfuzz::IntervalWalk& walk = s.walkContinuous(start);
        if (walk.intel && (start != 0 || lastFrame >= firstFrame + per)) {
            ++counts.e8;
            return view;
        }
        // Every frame the object needs, its last one too, must end where the next one starts
        // (the section's last frame ends with the stream).
        for (quint64 f = start; f < start + per && f <= lastFrame; ++f) {
            const size_t i = static_cast<size_t>(f - start);
            if (i >= walk.frameEnds.size())
                return view;
            const quint64 next = f + 1 < frames.starts.size()
                                     ? frames.starts[static_cast<size_t>(f + 1)]
                                     : frames.compressedLength;
            if (next != from + walk.frameEnds[i])
                return view;
        }
    }
    view.matchesTable = true;
    return view;
}

// Whether chmlib, decoding the object's frames from its reset points with each frame where the
// reset table puts it, meets a match that copies from outside what it decoded since the reset
// point (stale or foreign memory, whether or not that faults).
bool reachesOutside(const Section& s, const CHMObjectEntry& e) {
    const CHMLzxFrames& frames = s.layout->lzxFrames();
    const quint64 per = frames.framesPerReset;
    if (per == 0)
        return false;
    const quint64 firstFrame = e.offset / kFrame / per * per,
                  lastFrame = (e.offset + e.length - 1) / kFrame;
    for (quint64 start = firstFrame; start <= lastFrame && start < frames.starts.size();
         start += per) {
        const lzxfuzz::IntervalWalk& walk = s.walkAsChmlib(start);
        if (walk.outsideFrame >= 0 && start + static_cast<quint64>(walk.outsideFrame) <= lastFrame)
            return true;
    }
    return false;
}

quint32 mspackFramesPerReset(const CHMContainerLayout& layout, const QByteArray& file) {
    const auto& control = layout.compressionStreams().controlData;
    if (!control)
        return 0;
    const QByteArray c =
        file.mid(static_cast<qsizetype>(layout.contentOffset() + control->offset), 0x1C);
    const quint64 interval = le(c, 12) * (le(c, 8) == 2 ? kFrame : 1);
    return static_cast<quint32>(interval / kFrame);
}

bool resolvesAsChecked(chmFile* chm, const CHMContainerLayout& layout) {
    const CHMCompressionStreams& s = layout.compressionStreams();
    const std::pair<const QByteArray*, const std::optional<CHMObjectEntry>*> streams[] = {
        {&CHMContainerLayout::controlDataName(), &s.controlData},
        {&CHMContainerLayout::resetTableName(), &s.resetTable},
        {&CHMContainerLayout::contentName(), &s.content}};
    for (const auto& [name, seen] : streams) {
        chmUnitInfo ui{};
        const bool found = chm_resolve_object(chm, name->constData(), &ui) == CHM_RESOLVE_SUCCESS;
        if (found != seen->has_value())
            return false;
        if (found && (static_cast<quint64>(ui.space) != (*seen)->section ||
                      ui.start != (*seen)->offset || ui.length != (*seen)->length))
            return false;
    }
    return true;
}

const mschmd_file* findIn(const mschmd_file* list, const QByteArray& name) {
    for (; list; list = list->next) {
        if (list->filename && name == list->filename)
            return list;
    }
    return nullptr;
}

bool sameAs(const mschmd_file* f, const CHMObjectEntry& e) {
    return f && f->section && f->section->id == e.section &&
           static_cast<quint64>(f->offset) == e.offset &&
           static_cast<quint64>(f->length) == e.length;
}

// libmspack finds the LZX streams (first of a name in its list) where the checks did.
bool sameStreams(const mschmd_header* chm, const CHMContainerLayout& layout) {
    const CHMCompressionStreams& s = layout.compressionStreams();
    if (static_cast<quint64>(chm->sec0.offset) != layout.contentOffset())
        return false;
    const std::pair<const QByteArray*, const std::optional<CHMObjectEntry>*> streams[] = {
        {&CHMContainerLayout::controlDataName(), &s.controlData},
        {&CHMContainerLayout::resetTableName(), &s.resetTable},
        {&CHMContainerLayout::contentName(), &s.content}};
    for (const auto& [name, seen] : streams) {
        const mschmd_file* f = findIn(chm->sysfiles, *name);
        if (!*seen || !sameAs(f, **seen))
            return false;
    }
    return true;
}

mschm_decompressor* mspackDecompressor() {
    static mschm_decompressor* d = mspack_create_chm_decompressor(&memorySystem());
    return d;
}

// What the seeds' compressed objects decode to (by libmspack, which refuses what it cannot read
// instead of faulting), so that a compared object can be told new or not. The seeds are the
// files of the folder LUMENO_FUZZ_SEEDS names (fuzz/run.sh sets it); none without it.
const std::set<QByteArray>& seedObjectDigests() {
    static const std::set<QByteArray> digests = [] {
        std::set<QByteArray> out;
        const QString folder = qEnvironmentVariable("LUMENO_FUZZ_SEEDS");
        if (folder.isEmpty())
            return out;
        mschm_decompressor* mspack = mspackDecompressor();
        MemorySystem& sys = memorySystem();
        const QDir dir(folder);
        for (const QString& name : dir.entryList(QDir::Files)) {
            QFile file(dir.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            sys.input = file.readAll();
            mschmd_header* header = mspack ? mspack->open(mspack, "in") : nullptr;
            if (!header)
                continue;
            for (mschmd_file* f = header->files; f; f = f->next) {
                if (!f->section || f->section->id != 1 || f->length <= 0 ||
                    static_cast<quint64>(f->length) > kMaxCompared)
                    continue;
                sys.outputCap = static_cast<qint64>(f->length);
                if (mspack->extract(mspack, f, "out") == MSPACK_ERR_OK)
                    out.insert(QCryptographicHash::hash(sys.output, QCryptographicHash::Sha1));
            }
            mspack->close(mspack, header);
        }
        std::fprintf(stderr, "lzx: %zu distinct objects in the seeds of %s\n", out.size(),
                     qUtf8Printable(folder));
        return out;
    }();
    return digests;
}

void compare(const CHMObjectEntry& e, const QByteArray& chmlib, const QByteArray& mspack) {
    if (chmlib == mspack)
        return;
    qsizetype at = 0;
    while (at < chmlib.size() && at < mspack.size() && chmlib[at] == mspack[at])
        ++at;
    std::fprintf(stderr,
                 "lzx: chmlib and libmspack decode %s (offset %llu, length %llu) differently: "
                 "%lld and %lld bytes, first difference at %lld\n",
                 e.name.constData(), static_cast<unsigned long long>(e.offset),
                 static_cast<unsigned long long>(e.length), static_cast<long long>(chmlib.size()),
                 static_cast<long long>(mspack.size()), static_cast<long long>(at));
    check(false, "chmlib's decoder gives other bytes than libmspack's for an accepted object");
}

} // namespace

bool lzxChecksAcceptOutsideMatch(const uint8_t* data, size_t size) {
    const QByteArray file =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto layout = parseLayout(file);
    if (!layout)
        return false;
    const Section section(*layout, file, mspackFramesPerReset(*layout, file));
    for (const CHMObjectEntry* e : accepted(*layout, file)) {
        if (reachesOutside(section, *e))
            return true;
    }
    return false;
}

int fuzzLzx(const uint8_t* data, size_t size) {
    static const bool verbose = qEnvironmentVariableIsSet("LUMENO_FUZZ_VERBOSE");
    struct Report {
        ~Report() {
            if (++counts.inputs % 4096 == 0 || verbose)
                counts.print();
        }
    } report;
    // Read before this input takes libmspack's memory file.
    const std::set<QByteArray>& seeds = seedObjectDigests();
    const QByteArray file =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto layout = parseLayout(file);
    if (!layout)
        return 0;
    const std::vector<const CHMObjectEntry*> objects = accepted(*layout, file);
    if (objects.empty())
        return 0;

#if LUMENO_FUZZ_HAS_ASAN
    // The error report callback, not the death callback: libFuzzer's death callback is what
    // saves the input.
    static const bool named = [] {
        __asan_set_error_report_callback([](const char*) { nameCurrentObject(); });
        return true;
    }();
    (void)named;
#endif
    static const ScratchFile scratch(QStringLiteral("lzx"));
    check(scratch.write(data, size), "the scratch file cannot be written");
    chmFile* chm = chm_open(scratch.path().toLocal8Bit().constData());
    if (!chm)
        return 0;
    // The document refuses a file whose LZX streams chmlib finds elsewhere than the checks did
    // (the directory target looks for those).
    if (!resolvesAsChecked(chm, *layout)) {
        chm_close(chm);
        return 0;
    }
    MemorySystem& sys = memorySystem();
    sys.input = QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // libmspack insists on the two header GUIDs (some compilers write the first twice); nothing
    // else reads them.
    static const unsigned char guids[32] = {0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                            0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC,
                                            0x11, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                            0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
    if (sys.input.size() >= 0x38)
        std::memcpy(sys.input.data() + 0x18, guids, sizeof guids);
    mschm_decompressor* mspack = mspackDecompressor();
    mschmd_header* header = mspack ? mspack->open(mspack, "in") : nullptr;
    const Section section(*layout, file, mspackFramesPerReset(*layout, file));
    const bool streamsAgree = header && sameStreams(header, *layout);
    for (const CHMObjectEntry* e : objects) {
        chmUnitInfo ui{};
        if (chm_resolve_object(chm, e->name.constData(), &ui) != CHM_RESOLVE_SUCCESS ||
            static_cast<quint64>(ui.space) != e->section || ui.start != e->offset ||
            ui.length != e->length)
            continue;
        // chmlib runs on every accepted object: a fault in it is a finding by itself.
        current = e;
        decoder = "chmlib";
        QByteArray mine(static_cast<qsizetype>(e->length), '\0');
        const LONGINT64 got =
            chm_retrieve_object(chm, &ui, reinterpret_cast<unsigned char*>(mine.data()), 0,
                                static_cast<LONGINT64>(e->length));
        if (got != static_cast<LONGINT64>(e->length)) {
            ++counts.chmlibShort;
            continue;
        }
        // What chmlib copied from outside its data need not fault, nor differ from libmspack
        // (which refuses such a match): the walk sees it.
        if (reachesOutside(section, *e)) {
            std::fprintf(stderr, "lzx: %s is decoded with a match that reaches outside the data\n",
                         e->name.constData());
            check(false,
                  "the checks accept an object whose LZX matches copy from outside the data");
        }
        if (!streamsAgree) {
            ++counts.mspackElsewhere;
            continue;
        }
        const mschmd_file* theirs = findIn(header->files, e->name);
        if (!theirs)
            theirs = findIn(header->sysfiles, e->name);
        if (!sameAs(theirs, *e)) {
            ++counts.mspackElsewhere;
            continue;
        }
        if (!viewOf(section, *e).matchesTable) {
            ++counts.tableDisagrees;
            continue;
        }
        sys.outputCap = static_cast<qint64>(e->length);
        decoder = "libmspack";
        if (mspack->extract(mspack, const_cast<mschmd_file*>(theirs), "out") != MSPACK_ERR_OK) {
            ++counts.mspackRefused;
            continue;
        }
        ++counts.compared;
        if (!seeds.count(QCryptographicHash::hash(mine, QCryptographicHash::Sha1)))
            ++counts.comparedNew;
        compare(*e, mine, sys.output);
    }
    current = nullptr;
    if (header)
        mspack->close(mspack, header);
    chm_close(chm);
    return 0;
}

} // namespace fuzz
