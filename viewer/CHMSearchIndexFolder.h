// A private folder for the search index that lives in memory only.
//
// The index is kept as Xapian Glass files, which are far more compact than Xapian's heap
// database, but it must never reach a disk: a book's text is the user's business, and the index
// is rebuilt every time a book opens. So the folder is made (mode 0700, a fresh name) inside the
// user's runtime folder ($XDG_RUNTIME_DIR) when that folder is on a memory-backed file system
// (tmpfs or ramfs), else in /dev/shm when that is, and removed with everything in it when this
// object goes. When there is no such folder, `create` answers nothing and the index keeps its
// text on the heap instead.
//
// Memory that a folder takes stays taken until someone removes it, so a folder must not outlive
// its process. The process holds a lock (flock) on the folder for as long as the folder exists,
// and writes a file "owner" (its pid) once it holds it: a folder with that file whose lock can
// be taken belongs to a process that died, and `create` removes such folders first. A process
// ended by a signal removes its folders through removeAllLive() (TerminationSignals).
//
// Owned by the index; not thread-safe (made and destroyed on one thread, read from any).
#pragma once

#include <QString>
#include <memory>

class CHMSearchIndexFolder {
public:
    // A new private folder, or null when neither folder is memory-backed, or the one that is
    // refuses a new folder (the reason goes to the log).
    static std::unique_ptr<CHMSearchIndexFolder> create();
    // Where `create` makes its folders: the runtime folder or /dev/shm; empty for none.
    static QString parentFolder();

    // Removes the folder and everything in it.
    ~CHMSearchIndexFolder();
    CHMSearchIndexFolder(const CHMSearchIndexFolder&) = delete;
    CHMSearchIndexFolder& operator=(const CHMSearchIndexFolder&) = delete;

    const QString& path() const { return m_path; }

    // Bytes held by the files in the folder, that is, the memory the index occupies there.
    quint64 sizeInBytes() const;

    // Whether a folder lies on a file system that keeps its files in memory.
    static bool isMemoryBacked(const QString& folder);

    // Removes the folders of processes that are gone from `parent`; answers how many.
    static int sweepStale(const QString& parent);
    // Removes every folder of this process that still exists (when the process is ended by a
    // signal). Thread-safe; the folders' objects may still be in use and find their files gone.
    static void removeAllLive();

private:
    CHMSearchIndexFolder(QString path, int lockFd);

    QString m_path;
    int m_lockFd = -1;
};
