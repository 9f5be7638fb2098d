// Port discovery on the real registry: SERIALCOMM, the device tree walk (over a fixture device class of our own,
// where the system lets us write one), the driver values, and names that no port answers to. Opens no port but a
// missing one: the system's listed ports may include the kernel console's name under wine.
#include "tests/failure_text.h"
#include "tests/serial/win32/wine_check.h"

#include "serial/comport.h"

#include "base/error.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

namespace {

const std::vector<std::string> kPoolPorts = {"COM5", "COM6", "COM7", "COM8"};

bool Contains(const std::vector<std::string>& list, const std::string& name)
{
    return std::find(list.begin(), list.end(), name) != list.end();
}

} // namespace

TEST(Serialcomm, ListsTheMappedPoolPorts)
{
    if (!UnderWine())
        GTEST_SKIP() << "the pool ports COM5..COM8 are the wine harness's";
    const std::vector<std::string> ports = TBasicComPortCtrl::ListPorts();
    for (const std::string& p : kPoolPorts) {
        EXPECT_TRUE(Contains(ports, p)) << p;
        EXPECT_TRUE(TCustomComPortCtrl::IsRegistred(p)) << p;
        EXPECT_TRUE(TCustomComPortCtrl::IsRegistred("\\\\.\\" + p)) << p;  // numbers are compared
    }
    TCustomComPortCtrl closed;
    EXPECT_EQ(closed.PortState("com7"), 1);
    EXPECT_EQ(closed.PortState("COM200"), 0);
}

TEST(MissingPort, OpenGivesTheNotFoundText)
{
    EXPECT_EQ(ErrorOf([] { TBasicComPortCtrl::Open("\\\\.\\COM200", GENERIC_READ_WRITE); }),
              "TBasicComPortCtrl.Open(\\\\.\\COM200) >> Порт не найден.");
    TCustomComPortCtrl c;
    EXPECT_EQ(ErrorOf([&] { c.Open("com200"); }), "TBasicComPortCtrl.Open(\\\\.\\COM200) >> Порт не найден.");
    EXPECT_FALSE(c.Opened());
    EXPECT_EQ(c.PortName(), "COM200");
    EXPECT_FALSE(TCustomComPortCtrl::IsRegistred("COM200"));
}

TEST(SystemErrorText, CodeColonMessageWithoutTheFullStop)
{
    const std::string t = SystemErrorText(ERROR_FILE_NOT_FOUND);
    ASSERT_GT(t.size(), 3u);
    EXPECT_EQ(t.substr(0, 3), "2: ");
    EXPECT_NE(t.back(), '.');
    EXPECT_NE(t.back(), '\n');
    EXPECT_NE(t.back(), ' ');
    if (UnderWine())
        GTEST_SKIP() << "Windows only: wine words system messages differently";
    if (PRIMARYLANGID(GetUserDefaultUILanguage()) != LANG_ENGLISH)
        GTEST_SKIP() << "the exact text below is the English one";
    EXPECT_EQ(t, "2: The system cannot find the file specified");
    EXPECT_EQ(SystemErrorText(ERROR_ACCESS_DENIED), "5: Access is denied");
}

// A device class of our own under System\CurrentControlSet\Enum, removed afterwards. Windows keeps the device tree
// to the system; under wine the prefix's registry takes it.
class DeviceTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        enumerator = "NERIDTEST" + std::to_string(GetCurrentProcessId());
        base = "System\\CurrentControlSet\\Enum\\" + enumerator;
        if (!Key(base + "\\Port\\0000", true))
            GTEST_SKIP() << "the device tree is not writable here";
        // A present port with every value.
        Text("0000", "Class", "Ports");
        Text("0000", "FriendlyName", "Prüfport (COM77)");
        Text("0000", "Service", "nerid");
        Key(base + "\\Port\\0000\\Control");
        Text("0000\\Device Parameters", "PortName", "COM77");
        Dword("0000\\Device Parameters", "LatencyTimer", 16);
        Binary("0000\\Device Parameters", "ConfigData", ABytes{0x10, 0x00, 0x02, 0x00, 0x05});
        // An absent one (no Control).
        Text("0001", "Class", "ports");
        Text("0001\\Device Parameters", "PortName", "COM78");
        // A parallel port in another letter case.
        Text("0002", "Class", "pOrTs");
        Key(base + "\\Port\\0002\\Control");
        Text("0002\\Device Parameters", "PortName", "LPT9");
        // No port name.
        Text("0003", "Class", "Ports");
        Key(base + "\\Port\\0003\\Control");
        Key(base + "\\Port\\0003\\Device Parameters");
        // Not a port.
        Text("0004", "Class", "Display");
        Key(base + "\\Port\\0004\\Control");
        Text("0004\\Device Parameters", "PortName", "COM79");
    }
    void TearDown() override
    {
        if (!enumerator.empty())
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide(base).c_str());
    }

    static std::wstring Wide(const std::string& s)
    {
        const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
        std::wstring w(static_cast<std::size_t>(n), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
        return w;
    }
    static bool Key(const std::string& path, bool quiet = false)
    {
        HKEY k = nullptr;
        const bool ok = RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                        &k, nullptr) == ERROR_SUCCESS;
        if (ok)
            RegCloseKey(k);
        if (!quiet) {
            EXPECT_TRUE(ok) << path;
        }
        return ok;
    }
    void Set(const std::string& rel, const std::string& name, DWORD type, const void* data, DWORD bytes)
    {
        const std::string path = base + "\\Port\\" + rel;
        Key(path);
        ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, Wide(path).c_str(), Wide(name).c_str(), type, data, bytes),
                  ERROR_SUCCESS);
    }
    void Text(const std::string& rel, const std::string& name, const std::string& value)
    {
        const std::wstring w = Wide(value);
        Set(rel, name, REG_SZ, w.c_str(), static_cast<DWORD>((w.size() + 1) * sizeof(wchar_t)));
    }
    void Dword(const std::string& rel, const std::string& name, DWORD value)
    {
        Set(rel, name, REG_DWORD, &value, sizeof value);
    }
    void Binary(const std::string& rel, const std::string& name, const ABytes& value)
    {
        Set(rel, name, REG_BINARY, value.data(), static_cast<DWORD>(value.size()));
    }
    std::vector<TPortInfo> Ours()
    {
        std::vector<TPortInfo> out;
        for (const TPortInfo& p : TBasicComPortCtrl::ListPortsInfo())
            if (p.portRegPath.rfind(base + "\\", 0) == 0)
                out.push_back(p);
        return out;
    }

    std::string enumerator, base;
};

