#pragma once

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <string>

namespace kv::test {

// Leaves a measurement's raw figures for the benchmark report: `<name>.json` in the folder that
// KV_BENCH_RESULTS names, and nothing when it names none.
inline void saveBenchResults(const std::string& name, const nlohmann::json& figures) {
    const char* folder = std::getenv("KV_BENCH_RESULTS");
    if (!folder || !*folder) return;
    std::ofstream(std::string(folder) + "/" + name + ".json") << figures.dump();
}

}  // namespace kv::test
