#pragma once
// The pyramid engine's operations, as the plug-in entry calls them.
//
// One function per function index 0..11. Scalars arrive already converted to
// 32-bit integers (truncated toward zero); pyramid numbers, level numbers and
// mask numbers are 1-based, as at the plug-in interface. Images and the
// resolution map arrive as raw column-major buffers with their sizes; a buffer
// may be null when its size is 0. Results are owned copies.
//
// Who checks what
// ---------------
// The entry, before calling an operation, runs its own checks (argument count,
// output count, classes and complexity of the inputs) and then the operand
// checks of each index, in this order, with these texts:
//   0      n in 1..16                    "Invalid value for 'n'"
//   1      n in 1..T (pyramidExists)     "Invalid value for 'n'"
//          map has exactly 2 dimensions  "Input 2 must be a 2D resmap"
//   2, 3   n in 1..T                     "Invalid value for 'n'"
//          k in 1..L-1 (signed: L = 0 fails every k)
//                                        "Invalid blending mask index"
//          mask list not empty           "The resmap for this image has not yet been set"
//   4      n in 1..T                     "Invalid value for 'n'"
//          image has exactly 2 dims      "Input 2 must be a 2D image"
//          size equals level 1's         "The input image is not the correct size"
//            (levelSize(n, 1) throws "The pyramid does not have this many
//             levels" when the pyramid has no levels; let it propagate)
//   5      n in 1..T                     "Invalid value for 'n'"
//   6, 7   n in 1..T; level in 1..L      "The pyramid does not have this many levels"
//   8, 9   n in 1..T; level in 1..L; 2 dims ("Input 3 must be a 2D image");
//          size equals that level's      "The input image is not the correct size"
//   10     n in 1..T; mask list not empty "The resmap for this image has not yet been set"
//   11     n in 1..T                     "Invalid value for 'n'"
// The size test compares the image's first dimension with the level's rows and
// its second with the level's columns.
//
// Every operation checks its operands again itself (same texts, so a repeated
// check changes nothing) and adds the checks for cases the table leaves open.
// These come after the table's checks and before anything changes:
//   0   columns, rows or L negative, L above kMaxLevels, or rows * columns above
//       kMaxPixels                     "The pyramid size is not valid"
//   2,3 k above the number of masks present (a pyramid re-shaped with more
//       levels after its map was set) "Invalid blending mask index"
//   1   a map with more than 2^31 - 1 rows or columns
//                                      "The resmap is too large"
//   10  the pyramid has no levels     "The pyramid does not have this many levels"
//       more levels than masks + 1    "The resmap for this image has not yet been set"
//   11  the pyramid has no levels     "The pyramid does not have this many levels"
// Memory that cannot be allocated ends the operation with "Out of memory"
// (the pyramid keeps what it held before the failing allocation).
// Failures of the work itself: "Could not reduce the image" (reduce), "Could
// not expand the image" and "Could not blend the image" (encode); the work done
// before the failure stays.
//
// Everything here reports failure only by throwing EngineError. The entry
// catches EngineError (and only that type) at the operation boundary and raises
// its text through the host.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "toolkit/limits.hpp"

