// The UI text table, its lookup in the current language, the language choice and blank padding.
#include "base/texts.h"

#include <array>

std::int32_t Lang = 0;

namespace {

struct TextPair {
    const char* ru;
    const char* en;
};

// Index 0 is id 1. The texts are exact, blanks included (id 7 has two blanks before the parenthesis).
const std::array<TextPair, 18> kTexts = {{
    {"Нет доступа к данным.", "Can't access data."},
    {"Ошибка [%s]: Данные повреждены.", "Error [%s]: Data corrupted."},
    {"%s v.%x.%.2x (исп.%d, изм.%d)", "%s v.%x.%.2x (isp.%d, izm.%d)"},
    {"Загрузка обновления . . .", "Downloading update . . ."},
    {"Завершено", "Completed successfully"},
    {"Найдено: %d", "Devices found: %d"},
    {"\"%s\" %.8x v.%x.%.2x  (исп.%x, изм.%x)", "\"%s\" %.8x v.%x.%.2x  (isp.%x, izm.%x)"},
    {"обновление не требуется", "update is not required"},
    {"обновление успешно выполнено", "update successful"},
    {"ошибка обновления", "update error"},
    {"обновление не поддерживается", "update not supported"},
    {"устройство не доступно", "device is not available"},
    {"устройство не отвечает", "device is not responding"},
    {"Найденые устройства:", "Found Devices:"},
    {"Состояние обновления:", "Firmware update status:"},
    {"Поиск . . .", "Search . . ."},
    {"Продолжить", "Next"},
    {"Закрыть", "Close"},
}};

bool IsLatin(unsigned char b) { return (b >= 0x41 && b <= 0x5A) || (b >= 0x61 && b <= 0x7A); }
bool IsCyrillic(unsigned char b) { return b >= 0xC0; }

} // namespace

std::string LangText(std::int32_t Id)
{
    if (Id < 1 || Id > static_cast<std::int32_t>(kTexts.size()))
        return {};
    const TextPair& t = kTexts[static_cast<std::size_t>(Id - 1)];
    switch (Lang) {
    case 0:
        return t.ru;
    case 1:
        return t.en;
    default:
        return {};
    }
}

std::string NoAccessText(const std::string& Port, const std::string& Group)
{
    switch (Lang) {
    case 0:
        return "Нет доступа к " + Port + ": добавьте пользователя в группу \"" + Group +
               "\" и войдите в систему заново.";
    case 1:
        return "No access to " + Port + ": add your user to the group \"" + Group + "\", then log in again.";
    default:
        return {};
    }
}

std::int32_t ChooseLang(const std::string& Name)
{
    int latin = 0;
    int cyrillic = 0;
    for (unsigned char b : Name) {
        if (IsLatin(b))
            ++latin;
        else if (IsCyrillic(b))
            ++cyrillic;
    }
    return latin >= cyrillic ? 1 : 0;
}

std::string PadText(const std::string& S, std::int32_t Width)
{
    // Length in characters, not bytes: a Russian caption is two bytes a letter in UTF-8.
    std::int64_t chars = 0;
    for (unsigned char b : S)
        if ((b & 0xC0) != 0x80)
            ++chars;
    std::string r = S;
    do {
        r += ' ';
        ++chars;
    } while (chars <= Width);
    return r;
}
