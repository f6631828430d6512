#include "field/polarplot.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "field/interpolate.hpp"
#include "field/reader_util.hpp"
#include "field/sensitivity.hpp"
#include "toolkit/error.hpp"

namespace ocu::field {

namespace {

constexpr std::size_t N = kPlotSize;
constexpr double k = kPixelsPerDegree;

// Degrees of the plot pixel at 1-based column c and row r.
double x_of(std::size_t c) { return (static_cast<double>(c) - kPlotCentre) / k; }
double y_of(std::size_t r) { return (kPlotCentre - static_cast<double>(r)) / k; }

Eye other(Eye e) { return e == Eye::OD ? Eye::OS : Eye::OD; }

const char* eye_words(Eye e) { return e == Eye::OD ? "the right eye (OD)" : "the left eye (OS)"; }

double age_for(const Measurement& m, const PlotOptions& opts) {
    if (opts.age) {
        if (!std::isfinite(*opts.age) || *opts.age < 0 || *opts.age > detail::kMaxAge) {
            throw Error("The age " + detail::num(*opts.age) + " is outside 0.." + detail::num(detail::kMaxAge) +
                        " years.");
        }
        return *opts.age;
    }
    return m.age ? *m.age : kNormalModel.default_age;
}

// The eye of `m` if the file or the options say (an error if they disagree).
std::optional<Eye> stated_eye(const Measurement& m, const std::optional<Eye>& asked) {
    if (asked && m.eye && *asked != *m.eye) {
        throw Error(detail::at(m.source) + " holds " + eye_words(*m.eye) + ", not " + eye_words(*asked) +
                    " asked for.");
    }
    return asked ? asked : m.eye;
}

[[noreturn]] void no_eye(const Measurement& m) {
    throw Error(detail::at(m.source) +
                " does not say which eye was measured (no eye column, \"eye\" key or laterality); "
                "give the eye, OD or OS.");
}

// Outside the 90-degree circle, where the simulation never reads, the plot
// is light gray.
constexpr std::uint8_t kFrame = 235;

bool in_frame(std::size_t r, std::size_t c) {
    const double dx = static_cast<double>(c) - kPlotCentre, dy = static_cast<double>(r) - kPlotCentre;
    // A lookup rounds row and column separately: it may land up to 0.71
    // pixels beyond the circle.
    return std::sqrt(dx * dx + dy * dy) > kPixelsAt90Degrees + 1.0;
}

// Red and green, the same for every plot: a light background inside the
// 90-degree circle, a grid of circles every 10 degrees and radials every 30.
ArrayU8 make_background() {
    ArrayU8 im(N, N, 3);
    double sin30[6], cos30[6];
    for (int i = 0; i < 6; ++i) {
        sin30[i] = std::sin(i * std::numbers::pi / 6);
        cos30[i] = std::cos(i * std::numbers::pi / 6);
    }
    for (std::size_t c = 1; c <= N; ++c)
        for (std::size_t r = 1; r <= N; ++r) {
            const double dx = static_cast<double>(c) - kPlotCentre, dy = static_cast<double>(r) - kPlotCentre;
            const double rpx = std::sqrt(dx * dx + dy * dy);
            std::uint8_t red = kFrame, green = kFrame;
            if (in_frame(r, c)) {
                im(r - 1, c - 1, 2) = kFrame;
            } else {
                red = 114, green = 140;
                const double ring = rpx / (10.0 * k);
                bool grid = std::abs(ring - std::round(ring)) * 10.0 * k < 0.5 && ring > 0.5;
                for (int i = 0; i < 6 && !grid; ++i) grid = std::abs(dx * sin30[i] - dy * cos30[i]) < 0.5;
                if (grid) red = green = 255;
            }
            im(r - 1, c - 1, 0) = red;
            im(r - 1, c - 1, 1) = green;
        }
    return im;
}

// The plot of sensitivities `s`: blue round(255 s), red and green the
// background with the test points of `fields` marked on it.
ArrayU8 draw(const ArrayD& s, const std::vector<const Measurement*>& fields) {
    static const ArrayU8 background = make_background();
    ArrayU8 im = background;
    std::uint8_t* blue = im.data() + 2 * N * N;
    for (std::size_t c = 1; c <= N; ++c)
        for (std::size_t r = 1; r <= N; ++r) {
            const std::size_t i = (c - 1) * N + (r - 1);
            if (!in_frame(r, c)) blue[i] = blue_of(s[i]);
        }
    for (const Measurement* m : fields)
        for (const TestPoint& p : m->points) {
            const long pc = std::lround(kPlotCentre + p.x * k), pr = std::lround(kPlotCentre - p.y * k);
            for (long r = pr - 1; r <= pr + 1; ++r)
                for (long c = pc - 1; c <= pc + 1; ++c) {
                    if (r < 1 || c < 1 || r > static_cast<long>(N) || c > static_cast<long>(N)) continue;
                    im(static_cast<std::size_t>(r - 1), static_cast<std::size_t>(c - 1), 0) = 255;
                    im(static_cast<std::size_t>(r - 1), static_cast<std::size_t>(c - 1), 1) = 0;
                }
        }
    return im;
}

}  // namespace

bool in_blind_spot(Eye eye, double x, double y) {
    const BlindSpot& b = kBlindSpot;
    const double cx = eye == Eye::OD ? b.temporal_deg : -b.temporal_deg;
    const double u = (x - cx) / (b.width_deg / 2), v = (y + b.below_deg) / (b.height_deg / 2);
    return u * u + v * v <= 1.0;
}

const char* eyes_name(Eyes eyes) {
    switch (eyes) {
        case Eyes::OD: return "OD";
        case Eyes::OS: return "OS";
        case Eyes::Both: break;
    }
    return "OD+OS";
}

Eye resolve_eye(const Measurement& m, const PlotOptions& opts) {
    const auto e = stated_eye(m, opts.eye);
    if (!e) no_eye(m);
    return *e;
}

ArrayD sensitivity_map(const Measurement& m, Eye eye, const PlotOptions& opts) {
    const double age = age_for(m, opts);
    std::vector<Interpolator::Node> nodes;
    nodes.reserve(m.points.size());
    bool blind_spot_measured = false;
    for (const TestPoint& p : m.points) {
        const double normal = normal_threshold_db(p.x, p.y, age);
        double td = p.db;
        if (!p.seen) td = kNotSeenThresholdDb - normal;
        else if (m.kind == Kind::Threshold) td = p.db - normal;
        nodes.push_back({p.x, p.y, td});
        if (!p.seen && in_blind_spot(eye, p.x, p.y)) blind_spot_measured = true;
    }
    const Interpolator interp = [&] {
        try {
            return Interpolator(std::move(nodes));
        } catch (const Error& e) {
            throw Error(detail::at(m.source) + ": " + e.what());
        }
    }();

    ArrayD s(N, N);
    std::vector<char> done(N * N, 0);
    // Inside the hull: every pixel of each triangle's bounding box that the
    // triangle holds (a pixel on a shared edge gets the same value from both).
    for (const Interpolator::Triangle& t : interp.triangles()) {
        double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
        for (std::size_t v : t) {
            x0 = std::min(x0, interp.nodes()[v].x), x1 = std::max(x1, interp.nodes()[v].x);
            y0 = std::min(y0, interp.nodes()[v].y), y1 = std::max(y1, interp.nodes()[v].y);
        }
        auto clampi = [](double v) { return static_cast<std::size_t>(std::clamp(v, 1.0, static_cast<double>(N))); };
        const std::size_t c0 = clampi(std::floor(kPlotCentre + x0 * k)), c1 = clampi(std::ceil(kPlotCentre + x1 * k));
        const std::size_t r0 = clampi(std::floor(kPlotCentre - y1 * k)), r1 = clampi(std::ceil(kPlotCentre - y0 * k));
        for (std::size_t c = c0; c <= c1; ++c)
            for (std::size_t r = r0; r <= r1; ++r) {
                const std::size_t i = (c - 1) * N + (r - 1);
                if (done[i]) continue;
                const double x = x_of(c), y = y_of(r);
                const auto w = interp.weights(t, x, y);
                constexpr double tol = Interpolator::kTolerance;
                if (w[0] < -tol || w[1] < -tol || w[2] < -tol) continue;
                s[i] = sensitivity(interp.value_in(t, w), normal_threshold_db(x, y, age));
                done[i] = 1;
            }
    }
    // Outside the hull: continued along the direction from fixation, or normal.
    std::size_t hint = 0;
    for (std::size_t c = 1; c <= N; ++c)
        for (std::size_t r = 1; r <= N; ++r) {
            const std::size_t i = (c - 1) * N + (r - 1);
            if (done[i]) continue;
            if (opts.periphery == Periphery::Normal) {
                s[i] = 1.0;
            } else {
                const double x = x_of(c), y = y_of(r);
                s[i] = sensitivity(interp.along_ray(x, y, &hint), normal_threshold_db(x, y, age));
            }
        }
    if (!blind_spot_measured) {
        const BlindSpot& b = kBlindSpot;
        const double cx = kPlotCentre + (eye == Eye::OD ? b.temporal_deg : -b.temporal_deg) * k;
        const double cy = kPlotCentre + b.below_deg * k;
        const auto c0 = static_cast<std::size_t>(std::floor(cx - b.width_deg * k / 2));
        const auto r0 = static_cast<std::size_t>(std::floor(cy - b.height_deg * k / 2));
        for (std::size_t c = c0; c <= c0 + static_cast<std::size_t>(b.width_deg * k) + 2; ++c)
            for (std::size_t r = r0; r <= r0 + static_cast<std::size_t>(b.height_deg * k) + 2; ++r)
                if (in_blind_spot(eye, x_of(c), y_of(r))) s(r - 1, c - 1) = 0.0;
    }
    return s;
}

PolarPlot polar_plot(const Measurement& m, const PlotOptions& opts) {
    const Eye eye = resolve_eye(m, opts);
    return {draw(sensitivity_map(m, eye, opts), {&m}), eye == Eye::OD ? Eyes::OD : Eyes::OS};
}

PolarPlot binocular_polar_plot(const Measurement& m, const Measurement& other_eye, const PlotOptions& opts) {
    std::optional<Eye> a = stated_eye(m, opts.eye);
    std::optional<Eye> b = other_eye.eye;
    if (!a && !b) no_eye(m);
    if (!a) a = other(*b);
    if (!b) b = other(*a);
    if (*a == *b) {
        throw Error("Both fields are of " + std::string(eye_words(*a)) + " (\"" + m.source + "\" and \"" +
                    other_eye.source + "\"); a binocular field needs one of each eye.");
    }
    PlotOptions opts_b = opts;
    opts_b.eye = b;
    ArrayD s = sensitivity_map(m, *a, opts);
    const ArrayD s2 = sensitivity_map(other_eye, *b, opts_b);
    for (std::size_t i = 0; i < s.numel(); ++i) s[i] = std::max(s[i], s2[i]);
    return {draw(s, {&m, &other_eye}), Eyes::Both};
}

}  // namespace ocu::field
