#pragma once
// Interpolation of scattered values in the plane (total deviation in dB at the
// test points of a visual field).
//
// Shared rules for this header:
//  - Inside the convex hull of the nodes the value is piecewise linear over a
//    Delaunay triangulation computed by Qhull (libqhull_r); it equals the
//    node's value at every node.
//  - Outside the hull the value is the hull's value where the straight line
//    from the origin (fixation) to the point leaves the hull, i.e. along the
//    same direction from fixation. When the origin itself lies outside the
//    hull and that line misses it, the nearest point of the hull is used.
//  - Errors (ocu::Error): fewer than three nodes, or all on one line.
#include <array>
#include <cstddef>
#include <optional>
#include <vector>

namespace ocu::field {

class Interpolator {
public:
    struct Node {
        double x = 0, y = 0, value = 0;
    };
    using Triangle = std::array<std::size_t, 3>;  // indices into nodes()
    using Edge = std::array<std::size_t, 2>;

    // Nodes at distinct places (callers remove repeats first).
    explicit Interpolator(std::vector<Node> nodes);

    // The value at (x, y), inside or outside the hull.
    double operator()(double x, double y) const;
    // The value inside the hull (boundary included), empty outside.
    std::optional<double> inside(double x, double y) const;
    // The value on the hull along the direction of (x, y) from the origin.
    // `hint`, if given, carries the hull edge found last from call to call, so
    // that a scan over neighbouring directions mostly tests one edge.
    double along_ray(double x, double y, std::size_t* hint = nullptr) const;

    const std::vector<Node>& nodes() const { return nodes_; }
    const std::vector<Triangle>& triangles() const { return triangles_; }
    const std::vector<Edge>& hull() const { return hull_; }

    // Barycentric weights of (x, y) in triangle t; all >= -kTolerance means inside.
    std::array<double, 3> weights(const Triangle& t, double x, double y) const;
    double value_in(const Triangle& t, const std::array<double, 3>& w) const {
        return w[0] * nodes_[t[0]].value + w[1] * nodes_[t[1]].value + w[2] * nodes_[t[2]].value;
    }
    // An inside test accepts weights down to -kTolerance (points on an edge).
    static constexpr double kTolerance = 1e-9;

private:
    std::vector<Node> nodes_;
    std::vector<Triangle> triangles_;
    std::vector<Edge> hull_;
    // When the origin lies strictly inside the hull, each hull edge (a, b),
    // oriented counter-clockwise, covers the directions from a to b.
    bool origin_inside_ = false;
};

// Whether all the points lie on one line (or on one place): their largest
// distance from the line through the first point and the point farthest from
// it is below 1e-9 of that pair's distance.
bool on_one_line(const std::vector<Interpolator::Node>& points);

}  // namespace ocu::field
