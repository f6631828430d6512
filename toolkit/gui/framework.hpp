#pragma once
// The window framework: window functions, layouts, state records, callbacks.
//
// A window is driven by one *window function* (`ocumbra`, `fixindepparms`,
// ...) with the signature `Results f(const Args& varargin, int nargout)`. It
// builds a `WindowDescription`, sets `gui_Callback` to its first argument when
// that is text, and hands everything to `gui_mainfcn` together with the table
// of its *local operations* (`LocalOps<S>`). `gui_mainfcn` then either
//   - runs a callback (callback mode: more than three arguments, the first a
//     text, the second a valid object handle), or
//   - opens the window (open mode, every other call): loads `<gui_Name>.fig`
//     (Qt Designer XML, looked up in the working folder, then in the
//     program's data folder) or re-uses the singleton window, builds the state
//     record from the controls' tags, runs the opening step with the window
//     hidden, shows it, and returns what the output step returns.
//
// Tags are Qt object names. Each control's event is connected to the local
// operation named after its tag and event: `<tag>_Callback` (menu item or
// button activated, menu opened, selection chosen, edit field left after a
// change, slider moved, also at each step while it is dragged),
// `<tag>_CreateFcn` (once, right after loading),
// `<tag>_ButtonDownFcn` (pointer pressed on the control; right button only on
// buttons) and, for the window itself, `<tag>_WindowButtonDownFcn` (pointer
// pressed anywhere in the window except on buttons, fields, lists, sliders and
// menus) and `<tag>_WindowButtonMotionFcn` (the pointer moved over the window
// outside its controls; image areas report moves also without a button
// pressed, and current_point (imshow.hpp) gives where). A layout may set the
// texts itself with the dynamic string properties "Callback", "CreateFcn",
// "ButtonDownFcn", "WindowButtonDownFcn", "WindowButtonMotionFcn";
// otherwise the text "<window>('<tag>_<Event>',gcbo,[],guidata(gcbo))" is
// used when the window function has that local operation. The text is
// evaluated by calling the registered window function with the operation
// name, the object, an empty event argument and the window's stored state
// record (one copy of it: gui_mainfcn passes that copy on to the local
// operation, so a window function reads the record in its `varargin`, if at
// all, before handing `varargin` to gui_mainfcn). An error inside a callback
// is shown to the user through `platform().report_error` and ends only that
// callback; `Cancelled` (the person cancelled) ends it without a message.
//
// The keys people use in a window that waits modally (uiwait): Enter or
// Return that no control takes presses the window's default button (a push
// button whose "default" property is set in the layout); Escape, and the
// window's close button, press its cancel button (a button with the dynamic
// property "cancel" set in the layout), whose callback ends the wait with
// `uicancel`. A window without a cancel button is deleted by its close button.
//
// The state record is the window's own struct derived from `StateBase`;
// `StateBase::controls` holds the handles of the controls by tag, and each
// window names its tags once as `Tag` constants, so `handles[tag::axes1]` is
// the image area and a misspelt tag does not compile. Callbacks receive a
// copy; a change persists only when the callback stores it back with
// `guidata`.
//
// Local operations are registered with the source line of their head, for
// the run-time message of a call with too many inputs or outputs:
//
//   OCU_HEAD(edit_width_Callback)
//   void edit_width_Callback(gui::Handle hObject, const gui::Value& eventdata, MyState handles) {
//   ...
//   OCU_GUI_CALLBACK(ops, edit_width_Callback);   // ops is a LocalOps<MyState>
//
// Everything here runs on the user-interface thread.
#include <any>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "toolkit/array.hpp"
#include "toolkit/callcheck.hpp"
#include "toolkit/error.hpp"
#include "toolkit/numtext.hpp"

