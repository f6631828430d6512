// The window framework over Qt Widgets (see framework.hpp): callback texts, the window
// functions known by name, evaluating a callback text, and the events that
// run callbacks (activation of controls, pointer presses, window closing).
#include "toolkit/gui/framework.hpp"

#include <functional>
#include <map>
#include <regex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QTextEdit>

#include "toolkit/gui/imshow.hpp"
#include "toolkit/gui/internal.hpp"
#include "toolkit/gui/platform.hpp"

namespace ocu::gui {

using namespace detail;  // the framework's shared internals (internal.hpp)

// ---------------------------------------------------------------------------
// Callback texts and window functions

std::string callback_text(const std::string& window, const std::string& op) {
    return window + "('" + op + "',gcbo,[],guidata(gcbo))";
}
std::string get_callback(const Handle& h, const std::string& event) {
    if (h.isNull()) return {};
    QVariant v = h->property(event.c_str());
    return v.isValid() ? v.toString().toStdString() : std::string{};
}
void set_callback(const Handle& h, const std::string& event, const std::string& t) {
    checked(h)->setProperty(event.c_str(), QString::fromStdString(t));
}

namespace {
std::map<std::string, WindowFunction>& window_functions() {
    static std::map<std::string, WindowFunction> m;
    return m;
}
// The argument list eval_callback lends to gui_mainfcn, until it is taken.
Args*& lent_args() {
    static Args* lent = nullptr;
    return lent;
}
}  // namespace

namespace detail {
Args* take_lent_args(const Args& varargin) {
    if (lent_args() != &varargin) return nullptr;
    return std::exchange(lent_args(), nullptr);
}
}  // namespace detail

void register_window_function(const std::string& name, WindowFunction f) {
    window_functions()[name] = std::move(f);
}
WindowFunction find_window_function(const std::string& name) {
    auto it = window_functions().find(name);
    if (it == window_functions().end()) throw Error("Undefined function \"" + name + "\".");
    return it->second;
}

void eval_callback(const std::string& t, const Handle& obj) {
    static const std::regex form(
        R"(^\s*([A-Za-z]\w*)\s*\(\s*'([A-Za-z]\w*)'\s*,\s*gcbo\s*,\s*\[\s*\]\s*,\s*guidata\s*\(\s*gcbo\s*\)\s*\)\s*;?\s*$)");
    std::smatch m;
    if (!std::regex_match(t, m, form)) throw Error("Invalid callback text \"" + t + "\".");
    const WindowFunction f = find_window_function(m[1].str());
    if (!is_valid(obj)) throw Error("Invalid or deleted object.");
    struct Running {
        explicit Running(const Handle& o) { running_objects().push_back(o); }
        ~Running() { running_objects().pop_back(); }
    } running(obj);
    if (QWidget* fig = figure_of(obj)) current_figure() = fig;
    Args args;
    args.reserve(4);
    args.emplace_back(m[2].str());
    args.emplace_back(obj);
    args.emplace_back(Empty{});
    args.emplace_back(guidata(obj));  // the callback's own copy of the stored record
    // Lent to gui_mainfcn while the window function runs (nested callbacks
    // lend their own lists and give back this one).
    struct Lend {
        explicit Lend(Args* a) : previous(std::exchange(lent_args(), a)) {}
        ~Lend() { lent_args() = previous; }
        Lend(const Lend&) = delete;
        Lend& operator=(const Lend&) = delete;
        Args* previous;
    } lend(&args);
    f(args, 0);
}

bool run_callback(const std::string& t, const Handle& obj) {
    if (t.empty()) return true;
    try {
        eval_callback(t, obj);
        return true;
    } catch (const Cancelled&) {
        return true;  // the person cancelled: nothing to report
    } catch (const std::exception& e) {
        platform().report_error(e.what());
    }
    return false;
}

// ---------------------------------------------------------------------------
// Events

namespace {

bool is_control(const QWidget* w) {
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLineEdit*>(w) ||
           qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSlider*>(w) ||
           qobject_cast<const QMenuBar*>(w) || qobject_cast<const QMenu*>(w) ||
           qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QTextEdit*>(w);
}

}  // namespace

bool detail::inside_control(const QWidget* w, const QWidget* fig) {
    for (const QWidget* p = w; p && p != fig; p = p->parentWidget()) {
        if (is_control(p)) return true;
    }
    return false;
}

namespace {

// The window's button for a key: the default push button (Enter), or the
// button marked "cancel" in the layout (Escape, the close button). Only
// usable buttons count.
QAbstractButton* default_button(QWidget* fig) {
    for (QPushButton* b : fig->findChildren<QPushButton*>()) {
        if (b->isDefault() && b->isVisible() && b->isEnabled()) return b;
    }
    return nullptr;
}
QAbstractButton* cancel_button(QWidget* fig) {
    for (QAbstractButton* b : fig->findChildren<QAbstractButton*>()) {
        if (b->property("cancel").toBool() && b->isVisible() && b->isEnabled()) return b;
    }
    return nullptr;
}
// The framework's window `o` while it waits modally, else nullptr.
QWidget* waiting_figure(QObject* o) {
    if (!o->isWidgetType()) return nullptr;
    auto* w = static_cast<QWidget*>(o);
    FigureData* fd = w->isWindow() ? data_of(w) : nullptr;
    return fd && !fd->deleted && !fd->waits.empty() ? w : nullptr;
}

// Close requests, keys and pointer presses of the framework's windows.
class AppFilter : public QObject {
public:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Close && o->isWidgetType()) {
            auto* w = static_cast<QWidget*>(o);
            if (QWidget* fig = waiting_figure(w)) {
                // Closing a waiting window that can be cancelled cancels it.
                if (QAbstractButton* cancel = cancel_button(fig)) {
                    e->ignore();
                    cancel->click();
                    return true;
                }
            }
            if (w->isWindow() && data_of(w)) mark_deleted(w);
        } else if (e->type() == QEvent::KeyPress) {
            // A key no control took travels up to the window itself.
            if (QWidget* fig = waiting_figure(o)) return key(fig, static_cast<QKeyEvent*>(e));
        } else if (e->type() == QEvent::MouseButtonPress && o->isWidgetType() &&
                   !detail::g_pointer_input_active) {
            press(static_cast<QWidget*>(o), static_cast<QMouseEvent*>(e));
        } else if (e->type() == QEvent::MouseMove && o->isWidgetType()) {
            move(static_cast<QWidget*>(o), static_cast<QMouseEvent*>(e));
        }
        return false;
    }

private:
    static bool key(QWidget* fig, QKeyEvent* k) {
        const Qt::KeyboardModifiers mods = k->modifiers() & ~Qt::KeypadModifier;
        if (mods != Qt::NoModifier) return false;
        QAbstractButton* b = nullptr;
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) b = default_button(fig);
        if (k->key() == Qt::Key_Escape) b = cancel_button(fig);
        if (!b) return false;
        b->click();
        return true;
    }
    void press(QWidget* w, QMouseEvent* me) {
        // A press not taken by a widget travels up to its parents: handle it once.
        const auto stamp =
            std::make_tuple(me->timestamp(), me->globalPosition().x(), me->globalPosition().y());
        if (stamp == last_) return;
        last_ = stamp;
        QWidget* fig = enclosing_figure(w);
        if (!fig || w->window() != fig || !is_valid(Handle(fig))) return;
        const Handle target(w);
        const Handle fh(fig);
        if (!detail::inside_control(w, fig)) run_callback(get_callback(fh, "WindowButtonDownFcn"), fh);
        if (!is_valid(target)) return;
        const bool button = qobject_cast<QAbstractButton*>(w) != nullptr;
        if (!button || me->button() == Qt::RightButton)
            run_callback(get_callback(target, "ButtonDownFcn"), target);
    }
    // A move over the window (outside its controls): its motion callback.
    // The widget under the pointer has noted the position before the
    // callback reads it (current_point).
    void move(QWidget* w, QMouseEvent* me) {
        const auto stamp =
            std::make_tuple(me->timestamp(), me->globalPosition().x(), me->globalPosition().y());
        if (stamp == last_move_) return;
        last_move_ = stamp;
        QWidget* fig = enclosing_figure(w);
        if (!fig || w->window() != fig || !is_valid(Handle(fig)) || detail::inside_control(w, fig)) return;
        const Handle fh(fig);
        const std::string text = get_callback(fh, "WindowButtonMotionFcn");
        if (text.empty()) return;
        // The widget takes the event after this filter: let it note the position first.
        if (auto* area = dynamic_cast<ImageArea*>(w)) area->note_pointer_from(me);
        run_callback(text, fh);
    }
    std::tuple<quint64, double, double> last_{0, -1e300, -1e300};
    std::tuple<quint64, double, double> last_move_{0, -1e300, -1e300};
};

