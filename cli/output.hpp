#pragma once
// What every ocumbra-sim subcommand shares: writing its result and the error
// policy of the tool.
//
// Error policy (run_guarded):
//  - ocu::Error or any other exception: one line "ocumbra-sim: <text>" on
//    stderr, exit status 1;
//  - UsageError: "ocumbra-sim: <text>", then the usage text (usage_text in
//    commands.hpp), exit status 2;
//  - outputs are written under hidden names next to their places and moved
//    there only when the whole run has succeeded; on any error they are
//    removed, so a failed run leaves every existing file as it was and no new
//    one behind.
// Subcommands check their output paths (check_outputs) before they compute,
// compute everything, and write their outputs last.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "toolkit/array.hpp"

namespace ocu::cli {

// Reads an input image exactly as the window does (imread), or a .npy file
// (npy_input.hpp: another command's exact result). The codec libraries print
// their own diagnostics of damaged files straight to the console; they are
// kept out of the tool's one-line error report. A reader's message that names
// no file gets the file's name in front: "x.bin": Unable to determine ...
// `max_side` limits the width and height of an image file read (0: only the
// program-wide pixel limit), e.g. kMaxPolarPlotSide for a polar plot.
AnyImage read_input(const std::string& path, std::int64_t max_side = 0);

// Refuses, before any work is done, outputs that cannot be written: an
// extension with no writer, a folder that does not exist or cannot be written
// in, a path that is a folder, the same file given for two outputs, an output
// that is one of the `inputs`. ocu::Error naming the file (exit status 1).
void check_outputs(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs);

// Writes a simulation result (inside run_guarded under a hidden name, moved
// to `path` when the run has succeeded; outside it straight to `path`):
// ".npy" (any letter case) stores the exact double array, any other extension goes through the image writer (clipped to 0..1,
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
