// The single-instance socket against a second user on the same machine: where the socket may
// live, who may talk to it, and how long a connection may stay. The other user is played by
// nobody (uid 65534) through setpriv, which needs root (CI runs as root).
#include "SingleInstance.h"
#include "TestSupport.h"
#include "WebTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t kOtherUser = 65534;

// The other user's side of a connection, in Python as that user: "listen PATH OUT" accepts one
// connection on a socket anyone may reach and writes what it was sent to OUT (and "OUT.ready"
// once it listens); "send PATH OUT TEXT" sends TEXT as a hand-over and writes the answer.
const char* const kOtherUsersScript = R"(
import os, socket, sys
mode, path, out = sys.argv[1], sys.argv[2], sys.argv[3]
s = socket.socket(socket.AF_UNIX)
if mode == "listen":
    s.bind(path)
    os.chmod(path, 0o777)
    s.listen(5)
    open(out + ".ready", "w").close()
    c, _ = s.accept()
    c.settimeout(5)
    data = b""
    try:
        while not data.endswith(b"\n\n"):
            got = c.recv(4096)
            if not got:
                break
            data += got
        c.sendall(b"ok\n")
    except OSError:
        pass
    open(out, "wb").write(data)
else:
    s.connect(path)
    s.settimeout(10)
    answer = b""
    try:
        s.sendall(sys.argv[4].encode() + b"\n\n")
        answer = s.recv(100)
    except OSError:
        pass
    open(out, "wb").write(b"answer:" + answer)
)";

class SecondUser : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "another user can only be played as root";
        REQUIRE_TOOL(QFileInfo::exists("/usr/bin/setpriv"), "setpriv");
        REQUIRE_TOOL(QFileInfo::exists("/usr/bin/python3"), "python3");
        ASSERT_TRUE(shared.isValid());
        // A temporary folder as /tmp is: anyone may add to it, nobody may take another's entry.
        ASSERT_EQ(::chmod(QFile::encodeName(shared.path()).constData(), 01777), 0);
        script = shared.filePath("other-user.py");
        QFile file(script);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(kOtherUsersScript);
        file.close();
        ASSERT_EQ(::chmod(QFile::encodeName(script).constData(), 0644), 0);
    }
    void TearDown() override {
        if (other.state() != QProcess::NotRunning) {
            other.kill();
            other.waitForFinished();
        }
    }
    // Starts the script as the other user, with a temporary folder of that user's own.
    void startAsOtherUser(const QStringList& arguments) {
        const QString otherTmp = shared.filePath("other-tmp");
        QDir().mkpath(otherTmp);
        ASSERT_EQ(::chown(QFile::encodeName(otherTmp).constData(), kOtherUser, kOtherUser), 0);
        QProcessEnvironment environment;
        environment.insert("PATH", "/usr/bin:/bin");
        environment.insert("TMPDIR", otherTmp);
        other.setProcessEnvironment(environment);
        other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        other.start("/usr/bin/setpriv", QStringList{"--reuid=65534", "--regid=65534",
                                                    "--clear-groups", "/usr/bin/python3", script} +
                                            arguments);
        ASSERT_TRUE(other.waitForStarted());
    }
    // Waits until the other user's listener is up.
    void waitUntilListening(const QString& out) {
        ASSERT_TRUE(webtest::waitUntil([&] { return QFileInfo::exists(out + ".ready"); }, 10000));
    }
    static QByteArray contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
    }

    QTemporaryDir shared;
    QString script;
    QProcess other;
};

// Whether lstat finds a directory, not a link, of this user's that nobody else may enter.
bool isPrivateFolder(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & 0777) == 0700;
}

// Sets an environment variable for the test's length (or unsets it with a null value).
class ScopedVariable {
public:
    ScopedVariable(const char* name, const QByteArray& value)
        : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name)) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedVariable() {
        if (m_wasSet)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_wasSet;
    QByteArray m_old;
};

} // namespace

