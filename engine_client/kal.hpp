#pragma once
// The program's wrappers around the pyramid engine plug-in "kalentry".
// Each wrapper passes one function index and its own inputs unchanged; errors
// raised by the plug-in (or by loading it) arrive as ocu::Error with the
// plug-in's text. Only the fixation-dependent simulation calls these.
// An executable that calls them links `engine_client` and sets ENABLE_EXPORTS
// ON, so that the plug-in finds the host array interface in it. The dynamic
// forms (any inputs, a requested output count) are in kalentry.hpp.
#include "toolkit/array.hpp"

namespace ocu::kal {

void kalcreatepyramid(double n, double cols, double rows, double levels);
void kalsetresmap(double n, const ArrayD& map);
void kalsetbase(double n, const ArrayU8& image);
void kalreduce(double n);
ArrayU8 kalgetsrcimage(double n, double level);
void kalsetsrcimage(double n, double level, const ArrayU8& image);
void kalencode(double n, double x, double y);
ArrayU8 kalgetencodedimage(double n);

}  // namespace ocu::kal