namespace ocu::gui {

// ---------------------------------------------------------------------------
// Values passed to and returned from window functions and local operations.

// A handle of a window or of a control inside one (a widget, a menu, a menu
// item). It becomes null when the object is destroyed.
using Handle = QPointer<QObject>;

// The empty array `[]`, e.g. the event argument of every callback.
struct Empty {
    friend bool operator==(Empty, Empty) { return true; }
};

// A state record passed as an argument (what `guidata(gcbo)` gives). Empty
// when the window never stored one.
struct Record {
    std::any value;
    bool empty() const { return !value.has_value(); }
};

using Value = std::variant<Empty, double, std::string, Handle, AnyImage, std::vector<double>, Record>;
using Args = std::vector<Value>;
using Results = std::vector<Value>;

bool is_text(const Value& v);
bool is_empty(const Value& v);
// These throw ocu::Error when the value is of another kind.
const std::string& text(const Value& v);
double number(const Value& v);
Handle handle(const Value& v);
const AnyImage& image(const Value& v);

// Numbers in fields and messages (toolkit/numtext.hpp).
using ocu::num2str;
using ocu::str2double;

// ---------------------------------------------------------------------------
// Objects and windows.

// True while the object exists and has not been deleted (a deleted window is
// invalid at once, even before Qt destroys it).
bool is_valid(const Handle& h);
// The window enclosing `h` (or `h` itself), or nullptr.
QWidget* figure_of(const Handle& h);
// Deletes a window (or a control): closes it, ends a modal wait on it and
// lets Qt destroy it when control returns to the event loop.
void delete_object(const Handle& h);
// The object whose callback is running (null outside callbacks).
Handle gcbo();
// The current window: the one last opened or made current, or whose
// callback runs. Null when no window exists.
QWidget* gcf();
// Makes `fig` the current window.
void figure(const Handle& fig);

// ---------------------------------------------------------------------------
// Controls by tag: what `guihandles` builds.

class Controls {
public:
    // First handle with this tag; throws ocu::Error when no object has it.
    Handle operator()(std::string_view tag) const;
    // All handles with this tag (several objects may share one); empty if none.
    std::vector<Handle> all(std::string_view tag) const;
    bool has(std::string_view tag) const;
    // The tags in the order their first object was listed.
    std::vector<std::string> tags() const;
    void append(const std::string& tag, Handle h);

private:
    std::vector<std::pair<std::string, std::vector<Handle>>> fields_;
};

// A control's tag. Windows spell their tags once, as constants
// (`inline constexpr gui::Tag axes1{"axes1"};`), and look controls up by them.
struct Tag {
    std::string_view name;
    explicit constexpr Tag(std::string_view n) : name(n) {}
};

// Base of every window's state record.
struct StateBase {
    Controls controls;
    // First handle with this tag; throws ocu::Error when no object has it.
    Handle operator[](Tag tag) const { return controls(tag.name); }
};

// A state record of window type S: default-constructible, copyable, derived
// from StateBase.
template <class S>
concept StateRecord = std::is_default_constructible_v<S> && std::is_copy_constructible_v<S> &&
                      std::is_base_of_v<StateBase, S>;

// All objects of the window (hidden ones too; the window first, then its
// descendants depth first) whose tag is a valid identifier (a letter, then
// letters, digits or underscores). Qt's own helper objects (names beginning
// with "qt_") are left out. Without a handle: the current window.
Controls guihandles(const Handle& fig = {});

// ---------------------------------------------------------------------------
// Values stored with a window (application data) and on the screen.

void setappdata(const Handle& fig, const std::string& name, std::any value);
std::any getappdata(const Handle& fig, const std::string& name);  // empty if absent
bool isappdata(const Handle& fig, const std::string& name);
void rmappdata(const Handle& fig, const std::string& name);
// The screen's program-wide values (a null handle means the screen).
std::map<std::string, std::any>& root_appdata();

// guidata: from `h` up to its window; fails with "H must be the handle to a
// figure or figure descendent." when `h` is not a valid handle or has no
// window. Reading gives an empty Record if nothing was stored.
Record guidata(const Handle& h);
void guidata(const Handle& h, Record record);
// How many times a record has been stored with the window of `h` (guidata,
// with a record): a caller that waited can tell whether anything stored the
// record meanwhile.
std::uint64_t guidata_revision(const Handle& h);
namespace detail {
// The record stored with the window of `h` (nullptr if none), checked as
// guidata checks `h`; read in place so that guidata<S> copies it only once.
const std::any* stored_record(const Handle& h);
}  // namespace detail
template <class S>
std::optional<S> guidata(const Handle& h) {
    const std::any* r = detail::stored_record(h);
    if (!r || !r->has_value()) return std::nullopt;
    if (const S* s = std::any_cast<S>(r)) return *s;
    throw Error("The window's state record is not of the expected kind.");
}
template <StateRecord S>
void guidata(const Handle& h, const S& s) {
    guidata(h, Record{std::any(s)});
}

// ---------------------------------------------------------------------------
// Layout files and opening.

enum class Policy { New, Reuse };
enum class Visibility { Invisible, Visible, Auto, FromLayout };

// "OpenFig_" + the reversed cleaned file name + "_SINGLETON", cut to 31
// characters; `filename` as passed to openfig with ".fig" added.
std::string openfig_key(const std::string& filename);

// The layout file `name` (".fig" added when there is no extension) in the
// working folder, else in the program's data folder, else `name` unchanged.
std::string find_layout_file(const std::string& name);

// Loads the layout (or re-uses the window recorded under the screen-wide key
// when the policy is Reuse), records it, moves it on screen and applies the
// visibility. Fails when the extension is not ".fig" or the file cannot be
// loaded.
QWidget* openfig(const std::string& filename, Policy policy = Policy::New,
                 Visibility visibility = Visibility::FromLayout);

// Options saved with a layout as dynamic properties of its top widget.
struct LayoutOptions {
    bool syscolorfig = true;  // window colour = the system's control background
    bool singleton = true;    // remember that the window is on screen
};
LayoutOptions layout_options(const Handle& fig);

// Moves the window so that it lies on the screen (only "onscreen").
void movegui(const Handle& fig, std::string_view position = "onscreen");

// ---------------------------------------------------------------------------
// Modal wait and resume.

// Shows the window and processes events (callbacks of this and other windows
// run inside) until `uiresume` or `uicancel` is called on it or it is
// deleted. Re-entrant.
void uiwait(const Handle& fig);
// Ends the innermost wait on the window as confirmed.
void uiresume(const Handle& fig);
// Ends the innermost wait on the window as cancelled (the person chose
// Cancel, pressed Escape or closed the window): gui_mainfcn then deletes the
// window and throws Cancelled instead of running the output step, so the
// window function gives no results. No effect on a window that does not wait.
void uicancel(const Handle& fig);

// The person cancelled what a callback was doing (a dialog, a pointer wait).
// Not an error: the callback edge (run_callback) ends the callback without a
// message, and what the callback would have stored stays unstored.
class Cancelled : public std::exception {
public:
    const char* what() const noexcept override { return "Cancelled by the user."; }
};

// ---------------------------------------------------------------------------
// Properties of windows and controls (the ones the program uses).

struct Rgb {
    double r = 0, g = 0, b = 0;  // 0 to 1
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

std::string get_string(const Handle& h);          // label, field, button, menu item text
void set_string(const Handle& h, const std::string& s);
std::vector<std::string> get_string_list(const Handle& h);  // selection list entries
void set_string_list(const Handle& h, const std::vector<std::string>& items);
double get_value(const Handle& h);                // slider position, check state, list index (1-based)
void set_value(const Handle& h, double v);
Rgb get_foreground(const Handle& h);
void set_foreground(const Handle& h, Rgb c);
Rgb get_background(const Handle& h);
void set_background(const Handle& h, Rgb c);
Rgb default_uicontrol_background();               // the window system's control colour
std::string get_name(const Handle& fig);          // window title
void set_name(const Handle& fig, const std::string& name);
bool is_visible(const Handle& fig);
void set_visible(const Handle& fig, bool on);
// "normal" or "modal" (modal: the window takes all input while it is open).
void set_window_style(const Handle& fig, const std::string& style);
// "Enable": whether the person can use the control or menu item.
bool get_enable(const Handle& h);
void set_enable(const Handle& h, bool on);
// Gives the keyboard focus to a control (an edit field's text is selected,
// so that typing replaces it).
void focus_control(const Handle& h);
// The text of the label that names a control in its window (the label whose
// buddy it is), without mnemonic marks; empty when no label names it.
std::string label_of(const Handle& h);
std::string get_handle_visibility(const Handle& fig);  // "on", "callback", "off"
void set_handle_visibility(const Handle& fig, const std::string& v);
// Sets a property given by name, as in open-mode property pairs; returns
// false when the object has no such property or rejects the value.
bool set_property(const Handle& h, std::string_view name, const Value& v);

// ---------------------------------------------------------------------------
// Callbacks.

// "<window>('<op>',gcbo,[],guidata(gcbo))"
std::string callback_text(const std::string& window, const std::string& op);
// The callback text of an object for one event ("Callback", "CreateFcn",
// "ButtonDownFcn", "WindowButtonDownFcn", "WindowButtonMotionFcn"); empty
// when none.
std::string get_callback(const Handle& h, const std::string& event);
void set_callback(const Handle& h, const std::string& event, const std::string& text);

using WindowFunction = std::function<Results(const Args& varargin, int nargout)>;
// Window functions are found by name when a callback text is evaluated.
void register_window_function(const std::string& name, WindowFunction f);
WindowFunction find_window_function(const std::string& name);

// Evaluates a callback text for object `obj` (making it the running object)
// and reports an error to the user instead of passing it on. Returns false
// when the callback failed.
bool run_callback(const std::string& text, const Handle& obj);
// The same, but lets the error pass (for callers that report it themselves).
void eval_callback(const std::string& text, const Handle& obj);

// ---------------------------------------------------------------------------
// Local operations of a window function.

// Declares `<name>_line`, the source line of the operation's head; put it on
// a line of its own just above the head.
#define OCU_HEAD(name) [[maybe_unused]] static constexpr int name##_line = __LINE__ + 1;
#define OCU_GUI_CALLBACK(ops, name) (ops).callback(#name, &name, name##_line)
#define OCU_GUI_OPENING(ops, name) (ops).opening(#name, &name, name##_line)
#define OCU_GUI_OUTPUT(ops, name) (ops).output(#name, &name, name##_line)

inline constexpr int kVarargs = -1;  // any number of inputs or outputs

template <StateRecord S>
class LocalOps {
public:
    // hObject, eventdata, handles
    using Callback = std::function<void(Handle, const Value&, S)>;
    // hObject, eventdata, handles, varargin
    using Opening = std::function<void(Handle, const Value&, S, const Args&)>;
    // hObject, eventdata, handles (nullopt when the window no longer exists)
    using Output = std::function<Results(Handle, const Value&, const std::optional<S>&)>;
    using General = std::function<Results(const Args&, int nargout)>;

