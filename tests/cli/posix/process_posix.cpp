// Running programs from tests on Linux: through the shell, with every argument quoted.
#include "tests/cli/process.h"

#include <sys/wait.h>

#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

std::string Quote(const std::string& s)
{
    std::string r = "'";
    for (char c : s)
        r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

std::string Take(const std::string& file)
{
    std::string text;
    {
        std::ifstream f(file, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    std::remove(file.c_str());
    return text;
}

} // namespace

TRun RunProgram(const std::string& Program, const std::vector<std::string>& Args, const std::string& OutFile,
                const std::string& ErrFile)
{
    std::string cmd = Quote(Program);
    for (const std::string& a : Args)
        cmd += " " + Quote(a);
    cmd += " >" + Quote(OutFile) + " 2>" + Quote(ErrFile);
    TRun r;
    const int st = std::system(cmd.c_str());
    r.Rc = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.Out = Take(OutFile);
    r.Err = Take(ErrFile);
    return r;
}

std::string ToolsFolder()
{
    const char* b = std::getenv("NERID_BUILD_DIR");
    return b ? std::string(b) + "/bin" : std::string();
}

std::string ToolName(const std::string& Tool) { return Tool; }
