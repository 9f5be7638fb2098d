// Port discovery on fixture trees standing in for /sys and for the virtual-port folder.
#include "serial/posix/sysfs_ports.h"
#include "serial/virtual_ports.h"

#include "base/error.h"
#include "tests/serial/pty_peer.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Fixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/nerid-discovery-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
    }
    void TearDown() override { fs::remove_all(root); }
    void Put(const std::string& rel, const std::string& text)
    {
        fs::create_directories(fs::path(root + "/" + rel).parent_path());
        std::ofstream(root + "/" + rel) << text;
    }
    void Link(const std::string& rel, const std::string& target)
    {
        fs::create_directories(fs::path(root + "/" + rel).parent_path());
        fs::create_directory_symlink(target, root + "/" + rel);
    }
    // A sysfs-like tree: a legacy UART that is the console, one of unknown type, a USB adapter, a virtual console.
    // The tty names are made up (ttyNRS*, ttyNRU*) so that no name here can stand for a device of the machine;
    // discovery goes by the tree's links and attributes, never by a name's prefix.
    void BuildSys(const std::string& active)
    {
        Put("devices/platform/serial8250/tty/ttyNRS0/x", "");
        Put("devices/pci/usb1/1-1/product", "USB-Serial Cable\n");
        Put("devices/pci/usb1/1-1/1-1:1.0/interface", "FT232R USB UART\n");
        Put("devices/pci/usb1/1-1/1-1:1.0/ttyNRU0/latency_timer", "16\n");
        Put("bus/usb-serial/drivers/ftdi_sio/x", "");
        Link("devices/pci/usb1/1-1/1-1:1.0/ttyNRU0/driver", root + "/bus/usb-serial/drivers/ftdi_sio");
        Put("class/tty/ttyNRS0/type", "4\n");
        Link("class/tty/ttyNRS0/device", root + "/devices/platform/serial8250");
        Put("class/tty/ttyNRS1/type", "0\n");
        Link("class/tty/ttyNRS1/device", root + "/devices/platform/serial8250");
        Link("class/tty/ttyNRU0/device", root + "/devices/pci/usb1/1-1/1-1:1.0/ttyNRU0");
        Put("class/tty/tty0/dev", "4:0\n");
        Put("class/tty/console/active", active + "\n");
    }
    std::string root;
};

} // namespace

using SysfsDiscovery = Fixture;

TEST_F(SysfsDiscovery, ListsDevicesButNotTheConsoleOrUnknownUarts)
{
    BuildSys("tty0 ttyNRS0");
    EXPECT_EQ(ListSysfsPorts(root), (std::vector<std::string>{"/dev/ttyNRU0"}));
    Put("class/tty/console/active", "tty0\n");
    EXPECT_EQ(ListSysfsPorts(root), (std::vector<std::string>{"/dev/ttyNRS0", "/dev/ttyNRU0"}));
    EXPECT_TRUE(ListSysfsPorts(root + "/nowhere").empty());
}

TEST_F(SysfsDiscovery, InfoAndLatencyTimer)
{
    BuildSys("ttyNRS0");
    const APortsInfo info = ListSysfsPortsInfo(root);
    ASSERT_EQ(info.size(), 3u);
    const TPortInfo usb = FindPort(info, "/dev/ttyNRU0");
    EXPECT_EQ(usb.portType, 1);
    EXPECT_EQ(usb.portNumber, 0);
    EXPECT_EQ(usb.FN, "FT232R USB UART");
    EXPECT_EQ(usb.SV, "ftdi_sio");
    EXPECT_EQ(SysfsLatencyTimer(usb), 16u);
    const TPortInfo s1 = FindPort(info, "/dev/ttyNRS1");
    EXPECT_EQ(s1.portNumber, 1);
    try {
        SysfsLatencyTimer(s1);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Не удалось получить значение \"LatencyTimer\"");
    }
    try {
        FindPort(info, "COM7");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Порт \"COM7\" не найден.");
    }
    try {
        ListSysfsPortsInfo(root + "/nowhere");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Не удалось открыть \"" + root + "/nowhere/class/tty\"");
    }
}

