// The wine harness's COM ports: a pool port reaches the pseudo-terminal behind it in both directions, the registry
// lists it, and an unmapped port is not found. Started by dev/wine/with_com_port.py, whose peer inverts every byte.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); } // COM names are ASCII

// The port the wrapper connected, or "" when the program runs without it.
std::string MappedPort()
{
    const char* p = std::getenv("NERID_TEST_COM_PORT");
    return p ? p : "";
}

class MappedComPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        port_ = MappedPort();
        if (port_.empty())
            GTEST_SKIP() << "needs a COM port connected by dev/wine/with_com_port.py";
    }
    std::string port_;
};

struct Handle {
    HANDLE h;
    ~Handle()
    {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
};

TEST_F(MappedComPort, BytesTravelBothWays)
{
    Handle port{CreateFileW((L"\\\\.\\" + Widen(port_)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr)};
    ASSERT_NE(port.h, INVALID_HANDLE_VALUE) << "error " << GetLastError();

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port.h, &dcb)) << GetLastError();
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutX = dcb.fInX = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    ASSERT_TRUE(SetCommState(port.h, &dcb)) << GetLastError();
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutConstant = 3000;
    ASSERT_TRUE(SetCommTimeouts(port.h, &timeouts)) << GetLastError();

    // Every byte value, control characters included: a line that edits or translates them fails here.
    std::vector<unsigned char> sent(256);
    for (int i = 0; i < 256; ++i)
        sent[i] = static_cast<unsigned char>(i);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port.h, sent.data(), static_cast<DWORD>(sent.size()), &written, nullptr)) << GetLastError();
    ASSERT_EQ(written, sent.size());

    std::vector<unsigned char> got;
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (got.size() < sent.size() && GetTickCount64() < deadline) {
        unsigned char buf[256];
        DWORD n = 0;
        ASSERT_TRUE(ReadFile(port.h, buf, static_cast<DWORD>(sent.size() - got.size()), &n, nullptr))
            << GetLastError();
        got.insert(got.end(), buf, buf + n);
    }
    ASSERT_EQ(got.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i)
        EXPECT_EQ(got[i], sent[i] ^ 0xFF) << "byte " << i;
}

TEST_F(MappedComPort, SerialcommListsIt)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key), ERROR_SUCCESS);
    std::vector<std::wstring> names;
    for (DWORD i = 0;; ++i) {
        wchar_t value[256];
        wchar_t data[256];
        DWORD valueLen = 256, dataBytes = sizeof data, type = 0;
        if (RegEnumValueW(key, i, value, &valueLen, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataBytes) !=
            ERROR_SUCCESS)
            break;
        if (type == REG_SZ)
            names.emplace_back(data, wcsnlen(data, dataBytes / sizeof(wchar_t)));
    }
    RegCloseKey(key);
    bool listed = false;
    for (const std::wstring& n : names)
        listed = listed || n == Widen(port_);
    EXPECT_TRUE(listed) << port_ << " is not in SERIALCOMM";
}

TEST(UnmappedComPort, IsNotFound)
{
    // No harness maps COM200: opening it must fail as a missing device, not hang or reach some other port.
    Handle port{CreateFileW(L"\\\\.\\COM200", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)};
    const DWORD error = GetLastError();
    ASSERT_EQ(port.h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

} // namespace
