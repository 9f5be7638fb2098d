// POSIX (Linux) port primitives: termios2 on the device node, flock + TIOCEXCL for exclusive use, FIONREAD/TIOCOUTQ
// for the queues, TCFLSH for purging. COMMTIMEOUTS have no termios equivalent: they are kept per handle here and
// applied by Read/Write themselves (the node is opened non-blocking with VMIN = VTIME = 0).
#include "serial/comport.h"

#include "base/error.h"
#include "base/format.h"

#include <asm/termbits.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kGenericRead = 0x80000000u, kGenericWrite = 0x40000000u;

// Time-outs of each open handle; new handles start with immediate-return reads and no write time-out.
struct TTimeoutTable {
    std::mutex lock;
    std::map<int, COMMTIMEOUTS> table;
};

// Never destroyed: a detached worker may still close its port while the process runs its static destructors.
TTimeoutTable& Timeouts()
{
    union TImmortal {
        TTimeoutTable t;
        TImmortal() : t() {}
        ~TImmortal() {} // deliberately leaves the table alive
    };
    static TImmortal holder;
    return holder.t;
}

COMMTIMEOUTS TimeoutsOf(int fd)
{
    std::lock_guard<std::mutex> lock(Timeouts().lock);
    const auto it = Timeouts().table.find(fd);
    return it == Timeouts().table.end() ? COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0} : it->second;
}

int Fd(THandle h) { return static_cast<int>(h); }

[[noreturn]] void Fail(const char* what, const char* description, int err)
{
    throw Exception(std::string("TBasicComPortCtrl.") + what + " >> " + description + " (" + SystemErrorText(err) + ").");
}

// A handle the system no longer knows, or a device that has gone (hang-up, unplugged adapter, closed pty master).
int CheckAlive(int fd)
{
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) < 0)
        return errno;
    if (p.revents & POLLNVAL)
        return EBADF;
    if (p.revents & (POLLHUP | POLLERR))
        return EIO;
    return 0;
}

double NowMsSteady()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Remaining ms to a deadline for poll(): -1 without a deadline.
int Remaining(double deadline)
{
    if (deadline < 0)
        return -1;
    const double left = deadline - NowMsSteady();
    return left <= 0 ? 0 : static_cast<int>(left + 0.999);
}

bool IsModemLineUnsupported(int err) { return err == ENOTTY || err == EINVAL; }

} // namespace

std::string SystemErrorText(int code)
{
    char buf[256];
    const char* msg = strerror_r(code, buf, sizeof buf);
    std::string s = Format("%d: %s", code, msg);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\n' || s.back() == '.'))
        s.pop_back();
    return s;
}

THandle TBasicComPortCtrl::Open(const std::string& pPortName, std::uint32_t pDesiredAccess)
{
    const auto fail = [&](int err) -> void {
        if (err == ENOENT)
            throw Exception("TBasicComPortCtrl.Open(" + pPortName + ") >> Порт не найден.");
        if (err == EBUSY || err == EWOULDBLOCK)
            throw Exception("TBasicComPortCtrl.Open(" + pPortName + ") >> Порт занят.");
        throw Exception("TBasicComPortCtrl.Open(" + pPortName + ") >> " + SystemErrorText(err));
    };
    const bool r = pDesiredAccess & kGenericRead, w = pDesiredAccess & kGenericWrite;
    const int mode = r && w ? O_RDWR : w ? O_WRONLY : O_RDONLY;
    int fd = ::open(pPortName.c_str(), mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        fail(errno);
    if (fd < 3) {
        // 0 is the closed handle: keep descriptors of ports away from 0..2.
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        const int err = errno;
        ::close(fd);
        if (moved < 0)
            fail(err);
        fd = moved;
    }
    const auto giveUp = [&](int err) {
        ::close(fd);
        fail(err);
    };
    struct stat st {};
    if (fstat(fd, &st) != 0)
        giveUp(errno);
    termios2 t{};
    // Only a terminal is a port: a regular file, a disk or /dev/null must never be written as one.
    if (!S_ISCHR(st.st_mode))
        giveUp(ENOTTY);
    if (ioctl(fd, TCGETS2, &t) != 0)
        giveUp(errno);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        giveUp(errno);
    // Keeps out other programs that do not take the lock (root is not kept out by this).
    if (ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY)
        giveUp(errno);
    {
        std::lock_guard<std::mutex> lock(Timeouts().lock);
        Timeouts().table[fd] = COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0};
    }
    return static_cast<THandle>(fd);
}

