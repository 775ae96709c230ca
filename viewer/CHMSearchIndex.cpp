// Xapian's headers use the word "slots", which Qt's headers define as a macro.
#include <xapian.h>

#include "CHMSearchIndex.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <algorithm>
#include <malloc.h>
#include <sys/resource.h>
#include <tuple>
#include <unistd.h>

#include "CHMDocument.h"
#include "CHMSearchIndexFolder.h"
#include "CHMSearchIndexLanguage.h"
#include "CHMSearchResult.h"
#include "CHMTableOfContent.h"
#include "LinkItem.h"
#include "LumenoLogging.h"
#include "ScoredLinkItem.h"
#include "SearchHitEntries.h"
#include "SearchableText.h"
#include "TextEncodingTable.h"

namespace {

// A wildcard ("lan*") stands for at most this many of the index's words, the most frequent.
constexpr Xapian::termcount kMaxWildcardTerms = 200;

// A Glass part: no per-page term lists (only searches read the index, and they need none:
// they take a third of the space), no syncing (the files are in memory).
constexpr int kGlassFlags =
    Xapian::DB_CREATE | Xapian::DB_BACKEND_GLASS | Xapian::DB_NO_SYNC | Xapian::DB_NO_TERMLIST;

// Stems of at least this many letters are looked up without their last letter.
constexpr qsizetype kShortestStemCut = 4;

// The index's words looked at for the forms of one stem at most; a stem of one or two letters
// might otherwise go through a large part of the index.
constexpr size_t kMaxFormsScanned = 20000;

// Below this many objects one thread fills the index: more would only cost their start.
constexpr size_t kObjectsPerShard = 400;

// Pages a Glass part holds in memory before it writes them to its files. Xapian keeps the
// pending postings in trees that are walked for every word of every page, so the fewer pages
// pending, the less processor time each word costs, until writing them out dominates. Processor
// time of the whole build of a realistic book of 20,000 pages, one thread: 50 pages 12.8 s,
// 100 11.6 s, 200 10.4 s, 400 10.0 s; three threads: 200 pages 10.3 s, 1,000 pages 14.4 s.
constexpr unsigned kPagesPerCommit = 250;

// The index threads' niceness: below the window's threads, above batch work.
constexpr int kIndexNiceness = 10;

bool hasVisibleCharacter(const QString& text) {
    for (const QChar c : text) {
        if (!c.isSpace())
            return true;
    }
    return false;
}

// Copies the strings on this thread and frees the originals. Strings a filling thread made
// stay scattered among the pages of its heap that it used for Xapian's short-lived data, and
// each one keeps a whole page of that heap resident (5 MB a thread for a book of 20,000 pages);
// copied together, they take a few pages, and the heap of the filling threads can be trimmed.
void keepCompactly(std::vector<QString>& strings) {
    std::vector<QString> copies;
    copies.reserve(strings.size());
    for (const QString& s : strings)
        copies.emplace_back(s.constData(), s.size());
    strings.swap(copies);
}

unsigned shardCountFor(size_t objects) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const auto bySize = static_cast<unsigned>(std::max<size_t>(1, objects / kObjectsPerShard));
    return std::clamp(std::min(cores / 2, bySize), 1u, CHMSearchIndex::kMaxShards);
}

QString describe(const Xapian::Error& e) {
    return QString::fromStdString(e.get_description());
}

} // namespace

// One part of the index, filled by one thread.
struct CHMSearchIndex::Shard {
    std::unique_ptr<Xapian::WritableDatabase> writable; // while the build runs (always on the heap)
    std::string path;                                   // its Glass folder; empty on the heap
    Xapian::TermGenerator generator;
    std::vector<QString> pages;   // the page of each of its documents, by document number - 1
    std::vector<QString> titles;  // the same pages' titles, for a book without contents
    std::vector<quint32> objects; // the same pages' places in the storage order
    QString error;
};

struct CHMSearchIndex::Database {
    std::unique_ptr<CHMSearchIndexFolder> folder; // null: the index is on the heap
    std::vector<Shard> shards;
    // The entry each page of each shard is listed under, and its reading order, looked up once
    // per pair of trees: a search with twenty thousand hits spent most of its time on them.
    struct Listing {
        const LinkItem* entry = nullptr;
        qsizetype order = 0;
    };
    std::vector<std::vector<Listing>> listings;
    const SearchHitEntries* listedBy = nullptr;

