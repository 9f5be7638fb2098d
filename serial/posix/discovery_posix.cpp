// Linux port discovery: sysfs ttys plus the trusted virtual-port folder; driver values from sysfs.
#include "serial/posix/sysfs_ports.h"
#include "serial/virtual_ports.h"

#include "base/error.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool Exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// First line of a small sysfs attribute, trimmed; empty when missing.
std::string ReadAttr(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    return line;
}

// Entry names of a folder, sorted; false when it cannot be opened.
bool ListFolder(const std::string& folder, std::vector<std::string>& names)
{
    DIR* d = opendir(folder.c_str());
    if (!d)
        return false;
    while (const dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..")
            names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return true;
}

std::set<std::string> ActiveConsoles(const std::string& ttyFolder)
{
    std::istringstream words(ReadAttr(ttyFolder + "/console/active"));
    std::set<std::string> out;
    for (std::string w; words >> w;)
        out.insert(w);
    return out;
}

bool IsUnknownUart(const std::string& ttyEntry)
{
    // Serial-core ports publish their UART type; 0 means no UART was detected behind a legacy port.
    const std::string type = ReadAttr(ttyEntry + "/type");
    return !type.empty() && type == "0";
}

std::int32_t DigitsOf(const std::string& name)
{
    std::string digits;
    for (char c : name)
        if (c >= '0' && c <= '9')
            digits += c;
    if (digits.empty() || digits.size() > 10)
        return 0;
    const long long v = std::stoll(digits);
    return v > INT32_MAX ? 0 : static_cast<std::int32_t>(v);
}

std::string LinkBase(const std::string& link)
{
    char buf[PATH_MAX];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    const std::string target(buf, static_cast<std::size_t>(n));
    const auto slash = target.rfind('/');
    return slash == std::string::npos ? target : target.substr(slash + 1);
}

} // namespace

std::vector<std::string> ListSysfsPorts(const std::string& pSysRoot)
{
    const std::string ttyFolder = pSysRoot + "/class/tty";
    std::vector<std::string> names, out;
    if (!ListFolder(ttyFolder, names))
        return out;
    const std::set<std::string> consoles = ActiveConsoles(ttyFolder);
    for (const std::string& n : names) {
        const std::string entry = ttyFolder + "/" + n;
        if (!Exists(entry + "/device") || consoles.count(n) || IsUnknownUart(entry))
            continue;
        out.push_back("/dev/" + n);
    }
    return out;
}

APortsInfo ListSysfsPortsInfo(const std::string& pSysRoot)
{
    const std::string ttyFolder = pSysRoot + "/class/tty";
    std::vector<std::string> names;
    if (!ListFolder(ttyFolder, names))
        throw Exception("Не удалось открыть \"" + ttyFolder + "\"");
    APortsInfo out;
    for (const std::string& n : names) {
        const std::string device = ttyFolder + "/" + n + "/device";
        if (!Exists(device))
            continue;
        TPortInfo p;
        p.portType = 1;
        p.portName = "/dev/" + n;
        p.portNumber = DigitsOf(n);
        p.portRegPath = device;
        p.FN = ReadAttr(device + "/../interface");
        if (p.FN.empty())
            p.FN = ReadAttr(device + "/../../product");
        p.SV = LinkBase(device + "/driver");
        out.push_back(p);
    }
    return out;
}

std::uint32_t SysfsLatencyTimer(const TPortInfo& pInfo)
{
    const std::string text = ReadAttr(pInfo.portRegPath + "/latency_timer");
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        throw Exception("Не удалось получить значение \"LatencyTimer\"");
    return static_cast<std::uint32_t>(std::stoul(text));
}

std::vector<std::string> ListVirtualPorts(const std::string& pFolder, uid_t pUid)
{
    std::vector<std::string> out;
    struct stat st {};
    if (lstat(pFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != pUid || (st.st_mode & 07777) != 0700)
        return out;
    std::vector<std::string> names;
    if (!ListFolder(pFolder, names))
        return out;
    for (const std::string& n : names) {
        const std::string link = pFolder + "/" + n;
        struct stat ls {};
        if (lstat(link.c_str(), &ls) != 0 || !S_ISLNK(ls.st_mode))
            continue;
        char resolved[PATH_MAX];
        if (!realpath(link.c_str(), resolved))
            continue;
        const std::string target = resolved;
        const std::string prefix = "/dev/pts/";
        if (target.rfind(prefix, 0) != 0 || target.size() == prefix.size() ||
            !std::all_of(target.begin() + static_cast<std::ptrdiff_t>(prefix.size()), target.end(),
                         [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        struct stat ts {};
        if (stat(target.c_str(), &ts) != 0 || !S_ISCHR(ts.st_mode))
            continue;
        out.push_back(link);
    }
    return out;
}

std::vector<std::string> TBasicComPortCtrl::ListPorts()
{
    std::vector<std::string> out = ListSysfsPorts("/sys");
    for (std::string& v : ListVirtualPorts(VirtualPortsFolder(), getuid()))
        out.push_back(std::move(v));
    return out;
}

APortsInfo TBasicComPortCtrl::ListPortsInfo() { return ListSysfsPortsInfo("/sys"); }

std::uint32_t TCustomComPortCtrl::LatencyTimer(const std::string& pName)
{
    return SysfsLatencyTimer(FindPortInfo(pName));
}

ABytes TCustomComPortCtrl::ConfigData(const std::string& pName)
{
    FindPortInfo(pName);
    // Linux drivers publish no packed configuration block.
    throw Exception("Не удалось получить значение \"ConfigData\"");
}