void TBasicComPortCtrl::Close(THandle& pPort)
{
    if (pPort != 0 && pPort != INVALID_PORT_HANDLE) {
        const int fd = Fd(pPort);
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        std::lock_guard<std::mutex> lock(Timeouts().lock);
        Timeouts().table.erase(fd);
    }
    pPort = 0;
}

std::uint32_t TBasicComPortCtrl::Write(THandle pPort, const ABytes& Data)
{
    const int fd = Fd(pPort);
    const COMMTIMEOUTS cto = TimeoutsOf(fd);
    const std::uint64_t total =
        std::uint64_t(cto.WriteTotalTimeoutMultiplier) * Data.size() + cto.WriteTotalTimeoutConstant;
    const double deadline = total > 0 ? NowMsSteady() + static_cast<double>(total) : -1;
    std::size_t done = 0;
    while (done < Data.size()) {
        const ssize_t k = ::write(fd, Data.data() + done, Data.size() - done);
        if (k > 0) {
            done += static_cast<std::size_t>(k);
            continue;
        }
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && errno != EAGAIN)
            Fail("Write", "Не удалось выполнить запись", errno);
        const int wait = Remaining(deadline);
        if (wait == 0)
            break;
        pollfd p{fd, POLLOUT, 0};
        const int rc = poll(&p, 1, wait);
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc < 0)
            Fail("Write", "Не удалось выполнить запись", errno);
        if (rc == 0)
            break;
        if (!(p.revents & POLLOUT))
            Fail("Write", "Не удалось выполнить запись", p.revents & POLLNVAL ? EBADF : EIO);
    }
    return static_cast<std::uint32_t>(done);
}

std::uint32_t TBasicComPortCtrl::Read(THandle pPort, ABytes& pData)
{
    const int fd = Fd(pPort);
    const COMMTIMEOUTS cto = TimeoutsOf(fd);
    const std::uint64_t total = std::uint64_t(cto.ReadTotalTimeoutMultiplier) * pData.size() + cto.ReadTotalTimeoutConstant;
    const bool immediate = cto.ReadIntervalTimeout == MAXDWORD && total == 0;
    const double deadline = total > 0 ? NowMsSteady() + static_cast<double>(total) : -1;
    std::size_t done = 0;
    for (;;) {
        const ssize_t k = ::read(fd, pData.data() + done, pData.size() - done);
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && errno != EAGAIN)
            Fail("Read", "Не удалось выполнить чтение", errno);
        if (k > 0)
            done += static_cast<std::size_t>(k);
        if (immediate || done == pData.size())
            break;
        // With MAXDWORD as the interval a read returns as soon as it has something.
        if (done > 0 && cto.ReadIntervalTimeout == MAXDWORD)
            break;
        int wait = Remaining(deadline);
        if (done > 0 && cto.ReadIntervalTimeout > 0)
            wait = wait < 0 ? static_cast<int>(cto.ReadIntervalTimeout)
                            : std::min<int>(wait, static_cast<int>(cto.ReadIntervalTimeout));
        if (wait == 0)
            break;
        pollfd p{fd, POLLIN, 0};
        const int rc = poll(&p, 1, wait);
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc < 0)
            Fail("Read", "Не удалось выполнить чтение", errno);
        if (rc == 0)
            break;
        if (!(p.revents & POLLIN))
            Fail("Read", "Не удалось выполнить чтение", p.revents & POLLNVAL ? EBADF : EIO);
    }
    return static_cast<std::uint32_t>(done);
}

std::uint32_t TBasicComPortCtrl::ReadWait(THandle pPort, ABytes& pData, std::uint32_t pWaitMs)
{
    const int fd = Fd(pPort);
    if (pData.empty())
        return 0;
    pollfd p{fd, POLLIN, 0};
    int rc;
    while ((rc = poll(&p, 1, static_cast<int>(pWaitMs))) < 0 && errno == EINTR) {
    }
    if (rc < 0)
        Fail("Read", "Не удалось выполнить чтение", errno);
    if (rc == 0)
        return 0;
    // A device that has gone (its line hung up) fails as ClearErrors fails, even with bytes still waiting.
    if (p.revents & (POLLNVAL | POLLHUP | POLLERR) || !(p.revents & POLLIN))
        Fail("Read", "Не удалось выполнить чтение", p.revents & POLLNVAL ? EBADF : EIO);
    for (;;) {
        const ssize_t k = ::read(fd, pData.data(), pData.size());
        if (k >= 0)
            return static_cast<std::uint32_t>(k);
        if (errno == EAGAIN)
            return 0;
        if (errno != EINTR)
            Fail("Read", "Не удалось выполнить чтение", errno);
    }
}

