// SPDX-License-Identifier: GPL-3.0-or-later
// The process: its program's name and path, how it ends, the signals it takes, its heap, and the
// worker processes that draw days side by side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/outcome.h"

namespace talvor {

// Opens /dev/null on each of the standard descriptors 0..2 that is closed (a service or a shell
// may start a program so), so that no file the program opens later gets one of their numbers and
// takes in its messages or output. Call first in main, before anything opens a file.
void KeepStandardDescriptorsTaken();

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

// Where the process's messages go: standard error, a whole line and its newline at a time
// (flushed), or the handler put in its place (an empty one puts standard error back), which
// then gets each line without its newline. Called from whichever thread has something to say.
using MessageHandler = std::function<void(const std::string& line)>;
void WriteMessageLine(const std::string& line);
void SetMessageHandler(MessageHandler handler);

// A full disk quota or a closed pipe must be reported like any failed write, not end the
// process silently: SIGXFSZ and SIGPIPE are ignored, so that the write fails with EFBIG or EPIPE.
void IgnoreWriteSignals();

// Ends the process at once with the code, after flushing standard output and error; no static
// destructors run, so a thread still busy in a library cannot trip over them.
[[noreturn]] void EndProcess(int exitCode);

// Catches SIGTERM, SIGINT and SIGHUP from now on: they end the next or current ReadInput, which
// then fails as Stopped, instead of ending the process.
void CatchStopSignals();
// Reads what is there (at least one byte, waiting for it): *got is the count, 0 at the end; once
// a stop signal has come, the kind Stopped (*got 0); -1 when the read failed.
Outcome ReadInput(int fd, void* buffer, size_t count, long* got);
bool StopSignalled();

// Sets the allocator up for a process that draws days: one heap for every thread, whose freed
// blocks are kept for the next day rather than handed back. Call before any thread starts.
void PrepareHeapForDrawing();

// Fills bytes with the system's random numbers, fit for a name nobody can guess in advance.
Outcome RandomBytes(unsigned char* bytes, size_t count);

// Processors this process may run on (at least 1).
int UsableProcessorCount();
// Memory that new processes can have without the system swapping: the kernel's estimate of
// available memory, or what is left under this process's cgroup limit where that is less.
// -1 when it cannot be read.
int64_t AvailableMemoryBytes();

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

}  // namespace talvor
