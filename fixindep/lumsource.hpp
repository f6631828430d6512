#pragma once
// Internal to fixindep: the local blur reads its input one column at a time
// through this interface, so that the command can feed stored 8-bit samples
// through a luminance table without building the luminance image first.
#include <algorithm>
#include <cstddef>
#include <optional>

#include "fixindep/locblurim.hpp"
#include "toolkit/array.hpp"
#include "toolkit/arrayops.hpp"
#include "toolkit/progress.hpp"

namespace ocu::fixindep {

class LumSource {
public:
    virtual ~LumSource() = default;
    virtual std::size_t rows() const = 0;
    virtual std::size_t cols() const = 0;
    virtual std::size_t planes() const = 0;  // 1 or 3
    // The three planes of the luminance are not all equal (colour mode).
    virtual bool colour() const = 0;
    // Rows r0..r1-1 of column c of luminance plane p into col[0..r1-r0).
    virtual void load_plane(std::size_t p, std::size_t c, std::size_t r0, std::size_t r1,
                            double* col) const = 0;
    // The same of the gray version: the gray conversion in colour mode
    // (clipped to 0..1), plane 1 otherwise.
    virtual void load_gray(std::size_t c, std::size_t r0, std::size_t r1, double* col) const = 0;
};

// A luminance image held as an array (rows x cols, or x 3).
class ArraySource : public LumSource {
public:
    explicit ArraySource(const ArrayD& lum);
    std::size_t rows() const override { return lum_.rows(); }
    std::size_t cols() const override { return lum_.cols(); }
    std::size_t planes() const override { return lum_.planes(); }
    bool colour() const override { return colour_; }
    void load_plane(std::size_t p, std::size_t c, std::size_t r0, std::size_t r1,
                    double* col) const override;
    void load_gray(std::size_t c, std::size_t r0, std::size_t r1, double* col) const override;

private:
    const ArrayD& lum_;
    bool colour_;
};

// Gray value of one pixel, as ocu::rgb2gray computes it.
inline double gray_of(double r, double g, double b) {
    const double v = kGrayWeights[0] * r + kGrayWeights[1] * g + kGrayWeights[2] * b;
    return std::min(std::max(v, 0.0), 1.0);
}

// locblurim on a source; the result is raised to `exponent` after the final
// clip (1 leaves it as it is, 0.5 takes the square root). The arguments must
// have passed check_locblurim_args. `progress` hears of every band of rows
// (toolkit/progress.hpp; the fast form only) and may stop the work there.
ArrayD locblur_source(const LumSource& src, double ac, std::optional<double> ct10,
                      std::optional<double> ct3, Filtering filtering, double exponent,
                      const Progress* progress = nullptr);

}  // namespace ocu::fixindep
