#include "LargePictureBook.h"

#include "LzxStreamWriter.h"
#include "TestChmWriter.h"

#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <zlib.h>

namespace testsupport {

namespace {

constexpr int kWindowBits = 16;
// What one verbatim block covers: a reset interval.
constexpr qint64 kInterval = LzxStreamWriter::kFrame * LzxStreamWriter::kFramesPerReset;

QByteArray bigEndian(quint32 value) {
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray chunk(const QByteArray& type, const QByteArray& data) {
    const QByteArray typed = type + data;
    const auto crc = static_cast<quint32>(crc32(
        0, reinterpret_cast<const Bytef*>(typed.constData()), static_cast<uInt>(typed.size())));
    return bigEndian(static_cast<quint32>(data.size())) + typed + bigEndian(crc);
}

// The picture as three parts: what comes before the private chunk's zeros, how many zeros,
// and what comes after them.
struct PictureParts {
    QByteArray head;
    qint64 zeros = 0;
    QByteArray tail;
};

PictureParts pictureParts(qint64 pictureBytes) {
    PictureParts parts;
    QByteArray header = bigEndian(1) + bigEndian(1);
    header.append("\x08\x02\x00\x00\x00", 5); // 8-bit RGB, no interlace
    // One red pixel: filter byte 0, then R, G, B.
    const QByteArray pixels("\x00\xff\x00\x00", 4);
    uLongf packedLength = compressBound(pixels.size());
    QByteArray packed(static_cast<qsizetype>(packedLength), '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &packedLength,
             reinterpret_cast<const Bytef*>(pixels.constData()), static_cast<uLong>(pixels.size()));
    packed.resize(static_cast<qsizetype>(packedLength));
    const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    const QByteArray end = chunk("IDAT", packed) + chunk("IEND", {});
    const qint64 fixed = signature.size() + chunk("IHDR", header).size() + 12 + end.size();
    parts.zeros = std::max<qint64>(0, pictureBytes - fixed);
    // The private chunk: its length and type, the zeros, then its CRC.
    parts.head =
        signature + chunk("IHDR", header) + bigEndian(static_cast<quint32>(parts.zeros)) + "lmNo";
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>("lmNo"), 4);
    const QByteArray zeros(1 << 20, '\0');
    for (qint64 left = parts.zeros; left > 0; left -= zeros.size()) {
        const auto n = static_cast<uInt>(std::min<qint64>(left, zeros.size()));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(zeros.constData()), n);
    }
    parts.tail = bigEndian(static_cast<quint32>(crc)) + end;
    return parts;
}

// The picture's bytes from `offset` on, `length` of them.
QByteArray pictureSlice(const PictureParts& parts, qint64 offset, qint64 length) {
    QByteArray out(length, '\0');
    const qint64 tailAt = parts.head.size() + parts.zeros;
    for (qint64 i = 0; i < length; ++i) {
        const qint64 at = offset + i;
        if (at < parts.head.size())
            out[i] = parts.head[at];
        else if (at >= tailAt && at - tailAt < parts.tail.size())
            out[i] = parts.tail[at - tailAt];
    }
    return out;
}

// Literals, and runs of a byte as matches one byte back, as a compressor writes them.
std::vector<LzxToken> tokens(const QByteArray& bytes) {
    std::vector<LzxToken> out;
    for (qsizetype at = 0; at < bytes.size();) {
        qsizetype run = 1;
        while (at + run < bytes.size() && bytes[at + run] == bytes[at])
            ++run;
        const std::vector<LzxToken> piece =
            run >= 3 ? lzxRun(bytes[at], static_cast<int>(run)) : lzxLiterals(bytes.mid(at, run));
        out.insert(out.end(), piece.begin(), piece.end());
        at += run;
    }
    return out;
}

} // namespace

QByteArray largePicture(qint64 pictureBytes) {
    const PictureParts parts = pictureParts(pictureBytes);
    return pictureSlice(parts, 0, parts.head.size() + parts.zeros + parts.tail.size());
}

bool writeLargePictureBook(const QString& path, qint64 pictureBytes, int copies,
                           PictureSection section, PictureBytes bytes) {
    QByteArray page = "<!DOCTYPE html>\n<html><head><title>Pictures</title></head><body>\n"
                      "<h1>The same picture, many times</h1>\n";
    for (int i = 0; i < copies; ++i)
        page += "<img src=\"picture.png?copy=" + QByteArray::number(i) + "\" alt=\"\">\n";
    page += "</body></html>\n";
    std::vector<ChmObject> objects{{"/#SYSTEM", systemFile({{2, QByteArray("index.htm", 10)},
                                                            {3, QByteArray("Pictures", 9)}})},
                                   {"/index.htm", page}};

    QByteArray book;
    if (section == PictureSection::Uncompressed) {
        objects.push_back({"/picture.png", bytes == PictureBytes::Zeros
                                               ? QByteArray(pictureBytes, '\0')
                                               : largePicture(pictureBytes)});
        book = writeChm(objects);
    } else {
        const PictureParts parts = bytes == PictureBytes::Zeros ? PictureParts{{}, pictureBytes, {}}
                                                                : pictureParts(pictureBytes);
        const qint64 length = parts.head.size() + parts.zeros + parts.tail.size();
        // The section holds whole frames: the picture, then zeros to the end of its last frame.
        const qint64 sectionLength = (length + LzxStreamWriter::kFrame - 1) /
                                     LzxStreamWriter::kFrame * LzxStreamWriter::kFrame;
        LzxStreamWriter writer(kWindowBits);
        // A block per reset interval; no match runs past its frame.
        for (qint64 at = 0; at < sectionLength; at += kInterval) {
            std::vector<LzxToken> block;
            for (qint64 frame = at; frame < std::min(at + kInterval, sectionLength);
                 frame += LzxStreamWriter::kFrame) {
                const std::vector<LzxToken> frameTokens =
                    tokens(pictureSlice(parts, frame, LzxStreamWriter::kFrame));
                block.insert(block.end(), frameTokens.begin(), frameTokens.end());
            }
            writer.verbatimBlock(block);
        }
        objects.push_back({"/picture.png", {}, static_cast<quint64>(length), 1, 0});
        book = writeLzxChm(objects, writer.stream(), writer.frameStarts(),
                           static_cast<quint64>(sectionLength), kWindowBits);
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(book) == book.size();
}

} // namespace testsupport
