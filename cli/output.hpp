#pragma once
// What every ocumbra-sim subcommand shares: writing its result and the error
// policy of the tool.
//
// Error policy (run_guarded):
//  - ocu::Error or any other exception: one line "ocumbra-sim: <text>" on
//    stderr, exit status 1;
//  - UsageError: "ocumbra-sim: <text>", then the usage text (usage_text in
//    commands.hpp), exit status 2;
//  - on either, every file written through write_output during the run is
//    removed again, so a failed run leaves no output behind. Files are written
//    through a temporary and renamed, so a failing write leaves nothing either.
// Subcommands therefore compute everything first and write their outputs last.
#include <cstdint>
#include <functional>
#include <string>

#include "toolkit/array.hpp"

namespace ocu::cli {

// Reads an input image exactly as the window does (imread). The codec
// libraries print their own diagnostics of damaged files straight to the
// console; they are kept out of the tool's one-line error report.
// `max_side` limits the width and height read (0: only the program-wide
// pixel limit), e.g. kMaxPolarPlotSide for a polar plot.
AnyImage read_input(const std::string& path, std::int64_t max_side = 0);

// Writes a simulation result: ".npy" (any letter case) stores the exact double
// array, any other extension goes through the image writer (clipped to 0..1,
// scaled to 8 bits), as the window's Save command does.
void write_output(const ArrayD& result, const std::string& path);

// The same for an image with any sample type: ".npy" stores the samples as
// they are ('|u1', '<u2', '<f8'), anything else goes through the image writer.
void write_output(const AnyImage& image, const std::string& path);

// True when `path` ends in ".npy" (any letter case).
bool is_npy_path(const std::string& path);

// Runs `body` under the error policy above and returns the exit status
// (body's own status when it returns normally).
int run_guarded(const std::function<int()>& body);

}  // namespace ocu::cli
