// A book whose page shows one large picture many times, each <img> asking for it by a URL of
// its own (a query), so that the web engine asks the reader for the same object that many times
// at once. The picture is a sound 1×1 PNG made `pictureBytes` long by a private chunk of zeros,
// which decoders read through and skip. Compressed, it lies in the LZX section as a compiler
// would put it (a picture of 200 MiB takes a book of one or two megabytes); else in the
// uncompressed section, where every read of it reads its bytes from the file. For the tests and
// benchmarks of what a book's large objects cost the reader.
#pragma once

#include <QByteArray>
#include <QString>

namespace testsupport {

// The picture's bytes (for a check of what arrived).
QByteArray largePicture(qint64 pictureBytes);

enum class PictureSection { Compressed, Uncompressed };
// The sound picture, or zeros only: what compiling a file of zeros named "picture.png" gives,
// whose start the engine reads before it finds that it holds no picture.
enum class PictureBytes { SoundPng, Zeros };
// Writes the book to `path`: "/index.htm" shows "/picture.png" `copies` times.
bool writeLargePictureBook(const QString& path, qint64 pictureBytes, int copies,
                           PictureSection section = PictureSection::Compressed,
                           PictureBytes bytes = PictureBytes::SoundPng);

} // namespace testsupport
