// The exchange log: its file, its folder and the text of one exchange's entry.
#include "serial/exchange_log.h"

#include "base/error.h"
#include "base/format.h"
#include "base/utf8_path.h"

#include <fstream>

void WriteLogLine(const std::string& pFileName, const std::string& pText, bool pTimeStamp)
{
    std::string line;
    if (pTimeStamp) {
        const TLocalTime t = LocalNow();
        line = Format("%.2d:%.2d:%.2d.%.3d: ", t.Hour, t.Minute, t.Second, t.Milli);
    }
    line += pText;
    line += "\r\n";
    std::ofstream f(Utf8Path(pFileName), std::ios::binary | std::ios::app);
    if (!f)
        throw Exception("Не удалось открыть файл \"" + pFileName + "\"");
    f.write(line.data(), static_cast<std::streamsize>(line.size()));
    f.close(); // flushes: a full disk shows here
    if (!f)
        throw Exception("Не удалось записать файл \"" + pFileName + "\"");
}

std::string LogFolder() { return ExecutableFolder() + "Log"; }

std::string LogFileStem(const std::string& pPortName)
{
    std::string s = pPortName;
    if (s.rfind("\\\\.\\", 0) == 0)
        s = s.substr(4);
    if (s.rfind("/dev/", 0) == 0)
        s = s.substr(5);
    while (!s.empty() && s[0] == '/')
        s.erase(0, 1);
    for (char& c : s)
        if (c == '/' || c == '\\')
            c = '_';
    return s;
}

void WriteLog(const std::string& pPortName, const std::string& pText, bool pTimeStamp)
{
    const std::string folder = LogFolder();
    EnsureFolder(folder);
    const TLocalTime t = LocalNow();
    const std::string file =
        folder + "/" + LogFileStem(pPortName) + Format("-%.4d-%.2d-%.2d.log", t.Year, t.Month, t.Day);
    WriteLogLine(file, pText, pTimeStamp);
}

std::string SessionLogEntry(const ABytes& pSend, const ABytes& pRecive, std::uint32_t pWaitReciveUs,
                            std::uint32_t pDubls, const std::string& pErrorText, const std::string& pTrace)
{
    return Format(">> %s << %s [%u-%1.2f: %s]%s", BytesToText(pSend, " ", true).c_str(),
                  BytesToText(pRecive, " ", true).c_str(), pDubls, pWaitReciveUs / 1000.0, pErrorText.c_str(),
                  pTrace.c_str());
}
