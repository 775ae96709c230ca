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
    return content(path, 0, ~0ull);
}

QByteArray CHMContainerReader::content(const QString& path, quint64 offset, quint64 length) {
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
    return retrieve(&ui, offset, length);
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

QByteArray CHMContainerReader::retrieve(void* unitInfo, quint64 offset, quint64 length) {
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
    if (offset >= ui->length)
        return {};
    length = std::min(length, ui->length - offset);
    if (ui->space == CHM_COMPRESSED && !compressedRangeIsSafe(ui->start + offset, length))
        return {};
    QByteArray bytes(static_cast<qsizetype>(length), Qt::Uninitialized);
    const LONGINT64 got =
        chm_retrieve_object(m_handle, ui, reinterpret_cast<unsigned char*>(bytes.data()),
                            static_cast<LONGUINT64>(offset), static_cast<LONGINT64>(length));
    // A short read hands out nothing: the tail would be uninitialised memory.
    if (got != static_cast<LONGINT64>(length))
        return {};
    return bytes;
}

bool CHMContainerReader::compressedRangeIsSafe(quint64 start, quint64 length) {
    if (!m_file)
        return false;
    const auto readAt = [this](quint64 at, quint64 n) {
        return m_file->seek(static_cast<qint64>(at)) ? m_file->read(static_cast<qint64>(n))
                                                     : QByteArray();
    };
    LzxRangeSafety::Refusal refusal;
    const bool safe = m_resetIntervalSafety.rangeIsSafe(m_layout, start, length, readAt, &refusal);
    if (refusal.now)
        qCWarning(lcContainer).nospace()
            << "compressed frame " << refusal.frame << " of "
            << logSafe(m_logName.isEmpty() ? m_file->fileName() : m_logName) << " "
            << refusal.reason << "; the pages in its reset interval are not read";
    return safe;
}
