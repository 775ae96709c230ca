#include "CHMDocument.h"

#include "CHMMetadataReader.h"
#include "CHMSearchIndex.h"
#include "CHMSearchResult.h"
#include "CHMSitemapLoader.h"
#include "CHMTableOfContent.h"
#include "LumenoLogging.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>
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

CHMDocument::CHMDocument() = default;

CHMDocument::~CHMDocument() {
    // The work threads read the container: stop and join them before the handle goes.
    m_sitemapLoader.reset();
    m_searchIndex.reset();
    std::lock_guard guard(m_lock);
    if (m_chmFileHandle) {
        chm_close(m_chmFileHandle);
        m_chmFileHandle = nullptr;
    }
}

std::unique_ptr<CHMDocument> CHMDocument::open(const QString& path, QString* error) {
    auto document = std::make_unique<CHMDocument>();
    if (!document->readFromURL(QUrl::fromLocalFile(path), QStringLiteral("chm"), error))
        return nullptr;
    return document;
}

std::unique_ptr<CHMDocument> CHMDocument::open(const QString& path, QString* error,
                                               SitemapLoading loading) {
    auto document = std::make_unique<CHMDocument>();
    document->setSitemapLoading(loading);
    if (!document->readFromURL(QUrl::fromLocalFile(path), QStringLiteral("chm"), error))
        return nullptr;
    return document;
}

QString CHMDocument::saveRefusedMessage() {
    return QStringLiteral("Compiled help files are read-only and cannot be saved.");
}

bool CHMDocument::readFromURL(const QUrl& url, const QString& /*type*/, QString* error) {
    const QString path = url.isLocalFile() ? url.toLocalFile() : url.path();
    const QString shown = QFileInfo(path).fileName();
    // The container's own structures are checked first: chmlib trusts them blindly. chmlib then
    // opens the very file that was checked (through this process's descriptor), not whatever
    // the path names by then.
    auto opened = std::make_unique<QFile>(path);
    QFile& file = *opened;
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("“%1” could not be opened: %2.").arg(shown, file.errorString());
        return false;
    }
    QString reason;
    std::optional<CHMContainerLayout> layout = CHMContainerLayout::read(file, &reason);
    if (!layout) {
        if (error)
            *error = QStringLiteral("“%1” is damaged: %2.").arg(shown, reason);
        return false;
    }
    const QString descriptor = QStringLiteral("/proc/self/fd/%1").arg(file.handle());
    const QString chmPath = QFileInfo::exists(descriptor) ? descriptor : path;
    chmFile* handle = chm_open(QFile::encodeName(chmPath).constData());
    if (!handle) {
        if (error)
            *error = QStringLiteral("“%1” could not be opened as a compiled help file.").arg(shown);
        return false;
    }
    // The checks looked at the streams they expect chmlib to use; make sure chmlib agrees.
    if (!resolvesAsChecked(handle, layout->compressionStreams())) {
        chm_close(handle);
        if (error)
            *error = QStringLiteral("“%1” is damaged: its directory is ambiguous.").arg(shown);
        return false;
    }
    {
        std::lock_guard guard(m_lock);
        if (m_chmFileHandle)
            chm_close(m_chmFileHandle);
        m_chmFileHandle = handle;
        m_layout = std::move(layout);
        m_file = std::move(opened);
        m_resetIntervalSafety.clear();
        m_filePath = path;
    }
    loadMetadata();
    if (m_sitemapLoading == SitemapLoading::Now)
        setupTOCSource();
    return true;
}

QByteArray CHMDocument::content(const QString& path) {
    return content(path, 0, ~0ull);
}

QByteArray CHMDocument::content(const QString& path, quint64 offset, quint64 length) {
    if (path.isNull())
        return {};
    QString normalised = path;
    if (!normalised.startsWith(QLatin1Char('/')))
        normalised.prepend(QLatin1Char('/'));
    else if (normalised.startsWith(QLatin1String("///")))
        normalised.remove(0, 2);
    const QByteArray utf8 = normalised.toUtf8();

    std::lock_guard guard(m_lock);
    if (!m_chmFileHandle)
        return {};
    chmUnitInfo ui{};
    if (chm_resolve_object(m_chmFileHandle, utf8.constData(), &ui) != CHM_RESOLVE_SUCCESS)
        return {};
    return retrieve(&ui, offset, length);
}

