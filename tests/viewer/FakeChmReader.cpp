// A stand-in for lumeno-chm-reader that misbehaves on purpose, for the tests of the reader's
// side: it answers the opening well (three objects, "/a.htm", "/b.htm", "/index.htm" in that
// storage order) or badly, then breaks the protocol on the first request (on the first batch
// for the "batch-" modes) the way its "book" (the file on descriptor 3, one word) names, and
// answers every later request well, so that a test can tell the reader stopped trusting it.
// "drip" answers every read of "/index.htm" a byte a second; "noisy" writes terminal escape
// sequences to its standard error before it answers well; "report-and-die" writes a long report
// there, as a sanitizer does, and ends.
#include "CHMReaderProtocol.h"

#include <QtEndian>
#include <cstdlib>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

using chmreader::Type;

namespace {

void sendRaw(quint32 length, Type type, const QByteArray& tail = {}) {
    char head[5];
    qToLittleEndian(length, head);
    head[4] = static_cast<char>(type);
    QByteArray bytes(head, 5);
    bytes.append(tail);
    [[maybe_unused]] const ssize_t sent = ::send(4, bytes.constData(), bytes.size(), MSG_NOSIGNAL);
}

void writeError(const QByteArray& text) {
    [[maybe_unused]] const ssize_t written = ::write(2, text.constData(), text.size());
}

// An object of a thousand bytes, sent a byte a second: each byte comes well within any wait
// for the next one, the whole never within a reasonable time.
void drip() {
    QByteArray message(5, '\0');
    qToLittleEndian(quint32{1001}, message.data());
    message[4] = static_cast<char>(Type::Object);
    message.append(QByteArray(1000, 'x'));
    for (const char byte : message) {
        if (::send(4, &byte, 1, MSG_NOSIGNAL) != 1)
            return;
        const timespec second{1, 0};
        ::nanosleep(&second, nullptr);
    }
}

void answerWell(chmreader::Channel& channel, const chmreader::Message& request) {
    if (request.type == Type::Exist) {
        channel.send(Type::Yes);
    } else if (request.type == Type::ContentOfEntries) {
        const auto entries = chmreader::decodeEntries(request.payload);
        std::vector<chmreader::BatchItem> items(entries ? entries->size() : 0);
        for (chmreader::BatchItem& item : items)
            item = {chmreader::BatchItem::Present, "hello"};
        channel.send(Type::Objects, chmreader::encodeBatch(items));
    } else {
        channel.send(Type::Object, "hello");
    }
}

void answerBatchBadly(chmreader::Channel& channel, const QByteArray& mode, size_t count) {
    std::vector<chmreader::BatchItem> items(count, {chmreader::BatchItem::Present, "hello"});
    if (mode == "batch-one-item-short")
        items.pop_back();
    else if (mode == "batch-first-not-sent")
        items.front() = {chmreader::BatchItem::NotSent, {}};
    QByteArray payload = chmreader::encodeBatch(items);
    if (mode == "batch-trailing-byte")
        payload.append('x');
    channel.send(Type::Objects, payload);
}

} // namespace

int main() {
    char word[64] = {};
    const ssize_t got = ::read(3, word, sizeof word - 1);
    const QByteArray mode = QByteArray(word, got > 0 ? static_cast<int>(got) : 0).trimmed();
    chmreader::Channel channel(4);
    if (mode == "refuse") {
        channel.send(Type::Refused, chmreader::encodeFailure({CHMOpenFailure::Damaged,
                                                              QStringLiteral("a test refusal")}));
        return 0;
    }
    if (mode == "bad-list") {
        // A count of a thousand entries and none of them.
        channel.send(Type::Opened, QByteArray("\xe8\x03\x00\x00", 4));
        return 0;
    }
    if (mode == "odd-opening") {
        channel.send(static_cast<Type>(99));
        return 0;
    }
    channel.send(Type::Opened,
                 chmreader::encodeObjects(
                     {{"/a.htm", 0, 0, 5}, {"/index.htm", 0, 10, 5}, {"/b.htm", 0, 5, 5}}));
    bool first = true;
    while (const auto request = channel.receive(chmreader::kMaxRequestLength)) {
        if (mode == "drip") {
            if (request->type != Type::Exist && request->payload.contains("/index.htm"))
                drip();
            else
                answerWell(channel, *request);
            continue;
        }
        if (mode == "noisy" && first) {
            writeError("\x1b]0;owned\x07\x1b[2J\x1b[31mnoisy line\n");
            first = false;
        }
        if (mode == "report-and-die") {
            for (int i = 1; i <= 300; ++i)
                writeError("==4242==ERROR: AddressSanitizer: report line " + QByteArray::number(i) +
                           " of 300\n");
            std::_Exit(1);
        }
        if (mode.startsWith("batch-") && first && request->type == Type::ContentOfEntries) {
            first = false;
            const auto entries = chmreader::decodeEntries(request->payload);
            answerBatchBadly(channel, mode, entries ? entries->size() : 1);
            continue;
        }
        if (!first || mode == "good" || mode == "noisy" || mode.startsWith("batch-")) {
            answerWell(channel, *request);
            continue;
        }
        first = false;
        if (mode == "die")
            std::_Exit(3);
        if (mode == "huge-length")
            sendRaw(0xffffffffu, Type::Object);
        else if (mode == "just-over-the-cap")
            sendRaw(chmreader::kMaxMessageLength + 1, Type::Object);
        else if (mode == "wrong-type")
            channel.send(request->type == Type::Exist ? Type::Object : Type::Yes);
        else if (mode == "empty-object")
            channel.send(request->type == Type::Exist ? Type::Missing : Type::Object);
        else if (mode == "payload-on-missing")
            channel.send(request->type == Type::Exist ? Type::No : Type::Missing, "x");
        else if (mode == "cut-short") {
            sendRaw(1000, Type::Object, "only ten!!");
            std::_Exit(0);
        }
    }
    return 0;
}
