// The virtual display: Xvfb picks a free display number itself and writes it once it accepts clients.
#include "dev/child/virtual_display.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>

std::string FindProgram(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

TVirtualDisplay::TVirtualDisplay(const std::string& errFile, int width, int height)
{
    const std::string xvfb = FindProgram("Xvfb");
    if (xvfb.empty())
        throw std::runtime_error("Xvfb is not installed (package xvfb): the window needs a virtual display");
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    FServer = std::make_unique<TChild>(
        std::vector<std::string>{xvfb, "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}, "",
        errFile);
    const std::vector<std::string> number = FServer->ReadLines(1, 15000);
    if (number.empty() || number[0].empty())
        throw std::runtime_error("Xvfb did not start; see " + errFile);
    FName = ":" + number[0];
    if (const char* old = std::getenv("DISPLAY"))
        FOldDisplay = old;
    ::setenv("DISPLAY", FName.c_str(), 1);
}

TVirtualDisplay::~TVirtualDisplay()
{
    if (FOldDisplay)
        ::setenv("DISPLAY", FOldDisplay->c_str(), 1);
    else
        ::unsetenv("DISPLAY");
    // A terminated server removes its lock file and socket; a killed one would leave them behind.
    FServer->Signal(SIGTERM);
    FServer->Wait();
}
