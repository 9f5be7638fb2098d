// The project's own INI reader/writer (see ini_file.h).
#include "serial/ini_file.h"

#include "base/error.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace {

std::string Trim(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool SameText(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// "[name]" -> name; false when the line is not a section header.
bool SectionOf(const std::string& line, std::string& name)
{
    const std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']')
        return false;
    name = Trim(t.substr(1, t.size() - 2));
    return true;
}

// "key=value" -> key, value; false for comments and lines without '='.
bool KeyOf(const std::string& line, std::string& key, std::string& value)
{
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';')
        return false;
    const auto eq = t.find('=');
    if (eq == std::string::npos)
        return false;
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return true;
}

} // namespace

TIniFile::TIniFile(std::string pFileName) : FFileName(std::move(pFileName))
{
    std::ifstream in(FFileName, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        FLines.push_back(line);
    }
}

std::string TIniFile::ReadString(const std::string& pSection, const std::string& pKey,
                                 const std::string& pDefault) const
{
    bool inSection = false;
    for (const std::string& line : FLines) {
        std::string name, key, value;
        if (SectionOf(line, name))
            inSection = SameText(name, pSection);
        else if (inSection && KeyOf(line, key, value) && SameText(key, pKey))
            return value;
    }
    return pDefault;
}

std::int32_t TIniFile::ReadInteger(const std::string& pSection, const std::string& pKey, std::int32_t pDefault) const
{
    const std::string text = ReadString(pSection, pKey, "");
    if (text.empty())
        return pDefault;
    std::size_t i = 0;
    const bool neg = text[0] == '-';
    if (text[0] == '-' || text[0] == '+')
        ++i;
    if (i == text.size())
        return pDefault;
    std::int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return pDefault;
        v = v * 10 + (text[i] - '0');
        if (v > 2147483648LL)
            return pDefault;
    }
    v = neg ? -v : v;
    if (v > 2147483647LL)
        return pDefault;
    return static_cast<std::int32_t>(v);
}

void TIniFile::WriteString(const std::string& pSection, const std::string& pKey, const std::string& pValue)
{
    const std::string entry = pKey + "=" + pValue;
    bool inSection = false;
    std::size_t sectionEnd = FLines.size();  // where a new key of the section goes
    bool found = false;
    for (std::size_t i = 0; i < FLines.size(); ++i) {
        std::string name, key, value;
        if (SectionOf(FLines[i], name)) {
            if (inSection)
                break;
            inSection = SameText(name, pSection);
            if (inSection) {
                found = true;
                sectionEnd = i + 1;
            }
        } else if (inSection) {
            if (KeyOf(FLines[i], key, value) && SameText(key, pKey)) {
                FLines[i] = entry;
                return;
            }
            if (!Trim(FLines[i]).empty())
                sectionEnd = i + 1;
        }
    }
    if (!found) {
        if (!FLines.empty() && !Trim(FLines.back()).empty())
            FLines.push_back("");
        FLines.push_back("[" + pSection + "]");
        FLines.push_back(entry);
        return;
    }
    FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(sectionEnd), entry);
}

void TIniFile::WriteInteger(const std::string& pSection, const std::string& pKey, std::int32_t pValue)
{
    WriteString(pSection, pKey, std::to_string(pValue));
}

void TIniFile::Save() const
{
    const std::string tmp = FFileName + ".tmp";
    bool ok;
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        for (const std::string& line : FLines)
            out << line << "\r\n";
        out.flush();
        ok = static_cast<bool>(out);
    }
    // std::filesystem::rename replaces an existing file on every platform; std::rename does not on Windows.
    std::error_code ec;
    if (ok)
        std::filesystem::rename(tmp, FFileName, ec);
    if (!ok || ec) {
        std::remove(tmp.c_str());
        throw Exception("Не удалось записать файл \"" + FFileName + "\"");
    }
}