namespace kal {

// The engine's one failure type; its text is the message the host reports.
class EngineError : public std::runtime_error {
public:
    explicit EngineError(const std::string& text) : std::runtime_error(text) {}
};

// Message texts of the operations.
namespace msg {
inline constexpr const char* kInvalidN = "Invalid value for 'n'";
inline constexpr const char* kNot2DResmap = "Input 2 must be a 2D resmap";
inline constexpr const char* kInvalidMask = "Invalid blending mask index";
inline constexpr const char* kNoResmap = "The resmap for this image has not yet been set";
inline constexpr const char* kNot2DImage2 = "Input 2 must be a 2D image";
inline constexpr const char* kNot2DImage3 = "Input 3 must be a 2D image";
inline constexpr const char* kWrongSize = "The input image is not the correct size";
inline constexpr const char* kNoSuchLevel = "The pyramid does not have this many levels";
inline constexpr const char* kReduceFailed = "Could not reduce the image";
inline constexpr const char* kExpandFailed = "Could not expand the image";
inline constexpr const char* kBlendFailed = "Could not blend the image";
inline constexpr const char* kBadPyramidSize = "The pyramid size is not valid";
inline constexpr const char* kResmapTooLarge = "The resmap is too large";
inline constexpr const char* kOutOfMemory = "Out of memory";
}  // namespace msg

inline constexpr std::int32_t kMaxPyramids = 16;
// Limits of createpyramid: beyond 32 levels every level of any extent is
// empty; the pixel limit is the program's one image size limit (2^27 pixels,
// a 16384 x 8192 image).
inline constexpr std::int64_t kMaxLevels = 32;
inline constexpr std::int64_t kMaxPixels = ocu::kMaxImagePixels;

// A byte image, column-major: byte (r, c) at data[c * rows + r].
struct Image8 {
    std::size_t rows = 0, cols = 0;
    std::vector<std::uint8_t> data;
};

// A byte image the pyramid table holds (a level or a mask), column-major, lent
// until the next operation on the table: what the entry copies into an output
// array, without a copy of its own in between.
struct ImageRef {
    std::size_t rows = 0, cols = 0;
    const std::uint8_t* data = nullptr;  // rows * cols bytes; may be null when empty
};

// Block rectangles of one mask, one entry per rectangle in list order:
// first column, first row, column end, row end (0-based, ends exclusive).
struct MaskRects {
    std::vector<double> c0, r0, c1, r1;
};

struct LevelSize {
    std::size_t rows = 0, cols = 0;
};

// ---- State queries (never change anything) --------------------------------

// T, the number of pyramids in the table.
std::size_t tableSize() noexcept;
// n in 1..T, compared as unsigned (a negative n is not a pyramid).
bool pyramidExists(std::int32_t n) noexcept;
// The following throw EngineError("Invalid value for 'n'") when n is not in 1..T.
std::uint32_t levelCount(std::int32_t n);   // L; 0 for a pyramid never shaped
bool masksEmpty(std::int32_t n);            // no resolution map set (or set under L <= 1)
std::size_t maskCount(std::int32_t n);      // number of masks present
// Rows and columns of level `level` (1-based); throws "The pyramid does not
// have this many levels" when level is not in 1..L.
LevelSize levelSize(std::int32_t n, std::int32_t level);

// ---- Operations, by function index -----------------------------------------

void createPyramid(std::int32_t n, std::int32_t cols, std::int32_t rows,
                   std::int32_t levels);                                        // 0
void setResMap(std::int32_t n, std::size_t rows, std::size_t cols,
               const double* map);                                             // 1
MaskRects getMaskRects(std::int32_t n, std::int32_t k);                        // 2
Image8 getBlendMask(std::int32_t n, std::int32_t k);                           // 3
void setBase(std::int32_t n, std::size_t rows, std::size_t cols,
             const std::uint8_t* image);                                       // 4
void reduce(std::int32_t n);                                                   // 5
Image8 getSrcLevel(std::int32_t n, std::int32_t level);                        // 6
Image8 getEncLevel(std::int32_t n, std::int32_t level);                        // 7
void setSrcLevel(std::int32_t n, std::int32_t level, std::size_t rows,
                 std::size_t cols, const std::uint8_t* image);                 // 8
void setEncLevel(std::int32_t n, std::int32_t level, std::size_t rows,
                 std::size_t cols, const std::uint8_t* image);                 // 9
void encode(std::int32_t n, std::int32_t fixCol, std::int32_t fixRow);         // 10
Image8 getEncodedImage(std::int32_t n);                                        // 11

// The images of indices 3, 6, 7 and 11 lent instead of copied; the same checks.
ImageRef blendMaskRef(std::int32_t n, std::int32_t k);
ImageRef srcLevelRef(std::int32_t n, std::int32_t level);
ImageRef encLevelRef(std::int32_t n, std::int32_t level);
ImageRef encodedImageRef(std::int32_t n);

}  // namespace kal
