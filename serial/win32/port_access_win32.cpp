// Windows has no owner group of a port: a port another user may not open reads as busy, as the spec's texts say.
#include "serial/port_access.h"

std::string PortAccessGroup(const std::string&)
{
    return {};
}
