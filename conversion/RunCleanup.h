// What a run leaves behind when it is ended from outside: the process groups of the helper
// programs it started (the layout helper, LibreOffice) and the temporary files and folders it
// made. Each is noted here while it exists; endRunForTermination() ends the groups and removes
// the files, and a program calls it from its termination-signal thread (TerminationSignals)
// before it dies of the signal. Once a run is ending, no further helper may be started.
//
// Safe to call from any thread; one mutex guards the lists, and nothing else is locked under it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <sys/types.h>

namespace conversion {

// Notes a child's process group (its pid) before the child may run on; false when the run is
// ending, in which case the caller kills the group itself. Released once the group is gone (its
// leader reaped, no member left), so that the group's id is not reused while it is noted.
bool noteChildGroup(pid_t group);
void releaseChildGroup(pid_t group);
// True once endRunForTermination() has begun.
bool runIsEnding();
// For a program's main thread once its work is done: while the run is being ended, the thread
// that ends it ends the process as the signal would have, and this waits for that rather than
// let the program exit as if the work had merely failed. Returns at once otherwise.
void awaitEndOfRun();

// A temporary file or folder removed if the run is ended; the answer forgets it again (after
// the owner removed it or handed it on).
std::uint64_t removeIfRunEnds(const std::filesystem::path& path);
void forgetIfRunEnds(std::uint64_t ticket);

// Asks each noted group to end (SIGTERM, so that a helper can end its own children and remove
// its files), waits for them up to `grace`, kills what is left (SIGKILL), then removes the noted
// paths and this process's temporary files in every folder it wrote into. Does not return to
// running jobs: the caller ends the process next.
void endRunForTermination(std::chrono::milliseconds grace = std::chrono::seconds(5));

} // namespace conversion