    explicit LocalOps(std::string window) : window_(std::move(window)) {}
    const std::string& window() const { return window_; }

    // Each operation has two forms: one for an argument list the caller keeps
    // (the state record is copied out of it) and one for a list the caller
    // gives up (the record is moved out of it).
    void callback(const std::string& name, Callback f, int line) {
        add(name, line, 3, 0,
            [f](const Args& a, int) {
                f(arg_handle(a, 0), arg_event(a), arg_state(a));
                return Results{};
            },
            [f](Args& a, int) {
                f(arg_handle(a, 0), arg_event(a), take_state(a));
                return Results{};
            });
    }
    void opening(const std::string& name, Opening f, int line) {
        add(name, line, kVarargs, 0,
            [f](const Args& a, int) {
                Args rest(a.size() > 3 ? a.begin() + 3 : a.end(), a.end());
                f(arg_handle(a, 0), arg_event(a), arg_state(a), rest);
                return Results{};
            },
            [f](Args& a, int) {
                Args rest(a.size() > 3 ? a.begin() + 3 : a.end(), a.end());
                f(arg_handle(a, 0), arg_event(a), take_state(a), rest);
                return Results{};
            });
    }
    void output(const std::string& name, Output f, int line, int declared_outputs = kVarargs) {
        add(name, line, 3, declared_outputs,
            [f](const Args& a, int) {
                std::optional<S> s;
                if (a.size() > 2) {
                    if (const Record* r = std::get_if<Record>(&a[2]); r && !r->empty()) s = to_state(*r);
                }
                return f(arg_handle(a, 0), arg_event(a), s);
            },
            [f](Args& a, int) {
                std::optional<S> s;
                if (a.size() > 2) {
                    if (const Record* r = std::get_if<Record>(&a[2]); r && !r->empty()) s = take_state(a);
                }
                return f(arg_handle(a, 0), arg_event(a), s);
            });
    }
    void general(const std::string& name, General f, int line, int declared_inputs,
                 int declared_outputs) {
        add(name, line, declared_inputs, declared_outputs, std::move(f), {});
    }

