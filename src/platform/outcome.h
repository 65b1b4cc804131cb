// SPDX-License-Identifier: GPL-3.0-or-later
// The one shape of a call that can fail: whether it worked and, when not, which of this system's
// own kinds of failure it was, the system's errno where a system call failed, and why in words,
// with the system's or the library's own error text, fit to follow "cannot ...: " in a message.
#pragma once

#include <string>

namespace talvor {

// This system's own kinds of failure: a closed list, kept apart from the system's errno, each
// with its text (FailureText), as C libraries keep theirs (giflib's GifErrorString, SQLite's
// sqlite3_errstr).
enum class FailureKind {
    None,
    SystemError,  // a system call failed: the errno says why

    // The hidden surface's steps, in the order they are taken (its status numbers 1..5).
    NoEglDisplay,
    NoEglConfig,
    NoDrawingSurface,
    NoGlContext,
    GlContextNotCurrent,

    // Files, folders and named objects.
    NotRegularFile,
    NotAFolder,
    TooLarge,
    NoSuchPath,
    OwnedByAnotherUser,
    WritableByOthers,
    NotThisProgramsFile,
    NameTaken,
    NotASiteName,
    Locked,
    KeepsChanging,
    NotASemaphore,

    // A whole made of many files, some of which were not written (each said on its own).
    Incomplete,

    // Memory, pictures and compressed data.
    OutOfMemory,
    EmptyFrame,
    ImageMismatch,
    GifLibrary,
    PngEncoder,
    Compressor,
    DamagedInput,

    // The configuration's profile lines.
    UnknownProfileLine,
    IncompleteLocation,

    // The desktop display, and input that a stop signal ended.
    NoDesktopDisplay,
    DisplayTimedOut,
    Stopped,

    // Why a line of a power scan was not logged, in the order the logger's summaries give them.
    BlankOrComment,   // empty, only spaces, or starting with '#'
    TooFewFields,     // fewer than the six leading fields and one value
    BadDateTime,      // not a calendar date and a time of day
    BadNumber,        // text where a number belongs
    BadRange,         // Hz high not above Hz low, or a step of 0 or below
    Torn,             // cut short: fewer values than its range needs, or no line end
    TooLong,          // longer than any scan line
    NoSuchLocalTime,  // in the hour skipped when summer time begins
    OutsideBand,      // no bin in 520..1700 kHz
    TimeJump,         // far from the time of the input's lines around it
    AheadOfClock,     // live, far ahead of the system clock
    BeforeMinute,     // earlier than the minute in hand
    AlreadyInLog,     // the day log holds that minute already
    LogNotWritable,   // its day log cannot be written
};

// The kind's text: "not a regular file", "out of memory", "blank or comment", ...
const char* FailureText(FailureKind kind);

struct Outcome {
    FailureKind kind = FailureKind::None;
    int error = 0;       // the errno of the system call that failed (kind SystemError), else 0
    std::string reason;  // empty when it worked

    explicit operator bool() const { return kind == FailureKind::None; }
};

inline Outcome Succeeded() {
    return Outcome{};
}
// A failure of this system's own, its reason the kind's text or the one given.
Outcome Failed(FailureKind kind);
Outcome Failed(FailureKind kind, std::string reason);
// A failure of a system call: the errno (EIO when it was not set) and its text.
Outcome FailedWithErrno(int error);
// The same failure as cause, kind and errno, said with another reason (the cause's in context).
Outcome FailedLike(const Outcome& cause, std::string reason);

}  // namespace talvor
