// A stand-in for lumeno-chm-reader that dies mid-way, as a reading process killed from outside:
// it starts the real program on the same book, passes every request and answer between it and
// the reader unchanged, and when a request names MARKER (a path, or an entry of a walk, holding
// those bytes) kills the real program and ends without answering.
//
//   dyingChmReader MARKER PROGRAM [ARGUMENTS...]
//
// The reader starts it through a script that LUMENO_CHM_READER names (the reading process gets
// no environment of the caller's), so that it is killed at a point of the book, not of time.
#include "CHMReaderProtocol.h"

#include <csignal>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Where the reading program finds the reader's end of its socket.
constexpr int kSocketFd = 4;

[[noreturn]] void endWith(pid_t program, int status) {
    ::kill(program, SIGKILL);
    ::waitpid(program, nullptr, 0);
    ::_exit(status);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    const QByteArray marker(argv[1]);
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
        return 1;
    const pid_t program = ::fork();
    if (program < 0)
        return 1;
    if (program == 0) {
        // The book stays on descriptor 3; the program's socket goes where the reader's was.
        ::dup2(pair[1], kSocketFd);
        ::close(pair[0]);
        ::close(pair[1]);
        ::execv(argv[2], argv + 2);
        ::_exit(127);
    }
    ::close(pair[1]);
    chmreader::Channel real(pair[0]);
    chmreader::Channel reader(kSocketFd);
    const auto opened = real.receive(chmreader::kMaxMessageLength);
    if (!opened || !reader.send(opened->type, opened->payload))
        endWith(program, 1);
    // The reader may send a request ahead before it reads the last answer: the socket holds it
    // meanwhile, and answers keep their order.
    while (const auto request = reader.receive(chmreader::kMaxRequestLength)) {
        if (request->payload.contains(marker))
            endWith(program, 0);
        if (!real.send(request->type, request->payload))
            endWith(program, 1);
        const auto answer = real.receive(chmreader::kMaxMessageLength);
        if (!answer || !reader.send(answer->type, answer->payload))
            endWith(program, 1);
    }
    endWith(program, 0);
}
