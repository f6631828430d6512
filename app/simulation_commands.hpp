#pragma once
// What the simulation commands keep between runs and the glare
// computations they call, open to tests.
//
// The glare command keeps the veil `dim` of its last full computation for the
// whole program (not with the window), so that a new glare factor on the same
// image and width only re-weights it. Tests may replace the two glare
// computations (for instance to count which one ran); by default they are
// glare::run and glare::reuse_veil. They run on the window's worker thread
// (app/work.hpp).
#include <functional>
#include <optional>

#include "glare/glare.hpp"
#include "toolkit/array.hpp"

namespace ocu::app {

// The veil of the last full glare computation; empty until the first one.
std::optional<ArrayD>& glare_veil();

struct GlareComputations {
    std::function<glare::Result(const AnyImage& im, const glare::Params& p, const Progress* progress)> full;
    std::function<ArrayD(const AnyImage& im, const ArrayD& dim, const glare::Params& p)> reuse;
};
// The computations in force; `set_glare_computations` with empty functions
// restores the defaults.
GlareComputations& glare_computations();
void set_glare_computations(GlareComputations c);

}  // namespace ocu::app
