#pragma once
// Pieces the three dialog window functions share.
#include <string>
#include <utility>

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

// Registers the two local operations of an edit field `tag`:
// <tag>_CreateFcn sets its background (edit_background), and <tag>_Callback
// stores the committed text, read as a number (gui::str2double: NaN for
// anything else), in handles.*field and stores the record. `line` is the
// line reported for a call with too many arguments (OCU_EDIT_FIELD passes the
// line of the registration).
template <gui::StateRecord S>
void edit_field(gui::LocalOps<S>& ops, gui::Tag tag, double S::*field, int line) {
    const std::string name(tag.name);
    ops.callback(
        name + "_CreateFcn", [](gui::Handle hObject, const gui::Value&, S) { edit_background(hObject); },
        line);
    ops.callback(
        name + "_Callback",
        [field](gui::Handle hObject, const gui::Value&, S handles) {
            handles.*field = gui::str2double(gui::get_string(hObject));
            gui::guidata(hObject, handles);
        },
        line);
}
#define OCU_EDIT_FIELD(ops, tag, field) ::ocu::dlg::detail::edit_field(ops, tag, field, __LINE__)

}  // namespace ocu::dlg::detail
