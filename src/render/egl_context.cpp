// SPDX-License-Identifier: GPL-3.0-or-later
// The EGL side of the hidden surface: the driver loaded at run time, its display, and a pbuffer
// with a desktop-OpenGL compatibility context.
#include "render/egl_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/library.h"

namespace talvor {

namespace {

// EGL is looked up at run time so that a machine without an EGL vendor library still runs to
// its normal end (no frame) instead of failing to start.
struct EglApi {
    void* library = nullptr;
    bool tried = false;
    PFNEGLGETPROCADDRESSPROC GetProcAddress = nullptr;
    PFNEGLGETERRORPROC GetError = nullptr;
    PFNEGLGETDISPLAYPROC GetDisplay = nullptr;
    PFNEGLINITIALIZEPROC Initialize = nullptr;
    PFNEGLQUERYSTRINGPROC QueryString = nullptr;
    PFNEGLCHOOSECONFIGPROC ChooseConfig = nullptr;
    PFNEGLGETCONFIGATTRIBPROC GetConfigAttrib = nullptr;
    PFNEGLCREATEPBUFFERSURFACEPROC CreatePbufferSurface = nullptr;
    PFNEGLDESTROYSURFACEPROC DestroySurface = nullptr;
    PFNEGLBINDAPIPROC BindAPI = nullptr;
    PFNEGLCREATECONTEXTPROC CreateContext = nullptr;
    PFNEGLDESTROYCONTEXTPROC DestroyContext = nullptr;
    PFNEGLMAKECURRENTPROC MakeCurrent = nullptr;
    PFNEGLRELEASETHREADPROC ReleaseThread = nullptr;
    PFNEGLGETPLATFORMDISPLAYEXTPROC GetPlatformDisplayEXT = nullptr;
    PFNEGLQUERYDEVICESEXTPROC QueryDevicesEXT = nullptr;
    PFNEGLQUERYDEVICESTRINGEXTPROC QueryDeviceStringEXT = nullptr;
};

template <typename T>
void Resolve(const EglApi& egl, T* function, const char* name) {
    *function = reinterpret_cast<T>(LibraryFunction(egl.library, name));
    if (*function == nullptr && egl.GetProcAddress != nullptr) {
        *function = reinterpret_cast<T>(egl.GetProcAddress(name));
    }
}

bool LoadEgl(EglApi* api) {
    EglApi& egl = *api;
    if (egl.tried) return egl.library != nullptr && egl.Initialize != nullptr;
    egl.tried = true;
    egl.library = LoadLibrary("libEGL.so.1");
    if (egl.library == nullptr) return false;
    Resolve(egl, &egl.GetProcAddress, "eglGetProcAddress");
    Resolve(egl, &egl.GetError, "eglGetError");
    Resolve(egl, &egl.GetDisplay, "eglGetDisplay");
    Resolve(egl, &egl.Initialize, "eglInitialize");
    Resolve(egl, &egl.QueryString, "eglQueryString");
    Resolve(egl, &egl.ChooseConfig, "eglChooseConfig");
    Resolve(egl, &egl.GetConfigAttrib, "eglGetConfigAttrib");
    Resolve(egl, &egl.CreatePbufferSurface, "eglCreatePbufferSurface");
    Resolve(egl, &egl.DestroySurface, "eglDestroySurface");
    Resolve(egl, &egl.BindAPI, "eglBindAPI");
    Resolve(egl, &egl.CreateContext, "eglCreateContext");
    Resolve(egl, &egl.DestroyContext, "eglDestroyContext");
    Resolve(egl, &egl.MakeCurrent, "eglMakeCurrent");
    Resolve(egl, &egl.ReleaseThread, "eglReleaseThread");
    Resolve(egl, &egl.GetPlatformDisplayEXT, "eglGetPlatformDisplayEXT");
    Resolve(egl, &egl.QueryDevicesEXT, "eglQueryDevicesEXT");
    Resolve(egl, &egl.QueryDeviceStringEXT, "eglQueryDeviceStringEXT");
    bool complete = egl.Initialize && egl.QueryString && egl.ChooseConfig && egl.GetConfigAttrib &&
                    egl.CreatePbufferSurface && egl.DestroySurface && egl.BindAPI &&
                    egl.CreateContext && egl.DestroyContext && egl.MakeCurrent;
    if (!complete) egl.Initialize = nullptr;
    return complete;
}

bool HasExtension(const char* list, const char* name) {
    if (list == nullptr) return false;
    size_t n = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += n) {
        bool starts = p == list || p[-1] == ' ';
        bool ends = p[n] == '\0' || p[n] == ' ';
        if (starts && ends) return true;
    }
    return false;
}

bool InitializeDisplay(const EglApi& egl, EGLDisplay display) {
    if (display == EGL_NO_DISPLAY) return false;
    EGLint major = 0, minor = 0;
    if (egl.Initialize(display, &major, &minor)) return true;
    return false;
}

// A GPU through the device platform first, then Mesa's surfaceless platform (software
// rendering, no display server needed), then whatever device is left (a software device).
EGLDisplay OpenDisplay(const EglApi& egl) {
    const char* clientExtensions = egl.QueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    bool platformCalls = egl.GetPlatformDisplayEXT != nullptr &&
                         HasExtension(clientExtensions, "EGL_EXT_platform_base");

    std::vector<EGLDeviceEXT> softwareDevices;
    if (platformCalls && egl.QueryDevicesEXT != nullptr &&
        HasExtension(clientExtensions, "EGL_EXT_platform_device")) {
        EGLDeviceEXT devices[16];
        EGLint count = 0;
        if (egl.QueryDevicesEXT(16, devices, &count)) {
            for (EGLint i = 0; i < count && i < 16; ++i) {
                const char* deviceExtensions =
                    egl.QueryDeviceStringEXT ? egl.QueryDeviceStringEXT(devices[i], EGL_EXTENSIONS)
                                             : nullptr;
                if (HasExtension(deviceExtensions, "EGL_MESA_device_software")) {
                    softwareDevices.push_back(devices[i]);
                    continue;
                }
                EGLDisplay display =
                    egl.GetPlatformDisplayEXT(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
                if (InitializeDisplay(egl, display)) return display;
            }
        }
    }
    if (platformCalls && HasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay display =
            egl.GetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (InitializeDisplay(egl, display)) return display;
    }
    for (EGLDeviceEXT device : softwareDevices) {
        EGLDisplay display = egl.GetPlatformDisplayEXT(EGL_PLATFORM_DEVICE_EXT, device, nullptr);
        if (InitializeDisplay(egl, display)) return display;
    }
    // An EGL without the platform extensions has only its default display.
    if (!platformCalls && egl.GetDisplay != nullptr) {
        EGLDisplay display = egl.GetDisplay(EGL_DEFAULT_DISPLAY);
        if (InitializeDisplay(egl, display)) return display;
    }
    return EGL_NO_DISPLAY;
}

// Among the pbuffer configs of at least 5/6/5 bits with a depth buffer, a plain 8-bit RGB one
// keeps the colours exact; any other is taken as it comes.
bool ChooseConfig(const EglApi& egl, EGLDisplay display, EGLConfig* chosen) {
    const EGLint request[] = {EGL_SURFACE_TYPE,
                              EGL_PBUFFER_BIT,
                              EGL_RENDERABLE_TYPE,
                              EGL_OPENGL_BIT,
                              EGL_COLOR_BUFFER_TYPE,
                              EGL_RGB_BUFFER,
                              EGL_RED_SIZE,
                              5,
                              EGL_GREEN_SIZE,
                              6,
                              EGL_BLUE_SIZE,
                              5,
                              EGL_DEPTH_SIZE,
                              16,
                              EGL_NONE};
    EGLConfig configs[64];
    EGLint count = 0;
    if (!egl.ChooseConfig(display, request, configs, 64, &count) || count <= 0) return false;
    if (count > 64) count = 64;
    *chosen = configs[0];
    for (EGLint i = 0; i < count; ++i) {
        EGLint r = 0, g = 0, b = 0;
        egl.GetConfigAttrib(display, configs[i], EGL_RED_SIZE, &r);
        egl.GetConfigAttrib(display, configs[i], EGL_GREEN_SIZE, &g);
        egl.GetConfigAttrib(display, configs[i], EGL_BLUE_SIZE, &b);
        if (r == 8 && g == 8 && b == 8) {
            *chosen = configs[i];
            break;
        }
    }
    return true;
}

EGLContext CreateCompatibilityContext(const EglApi& egl, EGLDisplay display, EGLConfig config) {
    if (!egl.BindAPI(EGL_OPENGL_API)) return EGL_NO_CONTEXT;
    const EGLint compatibility[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                    EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    EGLContext context = egl.CreateContext(display, config, EGL_NO_CONTEXT, compatibility);
    // Older EGLs do not know the profile attribute; their desktop contexts are compatibility
    // contexts anyway.
    if (context == EGL_NO_CONTEXT) {
        context = egl.CreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    }
    return context;
}

const char* EglErrorName(EGLint error) {
    switch (error) {
        case EGL_NOT_INITIALIZED:
            return "EGL_NOT_INITIALIZED";
        case EGL_BAD_ACCESS:
            return "EGL_BAD_ACCESS";
        case EGL_BAD_ALLOC:
            return "EGL_BAD_ALLOC";
        case EGL_BAD_ATTRIBUTE:
            return "EGL_BAD_ATTRIBUTE";
        case EGL_BAD_CONTEXT:
            return "EGL_BAD_CONTEXT";
        case EGL_BAD_CONFIG:
            return "EGL_BAD_CONFIG";
        case EGL_BAD_CURRENT_SURFACE:
            return "EGL_BAD_CURRENT_SURFACE";
        case EGL_BAD_DISPLAY:
            return "EGL_BAD_DISPLAY";
        case EGL_BAD_SURFACE:
            return "EGL_BAD_SURFACE";
        case EGL_BAD_MATCH:
            return "EGL_BAD_MATCH";
        case EGL_BAD_PARAMETER:
            return "EGL_BAD_PARAMETER";
        case EGL_BAD_NATIVE_PIXMAP:
            return "EGL_BAD_NATIVE_PIXMAP";
        case EGL_BAD_NATIVE_WINDOW:
            return "EGL_BAD_NATIVE_WINDOW";
        case EGL_CONTEXT_LOST:
            return "EGL_CONTEXT_LOST";
        default:
            return nullptr;
    }
}

// A failed surface step, with EGL's own error where it has one.
Outcome SurfaceFailed(const EglApi& egl, FailureKind step, const char* what) {
    std::string reason = what;
    if (egl.library == nullptr) {
        reason += ": libEGL.so.1 could not be loaded";
    } else if (egl.GetError != nullptr) {
        EGLint error = egl.GetError();
        if (error != EGL_SUCCESS) {
            const char* name = EglErrorName(error);
            reason += ": ";
            reason += name != nullptr ? name : "EGL error " + std::to_string(error);
        }
    }
    return Failed(step, reason);
}

}  // namespace

struct EglSurface {
    EglApi egl;
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLSurface surface = EGL_NO_SURFACE;
    EGLContext context = EGL_NO_CONTEXT;
};

void OpenEglDisplayAhead() {
    // The driver stays loaded and its display initialised for the life of the process: the
    // surface made next loads and opens the same ones again, at once.
    EglApi egl;
    if (LoadEgl(&egl)) OpenDisplay(egl);
}

Outcome CreateEglSurface(int width, int height, EglSurface** made) {
    *made = new EglSurface;
    EglSurface& s = **made;
    const EglApi& egl = s.egl;
    if (!LoadEgl(&s.egl)) return SurfaceFailed(egl, FailureKind::NoEglDisplay, "no EGL display");
    s.display = OpenDisplay(egl);
    if (s.display == EGL_NO_DISPLAY) {
        return SurfaceFailed(egl, FailureKind::NoEglDisplay, "no EGL display could be opened");
    }

    EGLConfig config = nullptr;
    if (!ChooseConfig(egl, s.display, &config)) {
        return SurfaceFailed(egl, FailureKind::NoEglConfig, "no suitable frame format");
    }

    const EGLint size[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    s.surface = egl.CreatePbufferSurface(s.display, config, size);
    if (s.surface == EGL_NO_SURFACE) {
        return SurfaceFailed(egl, FailureKind::NoDrawingSurface, "no drawing surface");
    }

    s.context = CreateCompatibilityContext(egl, s.display, config);
    if (s.context == EGL_NO_CONTEXT) {
        return SurfaceFailed(egl, FailureKind::NoGlContext, "no OpenGL context");
    }

    if (!egl.MakeCurrent(s.display, s.surface, s.surface, s.context)) {
        return SurfaceFailed(egl, FailureKind::GlContextNotCurrent,
                             "the context could not be used");
    }
    return Succeeded();
}

bool EglContextMade(const EglSurface* surface) {
    return surface != nullptr && surface->context != EGL_NO_CONTEXT;
}

void DestroyEglSurface(EglSurface* surface) {
    if (surface == nullptr) return;
    const EglApi& egl = surface->egl;
    if (surface->context != EGL_NO_CONTEXT) {
        egl.MakeCurrent(surface->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        egl.DestroyContext(surface->display, surface->context);
    }
    if (surface->surface != EGL_NO_SURFACE) {
        egl.DestroySurface(surface->display, surface->surface);
    }
    // The display itself stays initialised for the life of the process: terminating it unloads
    // the driver, which the next surface would only load again.
    if (surface->display != EGL_NO_DISPLAY && egl.ReleaseThread != nullptr) {
        egl.ReleaseThread();
    }
    delete surface;
}

}  // namespace talvor