    void listUnder(const SearchHitEntries& entries) {
        if (listedBy == &entries)
            return;
        listings.assign(shards.size(), {});
        for (size_t i = 0; i < shards.size(); ++i) {
            listings[i].reserve(shards[i].pages.size());
            for (const QString& page : shards[i].pages) {
                Listing listing;
                listing.entry = entries.entryFor(page, &listing.order);
                listings[i].push_back(listing);
            }
        }
        listedBy = &entries;
    }
    Xapian::Database reader; // every shard, as one
    Xapian::Stem stemmer;
    bool stems = false;

    // Set when the parts were merged into one database: there the documents of each part
    // follow those of the parts before it.
    bool merged = false;

    // The shard of a document of the combined database, and its number there less 1.
    size_t shardOf(Xapian::docid id, Xapian::docid* local) const {
        if (merged) {
            Xapian::docid before = 0;
            for (size_t i = 0; i < shards.size(); ++i) {
                const auto count = static_cast<Xapian::docid>(shards[i].pages.size());
                if (id - 1 < before + count) {
                    *local = id - 1 - before;
                    return i;
                }
                before += count;
            }
            *local = id - 1;
            return shards.size(); // no such document
        }
        // Xapian interleaves the documents of the databases it searches as one.
        const auto n = static_cast<Xapian::docid>(shards.size());
        *local = (id - 1) / n;
        return (id - 1) % n;
    }

    Xapian::QueryParser parser(Xapian::QueryParser::stem_strategy strategy) const {
        Xapian::QueryParser parser;
        parser.set_database(reader);
        // Words separated by spaces must all occur.
        parser.set_default_op(Xapian::Query::OP_AND);
        parser.set_max_expansion(kMaxWildcardTerms, Xapian::Query::WILDCARD_LIMIT_MOST_FREQUENT);
        if (stems) {
            parser.set_stemmer(stemmer);
            parser.set_stemming_strategy(strategy);
        }
        return parser;
    }

    // The query as plain words, every one required: what is left when even the parser without
    // operators rejects the text.
    Xapian::Query plainWords(const std::string& text, bool stemmed) const {
        Xapian::TermGenerator generator;
        generator.set_flags(Xapian::TermGenerator::FLAG_CJK_NGRAM);
        if (stemmed) {
            generator.set_stemmer(stemmer);
            generator.set_stemming_strategy(Xapian::TermGenerator::STEM_ALL_Z);
        }
        Xapian::Document words;
        generator.set_document(words);
        generator.index_text_without_positions(text);
        std::vector<std::string> terms(words.termlist_begin(), words.termlist_end());
        return Xapian::Query(Xapian::Query::OP_AND, terms.begin(), terms.end());
    }

    Xapian::Query parse(const std::string& text, Xapian::QueryParser::stem_strategy strategy) {
        const Xapian::QueryParser p = parser(strategy);
        try {
            return Xapian::QueryParser(p).parse_query(
                text, Xapian::QueryParser::FLAG_DEFAULT | Xapian::QueryParser::FLAG_WILDCARD |
                          Xapian::QueryParser::FLAG_CJK_NGRAM);
        } catch (const Xapian::QueryParserError&) {
        }
        // "AND OR (": the operators are taken as words.
        try {
            return Xapian::QueryParser(p).parse_query(text, Xapian::QueryParser::FLAG_CJK_NGRAM);
        } catch (const Xapian::QueryParserError&) {
        }
        return plainWords(text, strategy == Xapian::QueryParser::STEM_ALL_Z);
    }

    // The words of the index that share the stem: those that begin with the stem (less its
    // last letter, which stemmers change: "happi" stands for "happy") and stem to it. One term
    // for the weighting, as if the index held the stem itself.
    Xapian::Query formsOf(const std::string& stem) {
        QString prefix = QString::fromStdString(stem);
        if (prefix.size() >= kShortestStemCut)
            prefix.chop(1);
        const std::string start = prefix.toStdString();
        std::vector<std::string> forms;
        size_t scanned = 0;
        for (auto term = reader.allterms_begin(start);
             term != reader.allterms_end(start) && scanned < kMaxFormsScanned; ++term, ++scanned) {
            if (stemmer(*term) == stem)
                forms.push_back(*term);
        }
        if (forms.empty())
            return Xapian::Query::MatchNothing;
        return Xapian::Query(Xapian::Query::OP_SYNONYM, forms.begin(), forms.end());
    }

