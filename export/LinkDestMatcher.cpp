#include "LinkDestMatcher.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

namespace {

// How far ahead a word that did not match twice is looked for before the matcher gives up.
constexpr int kRealignWindow = 99;
// How far ahead of the walk words painted early are looked for: a printed page's worth of text,
// whatever the script.
constexpr int kEarlySearchBytes = 32 * 1024;
// A run of words longer than this that continues the text further on is the walk having missed
// text that was not printed, not a float.
constexpr std::size_t kMaxEarlyRunWords = 12;
// How many runs painted early may follow one another before the walk resumes.
constexpr int kMaxEarlyRuns = 64;
// A word painted again within this many points of itself is the same word (a text shadow is
// one pixel, 0.75 points, away); how many words back it is looked for.
constexpr double kRepaintDistance = 2.0;
constexpr std::size_t kRepaintLookBack = 16;

bool textBeginsWith(const char* text, int pos, int length, const std::string& word) {
    if (pos < 0 || pos > length)
        return false;
    const std::size_t left = static_cast<std::size_t>(length - pos);
    return word.size() <= left && std::memcmp(text + pos, word.data(), word.size()) == 0;
}

class Walk {
public:
    Walk(const std::vector<PrintedWord>& words, const char* text, int length,
         LinkDestLocation* records, int count, LinkDestMatchState& state)
        : m_words(words), m_text(text), m_length(length), m_records(records), m_count(count),
          m_state(state) {}

    int run();

private:
    // Over whitespace and over the text of words already painted early.
    void skipGap(int* pos) const;
    bool insideEarly(int pos) const;
    // The number of words from `first` on that continue one another in the text from `at` (at
    // most `most`), and where the last of them ends.
    std::size_t runAt(std::size_t first, int at, int* end,
                      std::size_t most = kMaxEarlyRunWords + 1) const;
    // Where the words from `first` on continue one another for at least two words, after `from`
    // and within the search window; -1 when nowhere.
    int findAhead(std::size_t first, int from, std::size_t* count, int* end) const;
    // How many words of the run at `first` were painted before their turn: the run is short, and
    // followed by nothing but more such runs before a word that continues the walk where it
    // stands. 0 when the run is not painted early.
    std::size_t earlyRunLength(std::size_t first, std::size_t count) const;
    void placeRecordsBefore(int at, const PrintedWord& word);
    void skipFoundRecords();

