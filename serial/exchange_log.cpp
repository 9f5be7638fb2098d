// The exchange log file and the controller's log entry.
#include "serial/exchange_log.h"

#include "app/texts/error.h"
#include "app/texts/format.h"
#include "serial/comport.h"

#include <cstdio>
#include <memory>

void WriteLogLine(const std::string& pFileName, const std::string& pText, bool pTimeStamp)
{
    std::string line;
    if (pTimeStamp) {
        const TLocalTime t = LocalNow();
        line = Format("%.2d:%.2d:%.2d.%.3d: ", t.Hour, t.Minute, t.Second, t.Milli);
    }
    line += pText;
    line += "\r\n";
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(pFileName.c_str(), "ab"), &std::fclose);
    if (!f)
        throw Exception("Не удалось открыть файл \"" + pFileName + "\"");
    const bool written = std::fwrite(line.data(), 1, line.size(), f.get()) == line.size();
    const bool closed = std::fclose(f.release()) == 0;
    if (!written || !closed)
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

void TCustomComPortCtrl::AppendSessionLog(const ABytes& Send, const ABytes& Recive, std::uint32_t WaitRecive,
                                          std::uint32_t Dubls, const std::string& ErrorText)
{
    if (!FLog)
        return;
    if (!FLogStr.empty())
        FLogStr = "\r\n" + FLogStr;
    const std::string entry =
        Format(">> %s << %s [%u-%1.2f: %s]%s", BytesToText(Send, " ", true).c_str(), BytesToText(Recive, " ", true).c_str(),
               Dubls, WaitRecive / 1000.0, ErrorText.c_str(), FLogStr.c_str());
    WriteLog(PortName(), entry, true);
}
