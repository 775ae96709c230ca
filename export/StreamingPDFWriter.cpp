#include "StreamingPDFWriter.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/Pl_String.hh>

namespace {

// Bytes handed to the file at once: few system calls, and little of the output in memory.
constexpr std::size_t kBufferBytes = 64 * 1024;

// The smallest count of bytes that holds the value, big-endian in the cross-reference stream.
int bytesFor(std::uint64_t value) {
    int bytes = 1;
    while (bytes < 8 && (value >> (8 * bytes)) != 0)
        ++bytes;
    return bytes;
}

void appendBigEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::string_view bytesOf(const std::string& s) {
    return std::string_view(s.data(), s.size());
}

} // namespace

StreamingPDFWriter::StreamingPDFWriter(const QString& path) : m_file(path) {
    // Object 0 heads the list of free objects, with the generation a free entry 0 always has.
    m_xref.push_back({0, 65535, 0});
}

// An uncommitted QSaveFile discards its temporary file.
StreamingPDFWriter::~StreamingPDFWriter() = default;

std::string StreamingPDFWriter::reference(int number) {
    return ' ' + std::to_string(number) + " 0 R";
}

std::string StreamingPDFWriter::deflated(const unsigned char* data, std::size_t length) {
    std::string out;
    Pl_String collected("deflated", nullptr, out);
    Pl_Flate flate("deflate", &collected, Pl_Flate::a_deflate);
    flate.write(data, length);
    flate.finish();
    return out;
}

int StreamingPDFWriter::reserve() {
    m_xref.push_back({});
    return static_cast<int>(m_xref.size() - 1);
}

void StreamingPDFWriter::requireVersion(int major, int minor) {
    if (major > m_major || (major == m_major && minor > m_minor)) {
        m_major = major;
        m_minor = minor;
    }
}

void StreamingPDFWriter::fail(int cause) {
    if (m_failed)
        return;
    m_failed = true;
    m_failure = cause ? QString::fromLocal8Bit(std::strerror(cause)) : m_file.errorString();
    m_buffer.clear();
    m_buffer.shrink_to_fit();
    m_batch.clear();
    m_batchNumbers.clear();
    m_batchOffsets.clear();
}

bool StreamingPDFWriter::open() {
    if (m_opened)
        return !m_failed;
    m_opened = true;
    errno = 0;
    // Unbuffered: each write is one system call, whose errno tells why it failed.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        fail(0);
        return false;
    }
    // The version is settled when the file is committed; the binary comment tells transfer
    // programs that the file is not text.
    put("%PDF-1.5\n%\xBF\xF7\xA2\xFE\n");
    return !m_failed;
}

void StreamingPDFWriter::put(std::string_view bytes) {
    if (m_failed)
        return;
    m_buffer.append(bytes);
    m_offset += bytes.size();
    if (m_buffer.size() >= kBufferBytes)
        flushBuffer();
}

