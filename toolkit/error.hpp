#pragma once
// The one error type of the numeric core and the toolkit: it carries a text
// meant for the user. Window callbacks catch it at the callback edge and show
// the text; the batch tool prints it and exits non-zero.
#include <stdexcept>
#include <string>

namespace ocu {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& text) : std::runtime_error(text) {}
};

}  // namespace ocu
