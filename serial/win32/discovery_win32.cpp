// Windows port discovery from the registry, read-only under HKEY_LOCAL_MACHINE: the port list from
// HARDWARE\DEVICEMAP\SERIALCOMM, the device tree walk of System\CurrentControlSet\Enum, and a port's driver values
// ("LatencyTimer", "ConfigData") from its instance's "Device Parameters".
#include "serial/win32/win32_api.h"

#include "serial/comport.h"

#include "base/error.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

const char kEnum[] = "System\\CurrentControlSet\\Enum";

// One open registry key, read-only; closed with the object.
class TRegKey {
public:
    TRegKey() = default;
    ~TRegKey() { Close(); }
    TRegKey(const TRegKey&) = delete;
    TRegKey& operator=(const TRegKey&) = delete;

    bool Open(HKEY parent, const std::string& path)
    {
        Close();
        if (RegOpenKeyExW(parent, Widen(path).c_str(), 0, KEY_READ, &FKey) == ERROR_SUCCESS)
            return true;
        FKey = nullptr;
        return false;
    }
    void Close()
    {
        if (FKey != nullptr)
            RegCloseKey(FKey);
        FKey = nullptr;
    }
    HKEY Key() const { return FKey; }

    std::vector<std::string> SubKeys() const
    {
        std::vector<std::string> out;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];  // key names are at most 255 characters
            DWORD len = 256;
            const LSTATUS rc = RegEnumKeyExW(FKey, i, name, &len, nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_NO_MORE_ITEMS)
                break;
            if (rc == ERROR_SUCCESS)
                out.push_back(Narrow(std::wstring(name, len)));
            else if (rc != ERROR_MORE_DATA)
                break;
        }
        return out;
    }

    bool HasValue(const std::string& name) const
    {
        return RegQueryValueExW(FKey, Widen(name).c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }

    bool HasSubKey(const std::string& name) const
    {
        TRegKey sub;
        return sub.Open(FKey, name);
    }

    // A text value; empty when missing. Another type fails like the registry reports it.
    std::string ReadString(const std::string& name) const
    {
        const std::wstring wname = Widen(name);
        DWORD type = 0, bytes = 0;
        if (RegQueryValueExW(FKey, wname.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS)
            return {};
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            throw Exception("Invalid data type for '" + name + "'");
        std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        if (RegQueryValueExW(FKey, wname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes) !=
            ERROR_SUCCESS)
            return {};
        data.resize(bytes / sizeof(wchar_t));
        // Stored text may or may not carry its terminating zero.
        data.resize(std::wstring(data.c_str()).size());
        return Narrow(data);
    }

private:
    HKEY FKey = nullptr;
};

std::string Upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

// The decimal digits of a name taken together; 0 when none or too large for 32 bits.
std::int32_t DigitsOf(const std::string& name)
{
    std::int64_t v = 0;
    bool any = false;
    for (char c : name) {
        if (c < '0' || c > '9')
            continue;
        any = true;
        v = v * 10 + (c - '0');
        if (v > 0x7FFFFFFF)
            return 0;
    }
    return any ? static_cast<std::int32_t>(v) : 0;
}

void OpenOrFail(TRegKey& key, const std::string& path)
{
    if (!key.Open(HKEY_LOCAL_MACHINE, path))
        throw Exception("Не удалось открыть \"" + path + "\"");
}

// A port's "Device Parameters" key, found through the device tree.
bool OpenDeviceParameters(TRegKey& key, const std::string& pName)
{
    const TPortInfo info = FindPortInfo(pName);
    return key.Open(HKEY_LOCAL_MACHINE, info.portRegPath + "\\Device Parameters");
}

} // namespace

