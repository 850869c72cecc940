#pragma once

struct HINSTANCE__; // the module handle type of Win32

namespace zarn {

// Runs the game as a Windows program: the process settings, the application, the window, the
// renderer, the raw mouse, the command line and the main loop. A fatal error is appended to
// zarn-error.log in the current directory and shown in a message box. Returns 0 after a normal end,
// 1 after a fatal error and 2 after an unattended run that did not pass (no picture, or the world it
// asked for did not load).
int runApplication(HINSTANCE__* instance, const wchar_t* commandLine);

} // namespace zarn
