#pragma once
// The colour vision deficiency matrices of Machado, Oliveira & Fernandes
// (2009). Internal to the colour library; see colour.hpp for their use.
#include <array>

#include "colour/colour.hpp"

namespace ocu::colour {

// The eleven matrices of protan, deutan or tritan (not Achromat) for the
// severities 0, 0.1, ..., 1, each row by row.
const std::array<Matrix3, 11>& machado2009(Deficiency type);

}  // namespace ocu::colour
