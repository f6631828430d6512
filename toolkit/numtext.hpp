#pragma once
// Numbers as the user types and reads them: the text form of a number in the
// dialogs' fields and in messages, and a typed text read back as a number.
#include <cstdint>
#include <string>
#include <string_view>

namespace ocu {

// Text form of a number: integers without a decimal point ("20"), other
// values with 4 digits after the leading ones ("0.25", "3.1416"); "NaN",
// "Inf" and "-Inf" for the special values.
std::string num2str(double x);

// An image size as people read it: width × height in pixels, "451 × 300"
// (the sign is the multiplication sign U+00D7, in UTF-8). Every message that
// states an image size writes it this way.
std::string size_text(std::int64_t width, std::int64_t height);

// A text read as one real number in decimal notation (leading and trailing
// blanks allowed, '.' as the decimal point whatever the locale); NaN when it
// does not read as one (including an empty text).
double str2double(std::string_view s);

}  // namespace ocu
