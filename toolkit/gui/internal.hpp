#pragma once
// Shared between the framework's source files only (registry, layout,
// properties, callbacks, the main routine, image display and the platform).
#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "toolkit/gui/framework.hpp"

namespace ocu::gui::detail {

// ---- The framework's windows (registry.cpp) ----

// Per-window data of the framework, kept as a hidden child of the window.
class FigureData : public QObject {
public:
    explicit FigureData(QWidget* fig) : QObject(fig) { setObjectName(kName); }
    static constexpr const char* kName = "qt_ocu_figure";
    std::map<std::string, std::any> appdata;
    std::vector<QEventLoop*> waits;
    QPointer<QWidget> current_axes;
    std::uint64_t revision = 0;  // records stored with guidata
    bool cancelled = false;      // the last modal wait ended with uicancel
    bool deleted = false;
    bool wired = false;
};

// The framework's data of window `w`, or nullptr when `w` is no window of it.
FigureData* data_of(const QWidget* w);
std::vector<QPointer<QWidget>>& all_figures();
QPointer<QWidget>& current_figure();
// The objects whose callbacks are running, innermost last (gcbo).
std::vector<Handle>& running_objects();
bool marked_deleted(const QObject* o);
// The framework's window holding `o` (or `o` itself), or nullptr.
QWidget* enclosing_figure(const QObject* o);
// Marks a window deleted: invalid at once, its modal waits ended, destroyed
// by Qt once control returns to the event loop.
void mark_deleted(QWidget* fig);
// Deletes a window at once (a half-opened one that is opened again).
void delete_now(QWidget* fig);
// A tag that gets a field in the state record: a letter, then letters, digits
// or underscores; Qt's own helper objects ("qt_...") are left out.
bool valid_identifier(const QString& s);
// The window and all its descendants, the window first.
std::vector<QObject*> objects_of(QWidget* fig);

// Marks `w` as a window of the framework (idempotent).
void register_figure(QWidget* w);
bool is_figure(const QWidget* w);
QWidget* current_axes(QWidget* fig);
void set_current_axes(QWidget* fig, QWidget* ax);
// Set while a pointer input waits: presses then belong to it.
extern bool g_pointer_input_active;
// `w` is a control of window `fig` or lies inside one (buttons, fields,
// lists, sliders, the menu bar and menus): a press there operates the
// control, it does not point at the window.
bool inside_control(const QWidget* w, const QWidget* fig);

// ---- Properties (properties.cpp) ----

// The object of `h`; throws "Invalid or deleted object." when it is gone.
QObject* checked(const Handle& h);

// ---- Callbacks and events (callbacks.cpp) ----

// Connects the controls' events to callback texts (once per window) and
// runs the CreateFcn callbacks; `has_op` tells which local operations exist.
void wire_callbacks(QWidget* fig, const std::string& window,
                    const std::function<bool(const std::string&)>& has_op);
// eval_callback lends the argument list it builds for a window function to
// gui_mainfcn: the list is dropped once the window function returns, so the
// state record in it may be moved to the callback rather than copied. Gives
// that list, writable, when `varargin` is it and nobody took it yet (then
// nobody else will); nullptr for every other list.
Args* take_lent_args(const Args& varargin);

}  // namespace ocu::gui::detail
