// Driving another process's updater window with window messages, and screenshots through the screen and WIC.
#include "tests/win32/window_driver.h"

#include "app/win32/win32_ids.h"

#include <wincodec.h>

#include <algorithm>
#include <vector>

TProcess::~TProcess()
{
    if (pi.hProcess) {
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(pi.hProcess, 99);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
}

bool TProcess::Start(const std::wstring& exe)
{
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    std::wstring cmd = L"\"" + exe + L"\"";
    return CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != FALSE;
}

long TProcess::Wait(int timeoutMs)
{
    if (WaitForSingleObject(pi.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    return static_cast<long>(code);
}

long RunAndWait(const std::wstring& commandLine, int timeoutMs, const std::wstring& outputFile)
{
    TProcess p;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    HANDLE out = INVALID_HANDLE_VALUE;
    if (!outputFile.empty()) {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        out = CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (out == INVALID_HANDLE_VALUE)
            return -1;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = out;
        si.hStdError = out;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    std::wstring cmd = commandLine;
    const BOOL started = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, out != INVALID_HANDLE_VALUE, 0,
                                        nullptr, nullptr, &si, &p.pi);
    if (out != INVALID_HANDLE_VALUE)
        CloseHandle(out); // the child holds its own copy
    return started ? p.Wait(timeoutMs) : -1;
}

std::wstring WinePath(const std::string& unixPath)
{
    std::wstring w = L"Z:";
    for (char c : unixPath)
        w += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return w;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs)
{
    const ULONGLONG start = GetTickCount64();
    while (!done()) {
        if (GetTickCount64() - start > static_cast<ULONGLONG>(timeoutMs))
            return false;
        Sleep(20);
    }
    return true;
}

HWND FindUpdaterWindow(DWORD pid)
{
    struct TSearch {
        DWORD pid;
        HWND found;
    } s{pid, nullptr};
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<TSearch*>(p);
            DWORD owner = 0;
            GetWindowThreadProcessId(h, &owner);
            wchar_t cls[64] = {};
            GetClassNameW(h, cls, 64);
            if (owner == s->pid && std::wstring(cls) == NERID_WINDOW_CLASS && IsWindowVisible(h)) {
                s->found = h;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

std::string TextOf(HWND h)
{
    wchar_t buf[1024] = {};
    SendMessageW(h, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf));
    const int n = WideCharToMultiByte(CP_UTF8, 0, buf, -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, buf, -1, s.data(), n, nullptr, nullptr);
    return s;
}

std::vector<HWND> RowCheckBoxes(HWND list)
{
    std::vector<HWND> boxes;
    EnumChildWindows(
        list,
        [](HWND h, LPARAM p) -> BOOL {
            if (GetDlgCtrlID(h) == IDC_ROWCHECK)
                reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&boxes));
    std::sort(boxes.begin(), boxes.end(), [](HWND a, HWND b) {
        RECT ra, rb;
        GetWindowRect(a, &ra);
        GetWindowRect(b, &rb);
        return ra.top < rb.top;
    });
    return boxes;
}

namespace {
const wchar_t kDesktopKey[] = L"Control Panel\\Desktop";
} // namespace

TScreenDpi::TScreenDpi(int dpi)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kDesktopKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    DWORD type = 0, size = sizeof(FOld);
    FHadValue = RegQueryValueExW(key, L"LogPixels", nullptr, &type, reinterpret_cast<BYTE*>(&FOld), &size) ==
                    ERROR_SUCCESS &&
                type == REG_DWORD;
    const DWORD value = static_cast<DWORD>(dpi);
    FSet = RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
           ERROR_SUCCESS;
    RegCloseKey(key);
}

TScreenDpi::~TScreenDpi()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return;
    if (FHadValue)
        RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&FOld), sizeof(FOld));
    else
        RegDeleteValueW(key, L"LogPixels");
    RegCloseKey(key);
}

