// Whether chmlib may decompress a range of the LZX section: the decision the document makes
// before every compressed read, kept apart so that the fuzzing compares chmlib's output with
// another decoder on exactly the ranges the reader lets chmlib decode.
//
// chmlib decodes a range from the reset point before it, so every reset interval the range
// touches is replayed through LzxFrameCheck, once; the answer is kept per interval until
// `clear`. Not thread-safe: the owner serialises calls (the document holds its lock).
#pragma once

#include "CHMContainerLayout.h"

#include <QByteArray>
#include <functional>
#include <vector>

class LzxRangeSafety {
public:
    // Reads `length` bytes at `offset` from the file's start (fewer or none when it cannot).
    using ReadAt = std::function<QByteArray(quint64 offset, quint64 length)>;

    // What a call found unsafe for the first time (the caller reports it once).
    struct Refusal {
        bool now = false;
        quint64 frame = 0; // the refused frame, counted from the section's start
        const char* reason = "";
    };

    // True when every reset interval that [start, start + length) of the LZX section touches
    // decodes from its own frames' bytes, and the range lies in the frames the section's length
    // covers (only those are replayed).
    bool rangeIsSafe(const CHMContainerLayout& layout, quint64 start, quint64 length,
                     const ReadAt& readAt, Refusal* refusal = nullptr);
    void clear() { m_known.clear(); }

private:
    std::vector<qint8> m_known; // per reset interval: 0 unknown, 1 safe, -1 not
};
