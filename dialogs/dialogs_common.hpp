#pragma once
// Pieces the three dialog window functions share.
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>

#include "toolkit/gui/framework.hpp"
#include "toolkit/viewing.hpp"

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

// `typed` without the blanks before and after it.
std::string trimmed(const std::string& typed);

// The decimal acuity an acuity field's text stands for: a plain number as it
// reads (gui::str2double), so that the simulation's check judges its range
// as before; otherwise any clinical notation (clinical::parse_acuity on the
// trimmed text: "20/40", "6/12", "logMAR 0.3"); NaN when it is none of these.
double acuity_value(const std::string& typed);

// An acuity field `tag`: edit_field, with the text read by acuity_value.
template <gui::StateRecord S>
void acuity_field(gui::LocalOps<S>& ops, gui::Tag tag, double S::*field, int line) {
    const std::string name(tag.name);
    ops.callback(
        name + "_CreateFcn", [](gui::Handle hObject, const gui::Value&, S) { edit_background(hObject); },
        line);
    ops.callback(
        name + "_Callback",
        [field](gui::Handle hObject, const gui::Value&, S handles) {
            handles.*field = acuity_value(gui::get_string(hObject));
            gui::guidata(hObject, handles);
        },
        line);
}
#define OCU_ACUITY_FIELD(ops, tag, field) ::ocu::dlg::detail::acuity_field(ops, tag, field, __LINE__)

// The width of the photo in `photo` (clinical::photo_width_degrees: from its
// EXIF 35 mm focal length), written into the width field `width_field`. A
// refusal (no photo, no such tag) is an ocu::Error naming the field by its
// label; the field and the dialog stay as they were.
double width_from_photo(const gui::Handle& width_field, const std::string& photo);

// The "From photo" button beside a width field (tag pushbutton_widthphoto):
// registers pushbutton_widthphoto_Callback, which stores width_from_photo of
// handles.*photo in handles.*width. The photo is the main window's current
// image file, passed to the dialog when it opens.
template <gui::StateRecord S>
void photo_button(gui::LocalOps<S>& ops, gui::Tag width_tag, double S::*width, std::string S::*photo, int line) {
    ops.callback(
        "pushbutton_widthphoto_Callback",
        [width_tag, width, photo](gui::Handle hObject, const gui::Value&, S handles) {
            handles.*width = width_from_photo(handles[width_tag], handles.*photo);
            gui::guidata(hObject, handles);
        },
        line);
}
#define OCU_PHOTO_BUTTON(ops, width_tag, width, photo) \
    ::ocu::dlg::detail::photo_button(ops, width_tag, width, photo, __LINE__)

// The photo's file from the optional argument `index` of a dialog's call
// (empty when not given).
std::string photo_argument(const gui::Args& varargin, std::size_t index);

// The Cancel button (tag pushbutton_cancel, marked "cancel" in the layout so
// that Escape and the window's close button press it too): registers
// pushbutton_cancel_Callback, which ends the modal wait with gui::uicancel.
// The dialog's window function then throws gui::Cancelled and the calling
// command ends without a message and without changing anything.
template <gui::StateRecord S>
void cancel_button(gui::LocalOps<S>& ops, int line) {
    ops.callback(
        "pushbutton_cancel_Callback",
        [](gui::Handle hObject, const gui::Value&, S) { gui::uicancel(gui::Handle(gui::figure_of(hObject))); }, line);
}
#define OCU_CANCEL_BUTTON(ops) ::ocu::dlg::detail::cancel_button(ops, __LINE__)

// Which edit field holds each checked parameter.
struct FieldTag {
    viewing::Field field;
    gui::Tag tag;
};

// The OK button: runs `check` (the simulation's own checks of the values the
// dialog would return) and ends the modal wait when it passes. A refused
// value ends only this callback: the dialog stays open with every field as
// typed, the offending field gets the focus, and the message names the field
// by its label and quotes what it holds (field_message). Other refusals (the
// polar plot) are reported as they are.
void confirm(const gui::Handle& fig, std::initializer_list<FieldTag> fields, const std::function<void()>& check);

// "<label>: '<typed>' is not a number; <rule>." and the like: the message
// about a refused value, with the field's label and its text as typed. For an
// acuity field, text that reads in no notation says why ("'20/0' is not an
// acuity; both parts of a Snellen fraction must be greater than 0.").
std::string field_message(const std::string& label, const std::string& typed, const viewing::InvalidValue& e);

}  // namespace ocu::dlg::detail
