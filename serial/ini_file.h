// A small INI file reader/writer with the semantics of the Windows private-profile functions, the same on every
// platform: sections and keys match without regard to letter case, a save keeps every other line of the file.
// Not thread-safe; one object per file at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TIniFile {
public:
    // Reads the file when it exists; a missing or unreadable file reads as empty.
    explicit TIniFile(std::string pFileName);

    // The value's text, trimmed of blanks; pDefault when the section or key is missing.
    std::string ReadString(const std::string& pSection, const std::string& pKey, const std::string& pDefault) const;
    // A signed decimal that fits 32 bits; pDefault when missing or not such a number.
    std::int32_t ReadInteger(const std::string& pSection, const std::string& pKey, std::int32_t pDefault) const;
    // Changes the key in place, or appends it to its section (creating the section at the end of the file).
    void WriteString(const std::string& pSection, const std::string& pKey, const std::string& pValue);
    void WriteInteger(const std::string& pSection, const std::string& pKey, std::int32_t pValue);
    // Writes the file (through a temporary file renamed over it); throws Exception "Не удалось записать файл "<name>"".
    void Save() const;

private:
    std::string FFileName;
    std::vector<std::string> FLines;
};