    bool has(const std::string& name) const { return ops_.count(name) != 0; }
    int line_of(const std::string& name) const { return find(name).line; }

    // Runs operation `name` with `args` (without the name), checking the
    // counts: too many gives the run-time message naming "<window>/<name>".
    Results call(const std::string& name, const Args& args, int nargout) const {
        const Op& op = checked(name, args.size(), nargout);
        return assigned(name, op.fn(args, nargout), nargout);
    }
    // The same for a list the caller no longer needs: its state record is
    // moved into the operation's argument instead of copied (the record is
    // large: images).
    Results call(const std::string& name, Args&& args, int nargout) const {
        const Op& op = checked(name, args.size(), nargout);
        return assigned(name, op.take ? op.take(args, nargout) : op.fn(args, nargout), nargout);
    }

    static S to_state(const Record& r) {
        if (r.empty()) return S{};
        if (const S* s = std::any_cast<S>(&r.value)) return *s;
        throw Error("The state record passed to a callback is not of the window's kind.");
    }

private:
    using Taking = std::function<Results(Args&, int nargout)>;
    struct Op {
        int line = 0, inputs = 0, outputs = 0;
        General fn;
        Taking take;  // may move the state record out of the list; empty: use fn
    };
    void add(const std::string& name, int line, int inputs, int outputs, General fn, Taking take) {
        ops_[name] = Op{line, inputs, outputs, std::move(fn), std::move(take)};
    }
    // The operation, once the counts of inputs and outputs are within its head.
    const Op& checked(const std::string& name, std::size_t inputs, int nargout) const {
        const Op& op = find(name);
        const std::string full = window_ + "/" + name;
        if (op.inputs != kVarargs) check_arg_count(full, op.line, ArgKind::Inputs, inputs, op.inputs);
        if (op.outputs != kVarargs)
            check_arg_count(full, op.line, ArgKind::Outputs, static_cast<std::size_t>(nargout > 0 ? nargout : 0),
                            op.outputs);
        return op;
    }
    Results assigned(const std::string& name, Results r, int nargout) const {
        if (nargout > 0 && r.size() < static_cast<std::size_t>(nargout)) {
            throw Error("Output argument " + std::to_string(r.size() + 1) + " of \"" + window_ + "/" + name +
                        "\" is not assigned.");
        }
        return r;
    }
    const Op& find(const std::string& name) const {
        auto it = ops_.find(name);
        if (it == ops_.end())
            throw Error("Undefined function \"" + name + "\" in window function \"" + window_ + "\".");
        return it->second;
    }
    static Handle arg_handle(const Args& a, std::size_t i) {
        if (a.size() <= i) return {};
        if (const Handle* h = std::get_if<Handle>(&a[i])) return *h;
        return {};
    }
    static const Value& arg_event(const Args& a) {
        static const Value empty{Empty{}};
        return a.size() > 1 ? a[1] : empty;
    }
    static S arg_state(const Args& a) {
        if (a.size() <= 2) return S{};
        if (const Record* r = std::get_if<Record>(&a[2])) return to_state(*r);
        if (is_empty(a[2])) return S{};
        throw Error("The third argument of a callback must be the window's state record.");
    }
    // arg_state for a list the caller gives up: a record of the window's kind
    // is moved out; every other case is read as arg_state reads it.
    static S take_state(Args& a) {
        if (a.size() > 2) {
            if (Record* r = std::get_if<Record>(&a[2])) {
                if (S* s = std::any_cast<S>(&r->value)) return std::move(*s);
            }
        }
        return arg_state(a);
    }