std::vector<std::string> TBasicComPortCtrl::ListPorts()
{
    std::vector<std::string> out;
    TRegKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM"))
        return out;
    DWORD maxName = 0, maxData = 0;
    if (RegQueryInfoKeyW(key.Key(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return out;
    std::vector<wchar_t> name(maxName + 1);
    std::vector<wchar_t> data(maxData / sizeof(wchar_t) + 1);
    for (DWORD i = 0;; ++i) {
        DWORD nameLen = static_cast<DWORD>(name.size());
        DWORD dataBytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        DWORD type = 0;
        const LSTATUS rc = RegEnumValueW(key.Key(), i, name.data(), &nameLen, nullptr, &type,
                                         reinterpret_cast<BYTE*>(data.data()), &dataBytes);
        if (rc != ERROR_SUCCESS)
            break;  // no more values, or the key changed under us: list what was read
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            continue;
        const std::wstring text(data.data(), dataBytes / sizeof(wchar_t));
        out.push_back(Narrow(std::wstring(text.c_str())));
    }
    return out;
}

APortsInfo TBasicComPortCtrl::ListPortsInfo()
{
    APortsInfo out;
    TRegKey key;
    OpenOrFail(key, kEnum);
    for (const std::string& e : key.SubKeys()) {
        const std::string k1 = std::string(kEnum) + "\\" + e;
        OpenOrFail(key, k1);
        for (const std::string& d : key.SubKeys()) {
            const std::string k2 = k1 + "\\" + d;
            OpenOrFail(key, k2);
            for (const std::string& i : key.SubKeys()) {
                const std::string k3 = k2 + "\\" + i;
                TRegKey inst;
                OpenOrFail(inst, k3);
                // "Control" is there while the device is present: absent devices are skipped.
                if (!inst.HasValue("Class") || Upper(inst.ReadString("Class")) != "PORTS" ||
                    !inst.HasSubKey("Device Parameters") || !inst.HasSubKey("Control"))
                    continue;
                TPortInfo p;
                p.FN = inst.ReadString("FriendlyName");
                p.SV = inst.ReadString("Service");
                TRegKey params;
                if (params.Open(inst.Key(), "Device Parameters"))
                    p.portName = params.ReadString("PortName");
                const std::string upper = Upper(p.portName);
                p.portType = static_cast<std::uint8_t>((upper.find("COM") != std::string::npos ? 1 : 0) |
                                                       (upper.find("LPT") != std::string::npos ? 2 : 0));
                p.portRegPath = k3;
                p.portNumber = DigitsOf(p.portName);
                out.push_back(p);
            }
        }
    }
    return out;
}

std::uint32_t TCustomComPortCtrl::LatencyTimer(const std::string& pName)
{
    TRegKey key;
    if (!OpenDeviceParameters(key, pName))
        throw Exception("Не удалось получить значение \"LatencyTimer\"");
    DWORD type = 0, value = 0, bytes = sizeof value;
    const LSTATUS rc =
        RegQueryValueExW(key.Key(), L"LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes);
    if (rc == ERROR_FILE_NOT_FOUND)
        throw Exception("Не удалось получить значение \"LatencyTimer\"");
    if ((rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) || type != REG_DWORD)
        throw Exception("Invalid data type for 'LatencyTimer'");
    return value;
}

ABytes TCustomComPortCtrl::ConfigData(const std::string& pName)
{
    TRegKey key;
    if (!OpenDeviceParameters(key, pName))
        throw Exception("Не удалось получить значение \"ConfigData\"");
    ABytes data(64);
    DWORD type = 0, bytes = static_cast<DWORD>(data.size());
    const LSTATUS rc = RegQueryValueExW(key.Key(), L"ConfigData", nullptr, &type, data.data(), &bytes);
    if (rc == ERROR_FILE_NOT_FOUND)
        throw Exception("Не удалось получить значение \"ConfigData\"");
    // Longer than 64 bytes (ERROR_MORE_DATA) or not binary: not a value this code can read.
    if (rc != ERROR_SUCCESS || type != REG_BINARY)
        throw Exception("Invalid data type for 'ConfigData'");
    data.resize(bytes);
    return data;
}
