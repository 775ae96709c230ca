// lumeno-chm-reader: reads one book for the reader, in a process of its own.
//
// Started by CHMReaderProcess with the book open on descriptor 3 and its end of a socket pair on
// 4. It checks the container, has chmlib open it, confines itself (Confinement.h) and answers
// the reader's requests (CHMReaderProtocol.h) until the reader hangs up. A fault in chmlib
// ends this process and nothing else.
//
// "--probe-open PATH" (for the tests): once confined exactly as in service, tries to open PATH
// with open and openat, writes one line per try to standard output ("open: ok" or the error),
// and then serves as usual.
#include "CHMContainerReader.h"
#include "CHMReaderProtocol.h"
#include "Confinement.h"

#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr int kBookFd = 3;
constexpr int kSocketFd = 4;

void report(const char* what, long result) {
    const QByteArray line = QByteArray(what) + ": " +
                            (result >= 0 ? QByteArray("ok") : QByteArray(std::strerror(errno))) +
                            '\n';
    [[maybe_unused]] const ssize_t written = ::write(1, line.constData(), line.size());
}

void probeOpen(const QByteArray& path) {
    const long viaOpen = ::syscall(SYS_open, path.constData(), O_RDONLY);
    report("open", viaOpen);
    const long viaOpenat = ::syscall(SYS_openat, AT_FDCWD, path.constData(), O_RDONLY);
    report("openat", viaOpenat);
}

// The first entry always; those after it (a walk's read-ahead) while they fit the budget.
QByteArray readBatch(CHMContainerReader& reader, const std::vector<CHMObjectEntry>& entries) {
    std::vector<chmreader::BatchItem> items(entries.size());
    qsizetype readAhead = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i > 0 && readAhead >= chmreader::kMaxReadAheadBytes)
            break; // the rest stays "not sent"
        QByteArray bytes = reader.contentOfEntry(entries[i]);
        if (i > 0 && bytes.size() > chmreader::kMaxReadAheadBytes - readAhead)
            break;
        if (i > 0)
            readAhead += bytes.size();
        items[i].state =
            bytes.isEmpty() ? chmreader::BatchItem::Missing : chmreader::BatchItem::Present;
        items[i].bytes = std::move(bytes);
    }
    return chmreader::encodeBatch(items);
}

void serve(CHMContainerReader& reader, chmreader::Channel& channel) {
    using chmreader::Type;
    while (const std::optional<chmreader::Message> request =
               channel.receive(chmreader::kMaxRequestLength)) {
        QByteArray bytes;
        bool answered = true;
        switch (request->type) {
        case Type::Content:
            bytes = reader.content(QString::fromUtf8(request->payload));
            break;
        case Type::ContentRange:
            if (const std::optional<chmreader::Range> range =
                    chmreader::decodeRange(request->payload))
                bytes =
                    reader.content(QString::fromUtf8(range->path), range->offset, range->length);
            break;
        case Type::Exist:
            answered = channel.send(reader.exist(QString::fromUtf8(request->payload)) ? Type::Yes
                                                                                      : Type::No);
            if (!answered)
                return;
            continue;
        case Type::ContentOfEntry:
            if (const std::optional<CHMObjectEntry> entry =
                    chmreader::decodeEntry(request->payload))
                bytes = reader.contentOfEntry(*entry);
            break;
        case Type::ContentOfEntries: {
            const auto entries = chmreader::decodeEntries(request->payload);
            if (!entries || !channel.send(Type::Objects, readBatch(reader, *entries)))
                return;
            continue;
        }
        default:
            return; // not a request: the reader is not talking to us
        }
        answered =
            bytes.isEmpty() ? channel.send(Type::Missing) : channel.send(Type::Object, bytes);
        if (!answered)
            return;
    }
}

} // namespace

int main(int argc, char** argv) {
    QByteArray probePath;
    QString bookName;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--probe-open") == 0)
            probePath = argv[i + 1];
        else if (std::strcmp(argv[i], "--book") == 0)
            bookName = QString::fromLocal8Bit(argv[i + 1]);
    }
    chmreader::Channel channel(kSocketFd);
    auto file = std::make_unique<QFile>();
    CHMOpenFailure failure;
    std::unique_ptr<CHMContainerReader> reader;
    if (!file->open(kBookFd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        failure = {CHMOpenFailure::CannotOpen, file->errorString()};
    } else {
        reader = CHMContainerReader::open(std::move(file), &failure, [&](CHMOpenFailure* fail) {
            QString why;
            if (!confineProcess(&why)) {
                *fail = {CHMOpenFailure::CannotOpen,
                         QStringLiteral("its reading process cannot be confined (%1)").arg(why)};
                return false;
            }
            if (!probePath.isEmpty())
                probeOpen(probePath);
            return true;
        });
    }
    if (!reader) {
        channel.send(chmreader::Type::Refused, chmreader::encodeFailure(failure));
        std::_Exit(0);
    }
    const QByteArray objects = chmreader::encodeObjects(reader->objects());
    if (static_cast<quint64>(objects.size()) >= chmreader::kMaxMessageLength) {
        channel.send(chmreader::Type::Refused,
                     chmreader::encodeFailure(
                         {CHMOpenFailure::Damaged, QStringLiteral("its directory is too large")}));
        std::_Exit(0);
    }
    reader->setLogName(bookName);
    if (channel.send(chmreader::Type::Opened, objects))
        serve(*reader, channel);
    // No destructors and no exit handlers: a leak check at exit would need what the
    // confinement forbids, and the reader may have stopped us already.
    std::_Exit(0);
}