    const std::vector<PrintedWord>& m_words;
    const char* m_text;
    int m_length;
    LinkDestLocation* m_records;
    int m_count;
    LinkDestMatchState& m_state;
};

void Walk::skipGap(int* pos) const {
    for (;;) {
        skipTextWhitespace(m_text, pos, m_length);
        bool moved = false;
        for (const auto& [begin, end] : m_state.paintedEarly) {
            if (*pos >= begin && *pos < end) {
                *pos = end;
                moved = true;
            }
        }
        if (!moved)
            return;
    }
}

bool Walk::insideEarly(int pos) const {
    return std::any_of(m_state.paintedEarly.begin(), m_state.paintedEarly.end(),
                       [pos](const auto& r) { return pos >= r.first && pos < r.second; });
}

std::size_t Walk::runAt(std::size_t first, int at, int* end, std::size_t most) const {
    int pos = at;
    std::size_t count = 0;
    for (std::size_t k = first; k < m_words.size() && count < most; ++k) {
        if (k > first)
            skipTextWhitespace(m_text, &pos, m_length);
        const std::string& s = m_words[k].text;
        if (s.empty() || insideEarly(pos) || !textBeginsWith(m_text, pos, m_length, s))
            break;
        pos += static_cast<int>(s.size());
        ++count;
    }
    *end = pos;
    return count;
}

int Walk::findAhead(std::size_t first, int from, std::size_t* count, int* end) const {
    const std::string& s = m_words[first].text;
    if (s.empty() || first + 1 >= m_words.size() || from < 0 || from >= m_length)
        return -1;
    const int limit = static_cast<int>(
        std::min<long long>(m_length, static_cast<long long>(from) + kEarlySearchBytes));
    const std::string_view text(m_text, static_cast<std::size_t>(limit));
    for (std::size_t at = text.find(s, static_cast<std::size_t>(from) + 1);
         at != std::string_view::npos; at = text.find(s, at + 1)) {
        const int pos = static_cast<int>(at);
        if (insideEarly(pos))
            continue;
        *count = runAt(first, pos, end);
        if (*count >= 2)
            return pos;
    }
    return -1;
}

std::size_t Walk::earlyRunLength(std::size_t first, std::size_t count) const {
    int cursor = m_state.textPos;
    skipGap(&cursor);
    // The first run may have taken in a word that only happens to continue it: the walk may
    // resume after any two or more of its words.
    std::size_t taken = 0;
    for (int runs = 0; runs < kMaxEarlyRuns && count <= kMaxEarlyRunWords; ++runs) {
        for (std::size_t length = 2; length <= count; ++length) {
            const std::size_t next = first + length;
            if (next < m_words.size() &&
                textBeginsWith(m_text, cursor, m_length, m_words[next].text))
                return taken ? taken : length;
        }
        if (!taken)
            taken = count;
        const std::size_t next = first + count;
        int end = 0;
        if (next >= m_words.size() || findAhead(next, cursor, &count, &end) < 0)
            return 0;
        first = next;
    }
    return 0;
}

void Walk::placeRecordsBefore(int at, const PrintedWord& word) {
    for (int r = m_state.recordIndex; r < m_count; ++r) {
        LinkDestLocation& record = m_records[r];
        if (record.charIndex > static_cast<uint32_t>(at))
            break;
        int gap = static_cast<int>(record.charIndex);
        skipTextWhitespace(m_text, &gap, m_length);
        if (!record.found && gap >= at) {
            record.x = word.xMin;
            record.y = word.yMin - 2.0;
            record.found = 1;
        }
    }
}

void Walk::skipFoundRecords() {
    while (m_state.recordIndex < m_count && m_records[m_state.recordIndex].found)
        ++m_state.recordIndex;
}

int Walk::run() {
    int& textPos = m_state.textPos;
    int& recordIndex = m_state.recordIndex;
    bool retry = false;
    for (std::size_t i = 0; i < m_words.size(); ++i) {
        const PrintedWord& word = m_words[i];
        skipGap(&textPos);
        skipFoundRecords();
        if (recordIndex >= m_count)
            return 0;
        const std::string& s = word.text;
        if (!textBeginsWith(m_text, textPos, m_length, s)) {
            std::size_t count = 0;
            int end = 0;
            const int at = findAhead(i, textPos, &count, &end);
            const std::size_t early = at >= 0 ? earlyRunLength(i, count) : 0;
            if (early) {
                if (early < count)
                    runAt(i, at, &end, early);
                placeRecordsBefore(at, word);
                m_state.paintedEarly.emplace_back(at, end);
                i += early - 1;
                continue;
            }
        }
        LinkDestLocation& record = m_records[recordIndex];
        if (record.charIndex <= static_cast<uint32_t>(std::max(textPos, 0))) {
            record.x = word.xMin;
            record.y = word.yMin - 2.0;
            record.found = 1;
            skipFoundRecords();
            if (recordIndex >= m_count)
                return 0;
        }
        if (!textBeginsWith(m_text, textPos, m_length, s)) {
            if (!retry) {
                retry = true;
                continue;
            }
            if (textPos < m_length && !s.empty()) {
                const std::string_view rest(m_text + textPos,
                                            static_cast<std::size_t>(m_length - textPos));
                const std::size_t at = rest.find(s);
                if (at != std::string_view::npos && at <= kRealignWindow) {
                    textPos += static_cast<int>(at);
                    skipTextWhitespace(m_text, &textPos, m_length);
                    if (!textBeginsWith(m_text, textPos, m_length, s))
                        return 1;
                }
            }
        }
        textPos += static_cast<int>(s.size());
        retry = false;
    }
    return 0;
}

} // namespace

void skipTextWhitespace(const char* text, int* pos, int length) {
    while (*pos >= 0 && *pos < length) {
        const auto c = static_cast<unsigned char>(text[*pos]);
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++*pos;
        } else if (c == 0xC2 && *pos + 1 < length &&
                   static_cast<unsigned char>(text[*pos + 1]) == 0xA0) {
            *pos += 2;
        } else {
            break;
        }
    }
}

int findLinkDestinations(const std::vector<PrintedWord>& words, const char* text, int textLength,
                         LinkDestLocation* records, int recordCount, LinkDestMatchState* state) {
    if (!state || recordCount <= 0 || state->recordIndex >= recordCount || state->recordIndex < 0)
        return 0;
    if (!text)
        textLength = 0;
    return Walk(words, text, textLength, records, recordCount, *state).run();
}

int findLinkDestinations(const std::vector<PrintedWord>& words, const char* text, int* textPos,
                         int textLength, LinkDestLocation* records, int recordCount,
                         int* recordIndex) {
    LinkDestMatchState state;
    state.textPos = *textPos;
    state.recordIndex = *recordIndex;
    const int answer = findLinkDestinations(words, text, textLength, records, recordCount, &state);
    *textPos = state.textPos;
    *recordIndex = state.recordIndex;
    return answer;
}

std::vector<PrintedWord> withoutRepaintedWords(const std::vector<PrintedWord>& words) {
    std::vector<PrintedWord> kept;
    kept.reserve(words.size());
    for (const PrintedWord& word : words) {
        const std::size_t from =
            kept.size() > kRepaintLookBack ? kept.size() - kRepaintLookBack : 0;
        const bool repainted =
            std::any_of(kept.begin() + static_cast<std::ptrdiff_t>(from), kept.end(),
                        [&](const PrintedWord& k) {
                            return k.text == word.text &&
                                   std::fabs(k.xMin - word.xMin) < kRepaintDistance &&
                                   std::fabs(k.yMin - word.yMin) < kRepaintDistance;
                        });
        if (!repainted)
            kept.push_back(word);
    }
    return kept;
}
