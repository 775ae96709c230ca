// The charset a page declares for itself: a byte-order mark, or a <meta> element near its start
// (`<meta charset="...">` or the `charset=` inside an http-equiv Content-Type's content).
//
// Looks only at the bytes given; no decoding, no allocation beyond the first kScanLength bytes.
// Safe on any input and from any thread.
#pragma once

#include <QByteArray>

namespace CharsetSniffer {

// A page declares its charset near its start; browsers' pre-scan looks no further.
constexpr qsizetype kScanLength = 2048;

// The declared charset's name as written ("gb2312", "Shift_JIS"), "UTF-8", "UTF-16LE" or
// "UTF-16BE" for a byte-order mark; empty when the bytes declare none. A page whose markup is
// readable as ASCII yet claims UTF-16 is answered "UTF-8", as browsers read it.
QByteArray declaredCharset(const QByteArray& bytes);

// The length of the byte-order mark the bytes start with (0, 2 or 3).
qsizetype byteOrderMarkLength(const QByteArray& bytes);

} // namespace CharsetSniffer