void StreamingPDFWriter::flushBuffer() {
    const char* data = m_buffer.data();
    std::size_t left = m_buffer.size();
    while (left > 0 && !m_failed) {
        errno = 0;
        const qint64 written = m_file.write(data, static_cast<qint64>(left));
        if (written <= 0) {
            fail(errno);
            return;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    m_buffer.clear();
}

void StreamingPDFWriter::writeObject(int number, std::string_view value) {
    if (m_committed || number <= 0 || static_cast<std::size_t>(number) >= m_xref.size() || !open())
        return;
    m_batchNumbers.push_back(number);
    m_batchOffsets.push_back(m_batch.size());
    m_batch.append(value);
    m_batch.push_back('\n');
    if (m_batchNumbers.size() >= kObjectsPerStream)
        flushObjectStream();
}

void StreamingPDFWriter::writeStream(int number, std::string_view entries,
                                     const unsigned char* data, std::size_t length) {
    if (m_committed || number <= 0 || static_cast<std::size_t>(number) >= m_xref.size() || !open())
        return;
    emitStream(number, entries,
               std::string_view(reinterpret_cast<const char*>(data), data ? length : 0));
    ++m_streams;
}

void StreamingPDFWriter::emitStream(int number, std::string_view entries, std::string_view data) {
    m_xref[static_cast<std::size_t>(number)] = {m_offset, 0, 1};
    put(std::to_string(number) + " 0 obj\n<<");
    put(entries);
    put(" /Length " + std::to_string(data.size()) + " >>\nstream\n");
    put(data);
    put("\nendstream\nendobj\n");
}

void StreamingPDFWriter::flushObjectStream() {
    if (m_batchNumbers.empty() || m_failed)
        return;
    // "number offset" pairs, then the objects; offsets count from the first object.
    std::string header;
    for (std::size_t i = 0; i < m_batchNumbers.size(); ++i) {
        header += std::to_string(m_batchNumbers[i]) + ' ' + std::to_string(m_batchOffsets[i]);
        header += i + 1 < m_batchNumbers.size() ? ' ' : '\n';
    }
    const int stream = reserve();
    for (std::size_t i = 0; i < m_batchNumbers.size(); ++i)
        m_xref[static_cast<std::size_t>(m_batchNumbers[i])] = {static_cast<std::uint64_t>(stream),
                                                               static_cast<std::uint32_t>(i), 2};
    std::string content = std::move(header);
    const std::size_t first = content.size();
    content += m_batch;
    const std::string data =
        deflated(reinterpret_cast<const unsigned char*>(content.data()), content.size());
    emitStream(stream,
               " /Type /ObjStm /N " + std::to_string(m_batchNumbers.size()) + " /First " +
                   std::to_string(first) + " /Filter /FlateDecode",
               bytesOf(data));
    m_batch.clear();
    m_batchNumbers.clear();
    m_batchOffsets.clear();
}

std::string StreamingPDFWriter::crossReferenceData(int* offsetBytes, int* thirdBytes) const {
    std::uint64_t largest = 0;
    std::uint32_t largestThird = 0;
    for (const XrefEntry& entry : m_xref) {
        largest = std::max(largest, entry.field2);
        largestThird = std::max(largestThird, entry.field3);
    }
    *offsetBytes = bytesFor(largest);
    *thirdBytes = bytesFor(largestThird);
    std::string data;
    data.reserve(m_xref.size() * static_cast<std::size_t>(1 + *offsetBytes + *thirdBytes));
    for (const XrefEntry& entry : m_xref) {
        // A number never written is free, and so is the end of the list of free objects.
        data.push_back(static_cast<char>(entry.type));
        appendBigEndian(data, entry.field2, *offsetBytes);
        appendBigEndian(data, entry.field3, *thirdBytes);
    }
    return data;
}

bool StreamingPDFWriter::writeVersion() {
    if (m_major == 1 && m_minor == 5)
        return true;
    flushBuffer();
    if (m_failed)
        return false;
    // "%PDF-" is followed by the three characters of the version.
    const std::string version = std::to_string(m_major) + '.' + std::to_string(m_minor);
    errno = 0;
    if (version.size() != 3 || !m_file.seek(5) ||
        m_file.write(version.data(), static_cast<qint64>(version.size())) != 3 ||
        !m_file.seek(static_cast<qint64>(m_offset))) {
        fail(errno);
        return false;
    }
    return true;
}

bool StreamingPDFWriter::commit(int root, QString* error) {
    const auto refuse = [&] {
        if (error)
            *error = m_failure;
        m_file.cancelWriting();
        return false;
    };
    if (m_committed) {
        if (error)
            *error = QStringLiteral("the file was already written");
        return false;
    }
    m_committed = true;
    if (!open())
        return refuse();
    flushObjectStream();
    if (!writeVersion())
        return refuse();

    const int self = reserve();
    m_xref[static_cast<std::size_t>(self)] = {m_offset, 0, 1};
    // Two identifiers, alike in a file written once: this file at this moment.
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(m_file.fileName().toUtf8());
    hash.addData(QByteArray::number(QDateTime::currentMSecsSinceEpoch()));
    hash.addData(QByteArray::number(static_cast<qulonglong>(m_offset)));
    const std::string id = '<' + hash.result().toHex().toStdString() + '>';
    int offsetBytes = 0, thirdBytes = 0;
    const std::string table = crossReferenceData(&offsetBytes, &thirdBytes);
    const std::string data =
        deflated(reinterpret_cast<const unsigned char*>(table.data()), table.size());
    const std::uint64_t start = m_offset;
    emitStream(self,
               " /Type /XRef /Size " + std::to_string(m_xref.size()) + " /W [ 1 " +
                   std::to_string(offsetBytes) + ' ' + std::to_string(thirdBytes) + " ] /Root" +
                   reference(root) + " /ID [ " + id + ' ' + id + " ] /Filter /FlateDecode",
               bytesOf(data));
    put("startxref\n" + std::to_string(start) + "\n%%EOF\n");
    flushBuffer();
    if (m_failed)
        return refuse();
    errno = 0;
    if (!m_file.commit()) {
        const int cause = errno;
        m_failure = cause ? QString::fromLocal8Bit(std::strerror(cause)) : m_file.errorString();
        if (error)
            *error = m_failure;
        m_failed = true;
        return false;
    }
    return true;
}
