// The Linux key store: a key is a folder under <config>/nerid/registry/<root>, its values one text file
// "values.txt" in it, one "name=dword:<decimal>" (or another type tag) per line. Names match without regard to case.
#include "serial/reg_store.h"

#include "base/error.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <strings.h>
#include <sys/stat.h>
#include <vector>

namespace {

std::string StoreFolder(TRegRoot root)
{
    const char* cfg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (cfg && *cfg)
        base = cfg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        return {};
    return base + "/nerid/registry/" + (root == TRegRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE");
}

bool MakeFolder(const std::string& path)
{
    struct stat st {};
    if (mkdir(path.c_str(), 0700) == 0)
        return true;
    return errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct Value {
    std::string Name, Type, Data;
};

class TFileKey : public TRegStoreKey {
public:
    explicit TFileKey(std::string file) : FFile(std::move(file))
    {
        std::ifstream in(FFile);
        for (std::string line; std::getline(in, line);) {
            const auto eq = line.find('=');
            const auto colon = line.find(':', eq == std::string::npos ? 0 : eq);
            if (eq == std::string::npos || colon == std::string::npos)
                continue;
            FValues.push_back({line.substr(0, eq), line.substr(eq + 1, colon - eq - 1), line.substr(colon + 1)});
        }
    }

    bool ValueExists(const std::string& pName) const override { return Find(pName) != nullptr; }

    std::uint32_t ReadInteger(const std::string& pName) const override
    {
        const Value* v = Find(pName);
        char* end = nullptr;
        const unsigned long long n = v && v->Type == "dword" ? std::strtoull(v->Data.c_str(), &end, 10) : 0;
        if (!v || v->Type != "dword" || v->Data.empty() || *end != '\0' || n > 0xFFFFFFFFull)
            throw Exception("Invalid data type for '" + pName + "'");
        return static_cast<std::uint32_t>(n);
    }

    void WriteInteger(const std::string& pName, std::uint32_t pValue) override
    {
        if (Value* v = Find(pName)) {
            v->Type = "dword";
            v->Data = std::to_string(pValue);
        } else {
            FValues.push_back({pName, "dword", std::to_string(pValue)});
        }
        const std::string tmp = FFile + ".tmp";
        bool ok;
        {
            std::ofstream out(tmp, std::ios::trunc);
            for (const Value& v : FValues)
                out << v.Name << '=' << v.Type << ':' << v.Data << '\n';
            out.flush();
            ok = static_cast<bool>(out);
        }
        if (!ok || std::rename(tmp.c_str(), FFile.c_str()) != 0) {
            std::remove(tmp.c_str());
            throw Exception("Failed to set data for '" + pName + "'");
        }
    }

private:
    const Value* Find(const std::string& n) const
    {
        for (const Value& v : FValues)
            if (strcasecmp(v.Name.c_str(), n.c_str()) == 0)
                return &v;
        return nullptr;
    }
    Value* Find(const std::string& n) { return const_cast<Value*>(static_cast<const TFileKey*>(this)->Find(n)); }

    std::string FFile;
    std::vector<Value> FValues;
};

} // namespace

std::unique_ptr<TRegStoreKey> RegOpenOrCreateKey(TRegRoot pRoot, const std::string& pPath)
{
    std::string folder = StoreFolder(pRoot);
    if (folder.empty())
        return nullptr;
    // Create the chain <config>/nerid/registry/<root>, then one folder per path segment.
    for (std::size_t i = 1; i <= folder.size(); ++i)
        if ((i == folder.size() || folder[i] == '/') && !MakeFolder(folder.substr(0, i)))
            return nullptr;
    std::size_t start = 0;
    while (start <= pPath.size()) {
        std::size_t end = pPath.find('\\', start);
        if (end == std::string::npos)
            end = pPath.size();
        const std::string seg = pPath.substr(start, end - start);
        if (seg == "." || seg == ".." || seg.find('/') != std::string::npos)
            return nullptr;
        if (!seg.empty()) {
            folder += "/" + seg;
            if (!MakeFolder(folder))
                return nullptr;
        }
        start = end + 1;
    }
    return std::make_unique<TFileKey>(folder + "/values.txt");
}
