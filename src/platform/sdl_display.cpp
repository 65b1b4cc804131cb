// SPDX-License-Identifier: GPL-3.0-or-later
#include <SDL.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"
#include "platform/display.h"
#include "platform/library.h"

namespace talvor {

namespace {

// Without a display: the common width, and a height that holds a whole day of 1440 minutes under
// the scale with the footer clear of it (rows end at y 1479, the footer's baseline is 1497).
constexpr int kHeadlessWidth = 1920;
constexpr int kHeadlessHeight = 1500;

// SDL and the fifty libraries it brings (sound, X, Wayland) are loaded only where a display is
// named: a headless run would spend more time loading them than drawing its text.
struct SdlCalls {
    decltype(&SDL_SetHint) SetHint = nullptr;
    decltype(&SDL_Init) Init = nullptr;
    decltype(&SDL_GetCurrentVideoDriver) GetCurrentVideoDriver = nullptr;
    decltype(&SDL_GetDesktopDisplayMode) GetDesktopDisplayMode = nullptr;
    decltype(&SDL_ShowSimpleMessageBox) ShowSimpleMessageBox = nullptr;
    decltype(&SDL_Quit) Quit = nullptr;
};

// The calls, or nullptr when the library or one of them is missing. Never unloaded.
// The library is loaded and its calls looked up once for the process, as the system would link
// it: what the machine offers, the same for every run.
const SdlCalls* LoadSdl() {
    static const SdlCalls* loaded = []() -> const SdlCalls* {
        void* library = LoadLibrary("libSDL2-2.0.so.0");
        if (library == nullptr) return nullptr;
        static SdlCalls calls;
        ResolveFunction(library, "SDL_SetHint", &calls.SetHint);
        ResolveFunction(library, "SDL_Init", &calls.Init);
        ResolveFunction(library, "SDL_GetCurrentVideoDriver", &calls.GetCurrentVideoDriver);
        ResolveFunction(library, "SDL_GetDesktopDisplayMode", &calls.GetDesktopDisplayMode);
        ResolveFunction(library, "SDL_ShowSimpleMessageBox", &calls.ShowSimpleMessageBox);
        ResolveFunction(library, "SDL_Quit", &calls.Quit);
        bool complete = calls.SetHint && calls.Init && calls.GetCurrentVideoDriver &&
                        calls.GetDesktopDisplayMode && calls.ShowSimpleMessageBox && calls.Quit;
        return complete ? &calls : nullptr;
    }();
    return loaded;
}

bool DisplayNamed() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// Brings up SDL's video part on a desktop display server, or nothing. A console or
// framebuffer driver that SDL might find instead does not count as a desktop.
const SdlCalls* StartDesktopVideo() {
    if (!DisplayNamed()) return nullptr;
    const SdlCalls* sdl = LoadSdl();
    if (sdl == nullptr) return nullptr;
    // The run ends by itself; SDL must not take over SIGINT and SIGTERM while it is up.
    sdl->SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (sdl->Init(SDL_INIT_VIDEO) != 0) return nullptr;
    const char* driver = sdl->GetCurrentVideoDriver();
    if (driver == nullptr ||
        (std::strcmp(driver, "x11") != 0 && std::strcmp(driver, "wayland") != 0)) {
        sdl->Quit();
        return nullptr;
    }
    return sdl;
}

// What the child process found out about the display.
struct DisplayAnswer {
    int answered = 0;
    int width = 0;
    int height = 0;
};

// Asks the display in a child process: a server that accepts the connection and never answers
// would otherwise hold the caller inside the display library for good, and a broken Wayland
// setting makes the library write lines of its own on standard error. The child writes nothing
// but its answer; past the deadline it is killed.
Outcome AskDisplay(DisplayAnswer* answer) {
    if (!DisplayNamed()) return Failed(FailureKind::NoDesktopDisplay);
    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0) return FailedWithErrno(errno);
    pid_t child = fork();
    if (child < 0) {
        Outcome failed = FailedWithErrno(errno);
        close(channel[0]);
        close(channel[1]);
        return failed;
    }
    if (child == 0) {
        close(channel[0]);
        int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) {
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
        }
        DisplayAnswer found;
        if (const SdlCalls* sdl = StartDesktopVideo(); sdl != nullptr) {
            found.answered = 1;
            SDL_DisplayMode mode;
            if (sdl->GetDesktopDisplayMode(0, &mode) == 0 && mode.w > 0 && mode.h > 0) {
                found.width = mode.w;
                found.height = mode.h;
            }
        }
        ssize_t ignored = write(channel[1], &found, sizeof found);
        (void)ignored;
        _exit(0);
    }
    close(channel[1]);
    Outcome result = Failed(FailureKind::DisplayTimedOut);
    int64_t deadline = MonotonicMs() + kDisplayQueryTimeoutMs;
    for (;;) {
        int64_t left = deadline - MonotonicMs();
        if (left <= 0) break;
        struct pollfd wait = {channel[0], POLLIN, 0};
        int ready = poll(&wait, 1, int(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        DisplayAnswer got;
        ssize_t n = read(channel[0], &got, sizeof got);
        if (n < 0 && errno == EINTR) continue;
        // A child that ended without a word (a crash in the library) found no display either.
        result = Failed(FailureKind::NoDesktopDisplay);
        if (n == ssize_t(sizeof got) && got.answered != 0) {
            *answer = got;
            result = Succeeded();
        }
        break;
    }
    close(channel[0]);
    if (result.kind == FailureKind::DisplayTimedOut) kill(child, SIGKILL);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return result;
}

}  // namespace

void StopUsingDesktopDisplay() {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
}

bool DesktopDisplayReachable() {
    DisplayAnswer answer;
    return bool(AskDisplay(&answer));
}

Outcome GetScreenSize(int* width, int* height) {
    int w = kHeadlessWidth;
    int h = kHeadlessHeight;
    DisplayAnswer answer;
    Outcome result = AskDisplay(&answer);
    if (result && answer.width > 0 && answer.height > 0) {
        w = answer.width;
        h = answer.height;
    }
    if (width != nullptr) *width = w;
    if (height != nullptr) *height = h;
    return result;
}

void ShowMessageDialog(const char* caption, const char* text) {
    // Asked first with a deadline: the dialog itself waits for the user, but a display that does
    // not answer must not hold the run.
    if (!DesktopDisplayReachable()) return;
    const SdlCalls* sdl = StartDesktopVideo();
    if (sdl == nullptr) return;
    sdl->ShowSimpleMessageBox(0, caption != nullptr ? caption : "", text != nullptr ? text : "",
                              nullptr);
    sdl->Quit();
}

}  // namespace talvor
