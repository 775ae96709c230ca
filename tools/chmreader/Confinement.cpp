#include "Confinement.h"

#include <cerrno>
#include <cstring>
#include <seccomp.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// What serving needs, and what abort() and the allocators use on their way out.
constexpr int kAllowed[] = {
    SCMP_SYS(read),
    SCMP_SYS(readv),
    SCMP_SYS(pread64),
    SCMP_SYS(preadv),
    SCMP_SYS(lseek),
    SCMP_SYS(write),
    SCMP_SYS(writev),
    SCMP_SYS(sendmsg),
    SCMP_SYS(sendto),
    SCMP_SYS(recvmsg),
    SCMP_SYS(recvfrom),
    SCMP_SYS(poll),
    SCMP_SYS(close),
    SCMP_SYS(brk),
    SCMP_SYS(mmap),
    SCMP_SYS(munmap),
    SCMP_SYS(mremap),
    SCMP_SYS(madvise),
    SCMP_SYS(mprotect),
    SCMP_SYS(futex),
    SCMP_SYS(sched_yield),
    SCMP_SYS(clock_gettime),
    SCMP_SYS(gettimeofday),
    SCMP_SYS(getpid),
    SCMP_SYS(gettid),
    SCMP_SYS(rt_sigprocmask),
    SCMP_SYS(rt_sigaction),
    SCMP_SYS(rt_sigreturn),
    SCMP_SYS(exit),
    SCMP_SYS(exit_group),
    // AddressSanitizer takes down its signal stack on the way out; ThreadSanitizer's background
    // thread sleeps between its rounds.
    SCMP_SYS(sigaltstack),
    // A pipe opens no file and reaches nothing; the sanitizers' memory probes (UBSan's check of
    // an object's type before a virtual call) write to one to see whether memory is readable.
    SCMP_SYS(pipe),
    SCMP_SYS(pipe2),
    SCMP_SYS(nanosleep),
    SCMP_SYS(clock_nanosleep),
};

} // namespace

bool confineProcess(QString* reason) {
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        *reason = QStringLiteral("no-new-privileges: %1")
                      .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ERRNO(EPERM));
    if (!filter) {
        *reason = QStringLiteral("seccomp is not available");
        return false;
    }
    int rc = 0;
    for (int call : kAllowed) {
        if (rc == 0)
            rc = seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0);
    }
    // abort() signals its own thread; no other process may be signalled.
    if (rc == 0)
        rc = seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(tgkill), 1,
                              SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(::getpid())));
    if (rc == 0)
        rc = seccomp_load(filter);
    seccomp_release(filter);
    if (rc != 0) {
        *reason = QStringLiteral("seccomp: %1").arg(QString::fromLocal8Bit(std::strerror(-rc)));
        return false;
    }
    return true;
}
