// The one exception type of the project: its message is the exact failure text (UTF-8).
// Every layer raises it (or a type derived from it) with the texts the system defines.
#pragma once

#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& text) : std::runtime_error(text) {}
};
