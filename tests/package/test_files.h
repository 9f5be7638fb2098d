// A temporary folder per test, removed with the fixture, and small file helpers.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "package/bytes.h"

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string t = (std::filesystem::temp_directory_path() / "nerid-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(t.data()), nullptr);
        Dir = t;
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
