/* Loaded into a program with LD_PRELOAD: notes each change of the environment (setenv, unsetenv,
 * putenv, clearenv) made while the process runs more than one thread, one line per change
 * ("PID CALL NAME with N threads") appended to the file LUMENO_ENV_WATCH_REPORT names. Such a
 * change is undefined behaviour when another thread reads the environment meanwhile, which
 * happens rarely enough that only a watch like this one finds it every time. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static char g_report[4096];

__attribute__((constructor)) static void readReportPath(void) {
    const char* path = getenv("LUMENO_ENV_WATCH_REPORT");
    if (path)
        strncpy(g_report, path, sizeof g_report - 1);
}

static int threadCount(void) {
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return -1;
    int count = 0;
    const struct dirent* entry;
    while ((entry = readdir(tasks)))
        count += entry->d_name[0] != '.';
    closedir(tasks);
    return count;
}

static void note(const char* call, const char* name) {
    if (!g_report[0])
        return;
    const int threads = threadCount();
    if (threads == 1)
        return;
    char line[512];
    const int length = snprintf(line, sizeof line, "%ld %s %.200s with %d threads\n",
                                (long)getpid(), call, name ? name : "", threads);
    const int fd = open(g_report, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (write(fd, line, (size_t)length) < 0) {
        /* nothing to do: the report is best effort */
    }
    close(fd);
}

int setenv(const char* name, const char* value, int overwrite) {
    int (*real)(const char*, const char*, int) = dlsym(RTLD_NEXT, "setenv");
    note("setenv", name);
    return real(name, value, overwrite);
}

int unsetenv(const char* name) {
    int (*real)(const char*) = dlsym(RTLD_NEXT, "unsetenv");
    note("unsetenv", name);
    return real(name);
}

int putenv(char* assignment) {
    int (*real)(char*) = dlsym(RTLD_NEXT, "putenv");
    note("putenv", assignment);
    return real(assignment);
}

int clearenv(void) {
    int (*real)(void) = dlsym(RTLD_NEXT, "clearenv");
    note("clearenv", "");
    return real();
}
