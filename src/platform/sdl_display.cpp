#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr int kHeadlessWidth = 1920;
constexpr int kHeadlessHeight = 1080;

bool DisplayNamed() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// Brings up SDL's video part on a desktop display server, or nothing. A console or
// framebuffer driver that SDL might find instead does not count as a desktop.
bool StartDesktopVideo() {
    if (!DisplayNamed()) return false;
    // The run ends by itself; SDL must not take over SIGINT and SIGTERM while it is up.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return false;
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver == nullptr ||
        (std::strcmp(driver, "x11") != 0 && std::strcmp(driver, "wayland") != 0)) {
        SDL_Quit();
        return false;
    }
    return true;
}

}  // namespace

bool DesktopDisplayReachable() {
    if (!StartDesktopVideo()) return false;
    SDL_Quit();
    return true;
}

void GetScreenSize(int* width, int* height) {
    int w = kHeadlessWidth;
    int h = kHeadlessHeight;
    if (StartDesktopVideo()) {
        SDL_DisplayMode mode;
        if (SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w > 0 && mode.h > 0) {
            w = mode.w;
            h = mode.h;
        }
        SDL_Quit();
    }
    if (width != nullptr) *width = w;
    if (height != nullptr) *height = h;
}

void ShowMessageDialog(const char* caption, const char* text) {
    if (!StartDesktopVideo()) return;
    SDL_ShowSimpleMessageBox(0, caption != nullptr ? caption : "", text != nullptr ? text : "",
                             nullptr);
    SDL_Quit();
}
