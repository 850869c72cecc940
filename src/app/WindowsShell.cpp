// The Win32 side of the shell: the process, the window and its procedure, raw mouse input, the
// message pump of the main loop and the report of fatal errors. What the messages mean is decided by
// the Application; this file only translates.

#include <windows.h>

#include <imm.h>

#include <chrono>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Application.hpp"
#include "app/WaveOut.hpp"
#include "app/WindowsShell.hpp"

namespace zarn {

namespace {

constexpr wchar_t windowClassName[] = L"ZarnEngineWindow";
constexpr wchar_t windowTitle[] = L"苍曦 ZARN V2.0 / 群星";
constexpr wchar_t errorCaption[] = L"苍曦 / 启动错误";
constexpr const char* errorLog = "zarn-error.log";
constexpr DWORD windowStyle = WS_OVERLAPPEDWINDOW; // 0xCF0000
constexpr int cursorCountLimit = 64;               // ShowCursor calls before giving up on a display count

// The window the application asks things of, and the first exception a message handler threw: a
// message sent to the window (WM_SIZE from SetWindowPos, say) does not reliably carry an exception
// back to the caller, so it waits here until the main loop rethrows it.
class WindowsHost final : public WindowHost {
  public:
    HWND window = nullptr;
    RECT windowedRect{}; // the window rectangle before full screen
    Application* application = nullptr;
    std::exception_ptr pending;

    WindowsHost() = default;
    WindowsHost(const WindowsHost&) = delete;
    WindowsHost& operator=(const WindowsHost&) = delete;
    // A window still open here belongs to a start-up that failed: it must not reach the application
    // (already gone) while the error's message box runs its message loop.
    ~WindowsHost() override { destroyWindow(); }

    void destroyWindow() {
        if (window != nullptr) {
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            DestroyWindow(window);
            window = nullptr;
        }
    }

    void rethrowPending() {
        if (pending) {
            std::exception_ptr error = pending;
            pending = nullptr;
            std::rethrow_exception(error);
        }
    }

    void clipCursor(bool captured) override {
        if (captured) {
            RECT client{};
            GetClientRect(window, &client);
            POINT corners[2] = {{client.left, client.top}, {client.right, client.bottom}};
            ClientToScreen(window, &corners[0]);
            ClientToScreen(window, &corners[1]);
            const RECT clip{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
            ClipCursor(&clip);
            for (int i = 0; i < cursorCountLimit && ShowCursor(FALSE) >= 0; ++i) {
            }
        } else {
            ClipCursor(nullptr);
            for (int i = 0; i < cursorCountLimit && ShowCursor(TRUE) < 0; ++i) {
            }
        }
    }

    void detachIme() override { ImmAssociateContext(window, nullptr); }

    double tickSeconds() const override { return static_cast<double>(GetTickCount64()) / 1000.0; }

    void setFullscreen(bool fullscreen) override {
        if (fullscreen) {
            GetWindowRect(window, &windowedRect);
            MONITORINFO monitor{};
            monitor.cbSize = sizeof monitor;
            GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
            const RECT& area = monitor.rcMonitor;
            SetWindowLongPtrW(window, GWL_STYLE, WS_POPUP | WS_VISIBLE);
            SetWindowPos(window, HWND_TOP, area.left, area.top, area.right - area.left,
                         area.bottom - area.top, SWP_FRAMECHANGED);
        } else {
            SetWindowLongPtrW(window, GWL_STYLE, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
            SetWindowPos(window, nullptr, windowedRect.left, windowedRect.top,
                         windowedRect.right - windowedRect.left, windowedRect.bottom - windowedRect.top,
                         SWP_NOZORDER | SWP_FRAMECHANGED);
        }
    }
};

double steadySeconds() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(since).count()) / 1e9;
}

std::int32_t signedLow(LPARAM value) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(value & 0xFFFF));
}

std::int32_t signedHigh(LPARAM value) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>((value >> 16) & 0xFFFF));
}

void rawMouse(Application& application, LPARAM handle) {
    RAWINPUT input{}; // 48 bytes: the 24-byte header and the mouse record
    UINT size = sizeof input;
    if (GetRawInputData(reinterpret_cast<HRAWINPUT>(handle), RID_INPUT, &input, &size,
                        sizeof(RAWINPUTHEADER)) == static_cast<UINT>(-1)) {
        return;
    }
    if (input.header.dwType != RIM_TYPEMOUSE || (input.data.mouse.usFlags & MOUSE_MOVE_ABSOLUTE) != 0) {
        return;
    }
    application.mouseLook(input.data.mouse.lLastX, input.data.mouse.lLastY);
}

