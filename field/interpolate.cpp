#include "field/interpolate.hpp"

#include <libqhull_r/qhull_ra.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <numbers>
#include <string>
#include <utility>

#include "toolkit/error.hpp"

namespace ocu::field {

namespace {

double cross(double ax, double ay, double bx, double by) { return ax * by - ay * bx; }

// Largest distance of a node from the line through the two nodes farthest
// apart from the first, relative to that pair's distance: 0 for points on one line.
double spread(const std::vector<Interpolator::Node>& n) {
    if (n.size() < 3) return 0;
    std::size_t far = 0;
    double d_far = 0;
    for (std::size_t i = 1; i < n.size(); ++i) {
        const double d = std::hypot(n[i].x - n[0].x, n[i].y - n[0].y);
        if (d > d_far) d_far = d, far = i;
    }
    if (d_far == 0) return 0;
    const double ux = (n[far].x - n[0].x) / d_far, uy = (n[far].y - n[0].y) / d_far;
    double off = 0;
    for (const auto& p : n) off = std::max(off, std::abs(cross(ux, uy, p.x - n[0].x, p.y - n[0].y)));
    return off / d_far;
}

// The Delaunay triangles of the nodes, by Qhull (reentrant C library).
std::vector<Interpolator::Triangle> delaunay(const std::vector<Interpolator::Node>& nodes) {
    std::vector<coordT> coords;
    coords.reserve(2 * nodes.size());
    for (const auto& n : nodes) {
        coords.push_back(n.x);
        coords.push_back(n.y);
    }
    // d: Delaunay; Qt: triangulated output; Qbb: scale the last coordinate;
    // Qc: keep coplanar points; Qz: add a point at infinity (co-circular input).
    char options[] = "qhull d Qt Qbb Qc Qz";
    char* err_text = nullptr;
    std::size_t err_size = 0;
    FILE* err = ::open_memstream(&err_text, &err_size);
    qhT qh_storage;
    qhT* qh = &qh_storage;
    qh_zero(qh, err);
    const int exitcode = qh_new_qhull(qh, 2, static_cast<int>(nodes.size()), coords.data(),
                                      False, options, nullptr, err);
    std::vector<Interpolator::Triangle> tris;
    if (exitcode == 0) {
        facetT* facet;
        FORALLfacets {
            if (facet->upperdelaunay) continue;
            Interpolator::Triangle t{};
            std::size_t k = 0;
            vertexT *vertex, **vertexp;
            FOREACHvertex_(facet->vertices) {
                if (k < 3) t[k] = static_cast<std::size_t>(qh_pointid(qh, vertex->point));
                ++k;
            }
            if (k == 3) tris.push_back(t);
        }
    }
    qh_freeqhull(qh, !qh_ALL);
    int curlong = 0, totlong = 0;
    qh_memfreeshort(qh, &curlong, &totlong);
    if (err) std::fclose(err);
    std::string text = err_text ? std::string(err_text, err_size) : std::string();
    std::free(err_text);
    if (exitcode != 0) {
        const std::size_t eol = text.find('\n');
        throw Error("The test points span no area (Qhull: " + text.substr(0, eol) + ").");
    }
    return tris;
}

}  // namespace

bool on_one_line(const std::vector<Interpolator::Node>& points) { return spread(points) < 1e-9; }

Interpolator::Interpolator(std::vector<Node> nodes) : nodes_(std::move(nodes)) {
    if (nodes_.size() < 3) {
        throw Error("There are " + std::to_string(nodes_.size()) +
                    " test points; at least three are needed.");
    }
    if (on_one_line(nodes_)) throw Error("All test points lie on one line; they must span an area.");
    for (const Triangle& t : delaunay(nodes_)) {
        const Node &a = nodes_[t[0]], &b = nodes_[t[1]], &c = nodes_[t[2]];
        // Qhull's triangulation may leave triangles of no area; they add nothing.
        if (std::abs(cross(b.x - a.x, b.y - a.y, c.x - a.x, c.y - a.y)) > 1e-12) triangles_.push_back(t);
    }
    if (triangles_.empty()) throw Error("All test points lie on one line; they must span an area.");
    // The hull is made of the edges that only one triangle has.
    std::map<std::pair<std::size_t, std::size_t>, int> count;
    for (const Triangle& t : triangles_)
        for (int k = 0; k < 3; ++k) {
            const std::size_t i = t[k], j = t[(k + 1) % 3];
            ++count[{std::min(i, j), std::max(i, j)}];
        }
    for (const auto& [e, n] : count)
        if (n == 1) hull_.push_back({e.first, e.second});
    origin_inside_ = true;
    for (Edge& e : hull_) {
        const Node &a = nodes_[e[0]], &b = nodes_[e[1]];
        double c = cross(a.x, a.y, b.x, b.y);
        if (c < 0) std::swap(e[0], e[1]), c = -c;
        if (!(c > 0)) origin_inside_ = false;  // the origin on an edge's line
    }
    if (origin_inside_) {
        // Strictly inside only if the hull edges, turned counter-clockwise,
        // go round the origin exactly once.
        double turn = 0;
        for (const Edge& e : hull_) {
            const Node &a = nodes_[e[0]], &b = nodes_[e[1]];
            turn += std::atan2(cross(a.x, a.y, b.x, b.y), a.x * b.x + a.y * b.y);
        }
        origin_inside_ = std::abs(turn - 2 * std::numbers::pi) < 1e-6;
    }
    if (origin_inside_) {
        std::sort(hull_.begin(), hull_.end(), [this](const Edge& e, const Edge& f) {
            return std::atan2(nodes_[e[0]].y, nodes_[e[0]].x) < std::atan2(nodes_[f[0]].y, nodes_[f[0]].x);
        });
    }
}

std::array<double, 3> Interpolator::weights(const Triangle& t, double x, double y) const {
    const Node &a = nodes_[t[0]], &b = nodes_[t[1]], &c = nodes_[t[2]];
    const double area = cross(b.x - a.x, b.y - a.y, c.x - a.x, c.y - a.y);
    const double wb = cross(x - a.x, y - a.y, c.x - a.x, c.y - a.y) / area;
    const double wc = cross(b.x - a.x, b.y - a.y, x - a.x, y - a.y) / area;
    return {1.0 - wb - wc, wb, wc};
}

std::optional<double> Interpolator::inside(double x, double y) const {
    for (const Triangle& t : triangles_) {
        const auto w = weights(t, x, y);
        if (w[0] >= -kTolerance && w[1] >= -kTolerance && w[2] >= -kTolerance) return value_in(t, w);
    }
    return std::nullopt;
}

double Interpolator::along_ray(double x, double y, std::size_t* hint) const {
    if (origin_inside_ && (x != 0 || y != 0)) {
        // The one edge whose directions hold (x, y): tried first at the hint.
        const std::size_t n = hull_.size();
        // The hull edges are in counter-clockwise order: neighbouring
        // directions lie on the same edge or one of its neighbours.
        const std::size_t start = hint && *hint < n ? *hint : 0;
        for (std::size_t j = 0; j < n; ++j) {
            const std::size_t step = (j + 1) / 2;
            const std::size_t i = j % 2 ? (start + step) % n : (start + n - step % n) % n;
            const Node &a = nodes_[hull_[i][0]], &b = nodes_[hull_[i][1]];
            if (cross(a.x, a.y, x, y) < 0 || cross(x, y, b.x, b.y) < 0) continue;
            if (hint) *hint = i;
            const double ex = b.x - a.x, ey = b.y - a.y;
            const double u = std::clamp(cross(a.x, a.y, x, y) / cross(x, y, ex, ey), 0.0, 1.0);
            return a.value + u * (b.value - a.value);
        }
    }
    // The crossing of the segment from the origin to (x, y) with a hull edge
    // that lies nearest (x, y): t is the position along the segment (1 at the
    // point), u along the edge.
    double best_t = -1, best_value = 0;
    for (const Edge& e : hull_) {
        const Node &a = nodes_[e[0]], &b = nodes_[e[1]];
        const double ex = b.x - a.x, ey = b.y - a.y;
        const double denom = cross(x, y, ex, ey);
        if (denom == 0) continue;
        const double t = cross(a.x, a.y, ex, ey) / denom;
        const double u = cross(a.x, a.y, x, y) / denom;
        if (u < -kTolerance || u > 1 + kTolerance || t <= 0 || t > 1 + kTolerance) continue;
        if (t > best_t) {
            const double uc = std::clamp(u, 0.0, 1.0);
            best_t = t;
            best_value = a.value + uc * (b.value - a.value);
        }
    }
    if (best_t > 0) return best_value;
    // The origin lies outside the hull and the segment misses it: the nearest hull point.
    double best_d = std::numeric_limits<double>::infinity();
    for (const Edge& e : hull_) {
        const Node &a = nodes_[e[0]], &b = nodes_[e[1]];
        const double ex = b.x - a.x, ey = b.y - a.y;
        const double u = std::clamp(((x - a.x) * ex + (y - a.y) * ey) / (ex * ex + ey * ey), 0.0, 1.0);
        const double d = std::hypot(a.x + u * ex - x, a.y + u * ey - y);
        if (d < best_d) {
            best_d = d;
            best_value = a.value + u * (b.value - a.value);
        }
    }
    return best_value;
}

double Interpolator::operator()(double x, double y) const {
    if (const auto v = inside(x, y)) return *v;
    return along_ray(x, y);
}

}  // namespace ocu::field