void install_app_filter() {
    static AppFilter* filter = nullptr;
    if (!filter) {
        filter = new AppFilter;
        QCoreApplication::instance()->installEventFilter(filter);
    }
}

void connect_callback(QObject* o) {
    const Handle h(o);
    auto fire = [h] {
        if (is_valid(h)) run_callback(get_callback(h, "Callback"), h);
    };
    if (auto* a = qobject_cast<QAction*>(o)) {
        if (!a->menu()) QObject::connect(a, &QAction::triggered, a, fire);
    } else if (auto* m = qobject_cast<QMenu*>(o)) {
        QObject::connect(m, &QMenu::aboutToShow, m, fire);
    } else if (auto* b = qobject_cast<QAbstractButton*>(o)) {
        QObject::connect(b, &QAbstractButton::clicked, b, fire);
    } else if (auto* c = qobject_cast<QComboBox*>(o)) {
        QObject::connect(c, &QComboBox::activated, c, fire);
    } else if (auto* e = qobject_cast<QLineEdit*>(o)) {
        QObject::connect(e, &QLineEdit::editingFinished, e, [e, fire] {
            if (!e->isModified()) return;
            e->setModified(false);
            fire();
        });
    } else if (auto* s = qobject_cast<QAbstractSlider*>(o)) {
        // Every change, also each step of a drag, so that what the callback
        // shows follows the slider.
        QObject::connect(s, &QAbstractSlider::valueChanged, s, [s, fire] {
            s->setProperty("ocuExactValue", QVariant());
            fire();
        });
    }
}

}  // namespace

