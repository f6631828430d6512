#pragma once
// Pieces the three dialog window functions share.
#include <string>

#include "toolkit/gui/framework.hpp"

namespace ocu::dlg::detail {

// The edit fields' background on creation: white on a Windows desktop, the
// window system's control colour elsewhere.
void edit_background(const gui::Handle& field);

// The output step's error when the dialog was deleted before OK.
[[noreturn]] void closed_without_ok(const std::string& window);

// The opening step's error when fewer values than needed were given.
[[noreturn]] void too_few_values(const std::string& window, const std::string& needed,
                                 std::size_t given);

// The window description of a dialog, with gui_Callback set from a text
// first argument.
gui::WindowDescription description(const std::string& name, const gui::Args& varargin);

}  // namespace ocu::dlg::detail
