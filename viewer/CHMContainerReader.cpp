#include "CHMContainerReader.h"

#include "LumenoLogging.h"
#include "LzxFrameCheck.h"

#include <QFileInfo>
#include <algorithm>
#include <chm_lib.h>

namespace {

bool sameEntry(chmFile* handle, const QByteArray& name, const std::optional<CHMObjectEntry>& seen) {
    chmUnitInfo ui{};
    const bool found = chm_resolve_object(handle, name.constData(), &ui) == CHM_RESOLVE_SUCCESS;
    if (!found || !seen)
        return found == seen.has_value();
    return static_cast<quint64>(ui.space) == seen->section && ui.start == seen->offset &&
           ui.length == seen->length;
}

bool resolvesAsChecked(chmFile* handle, const CHMCompressionStreams& streams) {
    return sameEntry(handle, CHMContainerLayout::controlDataName(), streams.controlData) &&
           sameEntry(handle, CHMContainerLayout::resetTableName(), streams.resetTable) &&
           sameEntry(handle, CHMContainerLayout::contentName(), streams.content);
}

} // namespace

CHMContainerReader::CHMContainerReader(chmFile* handle, CHMContainerLayout layout,
                                       std::unique_ptr<QFile> file)
    : m_handle(handle), m_layout(std::move(layout)), m_file(std::move(file)) {}

CHMContainerReader::~CHMContainerReader() {
    chm_close(m_handle);
}

std::unique_ptr<CHMContainerReader>
CHMContainerReader::open(std::unique_ptr<QFile> file, CHMOpenFailure* failure,
                         const std::function<bool(CHMOpenFailure*)>& afterChmOpen) {
    CHMOpenFailure ignored;
    CHMOpenFailure& fail = failure ? *failure : ignored;
    // The container's own structures are checked first: chmlib trusts them blindly.
    QString reason;
    std::optional<CHMContainerLayout> layout = CHMContainerLayout::read(*file, &reason);
    if (!layout) {
        fail = {CHMOpenFailure::Damaged, reason};
        return nullptr;
    }
    const QString descriptor = QStringLiteral("/proc/self/fd/%1").arg(file->handle());
    const QString chmPath = QFileInfo::exists(descriptor) ? descriptor : file->fileName();
    chmFile* handle = chm_open(QFile::encodeName(chmPath).constData());
    if (!handle) {
        fail = {CHMOpenFailure::NotCompiledHelp, {}};
        return nullptr;
    }
    if (afterChmOpen && !afterChmOpen(&fail)) {
        chm_close(handle);
        return nullptr;
    }
    // The checks looked at the streams they expect chmlib to use; make sure chmlib agrees.
    if (!resolvesAsChecked(handle, layout->compressionStreams())) {
        chm_close(handle);
        fail = {CHMOpenFailure::Damaged, QStringLiteral("its directory is ambiguous")};
        return nullptr;
    }
    return std::unique_ptr<CHMContainerReader>(
        new CHMContainerReader(handle, std::move(*layout), std::move(file)));
}

std::unique_ptr<CHMContainerReader> CHMContainerReader::open(const QString& path,
                                                             CHMOpenFailure* failure) {
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        if (failure)
            *failure = {CHMOpenFailure::CannotOpen, file->errorString()};
        return nullptr;
    }
    return open(std::move(file), failure);
}

QByteArray CHMContainerReader::content(const QString& path) {
    if (path.isNull())
        return {};
    QString normalised = path;
    if (!normalised.startsWith(QLatin1Char('/')))
        normalised.prepend(QLatin1Char('/'));
    else if (normalised.startsWith(QLatin1String("///")))
        normalised.remove(0, 2);
    const QByteArray utf8 = normalised.toUtf8();
    chmUnitInfo ui{};
    if (chm_resolve_object(m_handle, utf8.constData(), &ui) != CHM_RESOLVE_SUCCESS)
        return {};
    return retrieve(&ui);
}

bool CHMContainerReader::exist(const QString& path) {
    if (path.isNull())
        return false;
    const QByteArray utf8 = path.toUtf8();
    chmUnitInfo ui{};
    return chm_resolve_object(m_handle, utf8.constData(), &ui) == CHM_RESOLVE_SUCCESS;
}