    // The parsed query with each stemmed word ("Z" and its stem) replaced by its forms. A phrase
    // is taken as its words: the index holds no positions.
    Xapian::Query withForms(const Xapian::Query& query) {
        using Q = Xapian::Query;
        const Q::op type = query.get_type();
        if (type == Q::LEAF_TERM) {
            const std::string term = *query.get_terms_begin();
            return term.size() > 1 && term[0] == 'Z' ? formsOf(term.substr(1)) : query;
        }
        switch (type) {
        case Q::OP_AND:
        case Q::OP_OR:
        case Q::OP_AND_NOT:
        case Q::OP_XOR:
        case Q::OP_AND_MAYBE:
        case Q::OP_FILTER:
        case Q::OP_SYNONYM:
        case Q::OP_MAX:
        case Q::OP_PHRASE:
        case Q::OP_NEAR: {
            std::vector<Q> parts;
            for (size_t i = 0; i < query.get_num_subqueries(); ++i)
                parts.push_back(withForms(query.get_subquery(i)));
            const bool positional = type == Q::OP_PHRASE || type == Q::OP_NEAR;
            return Q(positional ? Q::OP_AND : type, parts.begin(), parts.end());
        }
        default:
            return query;
        }
    }

    // Every word must occur in some form; pages with the forms as typed come first.
    Xapian::Query query(const QString& text) {
        const std::string utf8 = text.toStdString();
        if (!stems)
            return parse(utf8, Xapian::QueryParser::STEM_NONE);
        return Xapian::Query(Xapian::Query::OP_AND_MAYBE,
                             withForms(parse(utf8, Xapian::QueryParser::STEM_ALL_Z)),
                             parse(utf8, Xapian::QueryParser::STEM_NONE));
    }
};

CHMSearchIndex::CHMSearchIndex(CHMDocument& document) : m_document(document) {}

CHMSearchIndex::~CHMSearchIndex() {
    cancel();
}

void CHMSearchIndex::prepareSearchIndex(std::function<void()> onDone, QObject* context) {
    {
        std::lock_guard guard(m_stateLock);
        if (m_status != Status::NotStarted)
            return;
        m_status = Status::Building;
    }
    // Copies, so that the index threads read nothing the document's thread may change.
    for (const CHMObjectEntry& entry : m_document.objects()) {
        if (isSearchablePath(entry.name) && !SearchableText::isSkippedPath(entry.name))
            m_objects.push_back(entry);
    }
    // Read in storage order: chmlib caches few decompressed blocks, and jumping around the
    // compressed section in name order reads it up to twice as slowly.
    std::stable_sort(m_objects.begin(), m_objects.end(),
                     [](const CHMObjectEntry& a, const CHMObjectEntry& b) {
                         return std::tie(a.section, a.offset) < std::tie(b.section, b.offset);
                     });
    m_encodingName = m_document.encodingName();
    const auto toc = m_document.tocSource();
    m_hasContents = toc && toc->rootChildrenCount() > 0;
    m_onDone = std::move(onDone);
    m_doneContext = context ? context : QCoreApplication::instance();
    try {
        m_thread = std::thread([this] { buildSearchIndex(); });
    } catch (const std::exception& e) {
        finish(Status::Unavailable, QString::fromLocal8Bit(e.what()));
    }
}

