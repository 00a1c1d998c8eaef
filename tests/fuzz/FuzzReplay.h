#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

// A fuzz target as the replay test calls it: its name (that of its corpus folder) and its
// LLVMFuzzerTestOneInput under a name of its own.
struct FuzzTarget {
    const char* name;
    int (*run)(const uint8_t* data, size_t size);
};

const std::vector<FuzzTarget>& FuzzTargets();

// Test names and messages show the target by name.
inline void PrintTo(const FuzzTarget& target, std::ostream* os) { *os << target.name; }
