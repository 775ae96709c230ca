#include "CHMReaderProcess.h"

#include "HelperPrograms.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char* kProgramName = "lumeno-chm-reader";
// Where the program finds its two descriptors.
constexpr int kBookFd = 3;
constexpr int kSocketFd = 4;

// The sanitizers' settings are all of the reader's environment the process gets: a sanitized
// build's reading process must report the way the reader does.
std::vector<QByteArray> minimalEnvironment() {
    std::vector<QByteArray> environment;
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"}) {
        if (qEnvironmentVariableIsSet(name))
            environment.push_back(QByteArray(name) + '=' + qgetenv(name));
    }
    return environment;
}

struct FileActions {
    posix_spawn_file_actions_t actions;
    FileActions() { posix_spawn_file_actions_init(&actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
};

struct SpawnAttributes {
    posix_spawnattr_t attributes;
    SpawnAttributes() { posix_spawnattr_init(&attributes); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
};

} // namespace

namespace {

// Where a missing program was looked for, for the message that says it is missing.
QString whereLooked() {
    const QString fromEnvironment = qEnvironmentVariable("LUMENO_CHM_READER");
    if (!fromEnvironment.isEmpty())
        return QStringLiteral("LUMENO_CHM_READER names %1, which is no program")
            .arg(fromEnvironment);
    return QStringLiteral("looked in %1").arg(helperProgramFolders().join(QStringLiteral(" and ")));
}

} // namespace

QString CHMReaderProcess::programPath() {
    const QString fromEnvironment = qEnvironmentVariable("LUMENO_CHM_READER");
    if (!fromEnvironment.isEmpty())
        return QFileInfo(fromEnvironment).isExecutable() ? fromEnvironment : QString();
    return findHelperProgram(QLatin1String(kProgramName));
}

CHMReaderProcess::CHMReaderProcess(pid_t pid, int socket)
    : m_pid(pid), m_pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))), m_channel(socket) {
    if (m_pidFd >= 0)
        ::fcntl(m_pidFd, F_SETFD, FD_CLOEXEC);
}

