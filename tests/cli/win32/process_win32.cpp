// Running programs from tests on Windows: CreateProcessW with the arguments quoted for the C runtime's parser and
// the output redirected into files; the tools are found from this program's own place in the build tree.
#include "tests/cli/process.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "package/embedded.h"

namespace {

std::wstring Wide(const std::string& s)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// One argument as the C runtime splits a command line: quotes around it, backslashes doubled before a quote.
std::wstring QuoteArg(const std::wstring& a)
{
    std::wstring r = L"\"";
    std::size_t slashes = 0;
    for (wchar_t c : a) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        r.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        r += c;
    }
    r.append(slashes * 2, L'\\');
    return r + L"\"";
}

HANDLE Inheritable(const std::string& file, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileW(Wide(file).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string Take(const std::string& file)
{
    std::string text;
    {
        std::ifstream f(file, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    std::remove(file.c_str());
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

} // namespace

TRun RunProgram(const std::string& Program, const std::vector<std::string>& Args, const std::string& OutFile,
                const std::string& ErrFile)
{
    std::wstring cmd = QuoteArg(Wide(Program));
    for (const std::string& a : Args)
        cmd += L" " + QuoteArg(Wide(a));
    TRun r;
    const HANDLE out = Inheritable(OutFile, GENERIC_WRITE, CREATE_ALWAYS);
    const HANDLE err = Inheritable(ErrFile, GENERIC_WRITE, CREATE_ALWAYS);
    const HANDLE in = Inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    // A run that never happened says why in its Err, so that a failing test shows the cause, not just Rc -1.
    std::string failure;
    if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE)
        failure = "RunProgram: cannot create " + (out == INVALID_HANDLE_VALUE ? OutFile : ErrFile) + " (error " +
                  std::to_string(GetLastError()) + ")";
    else if (!CreateProcessW(Wide(Program).c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                             &pi))
        failure = "RunProgram: cannot start " + Program + " (error " + std::to_string(GetLastError()) + ")";
    else {
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 0;
        if (GetExitCodeProcess(pi.hProcess, &code))
            r.Rc = static_cast<int>(code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    for (HANDLE h : {out, err, in})
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    r.Out = Take(OutFile);
    r.Err = Take(ErrFile);
    if (!failure.empty())
        r.Err = failure;
    return r;
}

std::string ToolsFolder()
{
    // <build>/tests/<folder>/<program>.exe -> <build>/bin
    std::string self = OwnExecutablePath();
    for (int up = 0; up < 3; ++up)
        self = self.substr(0, self.find_last_of("\\/") == std::string::npos ? 0 : self.find_last_of("\\/"));
    return self.empty() ? std::string() : self + "\\bin";
}

std::string ToolName(const std::string& Tool) { return Tool + ".exe"; }