void CHMSearchIndex::buildSearchIndex() {
    // Indexing yields to the window and to page loads on a busy machine. Linux gives every
    // thread a niceness of its own, and the threads started here inherit it.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kIndexNiceness);
    // The book's language is read here, not by the caller: a window's thread must not wait for
    // the reading process.
    if (const auto lcid =
            CHMSearchIndexLanguage::lcidOfSystem(m_document.content(QStringLiteral("/#SYSTEM"))))
        m_stemmerName = CHMSearchIndexLanguage::stemmerForLCID(*lcid);
    auto database = std::make_unique<Database>();
    try {
        if (!m_options.onHeap)
            database->folder = CHMSearchIndexFolder::create();
        if (!m_stemmerName.isEmpty()) {
            database->stemmer = Xapian::Stem(m_stemmerName.toStdString());
            database->stems = true;
        }
        database->shards.resize(m_options.shards > 0 ? m_options.shards
                                                     : shardCountFor(m_objects.size()));
        for (size_t i = 0; i < database->shards.size(); ++i) {
            Shard& shard = database->shards[i];
            if (database->folder) {
                shard.path =
                    (database->folder->path() + QStringLiteral("/part%1").arg(i)).toStdString();
                shard.writable =
                    std::make_unique<Xapian::WritableDatabase>(shard.path, kGlassFlags);
            } else {
                shard.writable = std::make_unique<Xapian::WritableDatabase>(
                    std::string(), Xapian::DB_BACKEND_INMEMORY);
            }
            // Words as written only: a search finds the other forms of a word among them.
            shard.generator.set_flags(Xapian::TermGenerator::FLAG_CJK_NGRAM);
            shard.generator.set_stemming_strategy(Xapian::TermGenerator::STEM_NONE);
        }
    } catch (const Xapian::Error& e) {
        finish(Status::Unavailable, describe(e));
        return;
    } catch (const std::exception& e) {
        finish(Status::Unavailable, QString::fromLocal8Bit(e.what()));
        return;
    }

    // Every part is filled by a thread of its own, and this one only waits: what stays of a
    // build (the pages' paths) is copied here afterwards, so that the memory the fillers
    // churned through can go back to the system (see keepCompactly).
    std::vector<std::thread> helpers;
    try {
        for (Shard& shard : database->shards)
            helpers.emplace_back([this, &shard] { fillShard(shard); });
    } catch (const std::exception&) {
        // Fewer threads: the ones running take every object.
    }
    if (helpers.empty())
        fillShard(database->shards[0]);
    for (std::thread& helper : helpers)
        helper.join();
    for (Shard& shard : database->shards) {
        keepCompactly(shard.pages);
        keepCompactly(shard.titles);
    }

    QString failure;
    for (const Shard& shard : database->shards) {
        if (!shard.error.isEmpty())
            failure = shard.error;
    }
    if (failure.isEmpty() && m_stop.load())
        return finish(Status::Cancelled);
    if (failure.isEmpty()) {
        try {
            // Search the parts as one; a Glass part is written out and reopened read-only,
            // which frees the memory its writer held.
            if (database->folder) {
                mergeShards(*database);
            } else {
                for (Shard& shard : database->shards)
                    database->reader.add_database(*shard.writable);
            }
        } catch (const Xapian::Error& e) {
            failure = describe(e);
        } catch (const std::exception& e) {
            failure = QString::fromLocal8Bit(e.what());
        }
    }
    if (!failure.isEmpty()) {
        qCWarning(lcSearch) << "The search index of" << logSafe(m_document.filePath())
                            << "could not be built:" << failure;
        database.reset();
        finish(Status::Unavailable, failure);
    } else {
        {
            std::lock_guard guard(m_databaseLock);
            m_database = std::move(database);
        }
        // The writers' tables and the pages' text were freed, but the heap keeps that memory
        // (tens of megabytes for a large book, in the arenas of the threads that filled the
        // index) unless told to give it back.
        ::malloc_trim(0);
        finish(Status::Ready);
    }
}

// The parts' files hold many half-empty blocks, left by writing out every few hundred pages;
// merged into one database, the index takes about a third of their size (16 MB instead of 44
// for a book of 20,000 pages), for a small part of the build's time. The parts are removed.
void CHMSearchIndex::mergeShards(Database& database) {
    Xapian::Database parts;
    for (Shard& shard : database.shards) {
        shard.writable->commit();
        shard.writable.reset();
        parts.add_database(Xapian::Database(shard.path));
    }
    const std::string merged = (database.folder->path() + QStringLiteral("/index")).toStdString();
    parts.compact(merged, Xapian::DBCOMPACT_SINGLE_FILE);
    parts.close();
    for (const Shard& shard : database.shards)
        QDir(QString::fromStdString(shard.path)).removeRecursively();
    database.reader = Xapian::Database(merged);
    database.merged = true;
}

