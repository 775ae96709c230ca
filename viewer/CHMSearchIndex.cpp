// Xapian's headers use the word "slots", which Qt's headers define as a macro.
#include <xapian.h>

#include "CHMSearchIndex.h"

#include <algorithm>
#include <tuple>

#include "CHMDocument.h"
#include "CHMSearchResult.h"
#include "CHMTableOfContent.h"
#include "ScoredLinkItem.h"
#include "SearchHitEntries.h"
#include "SearchableText.h"
#include "TextEncodingTable.h"

#include <QtGlobal>

namespace {

constexpr Xapian::valueno kTitleSlot = 0;

// A wildcard ("lan*") stands for at most this many of the index's words, the most frequent.
constexpr Xapian::termcount kMaxWildcardTerms = 200;

bool hasVisibleCharacter(const QString& text) {
    for (const QChar c : text) {
        if (!c.isSpace())
            return true;
    }
    return false;
}

// The query as plain words, every one required: what is left when even the parser without
// operators rejects the text.
Xapian::Query plainWordsQuery(const std::string& text) {
    Xapian::TermGenerator generator;
    generator.set_flags(Xapian::TermGenerator::FLAG_CJK_NGRAM);
    Xapian::Document words;
    generator.set_document(words);
    generator.index_text_without_positions(text);
    std::vector<std::string> terms(words.termlist_begin(), words.termlist_end());
    return Xapian::Query(Xapian::Query::OP_AND, terms.begin(), terms.end());
}

} // namespace

struct CHMSearchIndex::Database {
    Xapian::WritableDatabase db{std::string(), Xapian::DB_BACKEND_INMEMORY};
    Xapian::TermGenerator generator;

    Database() { generator.set_flags(Xapian::TermGenerator::FLAG_CJK_NGRAM); }

    Xapian::Query parse(const std::string& text) {
        Xapian::QueryParser parser;
        parser.set_database(db);
        // Words separated by spaces must all occur.
        parser.set_default_op(Xapian::Query::OP_AND);
        parser.set_max_expansion(kMaxWildcardTerms, Xapian::Query::WILDCARD_LIMIT_MOST_FREQUENT);
        try {
            return parser.parse_query(text, Xapian::QueryParser::FLAG_DEFAULT |
                                                Xapian::QueryParser::FLAG_WILDCARD |
                                                Xapian::QueryParser::FLAG_CJK_NGRAM);
        } catch (const Xapian::QueryParserError&) {
        }
        // "AND OR (": the operators are taken as words.
        try {
            return parser.parse_query(text, Xapian::QueryParser::FLAG_CJK_NGRAM);
        } catch (const Xapian::QueryParserError&) {
        }
        return plainWordsQuery(text);
    }
};

CHMSearchIndex::CHMSearchIndex(CHMDocument& document) : m_document(document) {}

CHMSearchIndex::~CHMSearchIndex() {
    cancel();
}

void CHMSearchIndex::prepareSearchIndex(std::function<void()> onDone) {
    {
        std::lock_guard guard(m_stateLock);
        if (m_state != State::Idle)
            return;
        m_state = State::Running;
    }
    // Copies, so that the index thread reads nothing the document's thread may change.
    m_objects = m_document.objects();
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
    try {
        m_database = std::make_unique<Database>();
        m_thread = std::thread([this] { buildSearchIndex(); });
    } catch (const Xapian::Error& e) {
        qWarning("The search index cannot be created: %s", e.get_description().c_str());
        finish(State::Stopped);
    } catch (const std::exception& e) {
        qWarning("The search index cannot be created: %s", e.what());
        finish(State::Stopped);
    }
}

void CHMSearchIndex::buildSearchIndex() {
    for (const CHMObjectEntry& entry : m_objects) {
        if (m_stop.load(std::memory_order_relaxed)) {
            finish(State::Stopped);
            return;
        }
        if (isSearchablePath(entry.name))
            addToSearchIndex(entry);
    }
    m_objects = {};
    finish(State::Done);
    if (m_onDone && !m_stop.load(std::memory_order_relaxed))
        m_onDone();
}

