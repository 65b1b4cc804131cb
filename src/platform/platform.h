// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux layer: everything the program needs from the operating system, the display and the
// process environment. The portable code includes only this header, never a system one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/outcome.h"

// A UTC calendar time, field for field what the system clock gives.
struct UtcTime {
    int year = 0;
    int month = 0;
    int dayOfWeek = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

UtcTime GetUtcTime();

// Monotonic milliseconds, for timelines and timeouts only.
int64_t MonotonicMs();
void SleepMs(int ms);

// The executable's path as the program was started: firstArgument (the process's argv[0]) when
// it holds a '/' and names a file, taken against the working directory when relative, with a
// symbolic link at its end left unresolved (a link in a station folder makes that folder the
// program's). A bare name (found through PATH) stands in the working directory at start:
// that folder + "/" + the name, whether or not a file is there. Otherwise /proc/self/exe.
// Empty when none of these can be read.
std::string GetExecutablePath(const char* firstArgument);

// The running program's name, which starts its messages: "TALVOR" unless the program sets
// another. Set at start-up, before any thread; a signal handler may read it.
void SetProgramName(const char* name);
const char* ProgramName();
// The earlier names of the two.
inline void SetMessagePrefix(const char* prefix) {
    SetProgramName(prefix);
}
inline const char* MessagePrefix() {
    return ProgramName();
}

// A full disk quota or a closed pipe must be reported like any failed write, not end the
// process silently: SIGXFSZ and SIGPIPE are ignored, so that the write fails with EFBIG or EPIPE.
void IgnoreWriteSignals();

// Ends the process at once with the code, after flushing standard output and error; no static
// destructors run, so a thread still busy in a library cannot trip over them.
[[noreturn]] void EndProcess(int exitCode);

// How long a display server may take to answer before the run goes on without it: a server that
// accepts connections but never answers (or a frozen desktop) must not hold an unattended run.
constexpr int kDisplayQueryTimeoutMs = 2000;

enum class DisplayQuery {
    Measured,  // a desktop display answered
    None,      // no display named, or it could not be opened
    TimedOut,  // a display is named but did not answer in time
};

// Size of the primary display when a display server is reachable, else 1920 x 1500. The query
// runs in a child process, so that it ends within kDisplayQueryTimeoutMs and the display
// library's own messages stay off standard error.
DisplayQuery GetScreenSize(int* width, int* height);

// True when a desktop display (X11 or Wayland) answers within kDisplayQueryTimeoutMs.
bool DesktopDisplayReachable();

// Modal dialog with a caption, the text and an OK button; returns when it is closed.
// Does nothing when no display is reachable.
void ShowMessageDialog(const char* caption, const char* text);

// ---- Files -------------------------------------------------------------------------------------

// True when a file or folder of that name exists (relative names against the working directory).
bool PathExists(const char* path);

// Opens a regular file for reading; -1 when it is missing, unreadable or not a regular file.
int OpenForReading(const char* path);
// Size of an open file in bytes, -1 when unknown.
int64_t FileSizeOf(int fd);
// Reads up to count bytes from the file's current position, retrying short reads until count
// bytes or the end of the file; returns the number of bytes read (0 on error at the start).
size_t ReadUpTo(int fd, void* buffer, size_t count);
void CloseFile(int fd);

// Creates a new file beside finalPath (same folder) under an unpredictable hidden name, made
// exclusively and never through a link; its descriptor, and its name in *temporaryPath, or -1
// with errno set.
int CreateTemporaryBeside(const char* finalPath, std::string* temporaryPath);
// Writes all bytes; false on any failure (errno says why).
bool WriteAll(int fd, const void* data, size_t count);
// Flushes a file opened for writing to the disk and closes it; false on failure (errno set).
bool CloseWritten(int fd);

// Renames a finished temporary file into place (a link under the final name is replaced, not
// followed) and flushes the folder; false with errno set on failure, the temporary then removed.
bool ReplaceFile(const char* temporaryPath, const char* finalPath);
void RemoveFile(const char* path);

// Writes a whole file under a temporary name beside it, flushes it and renames it into place,
// so that a reader never finds it half-written and a failed write leaves any earlier file
// whole; on failure, the error number of the failing step.
Outcome WriteFileWhole(const char* path, const void* data, size_t count);

// Opens a folder itself (not a link to one), to hold its lock with LockExclusively; -1 with errno
// set when it is not a folder or cannot be opened.
int OpenFolder(const char* path);

// Whether the effective user may create files in the folder; on failure, the error number.
Outcome FolderTakesNewFiles(const char* folder);

// What a name stands for, links followed.
struct FileIdentity {
    bool exists = false;    // something (maybe a link) is there under the name
    bool resolved = false;  // it leads to an object (not a link to nothing or a loop of links)
    bool regular = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    int error = 0;  // why it is missing or unresolved
};
FileIdentity IdentifyFile(const char* path);

// ---- The named capture event -------------------------------------------------------------------

// A named auto-reset event that the user's other processes can open under the same name.
struct NamedEvent;
// Opens (creating if needed, not signalled) the event, readable and writable by the user only.
// An object under the name that belongs to another user or is not a whole event is left alone
// (never opened, mapped or removed): the process then gets an event of its own under that name,
// which every later open in this process shares. One of the user's own whose mode lets others in
// is removed and made afresh (any of them may hold it open for writing). Should a mapped object
// be cut short all the same, the process goes on with a page of its own in its place instead of
// ending with SIGBUS (NamedEventPrivateReason then says so). nullptr only for an unusable name.
NamedEvent* OpenNamedEvent(const char* name);
// Why the event is private to this process (a text for a message), or nullptr when it is shared
// (so far: a shared one becomes private when it is cut short).
const char* NamedEventPrivateReason(const NamedEvent* event);
// Signals the event; a signal that nobody has taken yet is not counted twice.
void SetNamedEvent(NamedEvent* event);
// Waits until the event is signalled; returns false on error or when timeoutMs (>= 0) passes.
// A negative timeout waits without limit.
bool WaitNamedEvent(NamedEvent* event, int timeoutMs);
void CloseNamedEvent(NamedEvent* event);
// Removes the name, so that the next open creates a fresh event (for tests and tools).
void RemoveNamedEvent(const char* name);

// ---- Main-thread event loop --------------------------------------------------------------------

using TimerProc = void (*)();
// Arms a one-shot timer, delivered on the thread that runs the event loop.
void ArmOneShotTimer(int delayMs, TimerProc proc);
void KillOneShotTimer();
// Runs until PostQuit is called; returns the code given to it.
int RunEventLoop();
void PostQuit(int exitCode);

// ---- The logger's day log, input and clock -----------------------------------------------------

// Opens an existing regular file for appending (never through a symbolic link), or creates it
// when there is none (O_EXCL, so a file or link planted meanwhile is not taken over); -1 on
// failure with errno set. *created says which.
int OpenForAppending(const char* path, bool* created);
// Cuts an open file back to size bytes; false on failure.
bool TruncateOpenFile(int fd, int64_t size);
// Takes the file's exclusive advisory lock without waiting; false when another open of it
// holds the lock (errno EWOULDBLOCK) or on failure. It goes with the descriptor's close.
bool LockExclusively(int fd);
// Flushes a file's data to the disk; false on failure (errno set).
bool SyncFileData(int fd);
// Flushes a folder's entries to the disk, so that a file made in it survives a power cut.
bool SyncFolder(const char* path);

// Catches SIGTERM, SIGINT and SIGHUP from now on: they end the next or current ReadInput with
// kInputStopped instead of ending the process.
void CatchStopSignals();
constexpr long kInputStopped = -2;
// Reads what is there (at least one byte, waiting for it): the count, 0 at the end, -1 on an
// error (errno set), kInputStopped once a stop signal has come.
long ReadInput(int fd, void* buffer, size_t count);
bool StopSignalled();

// A program without a user at a screen: messages go to standard error only, never to a dialog
// that would wait for a click.
void StopUsingDesktopDisplay();

// Makes local times mean the zone's (an AREA/CITY name of the system's zone database); an empty
// name keeps the environment's TZ or the system's zone. False when the zone is not known.
bool UseTimeZone(const std::string& zone);
// The UTC seconds since 1970 that a local calendar time can stand for: none in a skipped hour,
// two in the hour that repeats (earlier first), one otherwise. Returns the count.
int LocalTimeToUtc(int year, int month, int day, int hour, int minute, int second, int64_t utc[2]);

// Worker processes: a range of days is drawn by several processes, each with its own driver,
// reporting each finished job to the parent through a pipe as two numbers.
struct WorkerProcess {
    int pid = -1;
    int resultsFd = -1;  // the parent's end of the worker's pipe; -1 once it has closed
};
struct WorkerResult {
    int32_t job = 0;
    int32_t value = 0;
};
// Sets the allocator up for a process that draws days: one heap, grown once by what a day
// needs and kept, in large pages where the system has them. Call before any thread starts.
// False when the large pages could not be asked for (everything still works, more slowly).
bool PrepareHeapForDrawing();

// Processors this process may run on (at least 1).
int UsableProcessorCount();
// Memory that new processes can have without the system swapping: the kernel's estimate of
// available memory, or what is left under this process's cgroup limit where that is less.
// -1 when it cannot be read.
int64_t AvailableMemoryBytes();
// Starts body in a child process that ends with body's return value. body reports through
// SendWorkerResult on the descriptor it is given. Standard output is flushed first, so that
// nothing buffered is written twice. False when no process could be started.
bool StartWorkerProcess(const std::function<int(int resultsFd)>& body, WorkerProcess* worker);
// From a worker; false when the parent is gone (the worker should stop).
bool SendWorkerResult(int resultsFd, const WorkerResult& result);
// Waits until at least one worker has reported or ended, and appends what arrived. A worker
// whose pipe has closed gets resultsFd -1; false when no worker is left open.
bool ReceiveWorkerResults(std::vector<WorkerProcess>* workers, std::vector<WorkerResult>* results);
// Waits for the worker to end; true when it ended by itself with exit code 0.
bool EndWorkerProcess(WorkerProcess* worker);