void CHMSearchIndex::fillShard(Shard& shard) {
    unsigned uncommitted = 0;
    try {
        for (;;) {
            if (m_stop.load(std::memory_order_relaxed))
                return;
            size_t i = 0;
            QByteArray bytes;
            {
                // One object at a time, in storage order over all threads.
                std::lock_guard guard(m_document.lock());
                i = m_nextObject.fetch_add(1);
                if (i >= m_objects.size())
                    break;
                bytes = m_document.contentOfEntry(m_objects[i]);
            }
            const CHMObjectEntry& entry = m_objects[i];
            // Names are stored as UTF-8; some compilers wrote them in the book's code page.
            QString path = decodeText(entry.name, QStringLiteral("UTF-8"));
            if (path.isNull() && !m_encodingName.isEmpty())
                path = decodeText(entry.name, m_encodingName);
            if (path.isNull())
                continue;
            const QString text = SearchableText::textOf(entry.name, bytes, m_encodingName);
            if (!hasVisibleCharacter(text))
                continue;
            Xapian::Document document;
            shard.generator.set_document(document);
            shard.generator.index_text_without_positions(text.toStdString());
            shard.writable->add_document(document);
            shard.pages.push_back(path);
            shard.objects.push_back(static_cast<quint32>(i));
            // A book without contents names its hits by their page titles instead.
            if (!m_hasContents)
                shard.titles.push_back(SearchableText::titleOf(entry.name, bytes, m_encodingName));
            if (!shard.path.empty() && ++uncommitted == kPagesPerCommit) {
                shard.writable->commit();
                uncommitted = 0;
            }
        }
    } catch (const Xapian::Error& e) {
        shard.error = describe(e);
    } catch (const std::exception& e) {
        shard.error = QString::fromLocal8Bit(e.what());
    }
    // A failed part makes the whole index unusable: the others stop too.
    if (!shard.error.isEmpty())
        m_stop.store(true);
}

bool CHMSearchIndex::isSearchablePath(const QByteArray& path) {
    return path.startsWith('/') && !path.contains("/../") && !path.endsWith('/');
}

void CHMSearchIndex::finish(Status status, const QString& reason) {
    {
        std::lock_guard guard(m_stateLock);
        // A cancel() that came first has the last word.
        if (m_status == Status::Cancelled)
            return;
        m_status = status;
        m_failureReason = reason;
    }
    m_stateChanged.notify_all();
    if (status == Status::Cancelled || !m_onDone)
        return;
    // Queued, never run here: the callback may cancel or destroy this index, which an index
    // thread cannot do to itself. It is dropped when cancel() comes before it runs.
    if (QObject* context = m_doneContext.data()) {
        QMetaObject::invokeMethod(
            context,
            [wanted = m_doneWanted, onDone = m_onDone] {
                if (wanted->load())
                    onDone();
            },
            Qt::QueuedConnection);
    }
}

CHMSearchIndex::Status CHMSearchIndex::status() const {
    std::lock_guard guard(m_stateLock);
    return m_status;
}

QString CHMSearchIndex::failureReason() const {
    std::lock_guard guard(m_stateLock);
    return m_failureReason;
}

bool CHMSearchIndex::isIndexDone() const {
    return status() == Status::Ready;
}

QString CHMSearchIndex::stemmerName() {
    waitUntilDone();
    return m_stemmerName;
}

bool CHMSearchIndex::waitUntilDone() {
    std::unique_lock guard(m_stateLock);
    m_stateChanged.wait(guard, [this] { return m_status != Status::Building; });
    return m_status == Status::Ready;
}

void CHMSearchIndex::cancel() {
    m_doneWanted->store(false);
    m_stop.store(true);
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard guard(m_stateLock);
    if (m_status == Status::NotStarted || m_status == Status::Building) {
        m_status = Status::Cancelled;
        m_stateChanged.notify_all();
    }
}

