// UI text table, language choice, padding, formatting and the cp1251 table.
#include "base/cp1251.h"
#include "base/format.h"
#include "base/texts.h"

#include <gtest/gtest.h>

namespace {

// Restores Lang after each case, since it is process-wide.
class TextsTest : public ::testing::Test {
protected:
    void TearDown() override { Lang = 0; }
};

TEST_F(TextsTest, LookupInBothLanguagesAndOutOfRange)
{
    struct Case {
        std::int32_t lang, id;
        const char* text;
    } cases[] = {
        {0, 1, "Нет доступа к данным."},
        {1, 1, "Can't access data."},
        {1, 2, "Error [%s]: Data corrupted."},
        {0, 5, "Завершено"},
        {1, 5, "Completed successfully"},
        {0, 14, "Найденые устройства:"},
        {1, 7, "\"%s\" %.8x v.%x.%.2x  (isp.%x, izm.%x)"},
        {1, 18, "Close"},
        {0, 18, "Закрыть"},
        {1, 0, ""},
        {1, 19, ""},
        {0, -1, ""},
        {2, 5, ""},
        {-1, 1, ""},
    };
    for (const Case& c : cases) {
        Lang = c.lang;
        EXPECT_EQ(LangText(c.id), c.text) << "lang " << c.lang << " id " << c.id;
    }
}

TEST_F(TextsTest, EveryIdHasBothForms)
{
    for (std::int32_t id = 1; id <= 18; ++id) {
        Lang = 0;
        const std::string ru = LangText(id);
        Lang = 1;
        const std::string en = LangText(id);
        EXPECT_FALSE(ru.empty()) << id;
        EXPECT_FALSE(en.empty()) << id;
        EXPECT_NE(ru, en) << id;
    }
}

TEST(ChooseLang, CountsLatinAgainstCyrillicBytes)
{
    struct Case {
        std::string name;
        std::int32_t lang;
    } cases[] = {
        {"", 1},
        {"1234 -_.", 1},
        {"abc\xC0\xC1\xC2", 1},      // 3 : 3, ties give English
        {"abc\xC0\xC1\xC2\xFF", 0},  // 3 : 4
        {"\xA8\xB8\xA8", 1},         // Ё and ё count for neither set
        {"\xCC\xD2\xC7-2", 0},       // "МТЗ-2"
        {"Z\x80\xBF", 1},
        {"\xC0", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseLang(c.name), c.lang) << testing::PrintToString(c.name);
}

TEST(PadText, AppendsAtLeastOneBlank)
{
    EXPECT_EQ(PadText("Name:", 14), "Name:          ");
    EXPECT_EQ(PadText("Name:", 14).size(), 15u);
    EXPECT_EQ(PadText("123456789012345", 14), "123456789012345 ");
    EXPECT_EQ(PadText("", 0), " ");
    EXPECT_EQ(PadText("abc", -5), "abc ");
    // Characters, not bytes: five Cyrillic letters are ten UTF-8 bytes.
    EXPECT_EQ(PadText("Номер", 6), "Номер  ");
}

TEST_F(TextsTest, IdentityLineFormatsAsTheTableSays)
{
    Lang = 1;
    EXPECT_EQ(Format(LangText(7).c_str(), "ABC", 0x1234u, 1u, 5u, 10u, 0u), "\"ABC\" 00001234 v.1.05  (isp.a, izm.0)");
    Lang = 0;
    EXPECT_EQ(Format(LangText(3).c_str(), "X", 0x1u, 0x5u, 2, 3), "X v.1.05 (исп.2, изм.3)");
    EXPECT_EQ(Format(LangText(2).c_str(), "0x0301"), "Ошибка [0x0301]: Данные повреждены.");
}

TEST(Format, LongOutputIsNotTruncated)
{
    const std::string big(5000, 'x');
    EXPECT_EQ(Format("<%s>", big.c_str()).size(), 5002u);
    EXPECT_EQ(Format("%s", ""), "");
}

TEST(Cp1251, RoundTripsEveryDefinedByte)
{
    EXPECT_EQ(Cp1251ToUtf8("\xCC\xD2\xC7 \xA8\xB8"), "МТЗ Ёё");
    EXPECT_EQ(Cp1251ToUtf8("\xB9"), "№");
    EXPECT_EQ(Cp1251ToUtf8("\x98"), "\xEF\xBF\xBD");
    std::string all;
    for (int b = 1; b < 256; ++b)
        if (b != 0x98)
            all += static_cast<char>(b);
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
    EXPECT_EQ(Utf8ToCp1251("日本"), "??");
}

} // namespace
