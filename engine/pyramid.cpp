#include "engine/pyramid.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

#include "engine/workers.hpp"

namespace kal {

namespace {

using std::int32_t;
using std::int64_t;
using std::size_t;
using std::uint8_t;

// Runs f and turns a failed allocation into the engine's error.
template <class F>
auto guarded(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        throw EngineError(msg::kOutOfMemory);
    } catch (const std::length_error&) {
        throw EngineError(msg::kOutOfMemory);
    }
}

size_t levelBytes(int32_t rows, int32_t cols, int32_t k) {
    return static_cast<size_t>(shiftDown(rows, k)) * static_cast<size_t>(shiftDown(cols, k));
}

bool levelInRange(const Pyramid& p, int32_t level) {
    return level >= 1 && static_cast<uint32_t>(level) <= p.levels;
}

}  // namespace

PyramidTable::PyramidTable() { pyramids_.reserve(static_cast<size_t>(kMaxPyramids)); }

bool PyramidTable::exists(std::int32_t n) const noexcept {
    return n >= 1 && static_cast<size_t>(n) <= pyramids_.size();
}

const Pyramid& PyramidTable::pyramid(std::int32_t n) const {
    if (!exists(n)) throw EngineError(msg::kInvalidN);
    return pyramids_[static_cast<size_t>(n) - 1];
}

Pyramid& PyramidTable::at(std::int32_t n) {
    if (!exists(n)) throw EngineError(msg::kInvalidN);
    return pyramids_[static_cast<size_t>(n) - 1];
}

std::uint32_t PyramidTable::levelCount(std::int32_t n) const { return pyramid(n).levels; }

bool PyramidTable::masksEmpty(std::int32_t n) const { return pyramid(n).masks.empty(); }

std::size_t PyramidTable::maskCount(std::int32_t n) const { return pyramid(n).masks.size(); }

LevelSize PyramidTable::levelSize(std::int32_t n, std::int32_t level) const {
    const Pyramid& p = pyramid(n);
    if (!levelInRange(p, level)) throw EngineError(msg::kNoSuchLevel);
    const PyramidLevel& l = p.src[static_cast<size_t>(level) - 1];
    return LevelSize{static_cast<size_t>(l.levelRows()), static_cast<size_t>(l.levelCols())};
}

// ---- createpyramid ----------------------------------------------------------
//
// Every allocation happens before the pyramid changes, so running out of
// memory leaves it as it was (the table may have grown by empty entries).
void PyramidTable::createPyramid(std::int32_t n, std::int32_t cols, std::int32_t rows, std::int32_t levels) {
    guarded([&] {
        if (n < 1 || n > kMaxPyramids) throw EngineError(msg::kInvalidN);
        if (cols < 0 || rows < 0 || levels < 0 || levels > kMaxLevels ||
            int64_t{rows} * int64_t{cols} > kMaxPixels)
            throw EngineError(msg::kBadPyramidSize);
        if (pyramids_.size() < static_cast<size_t>(n)) pyramids_.resize(static_cast<size_t>(n));
        Pyramid& p = pyramids_[static_cast<size_t>(n) - 1];
        const auto L = static_cast<size_t>(levels);

        // Buffers that must grow past their capacity are made anew, holding the
        // old bytes at their start and zeros after.
        std::vector<std::vector<uint8_t>> fresh(2 * L);
        std::vector<bool> isFresh(2 * L, false);
        std::vector<PyramidLevel>* lists[2] = {&p.src, &p.enc};
        for (size_t li = 0; li < 2; ++li) {
            for (size_t k = 0; k < L; ++k) {
                const size_t need = levelBytes(rows, cols, static_cast<int32_t>(k));
                const std::vector<uint8_t>* old = k < lists[li]->size() ? &(*lists[li])[k].pixels : nullptr;
                if (old != nullptr && need <= old->capacity()) continue;
                std::vector<uint8_t>& f = fresh[li * L + k];
                f.assign(need, 0);
                if (old != nullptr) std::copy_n(old->data(), std::min(old->size(), need), f.data());
                isFresh[li * L + k] = true;
            }
            lists[li]->reserve(L);
        }

        // From here on nothing allocates.
        for (size_t li = 0; li < 2; ++li) {
            lists[li]->resize(L);
            for (size_t k = 0; k < L; ++k) {
                PyramidLevel& lv = (*lists[li])[k];
                lv.rows = rows;
                lv.cols = cols;
                lv.level = static_cast<int32_t>(k);
                if (isFresh[li * L + k])
                    lv.pixels.swap(fresh[li * L + k]);
                else
                    lv.pixels.resize(levelBytes(rows, cols, lv.level));
            }
        }
        p.levels = static_cast<uint32_t>(levels);
        p.fixR = rows / 2;
        p.fixC = cols / 2;
    });
}

// ---- setresmap ----------------------------------------------------------------

