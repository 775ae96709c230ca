#include "CHMReadAhead.h"

#include <algorithm>
#include <tuple>

namespace {

bool sameEntry(const CHMObjectEntry& a, const CHMObjectEntry& b) {
    return a.offset == b.offset && a.section == b.section && a.length == b.length &&
           a.name == b.name;
}

QByteArray suffixOf(const QByteArray& name) {
    const qsizetype dot = name.lastIndexOf('.');
    return dot > name.lastIndexOf('/') ? name.mid(dot).toLower() : QByteArray();
}

// A walk steps forward past a few objects it does not want (images, style sheets).
constexpr qsizetype kWalkStride = 64;
constexpr size_t kFirstWindow = 4;
constexpr int kPauseAfterWaste = 16;
constexpr size_t kMaxSuffixes = 4;

} // namespace

CHMReadAhead::CHMReadAhead(const std::vector<CHMObjectEntry>& objects) : m_objects(objects) {}

qsizetype CHMReadAhead::positionOf(const CHMObjectEntry& entry) const {
    const auto key = [&](size_t i) { return std::tie(m_objects[i].section, m_objects[i].offset); };
    auto at = std::lower_bound(
        m_storageOrder.begin(), m_storageOrder.end(), entry,
        [&](size_t i, const CHMObjectEntry& e) { return key(i) < std::tie(e.section, e.offset); });
    for (; at != m_storageOrder.end() && key(*at) == std::tie(entry.section, entry.offset); ++at) {
        if (sameEntry(m_objects[*at], entry))
            return at - m_storageOrder.begin();
    }
    return -1;
}

std::optional<QByteArray> CHMReadAhead::take(const CHMObjectEntry& entry) {
    for (auto it = m_stored.begin(); it != m_stored.end(); ++it) {
        if (sameEntry(it->entry, entry)) {
            QByteArray bytes = std::move(it->bytes);
            // The walk has passed the ones before it.
            m_stored.erase(m_stored.begin(), it + 1);
            ++m_used;
            m_lastPosition = positionOf(entry);
            return bytes;
        }
    }
    return std::nullopt;
}

std::vector<CHMObjectEntry> CHMReadAhead::plan(const CHMObjectEntry& entry) {
    m_stored.clear();
    if (m_storageOrder.empty()) {
        m_storageOrder.resize(m_objects.size());
        for (size_t i = 0; i < m_objects.size(); ++i)
            m_storageOrder[i] = i;
        std::stable_sort(m_storageOrder.begin(), m_storageOrder.end(), [&](size_t a, size_t b) {
            return std::tie(m_objects[a].section, m_objects[a].offset) <
                   std::tie(m_objects[b].section, m_objects[b].offset);
        });
    }
    const qsizetype position = positionOf(entry);
    const bool walking = position >= 0 && m_lastPosition >= 0 && position > m_lastPosition &&
                         position - m_lastPosition <= kWalkStride;
    m_lastPosition = position;
    if (!walking) {
        m_window = 0;
    } else if (m_sent > 0) {
        // The walk took all that came: bring more; most of it: as much again; less: stop for
        // a while.
        if (m_used >= m_sent) {
            m_window = std::min(kMaxEntries, std::max(kFirstWindow, m_window * 2));
        } else if (m_used * 2 < m_sent) {
            m_window = 0;
            m_pause = kPauseAfterWaste;
        }
    } else if (m_pause > 0) {
        --m_pause;
    } else if (m_window == 0) {
        m_window = kFirstWindow;
    }
    m_sent = m_used = 0;
    // A walk may take objects of a few kinds (".htm" and ".html"): it reads ahead all of them.
    const QByteArray suffix = suffixOf(entry.name);
    if (!walking)
        m_suffixes.clear();
    if (std::find(m_suffixes.begin(), m_suffixes.end(), suffix) == m_suffixes.end() &&
        m_suffixes.size() < kMaxSuffixes)
        m_suffixes.push_back(suffix);
    m_plannedUpTo = position;
    if (m_window == 0)
        return {};
    return entriesAfter(position);
}

std::vector<CHMObjectEntry> CHMReadAhead::entriesAfter(qsizetype position) const {
    std::vector<CHMObjectEntry> ahead;
    quint64 listed = 0;
    const auto end =
        std::min(m_storageOrder.size(), static_cast<size_t>(position) + 1 + kMaxEntries * 4);
    for (size_t next = static_cast<size_t>(position) + 1; next < end && ahead.size() < m_window;
         ++next) {
        const CHMObjectEntry& candidate = m_objects[m_storageOrder[next]];
        if (std::find(m_suffixes.begin(), m_suffixes.end(), suffixOf(candidate.name)) ==
            m_suffixes.end())
            continue;
        if (candidate.length > kMaxListedBytes - listed)
            break;
        listed += candidate.length;
        ahead.push_back(candidate);
    }
    return ahead;
}

std::vector<CHMObjectEntry> CHMReadAhead::planNext() {
    if (m_window == 0 || m_plannedUpTo < 0 || m_stored.size() * 2 > m_window)
        return {};
    std::vector<CHMObjectEntry> ahead = entriesAfter(m_plannedUpTo);
    if (!ahead.empty()) {
        m_plannedUpTo = positionOf(ahead.back());
        // The walk takes what it is given: the next rounds may be as large as allowed.
        m_window = std::min(kMaxEntries, m_window * 2);
    }
    return ahead;
}

void CHMReadAhead::store(CHMObjectEntry entry, QByteArray bytes) {
    const qsizetype position = positionOf(entry);
    if (position > m_plannedUpTo)
        m_plannedUpTo = position;
    m_stored.push_back({std::move(entry), std::move(bytes)});
    ++m_sent;
}
