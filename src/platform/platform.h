// The Linux layer: everything the program needs from the operating system, the display and the
// process environment. The portable code includes only this header, never a system one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// Full path of the running executable (/proc/self/exe); empty when it cannot be read.
std::string GetExecutablePath();

// Ends the process at once with the code, after flushing standard output and error; no static
// destructors run, so a thread still busy in a library cannot trip over them.
[[noreturn]] void EndProcess(int exitCode);

// Size of the primary display when a display server is reachable, else 1920 x 1080.
void GetScreenSize(int* width, int* height);

// True when a desktop display (X11 or Wayland) can be opened.
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

// Creates or empties a file for writing; -1 on failure.
int CreateForWriting(const char* path);
// Writes all bytes; false on any failure.
bool WriteAll(int fd, const void* data, size_t count);
// Closes a file opened for writing, reporting a failed flush; false on failure.
bool CloseWritten(int fd);

// Renames a finished temporary file into place; false on failure (the temporary is then removed).
bool ReplaceFile(const char* temporaryPath, const char* finalPath);
void RemoveFile(const char* path);

// Writes a whole file under a temporary name beside it and renames it into place, so that a
// reader never finds it half-written; 0 on success, else the error number of the failing step.
int WriteFileWhole(const char* path, const void* data, size_t count);

// ---- The named capture event -------------------------------------------------------------------

// A named auto-reset event that other processes can open under the same name.
struct NamedEvent;
// Opens (creating if needed, not signalled) the event; nullptr on failure.
NamedEvent* OpenNamedEvent(const char* name);
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