void PyramidTable::setResMap(std::int32_t n, std::size_t rows, std::size_t cols, const double* map) {
    guarded([&] {
        Pyramid& p = at(n);
        constexpr auto kMaxExtent = static_cast<size_t>(std::numeric_limits<int32_t>::max());
        if (rows > kMaxExtent || cols > kMaxExtent) throw EngineError(msg::kResmapTooLarge);
        if (map == nullptr && rows != 0 && cols != 0) throw EngineError(msg::kNot2DResmap);
        const size_t count = p.levels <= 1 ? 0 : p.levels - 1;
        std::vector<BlendMask> masks =
            buildMasks(map, static_cast<int32_t>(rows), static_cast<int32_t>(cols), static_cast<int>(count));
        std::vector<std::vector<BlockRect>> rects(count);
        for (size_t k = 0; k < count; ++k) rects[k] = maskBlockRects(masks[k], static_cast<int>(k));
        std::vector<std::vector<BlockRect>> placed = rects;
        p.masks = std::move(masks);
        p.maskRects = std::move(rects);
        p.imageRects = std::move(placed);
    });
}

// ---- masks and their rectangles ----------------------------------------------

const BlendMask& PyramidTable::maskChecked(std::int32_t n, std::int32_t k) const {
    const Pyramid& p = pyramid(n);
    if (k < 1 || int64_t{k} > int64_t{p.levels} - 1) throw EngineError(msg::kInvalidMask);
    if (p.masks.empty()) throw EngineError(msg::kNoResmap);
    // A pyramid re-shaped with more levels after its map was set has fewer masks.
    if (static_cast<size_t>(k) > p.masks.size()) throw EngineError(msg::kInvalidMask);
    return p.masks[static_cast<size_t>(k) - 1];
}

MaskRects PyramidTable::getMaskRects(std::int32_t n, std::int32_t k) const {
    return guarded([&] {
        maskChecked(n, k);
        const std::vector<BlockRect>& list = pyramid(n).maskRects[static_cast<size_t>(k) - 1];
        MaskRects out;
        for (const BlockRect& r : list) {
            out.c0.push_back(r.c0);
            out.r0.push_back(r.r0);
            out.c1.push_back(r.c1);
            out.r1.push_back(r.r1);
        }
        return out;
    });
}

ImageRef PyramidTable::blendMaskRef(std::int32_t n, std::int32_t k) const {
    const BlendMask& m = maskChecked(n, k);
    return ImageRef{static_cast<size_t>(m.rows), static_cast<size_t>(m.cols), m.pixels.data()};
}

Image8 PyramidTable::getBlendMask(std::int32_t n, std::int32_t k) const {
    return guarded([&] { return copyOf(blendMaskRef(n, k)); });
}

// ---- level images --------------------------------------------------------------

void PyramidTable::copyIn(PyramidLevel& level, std::size_t rows, std::size_t cols, const std::uint8_t* image) {
    if (rows != static_cast<size_t>(level.levelRows()) || cols != static_cast<size_t>(level.levelCols()))
        throw EngineError(msg::kWrongSize);
    const size_t bytes = rows * cols;
    if (bytes == 0) return;
    if (image == nullptr) throw EngineError(msg::kWrongSize);
    copyBytes(level.pixels.data(), image, bytes);
}

ImageRef PyramidTable::refOf(const PyramidLevel& level) {
    return ImageRef{static_cast<size_t>(level.levelRows()), static_cast<size_t>(level.levelCols()), level.pixels.data()};
}

Image8 PyramidTable::copyOf(const ImageRef& image) {
    Image8 out{image.rows, image.cols, {}};
    if (image.data != nullptr) out.data.assign(image.data, image.data + image.rows * image.cols);
    return out;
}

void PyramidTable::setBase(std::int32_t n, std::size_t rows, std::size_t cols, const std::uint8_t* image) {
    Pyramid& p = at(n);
    if (p.levels == 0) throw EngineError(msg::kNoSuchLevel);
    copyIn(p.src[0], rows, cols, image);
}

void PyramidTable::setSrcLevel(std::int32_t n, std::int32_t level, std::size_t rows, std::size_t cols,
                               const std::uint8_t* image) {
    Pyramid& p = at(n);
    if (!levelInRange(p, level)) throw EngineError(msg::kNoSuchLevel);
    copyIn(p.src[static_cast<size_t>(level) - 1], rows, cols, image);
}

void PyramidTable::setEncLevel(std::int32_t n, std::int32_t level, std::size_t rows, std::size_t cols,
                               const std::uint8_t* image) {
    Pyramid& p = at(n);
    if (!levelInRange(p, level)) throw EngineError(msg::kNoSuchLevel);
    copyIn(p.enc[static_cast<size_t>(level) - 1], rows, cols, image);
}

ImageRef PyramidTable::srcLevelRef(std::int32_t n, std::int32_t level) const {
    const Pyramid& p = pyramid(n);
    if (!levelInRange(p, level)) throw EngineError(msg::kNoSuchLevel);
    return refOf(p.src[static_cast<size_t>(level) - 1]);
}