bool TBasicComPortCtrl::EnterLowLatency(THandle pPort)
{
    // A USB serial driver then hands every arrival on at once instead of after its latency timer; the flag is
    // among those an unprivileged owner of the port may change. Ports without the request (ENOTTY, EINVAL) stay as
    // they are.
    serial_struct ss{};
    if (ioctl(Fd(pPort), TIOCGSERIAL, &ss) != 0 || (ss.flags & ASYNC_LOW_LATENCY))
        return false;
    ss.flags |= ASYNC_LOW_LATENCY;
    return ioctl(Fd(pPort), TIOCSSERIAL, &ss) == 0;
}

void TBasicComPortCtrl::LeaveLowLatency(THandle pPort)
{
    serial_struct ss{};
    if (ioctl(Fd(pPort), TIOCGSERIAL, &ss) != 0 || !(ss.flags & ASYNC_LOW_LATENCY))
        return;
    ss.flags &= ~ASYNC_LOW_LATENCY;
    ioctl(Fd(pPort), TIOCSSERIAL, &ss);
}

void TBasicComPortCtrl::ClearBuffers(THandle pPort, bool bIn, bool bOut)
{
    const int fd = Fd(pPort);
    int rc;
    if (bIn || bOut)
        rc = ioctl(fd, TCFLSH, bIn && bOut ? TCIOFLUSH : bIn ? TCIFLUSH : TCOFLUSH);
    else
        rc = fcntl(fd, F_GETFD);  // nothing to purge; the handle is still checked
    if (rc < 0)
        Fail("ClearBuffers", "Не удалось очистить буффер", errno);
}

std::uint32_t TBasicComPortCtrl::ClearErrors(THandle pPort)
{
    COMSTAT st;
    return ClearErrors(pPort, st);
}

std::uint32_t TBasicComPortCtrl::ClearErrors(THandle pPort, COMSTAT& Stat)
{
    const int fd = Fd(pPort);
    if (const int err = CheckAlive(fd))
        Fail("ClearErrors", "Не удалось выполнить чтение ошибки", err);
    int in = 0, out = 0;
    if (ioctl(fd, FIONREAD, &in) != 0)
        Fail("ClearErrors", "Не удалось выполнить чтение ошибки", errno);
    if (ioctl(fd, TIOCOUTQ, &out) != 0)
        Fail("ClearErrors", "Не удалось выполнить чтение ошибки", errno);
    Stat = COMSTAT{};
    Stat.cbInQue = static_cast<std::uint32_t>(in);
    Stat.cbOutQue = static_cast<std::uint32_t>(out);
    // Line errors are not kept by the tty layer in a form that can be read and cleared: no flags.
    return 0;
}

DCB TBasicComPortCtrl::GetDCB(THandle pPort)
{
    const int fd = Fd(pPort);
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0)
        Fail("GetDCB", "Не удалось запрос параметров порта", errno);
    DCB d;
    d.DCBlength = sizeof(DCB);
    d.BaudRate = t.c_ospeed;
    std::uint32_t f = DcbFlag::Binary;
    if (t.c_iflag & INPCK)
        f |= DcbFlag::Parity;
    if (t.c_cflag & CRTSCTS)
        f |= DcbFlag::OutxCtsFlow | (2u << DcbFlag::RtsControlShift);
    if (t.c_iflag & IXON)
        f |= DcbFlag::OutX;
    if (t.c_iflag & IXOFF)
        f |= DcbFlag::InX;
    int lines = 0;
    if (ioctl(fd, TIOCMGET, &lines) == 0) {
        if (lines & TIOCM_DTR)
            f |= 1u << DcbFlag::DtrControlShift;
        if ((lines & TIOCM_RTS) && !(t.c_cflag & CRTSCTS))
            f |= 1u << DcbFlag::RtsControlShift;
    }
    d.Flags = f;
    switch (t.c_cflag & CSIZE) {
    case CS5: d.ByteSize = 5; break;
    case CS6: d.ByteSize = 6; break;
    case CS7: d.ByteSize = 7; break;
    default: d.ByteSize = 8; break;
    }
    if (t.c_cflag & PARENB) {
        const bool odd = t.c_cflag & PARODD;
        d.Parity = (t.c_cflag & CMSPAR) ? (odd ? 3 : 4) : (odd ? 1 : 2);
    }
    d.StopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    d.XonChar = t.c_cc[VSTART];
    d.XoffChar = t.c_cc[VSTOP];
    return d;
}

