// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the tests: temporary folders, files, process state and an X server.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A fresh folder under /tmp, removed with its contents when the object goes.
class TempDir {
  public:
    explicit TempDir(const char* tag = "talvor");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
void MakeDirs(const std::string& path);

// What the code under test reports while the object lives, in place of standard error: every
// message's line ("<program>: text") with its newline, in order.
class ReportedLines {
  public:
    ReportedLines();
    ~ReportedLines();
    ReportedLines(const ReportedLines&) = delete;
    ReportedLines& operator=(const ReportedLines&) = delete;
    std::string text() const;

  private:
    struct Lines;
    Lines* lines_;
};

// Runs fn in a child process; its exit code, or -1 when it did not end within timeoutMs
// (it is then killed). A hang in the code under test fails the test instead of stalling it.
int RunInChild(const std::function<int()>& fn, int timeoutMs);

// RunInChild with file permissions applying in the child: tests usually run as root, who may
// read anything, so the child then becomes the user "nobody" first (exit code 125 if it cannot).
int InChildWithoutRootRights(const std::function<int()>& check, int timeoutMs = 10000);

// Runs fn in a child with a mount namespace of its own (and a network namespace, so that no
// abstract socket of the machine answers either), fresh empty tmpfs over the given folders:
// what the test plants there never reaches the machine's own /dev/shm or display sockets.
// 125 when the namespaces cannot be had (not root).
int InPrivateFolders(const std::vector<std::string>& folders, const std::function<int()>& fn,
                     int timeoutMs);

// A socket at /tmp/.X11-unix/X<number> that takes connections and never answers, as a hung
// display server does; for use inside InPrivateFolders({"/tmp/.X11-unix"}). -1 on failure.
int SilentDisplayServer(int number);

// One zeroed day log record of 4890 bytes.
std::vector<unsigned char> BlankRecord();

// count records of a day, one a minute from 00:00, with levels from level(k, kHz).
std::vector<unsigned char> MakeRecords(int count, int32_t (*level)(int, int),
                                       const char* date = "2026-12-01");
// A level that changes with the minute and the kHz, within a byte.
int32_t Ramp(int k, int f);

// An Xvfb server on a free display number, for as long as the object lives.
class XvfbServer {
  public:
    XvfbServer(int width, int height);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;
    bool running() const { return pid_ > 0; }
    const std::string& display() const { return display_; }  // ":N"

  private:
    int pid_ = -1;
    std::string display_;
};

// Runs a command through /bin/sh with extra environment assignments ("NAME=value ...");
// returns the exit status (or -1), with standard output and error captured.
struct CommandResult {
    int exitCode = -1;
    std::string output;  // standard output and error together
    double seconds = 0;
};
CommandResult RunCommand(const std::string& command, const std::string& workingDir = "");

// A picture read back from a file, as 8-bit RGB, top row first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;  // top row first
};

// The first image of a GIF file; false when it cannot be read.
bool ReadGif(const std::string& path, Picture* picture);
// A PNG file; false when it cannot be read or is not plain 8-bit RGB.
bool ReadPng(const std::string& path, Picture* picture);

// The names in a folder but "." and "..", sorted; none when it cannot be read.
std::vector<std::string> FilesIn(const std::string& folder);