LRESULT handleMessage(WindowsHost& host, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Application& application = *host.application;
    switch (message) {
    case WM_ACTIVATEAPP:
        application.activate(wParam != 0);
        return 0;
    case WM_SIZE:
        application.resized(LOWORD(lParam), HIWORD(lParam), wParam == SIZE_MINIMIZED);
        return 0;
    case WM_CLOSE:
        application.closeRequested(); // the window itself is destroyed after the loop
        return 0;
    case WM_INPUTLANGCHANGE:
        host.detachIme();
        return 0;
    case WM_INPUT:
        rawMouse(application, lParam);
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        application.keyPressed(static_cast<std::int32_t>(wParam), ((lParam >> 29) & 1) != 0,
                               ((lParam >> 30) & 1) != 0);
        return 0; // system keys too: Alt and F10 open no window menu
    case WM_KEYUP:
    case WM_SYSKEYUP:
        application.keyReleased(static_cast<std::int32_t>(wParam));
        return 0;
    case WM_CHAR:
        application.charTyped(static_cast<std::uint32_t>(wParam));
        return 0;
    case WM_MOUSEMOVE: {
        RECT client{};
        GetClientRect(window, &client);
        application.mouseMoved(signedLow(lParam), signedHigh(lParam), client.right - client.left,
                               client.bottom - client.top);
        return 0;
    }
    case WM_LBUTTONDOWN:
        application.buttonPressed(keyCode::leftButton);
        return 0;
    case WM_RBUTTONDOWN:
        application.buttonPressed(keyCode::rightButton);
        return 0;
    case WM_MBUTTONDOWN:
        application.buttonPressed(keyCode::middleButton);
        return 0;
    case WM_LBUTTONUP:
        application.buttonReleased(keyCode::leftButton);
        return 0;
    case WM_RBUTTONUP:
        application.buttonReleased(keyCode::rightButton);
        return 0;
    case WM_MBUTTONUP:
        application.buttonReleased(keyCode::middleButton);
        return 0;
    case WM_MOUSEWHEEL:
        application.wheelTurned(signedHigh(static_cast<LPARAM>(wParam)));
        return 0;
    case WM_IME_SETCONTEXT:
        // The input method shows none of its windows.
        return DefWindowProcW(window, message, wParam, lParam & 0x3FFFFFF0);
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* host = static_cast<WindowsHost*>(creation->lpCreateParams);
        host->window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(host));
        return DefWindowProcW(window, message, wParam, lParam);
    }
    auto* host = reinterpret_cast<WindowsHost*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (host == nullptr || host->application == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    try {
        return handleMessage(*host, window, message, wParam, lParam);
    } catch (...) {
        if (!host->pending) {
            host->pending = std::current_exception(); // the first failure is the one reported
        }
        return 0;
    }
}

std::filesystem::path executableFolder() {
    std::vector<wchar_t> path(32768);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
        throw std::runtime_error("Cannot locate executable");
    }
    return std::filesystem::path(std::wstring(path.data(), length)).parent_path();
}

void createWindow(HINSTANCE instance, WindowsHost& host) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = windowClassName;
    RegisterClassW(&windowClass); // a failure shows as the window that cannot be created

    RECT frame{0, 0, Renderer::canvasWidth, Renderer::canvasHeight};
    AdjustWindowRect(&frame, windowStyle, FALSE);
    const HWND window = CreateWindowExW(0, windowClassName, windowTitle, windowStyle, CW_USEDEFAULT,
                                        CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                                        nullptr, nullptr, instance, &host);
    if (window == nullptr) {
        throw std::runtime_error("Window creation failed");
    }
}

void registerRawMouse(HWND window) {
    RAWINPUTDEVICE mouse{};
    mouse.usUsagePage = 1; // generic desktop controls
    mouse.usUsage = 2;     // mouse
    mouse.dwFlags = 0;
    mouse.hwndTarget = window;
    if (!RegisterRawInputDevices(&mouse, 1, sizeof mouse)) {
        throw std::runtime_error("Raw mouse registration failed");
    }
}

// Takes every waiting message; false once the loop is to end.
void pumpMessages(WindowsHost& host, Application& application) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            application.running = false;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
        host.rethrowPending();
    }
}

int run(HINSTANCE instance, const wchar_t* commandLine) {
    const std::filesystem::path folder = executableFolder();
    std::filesystem::current_path(folder);
    WindowsHost host; // outlives the application, so a window left open is closed after it
    Application application(folder);
    application.audio.device = openWaveOut(); // null without a sound card: the game runs silent
    host.application = &application;
    application.host = &host;
    if (commandLine == nullptr) {
        throw std::runtime_error("Missing command line");
    }
    const CommandLineOptions options = parseCommandLine(std::wstring(commandLine));
    application.applyEarlyOptions(options);

    createWindow(instance, host);
    host.rethrowPending();
    host.detachIme();
    application.renderer.initialize(host.window);
    application.windowReady = true;
    ShowWindow(host.window, SW_SHOW);
    UpdateWindow(host.window);
    host.rethrowPending();
    registerRawMouse(host.window);

    application.applyLateOptions(options);
    // The clock starts after whatever the options loaded.
    application.startLoop(steadySeconds());
    while (application.running) {
        pumpMessages(host, application);
        if (!application.running) {
            break;
        }
        const bool minimised = IsIconic(host.window) != FALSE;
        application.pass(steadySeconds(), minimised);
        if (minimised) {
            Sleep(20);
        }
    }
    application.setMouseCapture(false);
    host.destroyWindow();
    const bool failedRun = application.smokeFrames != 0 && !application.unattendedPassed;
    return failedRun ? 2 : 0;
}

std::wstring utf16(const char* text) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1)); // without the terminator
    return wide;
}

void reportFatalError(const char* what) {
    std::string message = what != nullptr ? what : "";
    // The shader compiler ends its messages with a line break of its own; the log's line feed is the
    // only one after a message.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    {
        std::ofstream log(errorLog, std::ios::binary | std::ios::app);
        log << message << '\n';
    }
    MessageBoxW(nullptr, utf16(message.c_str()).c_str(), errorCaption, MB_ICONERROR);
}

} // namespace

int runApplication(HINSTANCE instance, const wchar_t* commandLine) {
    SetProcessDPIAware();
    ImmDisableIME(GetCurrentThreadId());
    try {
        return run(instance, commandLine);
    } catch (const std::exception& error) {
        reportFatalError(error.what());
    } catch (...) {
        reportFatalError("Unknown error");
    }
    return 1;
}

} // namespace zarn