QByteArray CHMContainerReader::contentOfEntry(const CHMObjectEntry& entry) {
    if (entry.name.size() > CHM_MAX_PATHLEN)
        return {};
    chmUnitInfo ui{};
    if (chm_resolve_object(m_handle, entry.name.constData(), &ui) != CHM_RESOLVE_SUCCESS) {
        // chmlib's lookup can miss objects of listing chunks its index does not reach; the
        // directory walk knows where they are.
        ui.start = entry.offset;
        ui.length = entry.length;
        ui.space = static_cast<int>(entry.section);
        std::copy(entry.name.cbegin(), entry.name.cend(), ui.path);
        ui.path[entry.name.size()] = '\0';
    }
    return retrieve(&ui);
}

QByteArray CHMContainerReader::retrieve(void* unitInfo) {
    auto* ui = static_cast<chmUnitInfo*>(unitInfo);
    // The directory's length fields are not trusted: bound them by what the section can hold
    // before allocating anything.
    if (ui->length == 0 || ui->length > kMaxObjectLength)
        return {};
    quint64 sectionLength = 0;
    if (ui->space == CHM_UNCOMPRESSED) {
        const quint64 file = m_layout.fileSize(), start = m_layout.contentOffset();
        sectionLength = file > start ? file - start : 0;
    } else if (ui->space == CHM_COMPRESSED) {
        sectionLength = m_layout.compressedSectionLength();
    }
    if (ui->start > sectionLength || ui->length > sectionLength - ui->start)
        return {};
    if (ui->space == CHM_COMPRESSED && !compressedRangeIsSafe(ui->start, ui->length))
        return {};
    QByteArray bytes(static_cast<qsizetype>(ui->length), Qt::Uninitialized);
    const LONGINT64 got =
        chm_retrieve_object(m_handle, ui, reinterpret_cast<unsigned char*>(bytes.data()), 0,
                            static_cast<LONGINT64>(ui->length));
    // A short read hands out nothing: the tail would be uninitialised memory.
    if (got != static_cast<LONGINT64>(ui->length))
        return {};
    return bytes;
}

bool CHMContainerReader::compressedRangeIsSafe(quint64 start, quint64 length) {
    const CHMLzxFrames& frames = m_layout.lzxFrames();
    constexpr quint64 kFrame = 0x8000;
    // Frames past the section's uncompressed length are never decoded (some compilers list an
    // empty one at the end).
    const quint64 used = (m_layout.compressedSectionLength() + kFrame - 1) / kFrame;
    const quint64 per = frames.framesPerReset,
                  count = std::min<quint64>(frames.starts.size(), used);
    if (per == 0 || count == 0 || !m_file)
        return false;
    const quint64 firstInterval = start / kFrame / per,
                  lastInterval = (start + length - 1) / kFrame / per;
    if (m_resetIntervalSafety.empty())
        m_resetIntervalSafety.assign(static_cast<size_t>((count + per - 1) / per), 0);
    for (quint64 interval = firstInterval; interval <= lastInterval; ++interval) {
        if (interval >= m_resetIntervalSafety.size())
            return false;
        qint8& known = m_resetIntervalSafety[static_cast<size_t>(interval)];
        if (known == 0) {
            std::vector<QByteArray> bytes;
            const quint64 end = std::min(count, (interval + 1) * per);
            for (quint64 f = interval * per; f < end; ++f) {
                const quint64 from = frames.starts[static_cast<size_t>(f)];
                const quint64 to = f + 1 < count ? frames.starts[static_cast<size_t>(f + 1)]
                                                 : frames.compressedLength;
                QByteArray frame;
                if (m_file->seek(static_cast<qint64>(frames.streamOffset + from)))
                    frame = m_file->read(static_cast<qint64>(to - from));
                bytes.push_back(frame.size() == static_cast<qsizetype>(to - from) ? frame
                                                                                  : QByteArray());
            }
            known = LzxFrameCheck::framesAreSafe(bytes, frames.windowBits) ? 1 : -1;
            if (known < 0)
                qCWarning(lcContainer)
                    << "a compressed frame would be read past its end; its pages are not read";
        }
        if (known < 0)
            return false;
    }
    return true;
}
