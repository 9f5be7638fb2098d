// Drives the updater's window of another process from outside, the way a user would, with window messages only:
// finding the window, reading texts, clicking, listing the rows, and photographing it from the screen.
// Threading: any thread of the driving process; every call returns (none waits unless it says so).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// A started program; the destructor ends it if it is still running.
struct TProcess {
    PROCESS_INFORMATION pi{};
    ~TProcess();
    // Starts `exe` (a Windows path) with no arguments; false when it cannot be started.
    bool Start(const std::wstring& exe);
    // Waits up to timeoutMs for the program to end; its exit code, or -1 when it is still running.
    long Wait(int timeoutMs);
};

// Runs a command line and waits for it; its exit code, or -1 when it could not start. With outputFile, the program's
// standard output and error go to that file (a file, not a console: bytes as the program writes them).
long RunAndWait(const std::wstring& commandLine, int timeoutMs, const std::wstring& outputFile = L"");

// "Z:" + the Unix path with backslashes: how wine reaches a host path.
std::wstring WinePath(const std::string& unixPath);

// Polls done() every 20 ms until it is true or timeoutMs has passed; returns done().
bool WaitFor(const std::function<bool()>& done, int timeoutMs);

// The visible updater window of process `pid`, or nullptr.
HWND FindUpdaterWindow(DWORD pid);

// The text of a window (WM_GETTEXT, also across processes), as UTF-8.
std::string TextOf(HWND h);

// The row check boxes of the device list, top row first.
std::vector<HWND> RowCheckBoxes(HWND list);

// How many pixels of exactly `color` the screen shows inside window h (its texts drawn in that colour, say).
int CountScreenPixels(HWND h, COLORREF color);

// The screen's dots per inch for programs started while this object lives: the `LogPixels` value of
// HKCU\Control Panel\Desktop, which a process reads when it starts. The destructor puts back the value there was (or
// removes it again).
class TScreenDpi {
public:
    explicit TScreenDpi(int dpi);
    ~TScreenDpi();
    TScreenDpi(const TScreenDpi&) = delete;
    TScreenDpi& operator=(const TScreenDpi&) = delete;
    bool Set() const { return FSet; }

private:
    bool FSet = false, FHadValue = false;
    DWORD FOld = 0;
};

// Window h's rectangle in its parent's client coordinates (the screen's for a top-level window), in physical pixels.
RECT RectInParent(HWND h);

// The smallest rectangle (in h's window coordinates) holding every pixel the screen shows inside window h in a colour
// other than `background`: where its text or picture is drawn. Empty when there is none.
RECT InkBounds(HWND h, COLORREF background);

// Saves what the screen shows of window `h` (frame included) as a PNG file; false on failure.
bool SaveWindowShot(HWND h, const std::wstring& path);