class VirtualPorts : public Fixture {
protected:
    void SetUp() override
    {
        Fixture::SetUp();
        ports = root + "/ports";
        ASSERT_EQ(mkdir(ports.c_str(), 0700), 0);
    }
    std::string ports;
    PtyPeer pty;
};

TEST_F(VirtualPorts, OnlyLinksToPtySlavesInATrustedFolder)
{
    Put("plain.txt", "data");
    fs::create_symlink(pty.SlavePath(), ports + "/sim1");
    fs::create_symlink("/dev/null", ports + "/null");           // a character device, but not a pty
    fs::create_symlink(root + "/plain.txt", ports + "/file");   // not a device at all
    fs::create_symlink("/dev/pts/ptmx", ports + "/ptmx");       // under /dev/pts, but not a slave
    fs::create_symlink("/dev/pts/999999", ports + "/gone");     // dangling
    fs::create_symlink("/dev/sda", ports + "/disk");            // outside /dev/pts
    Put("ports/regular", "");
    EXPECT_EQ(ListVirtualPorts(ports, getuid()), (std::vector<std::string>{ports + "/sim1"}));

    EXPECT_TRUE(ListVirtualPorts(ports, getuid() + 1).empty());  // someone else's folder
    chmod(ports.c_str(), 0755);
    EXPECT_TRUE(ListVirtualPorts(ports, getuid()).empty());      // open to others
    chmod(ports.c_str(), 0700);
    fs::create_directory_symlink(ports, root + "/alias");
    EXPECT_TRUE(ListVirtualPorts(root + "/alias", getuid()).empty());  // the folder itself is a link
    EXPECT_TRUE(ListVirtualPorts(root + "/missing", getuid()).empty());
}

TEST_F(VirtualPorts, RegisterAndUnregisterForASimulator)
{
    setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
    EXPECT_EQ(VirtualPortsFolder(), root + "/nerid/ports");
    const std::string link = RegisterVirtualPort("sim1", pty.SlavePath());
    EXPECT_EQ(link, root + "/nerid/ports/sim1");
    struct stat st {};
    ASSERT_EQ(lstat(VirtualPortsFolder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    const auto listed = TBasicComPortCtrl::ListPorts();
    EXPECT_NE(std::find(listed.begin(), listed.end(), link), listed.end());
    // Registering again replaces the link; the port opens through it.
    EXPECT_EQ(RegisterVirtualPort("sim1", pty.SlavePath()), link);
    THandle h = TBasicComPortCtrl::Open(link, GENERIC_READ_WRITE);
    TBasicComPortCtrl::Close(h);

    for (const char* bad : {"", ".", "..", "a/b"})
        EXPECT_THROW(RegisterVirtualPort(bad, pty.SlavePath()), Exception) << bad;
    EXPECT_THROW(RegisterVirtualPort("sim2", "/dev/null"), Exception);
    EXPECT_THROW(RegisterVirtualPort("sim2", root + "/nerid"), Exception);

    UnregisterVirtualPort("sim1");
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    UnregisterVirtualPort("sim1");  // already gone: fine
    std::ofstream(VirtualPortsFolder() + "/notalink") << "x";
    EXPECT_THROW(UnregisterVirtualPort("notalink"), Exception);
    EXPECT_TRUE(fs::exists(VirtualPortsFolder() + "/notalink"));
    const auto after = TBasicComPortCtrl::ListPorts();
    EXPECT_EQ(std::find(after.begin(), after.end(), link), after.end());

    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(VirtualPortsFolder(), "/tmp/nerid-" + std::to_string(getuid()) + "/ports");
}

TEST_F(VirtualPorts, AnUntrustedFolderIsNotUsedForRegistration)
{
    setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
    fs::create_directories(root + "/nerid/ports");
    chmod((root + "/nerid/ports").c_str(), 0777);
    EXPECT_THROW(RegisterVirtualPort("sim1", pty.SlavePath()), Exception);
    EXPECT_FALSE(fs::exists(fs::symlink_status(root + "/nerid/ports/sim1")));
}
