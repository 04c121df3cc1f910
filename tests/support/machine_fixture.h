// A fresh simulated machine for every test, with nothing of the product left
// in the prefix (footprint.h): default record 01 01 00 00,
// no injected failures, counters at zero, no diagnostic log.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "machine_store.h"

class SimulatedMachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    static simfw::Machine Machine() { return simfw::Machine::Load(); }
    static void SetRecord(const std::vector<uint8_t>& bytes);
    static void Set(const std::string& key, const std::string& value);
    static void Inject(const std::string& point, long status, int times = 0);
    static std::vector<uint8_t> Record() { return Machine().Record(); }
    static long Counter(const std::string& name) { return Machine().Counter(name); }
    // Objects the double handed out that are not yet destroyed.
    static long LiveObjects();
    // Whether this thread is outside any COM apartment.
    static bool ThreadHasNoApartment();
};

// Byte vectors print as "01 01 00 00" in failure messages.
std::string HexBytes(const uint8_t* bytes, size_t count);
