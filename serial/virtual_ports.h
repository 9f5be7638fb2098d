// Virtual serial ports for a device simulator (POSIX builds): pseudo-terminals are not in sysfs, so a simulator
// registers each of its pty slaves as a symlink in a per-user folder, and port discovery lists them.
//
//   folder:  $XDG_RUNTIME_DIR/nerid/ports, or /tmp/nerid-<uid>/ports when XDG_RUNTIME_DIR is unset or empty;
//            created with mode 0700. Discovery ignores the folder unless it belongs to the user and is mode 0700.
//   entry:   <folder>/<name> -> /dev/pts/<N>. Discovery lists the link path (the name the updater shows and opens)
//            only while the link resolves to a pty slave, so a planted link cannot point the updater at a disk.
//
// Typical use:  int m = posix_openpt(O_RDWR | O_NOCTTY); grantpt(m); unlockpt(m);
//               std::string port = RegisterVirtualPort("sim1", ptsname(m));   ...   UnregisterVirtualPort("sim1");
// Not synchronised: register and unregister from one thread of the simulator.
#pragma once

#include <string>

// The per-user folder (not created by this call).
std::string VirtualPortsFolder();
// Creates the folder when missing and links <folder>/pName to pPtsPath, replacing an older link of that name.
// pName: a plain file name (no '/', not "." or ".."); pPtsPath: /dev/pts/<N>, a character device.
// Returns the link path. Throws Exception on a bad name or target, an untrusted folder, or a system failure.
std::string RegisterVirtualPort(const std::string& pName, const std::string& pPtsPath);
// Removes the link; a missing link is not an error. Throws Exception on a bad name, an entry that is not a link,
// or a system failure.
void UnregisterVirtualPort(const std::string& pName);
