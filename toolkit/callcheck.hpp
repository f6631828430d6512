#pragma once
// The run-time message for an operation called with more inputs or outputs
// than it declares, and a helper that throws it.
//
//   Run-time Error: File: <name> Line: <line> Column: 1 The function "<name>"
//   was called with more than the declared number of outputs (<count>).
//
// For a local operation of a window function, <name> is "window/operation".
#include <cstddef>
#include <string>

#include "toolkit/error.hpp"

namespace ocu {

enum class ArgKind { Inputs, Outputs };

inline std::string too_many_args_message(const std::string& name, int line, ArgKind kind,
                                         int declared) {
    std::string s = "Run-time Error: File: " + name + " Line: " + std::to_string(line) +
                    " Column: 1 The function \"" + name + "\" was called with more than the declared number of ";
    s += (kind == ArgKind::Outputs) ? "outputs (" : "inputs (";
    s += std::to_string(declared) + ").";
    return s;
}

// Throws the run-time message when `given` exceeds `declared`.
inline void check_arg_count(const std::string& name, int line, ArgKind kind, std::size_t given,
                            int declared) {
    if (given > static_cast<std::size_t>(declared)) {
        throw Error(too_many_args_message(name, line, kind, declared));
    }
}

}  // namespace ocu