std::shared_ptr<CHMSearchResult> CHMSearchIndex::searchInFile(const QString& text) {
    if (!hasVisibleCharacter(text))
        return nullptr;
    const std::shared_ptr<CHMTableOfContent> toc = m_document.tocSource();
    if (!waitUntilDone())
        return nullptr;
    // Without contents no hit could be named by an entry, and a book that is searchable would
    // find nothing: such hits are listed under their pages' titles.
    const bool byTitle = !toc || toc->rootChildrenCount() == 0;
    const std::shared_ptr<CHMTableOfContent> keywords = m_document.indexSource();
    auto result = std::make_shared<CHMSearchResult>(toc, keywords);
    std::lock_guard guard(m_databaseLock);
    try {
        // The trees are new after an encoding change.
        if (!m_hitEntries || !m_hitEntries->isBuiltFrom(toc.get(), keywords.get())) {
            m_hitEntries = std::make_shared<SearchHitEntries>(toc, keywords);
            m_database->listedBy = nullptr;
        }
        result->setHitEntries(m_hitEntries);
        Xapian::Enquire enquire(m_database->reader);
        enquire.set_query(m_database->query(text));
        const Xapian::MSet hits =
            enquire.get_mset(0, std::max<Xapian::doccount>(1, m_database->reader.get_doccount()));
        result->setFoundCount(hits.size());
        result->reserveHits(static_cast<qsizetype>(hits.size()));

        if (!byTitle)
            m_database->listUnder(*m_hitEntries);
        struct Hit {
            double weight;
            qsizetype order;
            const QString* page;
            size_t shard;
            Xapian::docid local;
        };
        std::vector<Hit> ordered;
        ordered.reserve(hits.size());
        for (auto hit = hits.begin(); hit != hits.end(); ++hit) {
            Xapian::docid local = 0;
            const size_t shard = m_database->shardOf(*hit, &local);
            if (shard >= m_database->shards.size() ||
                local >= m_database->shards[shard].pages.size())
                continue;
            // Pages named by their titles keep the order in which the book stores them.
            qsizetype order = static_cast<qsizetype>(m_database->shards[shard].objects[local]);
            if (!byTitle) {
                const auto& listing = m_database->listings[shard][local];
                // A page no entry names is not listed.
                if (!listing.entry)
                    continue;
                order = listing.order;
            }
            ordered.push_back(
                {hit.get_weight(), order, &m_database->shards[shard].pages[local], shard, local});
        }
        std::stable_sort(ordered.begin(), ordered.end(), [](const Hit& a, const Hit& b) {
            return a.weight != b.weight ? a.weight > b.weight : a.order < b.order;
        });
        for (const Hit& hit : ordered) {
            const auto score = static_cast<float>(hit.weight);
            if (byTitle)
                result->addTitledPage(*hit.page, m_database->shards[hit.shard].titles[hit.local],
                                      score);
            else
                result->addHit(m_database->listings[hit.shard][hit.local].entry, *hit.page, score);
        }
    } catch (const Xapian::Error& e) {
        qCWarning(lcSearch) << "The search for" << logSafe(text) << "failed:" << describe(e);
    } catch (const std::exception& e) {
        qCWarning(lcSearch) << "The search for" << logSafe(text) << "failed:" << e.what();
    }
    result->sort();
    return result;
}

std::unique_ptr<CHMTableOfContent>
CHMSearchIndex::searchInIndex(const CHMTableOfContent* indexSource, const QString& text) {
    if (!indexSource || text.isEmpty())
        return nullptr;
    return CHMTableOfContent::filterByNamePrefix(indexSource, text);
}

quint64 CHMSearchIndex::documentCount() {
    if (!isIndexDone())
        return 0;
    std::lock_guard guard(m_databaseLock);
    try {
        return m_database->reader.get_doccount();
    } catch (const Xapian::Error&) {
        return 0;
    }
}

quint64 CHMSearchIndex::termCount() {
    if (!isIndexDone())
        return 0;
    std::lock_guard guard(m_databaseLock);
    try {
        quint64 count = 0;
        for (auto term = m_database->reader.allterms_begin();
             term != m_database->reader.allterms_end(); ++term)
            ++count;
        return count;
    } catch (const Xapian::Error&) {
        return 0;
    }
}

quint64 CHMSearchIndex::storageBytes() {
    if (!isIndexDone())
        return 0;
    std::lock_guard guard(m_databaseLock);
    return m_database->folder ? m_database->folder->sizeInBytes() : 0;
}

bool CHMSearchIndex::isInMemoryFolder() const {
    if (!isIndexDone())
        return false;
    std::lock_guard guard(m_databaseLock);
    return m_database->folder != nullptr;
}
