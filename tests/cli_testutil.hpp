// Helpers shared by the tests that write files or drive ocumbra-sim: a
// throw-away folder, whole-file reads, running the built tool as a separate
// process, and reading back the '<f8' .npy files it writes.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "toolkit/array.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

namespace ocu::testutil {

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir() {
        char templ[] = "/tmp/ocu_test_XXXXXX";
        if (::mkdtemp(templ) == nullptr) throw std::runtime_error("cannot make a temporary folder");
        path_ = templ;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }
    bool empty() const { return std::filesystem::is_empty(path_); }
    // The names of what the folder holds, in no particular order.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename().string());
        return names;
    }

private:
    std::string path_;
};

// The whole contents of a file ("" when it cannot be opened).
inline std::string slurp(const std::string& path) {
    std::string s;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
        std::fclose(f);
    }
    return s;
}

// Single-quotes a word for the shell.
inline std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char ch : s) q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return q + "'";
}

struct ToolRun {
    int status = -1;  // exit status, -1 when the tool did not exit normally
    std::string out, err;
};

// Runs the built ocumbra-sim (next to this test program) with the given
// arguments and collects its exit status and both output streams; in the
// working folder `cwd` when one is given.
inline ToolRun run_tool(const std::vector<std::string>& args, const std::string& cwd = "") {
    TempDir io;
    std::string cmd = cwd.empty() ? std::string() : "cd " + quoted(cwd) + " && ";
    cmd += quoted(program_data_dir() + "ocumbra-sim");
    for (const auto& a : args) cmd.append(" ").append(quoted(a));
    cmd.append(" >").append(quoted(io.file("out"))).append(" 2>").append(quoted(io.file("err")));
    const int raw = std::system(cmd.c_str());
    ToolRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = slurp(io.file("out"));
    r.err = slurp(io.file("err"));
    return r;
}

// Runs one subcommand of ocumbra-sim.
inline ToolRun run_command(const std::string& command, const std::vector<std::string>& args) {
    std::vector<std::string> all{command};
    all.insert(all.end(), args.begin(), args.end());
    return run_tool(all);
}

// Reads a '<f8' .npy file in C order (version 1 header) into a column-major
// array. A file of any other kind is a test failure and gives an empty array.
inline ArrayD read_npy_f8(const std::string& path) {
    const std::string s = slurp(path);
    if (s.size() <= 10 || s.compare(0, 6, "\x93NUMPY") != 0) {
        ADD_FAILURE() << path << ": not a .npy file";
        return {};
    }
    const std::size_t hlen = static_cast<unsigned char>(s[8]) |
                             (static_cast<std::size_t>(static_cast<unsigned char>(s[9])) << 8);
    const std::string header = s.substr(10, hlen);
    if (header.find("'descr': '<f8'") == std::string::npos ||
        header.find("'fortran_order': False") == std::string::npos) {
        ADD_FAILURE() << path << ": not little-endian doubles in C order: " << header;
        return {};
    }
    std::vector<std::size_t> shape;
    const std::size_t open = header.find('(', header.find("'shape'"));
    const std::size_t close = header.find(')', open);
    if (open == std::string::npos || close == std::string::npos) {
        ADD_FAILURE() << path << ": no shape in " << header;
        return {};
    }
    std::istringstream dims(header.substr(open + 1, close - open - 1));
    for (std::string d; std::getline(dims, d, ',');)
        if (d.find_first_of("0123456789") != std::string::npos) shape.push_back(std::stoul(d));
    if (shape.size() != 2 && shape.size() != 3) {
        ADD_FAILURE() << path << ": " << shape.size() << " dimensions";
        return {};
    }
    const std::size_t rows = shape[0], cols = shape[1], planes = shape.size() == 3 ? shape[2] : 1;
    ArrayD a(rows, cols, planes);
    if (s.size() != 10 + hlen + 8 * a.numel()) {
        ADD_FAILURE() << path << ": " << s.size() << " bytes for " << a.numel() << " doubles";
        return {};
    }
    const char* d = s.data() + 10 + hlen;
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t c = 0; c < cols; ++c)
            for (std::size_t p = 0; p < planes; ++p) std::memcpy(&a(r, c, p), d + ((r * cols + c) * planes + p) * 8, 8);
    return a;
}

}  // namespace ocu::testutil
