// Whether this user may open a port at all: on Linux a serial port node usually belongs to a group (dialout, uucp)
// that a new user is not in, and the kernel refuses the open. Any thread; reads the file system only.
#pragma once

#include <string>

// The group that owns the port's device node (its name, else its number) when this process lacks the permission to
// open it for reading and writing; empty when it has the permission, when the node does not exist, and on Windows
// (which has no such owner group: a refused port shows there as busy).
std::string PortAccessGroup(const std::string& port);