ImageRef PyramidTable::encLevelRef(std::int32_t n, std::int32_t level) const {
    const Pyramid& p = pyramid(n);
    if (!levelInRange(p, level)) throw EngineError(msg::kNoSuchLevel);
    return refOf(p.enc[static_cast<size_t>(level) - 1]);
}

ImageRef PyramidTable::encodedImageRef(std::int32_t n) const {
    const Pyramid& p = pyramid(n);
    if (p.levels == 0) throw EngineError(msg::kNoSuchLevel);
    return refOf(p.enc[0]);
}

Image8 PyramidTable::getSrcLevel(std::int32_t n, std::int32_t level) const {
    return guarded([&] { return copyOf(srcLevelRef(n, level)); });
}

Image8 PyramidTable::getEncLevel(std::int32_t n, std::int32_t level) const {
    return guarded([&] { return copyOf(encLevelRef(n, level)); });
}

Image8 PyramidTable::getEncodedImage(std::int32_t n) const {
    return guarded([&] { return copyOf(encodedImageRef(n)); });
}

// ---- reduce -------------------------------------------------------------------

void PyramidTable::reduce(std::int32_t n) {
    Pyramid& p = at(n);
    for (size_t k = 0; k + 1 < p.levels; ++k) {
        const ImageView fine = p.src[k].view(), coarse = p.src[k + 1].view();
        if (!reduceLevel(&fine, &coarse)) throw EngineError(msg::kReduceFailed);
    }
}

// ---- encode -------------------------------------------------------------------

BlockRect placeRect(const BlockRect& r, std::int64_t offR, std::int64_t offC, int k, std::int32_t imageRows,
                    std::int32_t imageCols) {
    const int64_t align = ~((int64_t{1} << k) - 1);
    auto place = [&](int32_t x, int64_t off, int32_t extent) {
        return static_cast<int32_t>(std::clamp<int64_t>((int64_t{x} + off) & align, 0, std::max(extent, 0)));
    };
    BlockRect out;
    out.r0 = place(r.r0, offR, imageRows);
    out.r1 = place(r.r1, offR, imageRows);
    out.c0 = place(r.c0, offC, imageCols);
    out.c1 = place(r.c1, offC, imageCols);
    return out;
}

void PyramidTable::encode(std::int32_t n, std::int32_t fixCol, std::int32_t fixRow) {
    guarded([&] {
        Pyramid& p = at(n);
        if (p.masks.empty()) throw EngineError(msg::kNoResmap);
        if (p.levels == 0) throw EngineError(msg::kNoSuchLevel);
        const size_t L = p.levels;
        // More levels than the map was set for: the masks do not cover them.
        if (L - 1 > p.masks.size()) throw EngineError(msg::kNoResmap);

        // 1: the fixation, inside the full-resolution image.
        const int32_t R0 = p.src[0].levelRows(), C0 = p.src[0].levelCols();
        int32_t fr = std::max(fixRow, 0), fc = std::max(fixCol, 0);
        if (fr >= R0) fr = R0 - 1;
        if (fc >= C0) fc = C0 - 1;
        p.fixR = fr;
        p.fixC = fc;

        // 2: lay the masks' rectangles on the image, on whole level pixels.
        if (p.imageRects.size() < p.masks.size()) p.imageRects.resize(p.masks.size());
        std::vector<int64_t> offR(L - 1), offC(L - 1);
        for (size_t k = 0; k + 1 < L; ++k) {
            offR[k] = int64_t{fr} - p.masks[k].anchorR;
            offC[k] = int64_t{fc} - p.masks[k].anchorC;
            std::vector<BlockRect>& placed = p.imageRects[k];
            placed = p.maskRects[k];
            for (BlockRect& r : placed) r = placeRect(r, offR[k], offC[k], static_cast<int>(k), R0, C0);
        }

        // 3: the coarsest rendered level is the coarsest source level.
        p.enc[L - 1] = p.src[L - 1];

        // 4: upwards, expanding and blending the source's detail back in,
        // both in one pass over the columns of each level.
        for (size_t k = L - 1; k-- > 0;) {
            const ImageView coarse = p.enc[k + 1].view(), fine = p.enc[k].view();
            const ImageView source = p.src[k].view(), mask = p.masks[k].view();
            const std::vector<BlockRect>& rects = p.imageRects[k];
            switch (expandAndBlend(&coarse, &fine, &source, &mask, rects.data(), rects.size(), offR[k], offC[k])) {
                case ExpandBlend::Done:
                    break;
                case ExpandBlend::ExpandRefused:
                    throw EngineError(msg::kExpandFailed);
                case ExpandBlend::BlendRefused:
                    throw EngineError(msg::kBlendFailed);
            }
        }
    });
}

}  // namespace kal
