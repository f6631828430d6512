#include "fixdep/simulation.hpp"

#include <cstdint>
#include <string>
#include <utility>

#include "toolkit/arrayops.hpp"
#include "toolkit/limits.hpp"
#include "toolkit/numtext.hpp"

namespace ocu::fixdep {

ArrayD blind_as_minus_one(ArrayD restot) {
    for (double& v : restot.span())
        if (v == 0.0) v = -1.0;
    return restot;
}

void prepare_masks(ArrayD& restot) {
    // Swapping 0 for -1 and back is lossless only if the map holds no -1 of
    // its own; resolution maps are never negative, but a caller's map might
    // be, and then it gets a copy.
    const int nolevs = mask_level_count(restot, restot.cols() / 2, restot.rows() / 2);
    bool negative = false;
    for (double v : restot.span()) negative = negative || v < 0.0;
    if (negative) {
        prepblendmasks(blind_as_minus_one(restot), nolevs);
        return;
    }
    const std::span<double> m = restot.span();
    for (double& v : m)
        if (v == 0.0) v = -1.0;
    auto restore = [m] {
        for (double& v : m)
            if (v == -1.0) v = 0.0;
    };
    try {
        prepblendmasks(restot, nolevs);
    } catch (...) {
        restore();
        throw;
    }
    restore();
}

Fixation centre_fixation(std::size_t sx, std::size_t sy) {
    return {round_half_away(static_cast<double>(sx) / 2.0), round_half_away(static_cast<double>(sy) / 2.0)};
}

void check(std::size_t sx, std::size_t sy, const Params& p) {
    viewing::check_width(p.width);
    viewing::check_acuity(p.mar);
    fixdep_level_count(sx, sy);  // refuses images below 2 x 2
    if (static_cast<double>(sx) * static_cast<double>(sy) > static_cast<double>(kMaxImagePixels)) {
        throw Error("The image is too large for the fixation-dependent simulation: " +
                    size_text(static_cast<std::int64_t>(sx), static_cast<std::int64_t>(sy)) + " pixels, more than " + std::to_string(kMaxImagePixels) + ".");
    }
    check_polar_plot(p.polim);
}

void check(const Params& p) {
    viewing::check_width(p.width);
    viewing::check_acuity(p.mar);
    check_polar_plot(p.polim);
}

Session::Session(std::size_t sx, std::size_t sy, ArrayD restot)
    : sx_(sx), sy_(sy), restot_(std::move(restot)) {}

ArrayD Session::release_resmap() { return std::exchange(restot_, ArrayD()); }

Fixation Session::centre() const { return centre_fixation(sx_, sy_); }

Session prepare(std::size_t sx, std::size_t sy, const Params& p) {
    check(sx, sy, p);
    ArrayD restot = resmaptotim(p.polim, sx, sy, viewing::viewing_distance(sx, p.width), 1.0 / p.mar);
    prepare_masks(restot);
    return Session(sx, sy, std::move(restot));
}

ArrayD render(Session&, Fixation f, const AnyImage& im) { return fixdepimage(f.x, f.y, im); }

void render(Session&, Fixation f, const AnyImage& im, ArrayD& into) { fixdepimage(f.x, f.y, im, into); }

void render(Session&, Fixation f, const SquaredImage& im, ArrayD& into) { fixdepimage(f.x, f.y, im, into); }

ArrayD run(const AnyImage& im, const Params& p) {
    Session s = prepare(image_cols(im), image_rows(im), p);
    s.release_resmap();  // the engine holds the masks; the map is not needed
    return render(s, s.centre(), im);
}

}  // namespace ocu::fixdep
