// Test helpers shared by the test folders: the text of the failure a call raises, so that a table of cases can hold
// the exact text each must give.
#pragma once

#include <exception>
#include <functional>
#include <string>

// What f raised, or "" when it returned.
inline std::string FailureOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// The same, with "<no failure>" when f returned, for expectations that read better with a name for success.
inline std::string ErrorOf(const std::function<void()>& f)
{
    const std::string text = FailureOf(f);
    return text.empty() ? "<no failure>" : text;
}
