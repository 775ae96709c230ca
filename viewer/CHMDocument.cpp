#include "CHMDocument.h"

#include "CHMMetadataReader.h"
#include "CHMReaderProcess.h"
#include "CHMRequestThread.h"
#include "CHMSearchIndex.h"
#include "CHMSearchResult.h"
#include "CHMSitemapLoader.h"
#include "CHMTableOfContent.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>

static_assert(CHMDocument::kMaxObjectLength == chmreader::kMaxObjectLength);

CHMDocument::CHMDocument() = default;

CHMDocument::~CHMDocument() {
    // The work threads read the container: they are joined before the process goes. A request
    // of theirs may be waiting for a process that is stopped; it ends now, rather than hold
    // this thread (the window's) until its deadline.
    if (m_reader)
        m_reader->interrupt();
    m_requestThread.reset();
    m_sitemapLoader.reset();
    m_searchIndex.reset();
    m_readerWatch.reset();
    std::lock_guard guard(m_lock);
    m_reader.reset();
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
    // The reading process gets this very file, already open, not whatever the path names by the
    // time it runs.
    QFile file(path);
    CHMOpenFailure failure;
    std::unique_ptr<CHMReaderProcess> reader;
    if (!file.open(QIODevice::ReadOnly))
        failure = {CHMOpenFailure::CannotOpen, file.errorString()};
    else
        reader =
            CHMReaderProcess::start(file.handle(), &failure, {QStringLiteral("--book"), shown});
    if (!reader) {
        if (error)
            *error = failure.message(shown);
        return false;
    }
    {
        std::lock_guard guard(m_lock);
        m_reader = std::move(reader);
        m_damaged = false;
        m_filePath = path;
    }
    loadMetadata();
    if (m_sitemapLoading == SitemapLoading::Now)
        setupTOCSource();
    return true;
}

void CHMDocument::noticeDamage() {
    if (!m_reader || !m_reader->isLost() || m_damaged.exchange(true))
        return;
    tellDamage();
}

void CHMDocument::tellDamage() {
    std::lock_guard guard(m_damageHandlerLock);
    if (!m_damageReceiver || !m_onDamaged)
        return;
    const std::weak_ptr<int> alive = m_lifetime;
    QMetaObject::invokeMethod(
        m_damageReceiver,
        [alive, onDamaged = m_onDamaged] {
            if (!alive.expired())
                onDamaged();
        },
        Qt::QueuedConnection);
}

void CHMDocument::setDamageHandler(QObject* receiver, std::function<void()> onDamaged) {
    {
        std::lock_guard guard(m_damageHandlerLock);
        m_damageReceiver = receiver;
        m_onDamaged = std::move(onDamaged);
    }
    if (!m_readerWatch && m_reader && m_reader->exitWatch() >= 0) {
        m_readerWatch =
            std::make_unique<QSocketNotifier>(m_reader->exitWatch(), QSocketNotifier::Read);
        QObject::connect(m_readerWatch.get(), &QSocketNotifier::activated, receiver, [this] {
            m_readerWatch->setEnabled(false);
            // Collected at once: a dead process is no zombie for the rest of the window's life.
            m_reader->reap();
            m_reader->markLost();
            noticeDamage();
        });
    }
    if (m_damaged)
        tellDamage();
}

void CHMDocument::readInBackground(QObject* receiver, BackgroundReading reading) {
    if (!m_requestThread)
        m_requestThread = std::make_unique<CHMRequestThread>();
    m_requestThread->post(receiver, std::move(reading));
}

qint64 CHMDocument::readerProcessId() const {
    return m_reader ? m_reader->pid() : 0;
}

QByteArray CHMDocument::content(const QString& path) {
    if (path.isNull())
        return {};
    std::lock_guard guard(m_lock);
    if (!m_reader)
        return {};
    QByteArray bytes = m_reader->content(path);
    noticeDamage();
    return bytes;
}

QByteArray CHMDocument::content(const QString& path, quint64 offset, quint64 length) {
    if (path.isNull())
        return {};
    std::lock_guard guard(m_lock);
    if (!m_reader)
        return {};
    QByteArray bytes = m_reader->content(path, offset, length);
    noticeDamage();
    return bytes;
}

bool CHMDocument::exist(const QString& path) {
    if (path.isNull())
        return false;
    std::lock_guard guard(m_lock);
    if (!m_reader)
        return false;
    const bool found = m_reader->exist(path);
    noticeDamage();
    return found;
}

const std::vector<CHMObjectEntry>& CHMDocument::objects() const {
    static const std::vector<CHMObjectEntry> none;
    return m_reader ? m_reader->objects() : none;
}

QByteArray CHMDocument::contentOfEntry(const CHMObjectEntry& entry) {
    std::lock_guard guard(m_lock);
    if (!m_reader)
        return {};
    QByteArray bytes = m_reader->contentOfEntry(entry);
    noticeDamage();
    return bytes;
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
