// A stand-in for lumeno-chm-reader that misbehaves on purpose, for the tests of the reader's
// side: it answers the opening well (one object, "/index.htm") or badly, then breaks the
// protocol on the first request the way its "book" (the file on descriptor 3, one word) names,
// and answers every later request well, so that a test can tell the reader stopped trusting it.
#include "CHMReaderProtocol.h"

#include <QtEndian>
#include <cstdlib>
#include <sys/socket.h>
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

void answerWell(chmreader::Channel& channel, const chmreader::Message& request) {
    if (request.type == Type::Exist)
        channel.send(Type::Yes);
    else
        channel.send(Type::Object, "hello");
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
    channel.send(Type::Opened, chmreader::encodeObjects({{"/index.htm", 0, 0, 5}}));
    bool first = true;
    while (const auto request = channel.receive(8192)) {
        if (!first || mode == "good") {
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
