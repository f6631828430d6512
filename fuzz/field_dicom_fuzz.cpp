// libFuzzer target: any bytes given to the DICOM reader (through a file, as
// DCMTK reads it) end in a measurement or an ocu::Error, never a crash, a
// hang or a huge allocation.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "field/measurement.hpp"
#include "toolkit/error.hpp"

namespace {

// One scratch file per process, removed at exit.
const std::string& scratch_path() {
    static const std::string path = [] {
        char templ[] = "/tmp/ocu_field_dicom_fuzz_XXXXXX";
        const int fd = ::mkstemp(templ);
        if (fd < 0) std::abort();
        ::close(fd);
        std::string p = templ;
        std::atexit([] { ::unlink(scratch_path().c_str()); });
        return p;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = scratch_path();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    try {
        const ocu::field::Measurement m = ocu::field::read_dicom(path);
        if (m.points.size() < 3) std::abort();
    } catch (const ocu::Error&) {
    }
    return 0;
}
