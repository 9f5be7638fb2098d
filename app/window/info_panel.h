// One device row of the updater window: icon, identity line, status text and the check box that selects the device.
// Main thread only. The controls belong to the toolkit adapter; a row keeps non-owning pointers to them.
#pragma once

#include "app/window/controls.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Device states shown by a row.
enum : std::int32_t {
    kStateNotSupported = -1,
    kStateNotRequired = 0,
    kStateNeeded = 1,
    kStateProgrammed = 2,
    kStateFailed = 3,
};

struct TInfoPanel {
    IRowPanel* P = nullptr;   // the row; caption = identity line, tag = state
    IRowPanel* P1 = nullptr;  // never created
    std::int32_t N = 0;       // never set
    IImage* I = nullptr;      // the icon
    ILabel* L = nullptr;      // never created
    ICheckBox* C = nullptr;   // selection for programming

    // Builds the row in pP for state pC (0 and 1 known; anything else is "not supported").
    TInfoPanel& New(IRowList* pP, const std::string& pN, const IImage* pI, std::int32_t pC,
                    std::function<void()> onChecked);
    // Puts the row above all others.
    void MoveU();
    // Puts the row below all others.
    void MoveD();
    // Shows state pC (0..3; anything else as "not supported") on the built row.
    void SetC(std::int32_t pC);
};

using AInfoPanels = std::vector<TInfoPanel>;
