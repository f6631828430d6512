#include "tests/window_testing.hpp"

#include <fstream>

namespace ocu::test {

int line_of(const std::string& path, const std::string& head) {
    std::ifstream in(path);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (line.find(head) != std::string::npos) return n;
    }
    return -1;
}

}  // namespace ocu::test
