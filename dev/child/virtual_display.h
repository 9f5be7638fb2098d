// A virtual X display (Xvfb) for the window's tests and the benchmark: started on a free display number, which this
// process then uses (DISPLAY, also inherited by its children); stopped when the object goes. Main thread only.
#pragma once

#include "dev/child/child_process.h"

#include <memory>
#include <optional>
#include <string>

class TVirtualDisplay {
public:
    // Starts Xvfb with one width × height × 24 screen; its complaints go into errFile. Throws std::runtime_error when
    // Xvfb is missing or does not come up (install the xvfb package).
    TVirtualDisplay(const std::string& errFile, int width = 1024, int height = 768);
    // Stops the server and gives DISPLAY back its old value.
    ~TVirtualDisplay();
    TVirtualDisplay(const TVirtualDisplay&) = delete;
    TVirtualDisplay& operator=(const TVirtualDisplay&) = delete;

    // ":N"
    const std::string& Name() const { return FName; }

private:
    std::unique_ptr<TChild> FServer;
    std::string FName;
    std::optional<std::string> FOldDisplay;
};

// The full path of `program` found along PATH; empty when it is not there.
std::string FindProgram(const std::string& program);
