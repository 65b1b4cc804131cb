// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/outcome.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace talvor {

const char* FailureText(FailureKind kind) {
    switch (kind) {
        case FailureKind::None:
            return "no failure";
        case FailureKind::SystemError:
            return "a system call failed";
        case FailureKind::NoEglDisplay:
            return "no EGL display could be initialised";
        case FailureKind::NoEglConfig:
            return "no suitable frame format";
        case FailureKind::NoDrawingSurface:
            return "no drawing surface";
        case FailureKind::NoGlContext:
            return "no OpenGL context";
        case FailureKind::GlContextNotCurrent:
            return "the context could not be used";
        case FailureKind::NotRegularFile:
            return "not a regular file";
        case FailureKind::NotAFolder:
            return "not a folder";
        case FailureKind::TooLarge:
            return "too large";
        case FailureKind::NoSuchPath:
            return "does not exist";
        case FailureKind::OwnedByAnotherUser:
            return "it belongs to another user";
        case FailureKind::WritableByOthers:
            return "other users may write it";
        case FailureKind::NotThisProgramsFile:
            return "not a file this program wrote";
        case FailureKind::NameTaken:
            return "something else stands under the name";
        case FailureKind::NotASiteName:
            return "not a name inside the site";
        case FailureKind::Locked:
            return "another run is writing it";
        case FailureKind::KeepsChanging:
            return "it keeps changing under its name";
        case FailureKind::NotASemaphore:
            return "it is not a whole semaphore";
        case FailureKind::Incomplete:
            return "not every file was written";
        case FailureKind::OutOfMemory:
            return "out of memory";
        case FailureKind::EmptyFrame:
            return "the frame is empty";
        case FailureKind::ImageMismatch:
            return "the image's size, palette or pixels do not agree";
        case FailureKind::GifLibrary:
            return "the GIF library failed";
        case FailureKind::PngEncoder:
            return "the PNG encoder failed";
        case FailureKind::Compressor:
            return "the compressor failed";
        case FailureKind::DamagedInput:
            return "damaged data";
        case FailureKind::UnknownProfileLine:
            return "not a profile line";
        case FailureKind::IncompleteLocation:
            return "the location lacks a latitude or longitude";
        case FailureKind::NoDesktopDisplay:
            return "no desktop display";
        case FailureKind::DisplayTimedOut:
            return "the display server did not answer in time";
        case FailureKind::Stopped:
            return "stopped by a signal";
        case FailureKind::BlankOrComment:
            return "blank or comment";
        case FailureKind::TooFewFields:
            return "too few fields";
        case FailureKind::BadDateTime:
            return "no date and time";
        case FailureKind::BadNumber:
            return "not a number";
        case FailureKind::BadRange:
            return "no frequency range";
        case FailureKind::Torn:
            return "torn";
        case FailureKind::TooLong:
            return "too long";
        case FailureKind::NoSuchLocalTime:
            return "local time that does not exist";
        case FailureKind::OutsideBand:
            return "outside 520..1700 kHz";
        case FailureKind::TimeJump:
            return "far from the time of the lines around them";
        case FailureKind::AheadOfClock:
            return "ahead of the system clock";
        case FailureKind::BeforeMinute:
            return "out of order";
        case FailureKind::AlreadyInLog:
            return "minute already in the log";
        case FailureKind::LogNotWritable:
            return "day log not writable";
    }
    return "unknown failure";
}

Outcome Failed(FailureKind kind) {
    return Failed(kind, FailureText(kind));
}

Outcome Failed(FailureKind kind, std::string reason) {
    if (kind == FailureKind::None) kind = FailureKind::SystemError;
    return Outcome{kind, 0, std::move(reason)};
}

Outcome FailedWithErrno(int error) {
    if (error == 0) error = EIO;
    return Outcome{FailureKind::SystemError, error, std::strerror(error)};
}

Outcome FailedLike(const Outcome& cause, std::string reason) {
    Outcome failed = cause;
    if (failed.kind == FailureKind::None) failed.kind = FailureKind::SystemError;
    failed.reason = std::move(reason);
    return failed;
}

}  // namespace talvor
