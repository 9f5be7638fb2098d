// The key/value store behind TCPCSetup::RegSave/RegLoad: the registry on Windows, on Linux a store of our own with
// one text file per key under the user's configuration folder ($XDG_CONFIG_HOME, else ~/.config, + /nerid/registry).
// One object per open key; not shared between threads.
#pragma once

#include "serial/records.h"

#include <cstdint>
#include <memory>
#include <string>

class TRegStoreKey {
public:
    virtual ~TRegStoreKey() = default;
    virtual bool ValueExists(const std::string& pName) const = 0;
    // Throws Exception when the value exists with another type than a 32-bit integer.
    virtual std::uint32_t ReadInteger(const std::string& pName) const = 0;
    // Throws Exception when the value cannot be stored.
    virtual void WriteInteger(const std::string& pName, std::uint32_t pValue) = 0;
};

// Opens pPath (backslash-separated) under pRoot, creating it when missing; nullptr when that is not possible.
std::unique_ptr<TRegStoreKey> RegOpenOrCreateKey(TRegRoot pRoot, const std::string& pPath);
