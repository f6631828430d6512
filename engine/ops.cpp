#include "engine/ops.hpp"

#include "engine/pyramid.hpp"

namespace kal {

namespace {

// The process-wide pyramid table: from the plug-in's load to its unload.
PyramidTable& table() {
    static PyramidTable t;
    return t;
}

}  // namespace

std::size_t tableSize() noexcept { return table().size(); }
bool pyramidExists(std::int32_t n) noexcept { return table().exists(n); }
std::uint32_t levelCount(std::int32_t n) { return table().levelCount(n); }
bool masksEmpty(std::int32_t n) { return table().masksEmpty(n); }
std::size_t maskCount(std::int32_t n) { return table().maskCount(n); }
LevelSize levelSize(std::int32_t n, std::int32_t level) { return table().levelSize(n, level); }

void createPyramid(std::int32_t n, std::int32_t cols, std::int32_t rows, std::int32_t levels) {
    table().createPyramid(n, cols, rows, levels);
}
void setResMap(std::int32_t n, std::size_t rows, std::size_t cols, const double* map) {
    table().setResMap(n, rows, cols, map);
}
MaskRects getMaskRects(std::int32_t n, std::int32_t k) { return table().getMaskRects(n, k); }
Image8 getBlendMask(std::int32_t n, std::int32_t k) { return table().getBlendMask(n, k); }
void setBase(std::int32_t n, std::size_t rows, std::size_t cols, const std::uint8_t* image) {
    table().setBase(n, rows, cols, image);
}
void reduce(std::int32_t n) { table().reduce(n); }
Image8 getSrcLevel(std::int32_t n, std::int32_t level) { return table().getSrcLevel(n, level); }
Image8 getEncLevel(std::int32_t n, std::int32_t level) { return table().getEncLevel(n, level); }
void setSrcLevel(std::int32_t n, std::int32_t level, std::size_t rows, std::size_t cols,
                 const std::uint8_t* image) {
    table().setSrcLevel(n, level, rows, cols, image);
}
void setEncLevel(std::int32_t n, std::int32_t level, std::size_t rows, std::size_t cols,
                 const std::uint8_t* image) {
    table().setEncLevel(n, level, rows, cols, image);
}
void encode(std::int32_t n, std::int32_t fixCol, std::int32_t fixRow) { table().encode(n, fixCol, fixRow); }
Image8 getEncodedImage(std::int32_t n) { return table().getEncodedImage(n); }
ImageRef blendMaskRef(std::int32_t n, std::int32_t k) { return table().blendMaskRef(n, k); }
ImageRef srcLevelRef(std::int32_t n, std::int32_t level) { return table().srcLevelRef(n, level); }
ImageRef encLevelRef(std::int32_t n, std::int32_t level) { return table().encLevelRef(n, level); }
ImageRef encodedImageRef(std::int32_t n) { return table().encodedImageRef(n); }

}  // namespace kal
