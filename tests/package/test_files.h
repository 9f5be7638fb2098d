// A temporary folder per test, removed with the fixture, and small file helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "package/bytes.h"

// A new folder <temp>/<prefix><random> that did not exist before; empty on failure. Works on every platform.
inline std::filesystem::path MakeTempFolder(const std::string& prefix)
{
    std::random_device rd;
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    for (int attempt = 0; attempt < 100 && !ec; ++attempt) {
        char suffix[17];
        std::snprintf(suffix, sizeof suffix, "%08x%08x", rd(), rd());
        const std::filesystem::path p = base / (prefix + suffix);
        if (std::filesystem::create_directory(p, ec))
            return p;
    }
    return {};
}

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Dir = MakeTempFolder("nerid-test-");
        ASSERT_FALSE(Dir.empty());
    }
    void TearDown() override { std::filesystem::remove_all(Dir); }

    std::string PathOf(const std::string& name) const { return (Dir / name).string(); }

    static void WriteBytes(const std::string& path, const ABytes& d)
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(d.data()), static_cast<std::streamsize>(d.size()));
    }
    static ABytes ReadBytes(const std::string& path)
    {
        std::ifstream f(path, std::ios::binary);
        return ABytes{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    }

    std::filesystem::path Dir;
};