CHMReaderProcess::~CHMReaderProcess() {
    ::close(m_channel.fd());
    if (m_pidFd >= 0)
        ::close(m_pidFd);
    // The process keeps nothing worth a goodbye; it may be in the middle of a long decode.
    ::kill(m_pid, SIGKILL);
    while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

std::unique_ptr<CHMReaderProcess> CHMReaderProcess::start(int bookFd, CHMOpenFailure* failure,
                                                          const QStringList& extraArguments,
                                                          int standardOutput) {
    CHMOpenFailure ignored;
    CHMOpenFailure& fail = failure ? *failure : ignored;
    const QString program = programPath();
    if (program.isEmpty()) {
        fail = {CHMOpenFailure::CannotOpen, QStringLiteral("the reading program %1 is missing (%2)")
                                                .arg(QLatin1String(kProgramName), whereLooked())};
        return nullptr;
    }
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        fail = {CHMOpenFailure::CannotOpen, QString::fromLocal8Bit(std::strerror(errno))};
        return nullptr;
    }
    // Copies above the child's fixed descriptors, so that no dup2 in the child is a no-op that
    // would leave close-on-exec set.
    const int book = ::fcntl(bookFd, F_DUPFD_CLOEXEC, 10);
    const int theirs = ::fcntl(pair[1], F_DUPFD_CLOEXEC, 10);
    ::close(pair[1]);

    FileActions files;
    posix_spawn_file_actions_addopen(&files.actions, 0, "/dev/null", O_RDONLY, 0);
    if (standardOutput >= 0)
        posix_spawn_file_actions_adddup2(&files.actions, standardOutput, 1);
    else
        posix_spawn_file_actions_addopen(&files.actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&files.actions, book, kBookFd);
    posix_spawn_file_actions_adddup2(&files.actions, theirs, kSocketFd);
    // Nothing else of the reader's (another book's file or socket) reaches the process.
    posix_spawn_file_actions_addclosefrom_np(&files.actions, kSocketFd + 1);
    SpawnAttributes attributes;
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes.attributes, &none);
    posix_spawnattr_setsigdefault(&attributes.attributes, &all);
    posix_spawnattr_setflags(&attributes.attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> arguments{path};
    for (const QString& a : extraArguments)
        arguments.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<QByteArray> environment = minimalEnvironment();
    std::vector<char*> envp;
    for (QByteArray& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    const int spawned = (book < 0 || theirs < 0)
                            ? errno
                            : ::posix_spawn(&pid, path.constData(), &files.actions,
                                            &attributes.attributes, argv.data(), envp.data());
    if (book >= 0)
        ::close(book);
    if (theirs >= 0)
        ::close(theirs);
    if (spawned != 0) {
        ::close(pair[0]);
        fail = {CHMOpenFailure::CannotOpen,
                QStringLiteral("the reading program cannot be started (%1)")
                    .arg(QString::fromLocal8Bit(std::strerror(spawned)))};
        return nullptr;
    }
    std::unique_ptr<CHMReaderProcess> process(new CHMReaderProcess(pid, pair[0]));
    const std::optional<chmreader::Message> answer =
        process->m_channel.receive(chmreader::kMaxMessageLength, kAnswerTimeoutMs);
    if (answer && answer->type == chmreader::Type::Opened) {
        if (auto objects = chmreader::decodeObjects(answer->payload)) {
            process->m_objects = std::move(*objects);
            return process;
        }
    } else if (answer && answer->type == chmreader::Type::Refused) {
        if (auto refused = chmreader::decodeFailure(answer->payload)) {
            fail = std::move(*refused);
            return nullptr;
        }
    }
    fail = {CHMOpenFailure::Damaged, QStringLiteral("its reading process stopped")};
    return nullptr;
}

void CHMReaderProcess::lose() {
    if (m_lost)
        return;
    m_lost = true;
    // Said by whoever shows the book (the window, chmtool), once.
    ::kill(m_pid, SIGKILL);
}

std::optional<chmreader::Message> CHMReaderProcess::ask(chmreader::Type type,
                                                        const QByteArray& payload) {
    collectAhead();
    if (m_lost)
        return std::nullopt;
    std::optional<chmreader::Message> answer;
    if (m_channel.send(type, payload))
        answer = m_channel.receive(chmreader::kMaxMessageLength, kAnswerTimeoutMs);
    if (!answer)
        lose();
    return answer;
}

QByteArray CHMReaderProcess::askObject(chmreader::Type type, const QByteArray& payload) {
    const std::optional<chmreader::Message> answer = ask(type, payload);
    if (!answer)
        return {};
    if (answer->type == chmreader::Type::Missing && answer->payload.isEmpty())
        return {};
    if (answer->type == chmreader::Type::Object && !answer->payload.isEmpty() &&
        static_cast<quint64>(answer->payload.size()) <= chmreader::kMaxObjectLength)
        return answer->payload;
    lose();
    return {};
}

QByteArray CHMReaderProcess::content(const QString& path) {
    const QByteArray utf8 = path.toUtf8();
    if (path.isNull() || utf8.size() > chmreader::kMaxPathLength)
        return {};
    return askObject(chmreader::Type::Content, utf8);
}

QByteArray CHMReaderProcess::content(const QString& path, quint64 offset, quint64 length) {
    const QByteArray utf8 = path.toUtf8();
    if (path.isNull() || utf8.size() > chmreader::kMaxPathLength || length == 0)
        return {};
    length = std::min(length, chmreader::kMaxObjectLength);
    QByteArray bytes =
        askObject(chmreader::Type::ContentRange, chmreader::encodeRange({offset, length, utf8}));
    // More than was asked for is no answer to the question.
    if (static_cast<quint64>(bytes.size()) > length) {
        lose();
        return {};
    }
    return bytes;
}

bool CHMReaderProcess::exist(const QString& path) {
    const QByteArray utf8 = path.toUtf8();
    if (path.isNull() || utf8.size() > chmreader::kMaxPathLength)
        return false;
    const std::optional<chmreader::Message> answer = ask(chmreader::Type::Exist, utf8);
    if (!answer)
        return false;
    if (answer->payload.isEmpty() &&
        (answer->type == chmreader::Type::Yes || answer->type == chmreader::Type::No))
        return answer->type == chmreader::Type::Yes;
    lose();
    return false;
}

namespace {

// The answers of an Objects message, null when it is no well-formed answer to `batch`.
std::optional<std::vector<chmreader::BatchItem>>
batchAnswer(const std::optional<chmreader::Message>& answer, size_t count) {
    if (!answer || answer->type != chmreader::Type::Objects)
        return std::nullopt;
    return chmreader::decodeBatch(answer->payload, count);
}

} // namespace

QByteArray CHMReaderProcess::contentOfEntry(const CHMObjectEntry& entry) {
    if (m_lost || entry.name.isEmpty() || entry.name.size() > chmreader::kMaxNameLength ||
        entry.section > 1)
        return {};
    std::optional<QByteArray> ready = m_readAhead.take(entry);
    if (!ready && !m_inFlight.empty()) {
        collectAhead();
        ready = m_readAhead.take(entry);
    }
    if (ready) {
        sendAhead();
        return m_lost ? QByteArray() : std::move(*ready);
    }
    std::vector<CHMObjectEntry> batch = m_readAhead.plan(entry);
    if (batch.empty())
        return askObject(chmreader::Type::ContentOfEntry, chmreader::encodeEntry(entry));
    batch.insert(batch.begin(), entry);
    auto items = batchAnswer(
        ask(chmreader::Type::ContentOfEntries, chmreader::encodeEntries(batch)), batch.size());
    // The entry asked for is always answered.
    if (!items || items->front().state == chmreader::BatchItem::NotSent) {
        lose();
        return {};
    }
    for (size_t i = 1; i < batch.size(); ++i) {
        if ((*items)[i].state != chmreader::BatchItem::NotSent)
            m_readAhead.store(std::move(batch[i]), std::move((*items)[i].bytes));
    }
    sendAhead();
    return std::move(items->front().bytes);
}

void CHMReaderProcess::sendAhead() {
    if (m_lost || !m_inFlight.empty())
        return;
    std::vector<CHMObjectEntry> next = m_readAhead.planNext();
    if (next.empty())
        return;
    if (!m_channel.send(chmreader::Type::ContentOfEntries, chmreader::encodeEntries(next))) {
        lose();
        return;
    }
    m_inFlight = std::move(next);
}

void CHMReaderProcess::collectAhead() {
    if (m_inFlight.empty() || m_lost)
        return;
    std::vector<CHMObjectEntry> batch = std::move(m_inFlight);
    m_inFlight.clear();
    auto items = batchAnswer(m_channel.receive(chmreader::kMaxMessageLength, kAnswerTimeoutMs),
                             batch.size());
    if (!items) {
        lose();
        return;
    }
    for (size_t i = 0; i < batch.size(); ++i) {
        if ((*items)[i].state != chmreader::BatchItem::NotSent)
            m_readAhead.store(std::move(batch[i]), std::move((*items)[i].bytes));
    }
}
