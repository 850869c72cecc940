// The entry point of zarn.exe.

#include <windows.h>

#include "app/WindowsShell.hpp"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    return zarn::runApplication(instance, commandLine);
}
