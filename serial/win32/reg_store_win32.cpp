// The key store behind TCPCSetup::RegSave/RegLoad on Windows: the real registry (REG_DWORD values).
#include "serial/win32/win32_api.h"

#include "serial/reg_store.h"

#include "base/error.h"

namespace {

class TWinKey : public TRegStoreKey {
public:
    explicit TWinKey(HKEY key) : FKey(key) {}
    ~TWinKey() override { RegCloseKey(FKey); }
    TWinKey(const TWinKey&) = delete;
    TWinKey& operator=(const TWinKey&) = delete;

    bool ValueExists(const std::string& pName) const override
    {
        return RegQueryValueExW(FKey, Widen(pName).c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }

    std::uint32_t ReadInteger(const std::string& pName) const override
    {
        DWORD type = 0, value = 0, bytes = sizeof value;
        const LSTATUS rc =
            RegQueryValueExW(FKey, Widen(pName).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes);
        if (rc != ERROR_SUCCESS || type != REG_DWORD || bytes != sizeof value)
            throw Exception("Invalid data type for '" + pName + "'");
        return value;
    }

    void WriteInteger(const std::string& pName, std::uint32_t pValue) override
    {
        const DWORD value = pValue;
        if (RegSetValueExW(FKey, Widen(pName).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                           sizeof value) != ERROR_SUCCESS)
            throw Exception("Failed to set data for '" + pName + "'");
    }

private:
    HKEY FKey;
};

} // namespace

std::unique_ptr<TRegStoreKey> RegOpenOrCreateKey(TRegRoot pRoot, const std::string& pPath)
{
    const HKEY root = pRoot == TRegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, Widen(pPath).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return std::make_unique<TWinKey>(key);
}
