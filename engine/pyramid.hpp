#pragma once
// The engine's pyramids: the table, the records, and the operations on them.
//
// Shared rules for this header:
//  - Pyramid, level and mask numbers are 1-based at the table's interface (as
//    the plug-in's callers see them) and 0-based inside the records.
//  - A level record holds the full-resolution extents; level k itself has
//    (rows >> k) x (cols >> k) pixels, column-major, stride rows >> k.
//  - Every operand check runs before anything changes; failures throw
//    EngineError with the texts of ops.hpp. Work that fails part-way keeps what
//    it finished (a reduce failing at level k keeps levels 2..k rebuilt).
//  - Memory that cannot be had ends the operation with "Out of memory".
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/kernels.hpp"
#include "engine/masks.hpp"
#include "engine/ops.hpp"

namespace kal {

struct PyramidLevel {
    std::int32_t rows = 0, cols = 0;  // full-resolution extents
    std::int32_t level = 0;           // k
    std::vector<std::uint8_t> pixels;

    std::int32_t levelRows() const { return shiftDown(rows, level); }
    std::int32_t levelCols() const { return shiftDown(cols, level); }
    ImageView view() { return ImageView{rows, cols, rows, level, pixels.data()}; }
};

struct Pyramid {
    std::uint32_t levels = 0;
    std::vector<PyramidLevel> src, enc;
    std::vector<BlendMask> masks;
    std::vector<std::vector<BlockRect>> maskRects, imageRects;
    std::int32_t fixR = 0, fixC = 0;
};

// A mask rectangle laid on the image with the mask at (offR, offC), its four
// coordinates rounded down to whole pixels of level k (toward minus infinity),
// then the rows clamped into 0..imageRows and the columns into 0..imageCols.
BlockRect placeRect(const BlockRect& r, std::int64_t offR, std::int64_t offC, int k, std::int32_t imageRows,
                    std::int32_t imageCols);

class PyramidTable {
public:
    PyramidTable();

    // State.
    std::size_t size() const noexcept { return pyramids_.size(); }
    bool exists(std::int32_t n) const noexcept;
    const Pyramid& pyramid(std::int32_t n) const;  // throws "Invalid value for 'n'"
    std::uint32_t levelCount(std::int32_t n) const;
    bool masksEmpty(std::int32_t n) const;
    std::size_t maskCount(std::int32_t n) const;
    LevelSize levelSize(std::int32_t n, std::int32_t level) const;

    // Operations, by function index.
    void createPyramid(std::int32_t n, std::int32_t cols, std::int32_t rows, std::int32_t levels);  // 0
    void setResMap(std::int32_t n, std::size_t rows, std::size_t cols, const double* map);        // 1
    MaskRects getMaskRects(std::int32_t n, std::int32_t k) const;                                  // 2
    Image8 getBlendMask(std::int32_t n, std::int32_t k) const;                                     // 3
    void setBase(std::int32_t n, std::size_t rows, std::size_t cols, const std::uint8_t* image);  // 4
    void reduce(std::int32_t n);                                                                   // 5
    Image8 getSrcLevel(std::int32_t n, std::int32_t level) const;                                  // 6
    Image8 getEncLevel(std::int32_t n, std::int32_t level) const;                                  // 7
    void setSrcLevel(std::int32_t n, std::int32_t level, std::size_t rows, std::size_t cols,
                     const std::uint8_t* image);                                                   // 8
    void setEncLevel(std::int32_t n, std::int32_t level, std::size_t rows, std::size_t cols,
                     const std::uint8_t* image);                                                   // 9
    void encode(std::int32_t n, std::int32_t fixCol, std::int32_t fixRow);                         // 10
    Image8 getEncodedImage(std::int32_t n) const;                                                  // 11
    // The same images lent (ops.hpp); the same checks.
    ImageRef blendMaskRef(std::int32_t n, std::int32_t k) const;
    ImageRef srcLevelRef(std::int32_t n, std::int32_t level) const;
    ImageRef encLevelRef(std::int32_t n, std::int32_t level) const;
    ImageRef encodedImageRef(std::int32_t n) const;

private:
    Pyramid& at(std::int32_t n);
    const BlendMask& maskChecked(std::int32_t n, std::int32_t k) const;
    static void copyIn(PyramidLevel& level, std::size_t rows, std::size_t cols, const std::uint8_t* image);
    static ImageRef refOf(const PyramidLevel& level);
    static Image8 copyOf(const ImageRef& image);

    std::vector<Pyramid> pyramids_;
};

}  // namespace kal
