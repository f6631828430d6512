#pragma once
// The visual field from a clinic's own perimetry measurements.
//
// A perimeter measures, at 54 (24-2), 76 (30-2) or 68 (10-2) test points, the
// dimmest stimulus the patient sees there, as a threshold in dB or as the
// total deviation from an age-corrected normal eye. This library reads such a
// result and draws the polar plot that the fixation-dependent simulation reads
// (its blue plane is the relative sensitivity), so a clinician need not draw
// one by hand:
//
//     using namespace ocu::field;
//     Measurement m = read_measurement("glaucoma_OD.csv");   // CSV, JSON or DICOM
//     PolarPlot p = polar_plot(m, {.periphery = Periphery::Hull});
//     ocu::imwrite(p.image, "polarplotglaucoma.bmp");         // 24-bit BMP
//
//     // Both eyes: the better of the two at every place.
//     PolarPlot b = binocular_polar_plot(read_measurement("OD.csv"), read_measurement("OS.json"));
//     // b.eyes == Eyes::Both
//
// The pieces, each with its own rules at the top of its header:
//   field/measurement.hpp  Measurement, TestPoint, Eye, Kind; read_measurement,
//                          parse_csv, parse_json, read_dicom; the input checks.
//   field/sensitivity.hpp  the normal hill of vision (kNormalModel, one table),
//                          dB to relative sensitivity, the blue value.
//   field/interpolate.hpp  Interpolator: Delaunay (Qhull) piecewise-linear
//                          interpolation, continued along rays from fixation.
//   field/polarplot.hpp    PlotOptions, the blind spot (kBlindSpot),
//                          sensitivity_map, polar_plot (one eye),
//                          binocular_polar_plot (both).
#include "field/interpolate.hpp"
#include "field/measurement.hpp"
#include "field/polarplot.hpp"
#include "field/sensitivity.hpp"