void TBasicComPortCtrl::SetDCB(THandle pPort, const DCB& pDCB)
{
    const int fd = Fd(pPort);
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0)
        Fail("SetDCB", "Не удалось установить параметры порта", errno);
    // A rate of 0 would hang the line up; unknown sizes and modes are refused like the driver would.
    if (pDCB.BaudRate == 0 || pDCB.ByteSize < 5 || pDCB.ByteSize > 8 || pDCB.Parity > 4 || pDCB.StopBits > 2)
        Fail("SetDCB", "Не удалось установить параметры порта", EINVAL);
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT) | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    t.c_cflag |= BOTHER | CREAD | CLOCAL;
    t.c_ospeed = t.c_ispeed = pDCB.BaudRate;
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[pDCB.ByteSize - 5];
    if (pDCB.Parity != 0) {
        t.c_cflag |= PARENB;
        if (pDCB.Parity == 1 || pDCB.Parity == 3)
            t.c_cflag |= PARODD;
        if (pDCB.Parity >= 3)
            t.c_cflag |= CMSPAR;
    }
    if (pDCB.StopBits != 0)
        t.c_cflag |= CSTOPB;
    const std::uint32_t f = pDCB.Flags;
    if ((f & DcbFlag::OutxCtsFlow) || DcbFlag::RtsControl(f) == 2)
        t.c_cflag |= CRTSCTS;
    t.c_iflag |= (f & DcbFlag::Parity) ? INPCK : IGNPAR;
    if (f & DcbFlag::OutX)
        t.c_iflag |= IXON;
    if (f & DcbFlag::InX)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = pDCB.XonChar;
    t.c_cc[VSTOP] = pDCB.XoffChar;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (ioctl(fd, TCSETS2, &t) != 0)
        Fail("SetDCB", "Не удалось установить параметры порта", errno);
    // DTR and RTS as asked; a pseudo-terminal has no modem lines and says so.
    const auto line = [&](int bit, std::uint32_t control) {
        if (control > 1)
            return;
        if (ioctl(fd, control ? TIOCMBIS : TIOCMBIC, &bit) != 0 && !IsModemLineUnsupported(errno))
            Fail("SetDCB", "Не удалось установить параметры порта", errno);
    };
    line(TIOCM_DTR, DcbFlag::DtrControl(f));
    if (!(t.c_cflag & CRTSCTS))
        line(TIOCM_RTS, DcbFlag::RtsControl(f));
}

COMMTIMEOUTS TBasicComPortCtrl::GetTimeOuts(THandle pPort)
{
    const int fd = Fd(pPort);
    if (fcntl(fd, F_GETFD) < 0)
        Fail("GetTimeOuts", "Не удалось запросить таймауты", errno);
    return TimeoutsOf(fd);
}

void TBasicComPortCtrl::SetTimeOuts(THandle pPort, const COMMTIMEOUTS& pCTO)
{
    const int fd = Fd(pPort);
    if (fcntl(fd, F_GETFD) < 0)
        Fail("SetTimeOuts", "Не удалось установить таймауты", errno);
    std::lock_guard<std::mutex> lock(Timeouts().lock);
    Timeouts().table[fd] = pCTO;
}

void TBasicComPortCtrl::SetBuffers(THandle pPort, std::uint32_t, std::uint32_t)
{
    // The tty layer's queues have a fixed size; the request is accepted as long as the handle is a terminal.
    termios2 t{};
    if (ioctl(Fd(pPort), TCGETS2, &t) != 0)
        Fail("SetBuffers", "Не удалось установить размер буффера", errno);
}

void TBasicComPortCtrl::GetBuffers(THandle pPort, std::uint32_t& InBuff, std::uint32_t& OutBuff)
{
    termios2 t{};
    if (ioctl(Fd(pPort), TCGETS2, &t) != 0)
        Fail("GetBuffers", "Не удалось установить размер буффера", errno);
    InBuff = 0;
    OutBuff = 0;
}

COMMPROP TCustomComPortCtrl::GetProperties()
{
    termios2 t{};
    if (ioctl(Fd(FPort), TCGETS2, &t) != 0)
        throw Exception("Error Message");
    COMMPROP p;
    p.wPacketLength = sizeof(COMMPROP);
    p.wPacketVersion = 2;
    p.dwServiceMask = 1;          // serial communications
    p.dwMaxBaud = 0x10000000u;    // any rate the driver accepts
    p.dwProvSubType = 1;          // RS-232
    return p;
}

COMMCONFIG TCustomComPortCtrl::GetConfig()
{
    struct stat st {};
    if (stat(FPortName.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        throw Exception("Error Message");
    // Linux keeps no per-port default configuration: the house setup stands for it.
    TCPCSetup house;
    house.Default(9600, 1);
    COMMCONFIG c;
    c.dwSize = sizeof(COMMCONFIG);
    c.wVersion = 1;
    c.dcb = house.DCB;
    c.dwProviderSubType = 1;
    return c;
}
