// Linux port discovery, with its roots as parameters so fixture trees can stand in for /sys and the per-user
// virtual-port folder. Reads the file system only; never opens a port. Safe from any thread.
#pragma once

#include "serial/comport.h"

#include <string>
#include <sys/types.h>
#include <vector>

// /dev/<name> of every tty under <pSysRoot>/class/tty with a "device" link, sorted by name, except the active
// kernel console (<pSysRoot>/class/tty/console/active) and serial-core ports whose "type" is 0 (no UART behind it).
std::vector<std::string> ListSysfsPorts(const std::string& pSysRoot);
// The same ttys (console and unknown UARTs included) with their driver details: portType 1, portRegPath the
// device folder, FN the USB interface or product name, SV the driver. Fails with "Не удалось открыть "<folder>"".
APortsInfo ListSysfsPortsInfo(const std::string& pSysRoot);
// "latency_timer" of the port's device folder (USB-serial adapters); throws when missing or not a number.
std::uint32_t SysfsLatencyTimer(const TPortInfo& pInfo);
// The links of a virtual-port folder that may be opened: only when the folder is a real directory owned by pUid
// with mode 0700, and only links that resolve to a character device /dev/pts/<N>. Sorted by name.
std::vector<std::string> ListVirtualPorts(const std::string& pFolder, uid_t pUid);