namespace detail {

void wire_callbacks(QWidget* fig, const std::string& window,
                    const std::function<bool(const std::string&)>& has_op) {
    register_figure(fig);
    FigureData* fd = data_of(fig);
    if (fd->wired) return;
    fd->wired = true;
    install_app_filter();
    std::vector<Handle> creates;
    for (QObject* o : objects_of(fig)) {
        const QString qtag = o->objectName();
        if (!valid_identifier(qtag)) continue;
        const std::string tag = qtag.toStdString();
        std::vector<std::string> events{"Callback", "CreateFcn", "ButtonDownFcn"};
        if (o == fig) {
            events.push_back("WindowButtonDownFcn");
            events.push_back("WindowButtonMotionFcn");
        }
        for (const std::string& ev : events) {
            if (!o->property(ev.c_str()).isValid() && has_op(tag + "_" + ev))
                o->setProperty(ev.c_str(), QString::fromStdString(callback_text(window, tag + "_" + ev)));
        }
        connect_callback(o);
        if (!get_callback(Handle(o), "CreateFcn").empty()) creates.emplace_back(o);
    }
    for (const Handle& h : creates) {
        if (is_valid(h)) run_callback(get_callback(h, "CreateFcn"), h);
    }
}

}  // namespace detail

}  // namespace ocu::gui
