// The per-user virtual-port folder of a device simulator (see serial/virtual_ports.h).
#include "serial/virtual_ports.h"

#include "base/error.h"
#include "serial/comport.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Base()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime)
        return std::string(runtime) + "/nerid";
    return "/tmp/nerid-" + std::to_string(getuid());
}

[[noreturn]] void Fail(const std::string& what, const std::string& why)
{
    throw Exception(what + " >> " + why);
}

void CheckName(const char* op, const std::string& pName)
{
    if (pName.empty() || pName == "." || pName == ".." || pName.find('/') != std::string::npos)
        Fail(op, "недопустимое имя порта \"" + pName + "\"");
}

// Creates a folder 0700 or accepts an existing one that is ours, a real directory and closed to others.
void OwnFolder(const char* op, const std::string& folder)
{
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        Fail(op, folder + ": " + SystemErrorText(errno));
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0)
        Fail(op, folder + ": " + SystemErrorText(errno));
    if (!S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 07777) != 0700)
        Fail(op, "папка " + folder + " не принадлежит пользователю или открыта другим");
}

} // namespace

std::string VirtualPortsFolder() { return Base() + "/ports"; }

std::string RegisterVirtualPort(const std::string& pName, const std::string& pPtsPath)
{
    const char* op = "RegisterVirtualPort";
    CheckName(op, pName);
    struct stat ts {};
    if (pPtsPath.rfind("/dev/pts/", 0) != 0 || stat(pPtsPath.c_str(), &ts) != 0 || !S_ISCHR(ts.st_mode))
        Fail(op, "\"" + pPtsPath + "\" не является псевдотерминалом");
    const std::string base = Base();
    if (std::getenv("XDG_RUNTIME_DIR") && *std::getenv("XDG_RUNTIME_DIR")) {
        if (mkdir(base.c_str(), 0700) != 0 && errno != EEXIST)
            Fail(op, base + ": " + SystemErrorText(errno));
    } else {
        OwnFolder(op, base);  // /tmp is shared: the parent must be ours too
    }
    const std::string folder = VirtualPortsFolder();
    OwnFolder(op, folder);
    const std::string link = folder + "/" + pName;
    struct stat ls {};
    if (lstat(link.c_str(), &ls) == 0) {
        if (!S_ISLNK(ls.st_mode))
            Fail(op, link + " уже существует и не является ссылкой");
        if (unlink(link.c_str()) != 0)
            Fail(op, link + ": " + SystemErrorText(errno));
    }
    if (symlink(pPtsPath.c_str(), link.c_str()) != 0)
        Fail(op, link + ": " + SystemErrorText(errno));
    return link;
}

void UnregisterVirtualPort(const std::string& pName)
{
    const char* op = "UnregisterVirtualPort";
    CheckName(op, pName);
    const std::string link = VirtualPortsFolder() + "/" + pName;
    struct stat ls {};
    if (lstat(link.c_str(), &ls) != 0) {
        if (errno == ENOENT)
            return;
        Fail(op, link + ": " + SystemErrorText(errno));
    }
    if (!S_ISLNK(ls.st_mode))
        Fail(op, link + " не является ссылкой");  // only what a registration made is removed
    if (unlink(link.c_str()) != 0 && errno != ENOENT)
        Fail(op, link + ": " + SystemErrorText(errno));
}
