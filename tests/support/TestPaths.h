#pragma once
// Where the source and build trees are, for tests that start programs of ours
// (the simulator, the viewer) or read delivered files. The environment
// variables KAVREL_SOURCE_DIR / KAVREL_BINARY_DIR override the build's values.

#include <cstdlib>
#include <string>

namespace kavrel::test {

inline std::string SourceDir() {
    const char* env = std::getenv("KAVREL_SOURCE_DIR");
    return (env && *env) ? env : KAVREL_TEST_SOURCE_DIR;
}

inline std::string BinaryDir() {
    const char* env = std::getenv("KAVREL_BINARY_DIR");
    return (env && *env) ? env : KAVREL_TEST_BINARY_DIR;
}

}  // namespace kavrel::test
