#pragma once
// The original and a simulation's result in one image, side by side: the
// original on the left, the result on the right, both as displayed values
// 0..1 (the original's samples divided by their full scale: 255, 65535, 1).
// A gray half beside a colour one is repeated in all three planes. Both must
// have the same rows and columns (ocu::Error otherwise).
#include "toolkit/array.hpp"

namespace ocu {

ArrayD side_by_side(const AnyImage& original, const AnyImage& result);

}  // namespace ocu
