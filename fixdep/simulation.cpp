#include "fixdep/simulation.hpp"

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "toolkit/arrayops.hpp"
#include "toolkit/limits.hpp"
#include "toolkit/numtext.hpp"
#include "toolkit/parallel.hpp"

namespace ocu::fixdep {

ArrayD blind_as_minus_one(ArrayD restot) {
    for (double& v : restot.span())
        if (v == 0.0) v = -1.0;
    return restot;
}

namespace {

// Maps of photos are hundreds of megabytes: the passes over them run on all cores.
constexpr std::size_t kMapGrain = std::size_t{1} << 20;

bool any_negative(const ArrayD& m) {
    std::atomic<bool> found{false};
    const double* v = m.data();
    parallel_for(
        m.numel(),
        [&found, v](std::size_t b, std::size_t e) {
            bool here = false;
            for (std::size_t i = b; i < e; ++i) here = here || v[i] < 0.0;
            if (here) found.store(true, std::memory_order_relaxed);
        },
        kMapGrain);
    return found.load();
}

void replace_all(std::span<double> m, double from, double to) {
    double* v = m.data();
    parallel_for(
        m.size(),
        [v, from, to](std::size_t b, std::size_t e) {
            for (std::size_t i = b; i < e; ++i)
                if (v[i] == from) v[i] = to;
        },
        kMapGrain);
}

}  // namespace

void prepare_masks(ArrayD& restot, int pyramid) {
    // Swapping 0 for -1 and back is lossless only if the map holds no -1 of
    // its own; resolution maps are never negative, but a caller's map might
    // be, and then it gets a copy.
    const int nolevs = mask_level_count(restot, restot.cols() / 2, restot.rows() / 2);
    if (any_negative(restot)) {
        prepblendmasks(blind_as_minus_one(restot), nolevs, pyramid);
        return;
    }
    const std::span<double> m = restot.span();
    replace_all(m, 0.0, -1.0);
    try {
        prepblendmasks(restot, nolevs, pyramid);
    } catch (...) {
        replace_all(m, -1.0, 0.0);
        throw;
    }
    replace_all(m, -1.0, 0.0);
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

Session::Session(std::size_t sx, std::size_t sy, ArrayD restot, int pyramid)
    : sx_(sx), sy_(sy), restot_(std::move(restot)), pyramid_(pyramid) {}

ArrayD Session::release_resmap() { return std::exchange(restot_, ArrayD()); }

Fixation Session::centre() const { return centre_fixation(sx_, sy_); }

Session prepare(std::size_t sx, std::size_t sy, const Params& p, const Progress* progress, int pyramid) {
    check(sx, sy, p);
    blendmask_levels(pyramid);  // refuses a pyramid the program does not use
    report(progress, 0.0);
    ArrayD restot = resmaptotim(p.polim, sx, sy, viewing::viewing_distance(sx, p.width), 1.0 / p.mar);
    // The map costs about as much as the masks.
    report(progress, 0.5);
    prepare_masks(restot, pyramid);
    // The engine holds the new masks now: stopping here would leave them
    // without the Session that stands for them.
    if (progress) progress->unstoppable().at(1.0);
    return Session(sx, sy, std::move(restot), pyramid);
}

ArrayD render(const Session& s, Fixation f, const AnyImage& im) {
    ArrayD out;
    render(s, f, im, out);
    return out;
}

void render(const Session& s, Fixation f, const AnyImage& im, ArrayD& into) {
    if (s.pyramid() == kMainPyramid) {
        fixdepimage(f.x, f.y, im, into);
        return;
    }
    render(s, f, SquaredImage(im), into);
}

void render(const Session& s, Fixation f, const SquaredImage& im, ArrayD& into) {
    if (s.pyramid() == kMainPyramid) {
        fixdepimage(f.x, f.y, im, into);
        return;
    }
    ArrayU8 planes;
    render_planes(s, f, im, planes);
    planes_to_result(planes, im.planes(), into);
}

void render_planes(const Session& s, Fixation f, const SquaredImage& im, ArrayU8& planes, const Progress* progress) {
    fixdepimage_planes(f.x, f.y, im, planes, s.pyramid(), progress);
}

ArrayD run(const AnyImage& im, const Params& p) {
    Session s = prepare(image_cols(im), image_rows(im), p);
    s.release_resmap();  // the engine holds the masks; the map is not needed
    return render(s, s.centre(), im);
}

}  // namespace ocu::fixdep
