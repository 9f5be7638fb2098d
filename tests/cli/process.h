// Test helper: runs a program of the build with arguments and collects its exit code and output, on each platform
// (posix/, win32/). Output is returned with the platform's line ends turned into '\n'.
#pragma once

#include <string>
#include <vector>

struct TRun {
    int Rc = -1;
    std::string Out, Err;
};

// Program: a path; Args are passed one by one, unchanged. OutFile/ErrFile: where the output goes meanwhile (removed
// afterwards).
TRun RunProgram(const std::string& Program, const std::vector<std::string>& Args, const std::string& OutFile,
                const std::string& ErrFile);
// The folder of the build's tools (nerid, nerid-sample-firmware), and a tool's file name there.
std::string ToolsFolder();
std::string ToolName(const std::string& Tool);
