// Windows has no owner group of a port: a port another user may not open reads as busy, in the port layer's own texts.
#include "serial/port_access.h"

std::string PortAccessGroup(const std::string&)
{
    return {};
}