    std::string window_;
    std::map<std::string, Op> ops_;
};

// ---------------------------------------------------------------------------
// The window description and the main routine of every window function.

struct WindowDescription {
    std::string gui_Name;          // window function name = layout base name
    bool gui_Singleton = true;     // at most one window of this kind
    std::string gui_OpeningFcn;    // local operation run before the window is shown
    std::string gui_OutputFcn;     // local operation giving the results
    std::function<QWidget*(Policy)> gui_LayoutFcn;  // builds the window in code; empty: load the layout
    std::string gui_Callback;      // local operation to run (callback mode), or empty
};

namespace detail {
// What the main routine needs of a window's table of local operations, free
// of the state record's type.
struct WindowOps {
    std::function<bool(const std::string&)> has;  // the operation exists
    // Runs an operation with an argument list it may move the record out of.
    std::function<Results(const std::string&, Args&&, int nargout)> call;
    // A new state record of the window's type holding `controls` (guihandles).
    std::function<std::any(Controls controls)> new_record;
};
// gui_mainfcn for any window (mainfcn.cpp).
Results main_function(const WindowDescription& d, const WindowOps& ops, const Args& varargin, int nargout);
}  // namespace detail

// The main routine of every window function: callback mode runs the local
// operation `d.gui_Callback`; open mode loads or re-uses the window, builds
// and stores its state record, runs the opening step, shows the window and
// returns what the output step returns.
template <StateRecord S>
Results gui_mainfcn(const WindowDescription& d, const LocalOps<S>& ops, const Args& varargin, int nargout) {
    const detail::WindowOps window_ops{
        [&ops](const std::string& name) { return ops.has(name); },
        [&ops](const std::string& name, Args&& args, int n) { return ops.call(name, std::move(args), n); },
        [](Controls controls) {
            S s{};
            s.controls = std::move(controls);
            return std::any(std::move(s));
        }};
    return detail::main_function(d, window_ops, varargin, nargout);
}

}  // namespace ocu::gui
