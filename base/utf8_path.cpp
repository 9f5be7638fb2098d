// UTF-8 file names through char8_t, which std::filesystem converts as UTF-8 on every platform.
#include "base/utf8_path.h"

std::filesystem::path Utf8Path(const std::string& Utf8)
{
    return std::filesystem::path(std::u8string(Utf8.begin(), Utf8.end()));
}

std::string PathUtf8(const std::filesystem::path& Path)
{
    const std::u8string s = Path.u8string();
    return std::string(s.begin(), s.end());
}
