// A port refused for lack of permission, and the group that would grant it, read from the device node.
#include "serial/port_access.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

std::string PortAccessGroup(const std::string& port)
{
    // Virtual ports are links: the permission is the target node's.
    struct stat st{};
    if (::stat(port.c_str(), &st) != 0)
        return {};
    if (::access(port.c_str(), R_OK | W_OK) == 0 || errno != EACCES)
        return {};
    std::vector<char> buffer(16384);
    group g{};
    group* found = nullptr;
    if (::getgrgid_r(st.st_gid, &g, buffer.data(), buffer.size(), &found) == 0 && found && found->gr_name)
        return found->gr_name;
    return std::to_string(st.st_gid);
}