QByteArray CHMDocument::retrieve(void* unitInfo, quint64 offset, quint64 length) {
    auto* ui = static_cast<chmUnitInfo*>(unitInfo);
    // The directory's length fields are not trusted: bound them by what the section can hold
    // before allocating anything.
    if (ui->length == 0 || ui->length > kMaxObjectLength || !m_layout)
        return {};
    quint64 sectionLength = 0;
    if (ui->space == CHM_UNCOMPRESSED) {
        const quint64 file = m_layout->fileSize(), start = m_layout->contentOffset();
        sectionLength = file > start ? file - start : 0;
    } else if (ui->space == CHM_COMPRESSED) {
        sectionLength = m_layout->compressedSectionLength();
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
        chm_retrieve_object(m_chmFileHandle, ui, reinterpret_cast<unsigned char*>(bytes.data()),
                            offset, static_cast<LONGINT64>(length));
    // A short read hands out nothing: the tail would be uninitialised memory.
    if (got != static_cast<LONGINT64>(length))
        return {};
    return bytes;
}

bool CHMDocument::compressedRangeIsSafe(quint64 start, quint64 length) {
    if (!m_file)
        return false;
    const auto readAt = [this](quint64 at, quint64 n) {
        return m_file->seek(static_cast<qint64>(at)) ? m_file->read(static_cast<qint64>(n))
                                                     : QByteArray();
    };
    LzxRangeSafety::Refusal refusal;
    const bool safe = m_resetIntervalSafety.rangeIsSafe(*m_layout, start, length, readAt, &refusal);
    if (refusal.now)
        qCWarning(lcContainer).nospace()
            << "compressed frame " << refusal.frame << " of " << logSafe(m_filePath) << " "
            << refusal.reason << "; the pages in its reset interval are not read";
    return safe;
}

bool CHMDocument::exist(const QString& path) {
    if (path.isNull())
        return false;
    const QByteArray utf8 = path.toUtf8();
    std::lock_guard guard(m_lock);
    if (!m_chmFileHandle)
        return false;
    chmUnitInfo ui{};
    return chm_resolve_object(m_chmFileHandle, utf8.constData(), &ui) == CHM_RESOLVE_SUCCESS;
}

const std::vector<CHMObjectEntry>& CHMDocument::objects() const {
    static const std::vector<CHMObjectEntry> none;
    return m_layout ? m_layout->objects() : none;
}

QByteArray CHMDocument::contentOfEntry(const CHMObjectEntry& entry) {
    std::lock_guard guard(m_lock);
    if (!m_chmFileHandle || entry.name.size() > CHM_MAX_PATHLEN)
        return {};
    chmUnitInfo ui{};
    if (chm_resolve_object(m_chmFileHandle, entry.name.constData(), &ui) != CHM_RESOLVE_SUCCESS) {
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

bool CHMDocument::loadMetadata() {
    CHMMetadata meta;
    meta.title = m_docTitle;
    meta.homePath = m_homePath;
    meta.tocPath = m_tocPath;
    meta.indexPath = m_indexPath;
    meta.encodingName = m_encodingName;
    CHMMetadataReader reader([this](const QString& p) { return content(p); },
                             [this](const QString& p) { return exist(p); });
    const bool hasSystem = reader.read(&meta);
    m_docTitle = meta.title;
    m_tocPath = meta.tocPath;
    m_indexPath = meta.indexPath;
    m_encodingName = meta.encodingName;
    // Files without "/#SYSTEM" need a home page all the same.
    m_homePath = meta.homePath.isEmpty() ? findHomeForPath(QStringLiteral("/")) : meta.homePath;
    return hasSystem;
}

QString CHMDocument::findHomeForPath(const QString& folder) {
    const QString separator = folder.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/");
    for (const char* name : {"index.htm", "default.html", "default.htm"}) {
        const QString candidate = folder + separator + QLatin1String(name);
        if (exist(candidate))
            return candidate;
    }
    return folder + separator + QStringLiteral("index.html");
}

void CHMDocument::setupTOCSource() {
    // Trees a background parse is still making would be older than these.
    m_sitemapGeneration = 0;
    CHMSitemapLoader::Trees trees = CHMSitemapLoader::parse(
        [this](const QString& p, quint64 at, quint64 n) { return content(p, at, n); },
        {m_tocPath, m_indexPath, currentEncodingName()});
    if (trees.toc)
        m_tocSource = std::move(trees.toc);
    if (trees.index)
        m_indexSource = std::move(trees.index);
    m_sitemapsLoaded = true;
}

void CHMDocument::setupTOCSourceInBackground(QObject* receiver, std::function<void()> onLoaded) {
    if (!m_sitemapLoader)
        m_sitemapLoader = std::make_unique<CHMSitemapLoader>(CHMSitemapLoader::RangeReader(
            [this](const QString& p, quint64 at, quint64 n) { return content(p, at, n); }));
    const std::weak_ptr<int> alive = m_lifetime;
    m_sitemapGeneration = m_sitemapLoader->load(
        {m_tocPath, m_indexPath, currentEncodingName()},
        [this, alive, receiver, onLoaded = std::move(onLoaded)](CHMSitemapLoader::Trees trees,
                                                                quint64 generation) {
            QMetaObject::invokeMethod(
                receiver,
                [this, alive, onLoaded, trees = std::move(trees), generation] {
                    // Runs on the document's thread, where the document is destroyed too.
                    if (alive.expired() || generation != m_sitemapGeneration)
                        return;
                    m_tocSource = trees.toc;
                    m_indexSource = trees.index;
                    m_sitemapsLoaded = true;
                    if (onLoaded)
                        onLoaded();
                },
                Qt::QueuedConnection);
        });
}

QString CHMDocument::currentEncodingName() const {
    return m_customizedEncodingName.isEmpty() ? m_encodingName : m_customizedEncodingName;
}

void CHMDocument::setSearchSource(std::shared_ptr<CHMSearchResult> result) {
    m_searchSource = std::move(result);
}

void CHMDocument::prepareSearchIndex(std::function<void()> onDone) {
    if (!m_searchIndex)
        m_searchIndex = std::make_unique<CHMSearchIndex>(*this);
    m_searchIndex->prepareSearchIndex(std::move(onDone));
}