TEST_F(SecondUser, TakesNoSocketInTheSharedTemporaryFolderAndIsNeverSentTheFiles) {
    // Without a runtime folder, the reader's socket goes into a folder it makes in the
    // temporary folder, and which only its user may enter.
    const ScopedVariable runtime("XDG_RUNTIME_DIR", QByteArray());
    const ScopedVariable tmp("TMPDIR", QFile::encodeName(shared.path()));
    const QString own = SingleInstance::serverNameForUser();
    ASSERT_FALSE(own.isEmpty());
    const QString ownFolder = QFileInfo(own).path();
    EXPECT_TRUE(ownFolder.startsWith(shared.path() + '/')) << own.toStdString();
    EXPECT_TRUE(isPrivateFolder(ownFolder));
    {
        SingleInstance running(own);
        EXPECT_TRUE(running.listen());
    }
    QDir(ownFolder).removeRecursively();

    // The other user takes the names first: the folder Qt would fall back to, and the one the
    // reader would make, where that user listens.
    startAsOtherUser({"listen", shared.filePath(QStringLiteral("lumeno-plus-%1").arg(::geteuid())),
                      shared.filePath("received")});
    waitUntilListening(shared.filePath("received"));
    QDir(shared.filePath("runtime-root")).removeRecursively();
    ASSERT_TRUE(QDir().mkdir(shared.filePath("runtime-root")));
    ASSERT_EQ(::chown(QFile::encodeName(shared.filePath("runtime-root")).constData(), kOtherUser,
                      kOtherUser),
              0);

    const QString name = SingleInstance::serverNameForUser();
    SingleInstance second(name);
    EXPECT_FALSE(second.sendToRunning({"/home/user/Secret Project/plans.chm"}));
    EXPECT_FALSE(second.listen()) << name.toStdString();
    other.kill();
    other.waitForFinished();
    EXPECT_EQ(contents(shared.filePath("received")), "(none)");

    // A runtime folder is taken only when lstat finds it private: not through a link, not one
    // that others may enter.
    QTemporaryDir privateFolder;
    ASSERT_TRUE(QFile::setPermissions(privateFolder.path(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString link = shared.filePath("runtime-link");
    ASSERT_TRUE(QFile::link(privateFolder.path(), link));
    for (const QString& runtimeFolder : {link, shared.path()}) {
        const ScopedVariable given("XDG_RUNTIME_DIR", QFile::encodeName(runtimeFolder));
        EXPECT_FALSE(SingleInstance::serverNameForUser().startsWith(runtimeFolder + '/'))
            << runtimeFolder.toStdString();
    }
    const ScopedVariable given("XDG_RUNTIME_DIR", QFile::encodeName(privateFolder.path()));
    EXPECT_TRUE(SingleInstance::serverNameForUser().startsWith(privateFolder.path() + '/'));
}

TEST_F(SecondUser, BothSidesDropAPeerOfAnotherUser) {
    // The reader's socket reached by the other user (a folder anyone may enter): dropped.
    const QString key = shared.filePath("reader.sock");
    SingleInstance running(key);
    ASSERT_TRUE(running.listen());
    ASSERT_EQ(::chmod(QFile::encodeName(key).constData(), 0777), 0);
    QStringList received;
    QObject::connect(&running, &SingleInstance::filesReceived,
                     [&](const QStringList& paths) { received << paths; });
    startAsOtherUser({"send", key, shared.filePath("answer"), "/tmp/planted.chm"});
    EXPECT_TRUE(webtest::waitUntil([&] { return other.state() == QProcess::NotRunning; }, 15000));
    webtest::waitUntil([] { return false; }, 200);
    EXPECT_TRUE(received.isEmpty()) << received.join(' ').toStdString();
    EXPECT_EQ(contents(shared.filePath("answer")), "answer:");

    // The other user's socket where the reader looks for its own: nothing is sent there.
    const QString theirs = shared.filePath("theirs.sock");
    startAsOtherUser({"listen", theirs, shared.filePath("taken")});
    waitUntilListening(shared.filePath("taken"));
    EXPECT_FALSE(SingleInstance(theirs).sendToRunning({"/home/user/private.chm"}));
    EXPECT_TRUE(other.waitForFinished(10000));
    EXPECT_EQ(contents(shared.filePath("taken")), "");
}

TEST(SingleInstanceSocket, AConnectionThatSendsNothingIsClosedWithinAFewSeconds) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString key = folder.filePath("idle.sock");
    SingleInstance running(key);
    ASSERT_TRUE(running.listen());
    std::vector<std::unique_ptr<QLocalSocket>> idle;
    for (int i = 0; i < 5; ++i) {
        idle.push_back(std::make_unique<QLocalSocket>());
        idle.back()->connectToServer(key);
    }
    ASSERT_TRUE(webtest::waitUntil(
        [&] {
            for (const auto& socket : idle) {
                if (socket->state() != QLocalSocket::ConnectedState)
                    return false;
            }
            return true;
        },
        5000));
    auto closed = [&] {
        for (const auto& socket : idle) {
            if (socket->state() != QLocalSocket::UnconnectedState)
                return false;
        }
        return true;
    };
    // A few seconds, however long the sender would wait.
    EXPECT_TRUE(webtest::waitUntil(closed, 10000));
}
