// nerid-sample-firmware: writes the sample firmware as Intel HEX, with the header fields chosen on the command line.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "base/cp1251.h"
#include "base/error.h"
#include "base/utf8_path.h"
#include "cli/files.h"
#include "cli/sample.h"

int main(int argc, char** argv)
{
    CLI::App app{"Writes a sample firmware as Intel HEX: flash image at 0x400 (0x7C00 bytes, valid header and "
                 "checksum) and EEPROM image at 0x1E000 (0x200 bytes); its container is 32,282 bytes."};
    std::string out, name = "SAMPLE", version = "1.05";
    bool cyrillic = false;
    TSampleFirmware s;
    app.add_option("-o,--output", out, "Intel HEX file to write (replaced if it exists)")->required();
    app.add_option("--name", name, "device name, UTF-8, stored in code page 1251 (at most 10 characters)");
    app.add_flag("--cyrillic", cyrillic, "use the Cyrillic device name \"Тестер-1\" (overrides --name)");
    app.add_option("--version", version, "firmware version MAJOR.MINOR in hex digits, as the window shows it");
    app.add_option("--type", s.Type, "device type");
    unsigned variant = s.Variant, revision = s.Revision;
    app.add_option("--variant", variant, "variant number (0..255)")->check(CLI::Range(0, 255));
    app.add_option("--revision", revision, "board modification number (0..255)")->check(CLI::Range(0, 255));
    app.add_option("--date", s.Date, "date word: low byte year, high byte month, both BCD (e.g. 0x0624)");
    app.add_option("--seed", s.Seed, "varies the program and EEPROM bytes");
    app.add_option("--flash-bytes", s.FlashLength, "length of the flash block (even, 32..0xFC00; default 0x7C00)");
    app.add_option("--eeprom-bytes", s.EepromLength,
                   "length of the EEPROM block, two bytes per EEPROM byte (even, 0..0x200; 0: none; default 0x200)");
    CLI11_PARSE(app, argc, argv);

    unsigned major = 0, minor = 0;
    char rest = 0;
    if (std::sscanf(version.c_str(), "%x.%x%c", &major, &minor, &rest) != 2 || major > 0xFF || minor > 0xFF) {
        std::cerr << "bad --version " << version << " (expected MAJOR.MINOR, e.g. 1.05)\n";
        return 2;
    }
    s.Variant = static_cast<std::uint8_t>(variant);
    s.Revision = static_cast<std::uint8_t>(revision);
    s.Version = static_cast<std::uint16_t>(major << 8 | minor);
    const std::string given = cyrillic ? "Тестер-1" : name;
    s.Name = Utf8ToCp1251(given);
    // The header holds ten 8-bit characters of code page 1251: a name that does not fit is refused, not cut.
    if (Cp1251ToUtf8(s.Name) != given) {
        std::cerr << "bad --name " << given
                  << ": it has characters outside code page 1251 (Latin and Cyrillic letters, digits and common "
                     "signs), which the header cannot hold\n";
        return 2;
    }
    if (s.Name.size() > 10) {
        std::cerr << "bad --name " << given << ": " << s.Name.size()
                  << " characters, the header holds at most 10\n";
        return 2;
    }
    try {
        // The same output rules as nerid's: a regular file or a link's target, written whole or not at all.
        const std::filesystem::path target = CheckOutput(Utf8Path(out), {});
        THexDataFile image = BuildSampleImage(s);
        std::ostringstream text;
        image.WriteStream(text, image.Data());
        const std::string t = text.str();
        WriteFileReplacing(target, ABytes(t.begin(), t.end()),
                           std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                               std::filesystem::perms::group_read | std::filesystem::perms::others_read);
    } catch (const Exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
