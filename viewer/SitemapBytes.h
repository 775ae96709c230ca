// The bytes of one sitemap, bounded: what a sitemap may cost is set by its size, not by what
// the container claims or decompresses to. A sitemap longer than kMaxSitemapBytes is read up to
// its last entry that starts within the limit; the entries after it are counted, a piece at a
// time, and not kept, so that the user can be told how much of the list is missing.
#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>

// Up to `length` bytes of the object at `path` from byte `offset` on: fewer at its end, null
// past it or when the object cannot be read.
using SitemapRangeReader =
    std::function<QByteArray(const QString& path, quint64 offset, quint64 length)>;

struct SitemapBytes {
    QByteArray head;            // what is parsed
    quint64 entriesLeftOut = 0; // entries ("<li") in the bytes after the head
};

// The largest real sitemaps run to a few MiB (the corpus's largest is 1.6 MiB); 32 MiB leaves
// room for twenty times that, while a decompression bomb of hundreds of MiB costs no more.
constexpr quint64 kMaxSitemapBytes = 32ull << 20;

// Reads the sitemap at `path`; `maxBytes` is the limit (kMaxSitemapBytes but in tests). Once
// *stop (optional) is set, the counting of the rest ends early.
SitemapBytes readSitemapBytes(const SitemapRangeReader& read, const QString& path,
                              quint64 maxBytes = kMaxSitemapBytes,
                              const std::atomic<bool>* stop = nullptr);
