// End-to-end check of the game's fatal-error path (run under Wine and Xvfb by scripts/e2e-smoke.sh):
// the game's whole start-up, linked with a shader text that does not compile. The renderer's start
// fails, and the game must append the compiler's message to zarn-error.log, show it in a message box
// captioned "苍曦 / 启动错误" and return 1. A watcher thread finds the message box, reads it and
// closes it, so the run needs no one at the screen.
//
// Writes zarn-startup-check.txt (what was seen, "STARTUP_CHECK_OK" last when everything held).

#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/WindowsShell.hpp"
#include "render/ShaderProgram.hpp"

namespace zarn {

// Replaces the game's shader program in this program: the call has no closing parenthesis.
const char* const shaderProgram = "float4 VS(float3 p : POSITION) : SV_Position { return float4(p, 1.0; }\n";

} // namespace zarn

namespace {

constexpr wchar_t errorCaption[] = L"苍曦 / 启动错误";
constexpr int messageTextId = 0xFFFF; // the static text of a message box

struct Seen {
    std::atomic<bool> found{false};
    std::wstring text;
};

std::string utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length,
                        nullptr, nullptr);
    return result;
}

// Waits for the message box, keeps its text and presses its button.
void watch(Seen& seen, std::atomic<bool>& done) {
    while (!done) {
        HWND box = FindWindowW(L"#32770", errorCaption);
        if (box != nullptr) {
            std::vector<wchar_t> text(4096);
            GetDlgItemTextW(box, messageTextId, text.data(), static_cast<int>(text.size()));
            seen.text = text.data();
            seen.found = true;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string withoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    Seen seen;
    std::atomic<bool> done{false};
    std::thread watcher(watch, std::ref(seen), std::ref(done));
    // The same command line as a smoke run: the failure must end it, not the frame limit.
    const int result = zarn::runApplication(instance, L"--smoke");
    done = true;
    watcher.join();

    // The game made its folder the current directory.
    std::ofstream report("zarn-startup-check.txt", std::ios::binary | std::ios::trunc);
    const std::string log = readText("zarn-error.log");
    const std::string shown = withoutCarriageReturns(utf8(seen.text));
    report << "exit=" << result << "\n";
    report << "message_box=" << (seen.found ? "shown" : "none") << "\n";
    report << "message_box_text=" << shown << "\n";
    report << "error_log=" << log;
    bool passed = true;
    auto fail = [&](const std::string& why) {
        report << "FAIL " << why << "\n";
        passed = false;
    };
    if (result != 1) {
        fail("the game returned " + std::to_string(result) + ", not 1");
    }
    if (!seen.found) {
        fail("no message box captioned 苍曦 / 启动错误");
    }
    // One message, ended by one line feed, saying what the message box said.
    if (log.size() < 2 || log.back() != '\n' || log[log.size() - 2] == '\n') {
        fail("zarn-error.log should hold one message ended by one line feed");
    } else if (seen.found && shown != log.substr(0, log.size() - 1)) {
        fail("the message box and zarn-error.log say different things");
    }
    if (std::filesystem::exists("zarn-smoke.txt") || std::filesystem::exists("zarn-smoke.ppm")) {
        fail("a failed start-up wrote smoke outputs");
    }
    if (passed) {
        report << "STARTUP_CHECK_OK\n";
    }
    return passed ? 0 : 1;
}