TEST_F(DeviceTree, WalkFindsPresentPortsWithTheirDetails)
{
    const std::vector<TPortInfo> ours = Ours();
    ASSERT_EQ(ours.size(), 3u);  // 0001 is absent, 0004 is no port
    EXPECT_EQ(ours[0].portRegPath, base + "\\Port\\0000");
    EXPECT_EQ(ours[0].portName, "COM77");
    EXPECT_EQ(ours[0].portType, 1);
    EXPECT_EQ(ours[0].portNumber, 77);
    EXPECT_EQ(ours[0].FN, "Prüfport (COM77)");
    EXPECT_EQ(ours[0].SV, "nerid");
    EXPECT_EQ(ours[1].portName, "LPT9");
    EXPECT_EQ(ours[1].portType, 2);
    EXPECT_EQ(ours[1].portNumber, 9);
    EXPECT_TRUE(ours[1].FN.empty());
    EXPECT_TRUE(ours[2].portName.empty());
    EXPECT_EQ(ours[2].portType, 0);
    EXPECT_EQ(ours[2].portNumber, 0);
}

TEST_F(DeviceTree, LookupsAndDriverValues)
{
    EXPECT_EQ(FindPortInfo("com77").portRegPath, base + "\\Port\\0000");
    EXPECT_EQ(FindPortInfo("77").portName, "COM77");
    EXPECT_EQ(ErrorOf([] { FindPortInfo("COM78"); }), "Порт \"COM78\" не найден.");
    EXPECT_EQ(ErrorOf([] { FindPortInfo("LPT9"); }), "TBasicComPortCtrl.CheckPortName >> Ошибка имени порта \"LPT9\"");
    EXPECT_EQ(TCustomComPortCtrl::LatencyTimer("COM77"), 16u);
    EXPECT_EQ(TCustomComPortCtrl::ConfigData("COM77"), (ABytes{0x10, 0x00, 0x02, 0x00, 0x05}));
    EXPECT_EQ(ErrorOf([] { TCustomComPortCtrl::LatencyTimer("COM78"); }), "Порт \"COM78\" не найден.");

    // A value of 64 bytes is read; a longer one is not.
    Binary("0000\\Device Parameters", "ConfigData", ABytes(64, 7));
    EXPECT_EQ(TCustomComPortCtrl::ConfigData("COM77"), ABytes(64, 7));
    Binary("0000\\Device Parameters", "ConfigData", ABytes(65, 7));
    EXPECT_NE(ErrorOf([] { TCustomComPortCtrl::ConfigData("COM77"); }), "<no failure>");
    // Missing values.
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, Wide(base + "\\Port\\0000\\Device Parameters").c_str(), L"LatencyTimer");
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, Wide(base + "\\Port\\0000\\Device Parameters").c_str(), L"ConfigData");
    EXPECT_EQ(ErrorOf([] { TCustomComPortCtrl::LatencyTimer("COM77"); }),
              "Не удалось получить значение \"LatencyTimer\"");
    EXPECT_EQ(ErrorOf([] { TCustomComPortCtrl::ConfigData("COM77"); }), "Не удалось получить значение \"ConfigData\"");
}

TEST(DeviceTreeOfTheSystem, ListsEveryPortTheSystemRegistered)
{
    if (UnderWine())
        GTEST_SKIP() << "Windows only: wine's device tree has no ports";
    // Every serial port in the device tree is a COM name SERIALCOMM also lists (present devices only).
    const std::vector<std::string> listed = TBasicComPortCtrl::ListPorts();
    for (const TPortInfo& p : TBasicComPortCtrl::ListPortsInfo())
        if (p.portType == 1) {
            EXPECT_TRUE(TCustomComPortCtrl::IsRegistred(p.portName, [&] { return listed; })) << p.portName;
        }
}
