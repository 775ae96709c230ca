// Read-ahead for a walk over the container in storage order (the search index reads every page
// that way). A round trip to the reading process costs more than reading a small object, so when
// the requests walk forward through the section, the objects that follow the one asked for are
// asked for in the same round trip and handed out from here when their turn comes. Each is what
// the process answered for that very entry, as it would answer it later.
//
// The read-ahead takes only objects of the kinds (name suffixes) the walk reads, grows
// while the walk uses what it brought, and stops, for a while, when the walk does not (a walk
// in name order, say). Not thread-safe: its owner's lock guards it.
#pragma once

#include "CHMContainerLayout.h"

#include <QByteArray>
#include <optional>
#include <vector>

class CHMReadAhead {
public:
    explicit CHMReadAhead(const std::vector<CHMObjectEntry>& objects);

    // The object when it came along with an earlier answer (null bytes: "missing").
    std::optional<QByteArray> take(const CHMObjectEntry& entry);
    // On a miss: the listed entries to ask for along with `entry` (none when not walking).
    std::vector<CHMObjectEntry> plan(const CHMObjectEntry& entry);
    // What the process answered for the planned entries it sent.
    void store(CHMObjectEntry entry, QByteArray bytes);
    // While a walk goes on and half of what came has been taken: the entries after the last
    // one stored, to be asked for before they are needed (none otherwise).
    std::vector<CHMObjectEntry> planNext();

    // The most entries read ahead at once, and the most listed bytes.
    static constexpr size_t kMaxEntries = 63;
    static constexpr quint64 kMaxListedBytes = 1 << 20;

private:
    qsizetype positionOf(const CHMObjectEntry& entry) const;
    // Up to m_window entries of the walk's kinds after storage position `position`.
    std::vector<CHMObjectEntry> entriesAfter(qsizetype position) const;

    const std::vector<CHMObjectEntry>& m_objects;
    std::vector<size_t> m_storageOrder; // indexes of m_objects by (section, offset)
    qsizetype m_lastPosition = -1;      // in m_storageOrder, of the last entry asked for
    struct Stored {
        CHMObjectEntry entry;
        QByteArray bytes;
    };
    std::vector<Stored> m_stored;
    size_t m_window = 0; // entries to read ahead on the next miss of a walk
    size_t m_sent = 0;   // entries the last read-ahead brought
    size_t m_used = 0;   // of which the walk took
    int m_pause = 0;     // misses to wait before trying again after a wasted read-ahead
    std::vector<QByteArray> m_suffixes; // the kinds of object the walk reads
    qsizetype m_plannedUpTo = -1;       // storage position of the last entry asked for ahead
};