RECT RectInParent(HWND h)
{
    RECT r{};
    GetWindowRect(h, &r);
    if (const HWND parent = GetParent(h))
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

namespace {

template <class T>
struct TCom {
    T* p = nullptr;
    ~TCom()
    {
        if (p)
            p->Release();
    }
};

} // namespace

namespace {

// What the screen shows of window h: top-down 32-bit BGRA rows, alpha opaque; empty when it cannot be read.
struct TCapture {
    int w = 0, h = 0;
    std::vector<BYTE> px;
};

TCapture Capture(HWND h)
{
    TCapture c;
    RECT r;
    if (!GetWindowRect(h, &r))
        return c;
    const int w = r.right - r.left, ht = r.bottom - r.top;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -ht;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, bmp);
    const bool copied = bmp && BitBlt(mem, 0, 0, w, ht, screen, r.left, r.top, SRCCOPY) != FALSE;
    SelectObject(mem, old);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    if (copied && bits) {
        const auto* p = static_cast<const BYTE*>(bits);
        c.w = w;
        c.h = ht;
        c.px.assign(p, p + static_cast<size_t>(w) * static_cast<size_t>(ht) * 4);
        for (size_t i = 3; i < c.px.size(); i += 4)
            c.px[i] = 255; // the screen has no alpha
    }
    if (bmp)
        DeleteObject(bmp);
    return c;
}

} // namespace

int CountScreenPixels(HWND h, COLORREF color)
{
    const TCapture c = Capture(h);
    int n = 0;
    for (size_t i = 0; i + 3 < c.px.size(); i += 4)
        if (RGB(c.px[i + 2], c.px[i + 1], c.px[i]) == color)
            ++n;
    return n;
}

RECT InkBounds(HWND h, COLORREF background)
{
    const TCapture c = Capture(h);
    RECT r{c.w, c.h, 0, 0};
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            const BYTE* p = &c.px[(static_cast<size_t>(y) * static_cast<size_t>(c.w) + static_cast<size_t>(x)) * 4];
            if (RGB(p[2], p[1], p[0]) != background) {
                r.left = std::min<LONG>(r.left, x);
                r.top = std::min<LONG>(r.top, y);
                r.right = std::max<LONG>(r.right, x + 1);
                r.bottom = std::max<LONG>(r.bottom, y + 1);
            }
        }
    return r.right > r.left ? r : RECT{};
}

bool SaveWindowShot(HWND h, const std::wstring& path)
{
    TCapture c = Capture(h);
    if (c.px.empty())
        return false;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    TCom<IWICImagingFactory> f;
    TCom<IWICStream> s;
    TCom<IWICBitmapEncoder> enc;
    TCom<IWICBitmapFrameEncode> frame;
    WICPixelFormatGUID fmt = GUID_WICPixelFormat32bppBGRA;
    return SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                      reinterpret_cast<void**>(&f.p))) &&
           SUCCEEDED(f.p->CreateStream(&s.p)) && SUCCEEDED(s.p->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
           SUCCEEDED(f.p->CreateEncoder(GUID_ContainerFormatPng, nullptr, &enc.p)) &&
           SUCCEEDED(enc.p->Initialize(s.p, WICBitmapEncoderNoCache)) &&
           SUCCEEDED(enc.p->CreateNewFrame(&frame.p, nullptr)) && SUCCEEDED(frame.p->Initialize(nullptr)) &&
           SUCCEEDED(frame.p->SetSize(static_cast<UINT>(c.w), static_cast<UINT>(c.h))) &&
           SUCCEEDED(frame.p->SetPixelFormat(&fmt)) && fmt == GUID_WICPixelFormat32bppBGRA &&
           SUCCEEDED(frame.p->WritePixels(static_cast<UINT>(c.h), static_cast<UINT>(c.w * 4),
                                          static_cast<UINT>(c.px.size()), c.px.data())) &&
           SUCCEEDED(frame.p->Commit()) && SUCCEEDED(enc.p->Commit());
}