bool CHMSearchIndex::isSearchablePath(const QByteArray& path) {
    return path.startsWith('/') && !path.contains("/../") && !path.endsWith('/');
}

bool CHMSearchIndex::addToSearchIndex(const CHMObjectEntry& entry) {
    if (SearchableText::isSkippedPath(entry.name))
        return false;
    // Names are stored as UTF-8; some compilers wrote them in the book's code page.
    QString path = decodeText(entry.name, QStringLiteral("UTF-8"));
    if (path.isNull() && !m_encodingName.isEmpty())
        path = decodeText(entry.name, m_encodingName);
    if (path.isNull())
        return false;
    // The document's lock is held inside this call only.
    const QByteArray bytes = m_document.contentOfEntry(entry);
    const QString text = SearchableText::textOf(entry.name, bytes, m_encodingName);
    if (!hasVisibleCharacter(text))
        return false;

    std::lock_guard guard(m_databaseLock);
    try {
        Xapian::Document document;
        document.set_data(path.toStdString());
        // A book without contents names its hits by their page titles instead.
        if (!m_hasContents)
            document.add_value(
                kTitleSlot,
                SearchableText::titleOf(entry.name, bytes, m_encodingName).toStdString());
        m_database->generator.set_document(document);
        m_database->generator.index_text_without_positions(text.toStdString());
        m_database->db.add_document(document);
        return true;
    } catch (const Xapian::Error& e) {
        qWarning("%s is not searchable: %s", entry.name.constData(), e.get_description().c_str());
    } catch (const std::exception& e) {
        qWarning("%s is not searchable: %s", entry.name.constData(), e.what());
    }
    return false;
}

void CHMSearchIndex::finish(State state) {
    {
        std::lock_guard guard(m_stateLock);
        m_state = state;
    }
    m_stateChanged.notify_all();
}

bool CHMSearchIndex::isIndexDone() const {
    std::lock_guard guard(m_stateLock);
    return m_state == State::Done;
}

bool CHMSearchIndex::waitUntilDone() {
    std::unique_lock guard(m_stateLock);
    m_stateChanged.wait(guard, [this] { return m_state != State::Running; });
    return m_state == State::Done;
}

void CHMSearchIndex::cancel() {
    m_stop.store(true, std::memory_order_relaxed);
    if (m_thread.joinable()) {
        // From the done callback the thread is about to end by itself and cannot join itself.
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }
    std::lock_guard guard(m_stateLock);
    if (m_state == State::Idle || m_state == State::Running) {
        m_state = State::Stopped;
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
        if (!m_hitEntries || !m_hitEntries->isBuiltFrom(toc.get(), keywords.get()))
            m_hitEntries = std::make_shared<SearchHitEntries>(toc, keywords);
        result->setHitEntries(m_hitEntries);
        Xapian::Enquire enquire(m_database->db);
        enquire.set_query(m_database->parse(text.toStdString()));
        const Xapian::MSet hits = enquire.get_mset(0, kMaxHits);
        for (auto hit = hits.begin(); hit != hits.end(); ++hit) {
            const Xapian::Document document = hit.get_document();
            const QString path = QString::fromStdString(document.get_data());
            if (byTitle) {
                QString title = QString::fromStdString(document.get_value(kTitleSlot));
                result->rootItems()->appendChild(std::make_shared<ScoredLinkItem>(
                    title.isEmpty() ? path.mid(1) : title, path.mid(1),
                    static_cast<float>(hit.get_weight())));
            } else {
                result->addPath(path, static_cast<float>(hit.get_weight()));
            }
        }
    } catch (const Xapian::Error& e) {
        qWarning("The search for \"%s\" failed: %s", qUtf8Printable(text),
                 e.get_description().c_str());
    } catch (const std::exception& e) {
        qWarning("The search for \"%s\" failed: %s", qUtf8Printable(text), e.what());
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
        return m_database->db.get_doccount();
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
        for (auto term = m_database->db.allterms_begin(); term != m_database->db.allterms_end();
             ++term)
            ++count;
        return count;
    } catch (const Xapian::Error&) {
        return 0;
    }
}
