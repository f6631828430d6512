// The window framework over Qt Widgets (see framework.hpp): the properties of windows
// and controls.
#include "toolkit/gui/framework.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>

#include "toolkit/gui/internal.hpp"

namespace ocu::gui {

using namespace detail;  // the framework's shared internals (internal.hpp)

QObject* detail::checked(const Handle& h) {
    if (!is_valid(h)) throw Error("Invalid or deleted object.");
    return h.data();
}

namespace {
QColor qcolor(Rgb c) {
    auto ch = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
    return QColor(ch(c.r), ch(c.g), ch(c.b));
}
Rgb rgb(const QColor& q) { return Rgb{q.redF(), q.greenF(), q.blueF()}; }
}  // namespace

std::string get_string(const Handle& h) {
    QObject* o = checked(h);
    if (auto* l = qobject_cast<QLabel*>(o)) return l->text().toStdString();
    if (auto* e = qobject_cast<QLineEdit*>(o)) return e->text().toStdString();
    if (auto* b = qobject_cast<QAbstractButton*>(o)) return b->text().toStdString();
    if (auto* a = qobject_cast<QAction*>(o)) return a->text().toStdString();
    if (auto* m = qobject_cast<QMenu*>(o)) return m->title().toStdString();
    if (auto* c = qobject_cast<QComboBox*>(o)) return c->currentText().toStdString();
    if (auto* w = qobject_cast<QWidget*>(o)) return w->windowTitle().toStdString();
    throw Error("The object has no String property.");
}
void set_string(const Handle& h, const std::string& s) {
    QObject* o = checked(h);
    const QString q = QString::fromStdString(s);
    if (auto* l = qobject_cast<QLabel*>(o)) {
        l->setText(q);
    } else if (auto* e = qobject_cast<QLineEdit*>(o)) {
        e->setText(q);
        e->setModified(false);
    } else if (auto* b = qobject_cast<QAbstractButton*>(o)) {
        b->setText(q);
    } else if (auto* a = qobject_cast<QAction*>(o)) {
        a->setText(q);
    } else if (auto* m = qobject_cast<QMenu*>(o)) {
        m->setTitle(q);
    } else if (qobject_cast<QComboBox*>(o)) {
        set_string_list(h, {s});
    } else {
        throw Error("The object has no String property.");
    }
}
std::vector<std::string> get_string_list(const Handle& h) {
    QObject* o = checked(h);
    if (auto* c = qobject_cast<QComboBox*>(o)) {
        std::vector<std::string> v;
        for (int i = 0; i < c->count(); ++i) v.push_back(c->itemText(i).toStdString());
        return v;
    }
    return {get_string(h)};
}
void set_string_list(const Handle& h, const std::vector<std::string>& items) {
    auto* c = qobject_cast<QComboBox*>(checked(h));
    if (!c) throw Error("The object is not a selection list.");
    const QSignalBlocker block(c);
    c->clear();
    for (const auto& s : items) c->addItem(QString::fromStdString(s));
}

namespace {
std::pair<double, double> slider_range(const QObject* o) {
    const QVariant mn = o->property("Min"), mx = o->property("Max");
    return {mn.isValid() ? mn.toDouble() : 0.0, mx.isValid() ? mx.toDouble() : 1.0};
}
}  // namespace

double get_value(const Handle& h) {
    QObject* o = checked(h);
    if (auto* s = qobject_cast<QAbstractSlider*>(o)) {
        const auto [mn, mx] = slider_range(o);
        const double span = s->maximum() - s->minimum();
        const double frac = span > 0 ? (s->value() - s->minimum()) / span : 0.0;
        // The exact value last set is kept, so that reading gives it back.
        if (QVariant exact = o->property("ocuExactValue"); exact.isValid()) {
            const double e = exact.toDouble();
            const double efrac = (mx > mn) ? (e - mn) / (mx - mn) : 0.0;
            if (std::lround(efrac * span) == std::lround(frac * span)) return e;
        }
        return mn + frac * (mx - mn);
    }
    if (auto* b = qobject_cast<QAbstractButton*>(o)) return b->isChecked() ? 1.0 : 0.0;
    if (auto* a = qobject_cast<QAction*>(o)) return a->isChecked() ? 1.0 : 0.0;
    if (auto* c = qobject_cast<QComboBox*>(o)) return c->currentIndex() + 1.0;
    throw Error("The object has no Value property.");
}
void set_value(const Handle& h, double v) {
    QObject* o = checked(h);
    if (auto* s = qobject_cast<QAbstractSlider*>(o)) {
        const auto [mn, mx] = slider_range(o);
        const double frac = mx > mn ? (v - mn) / (mx - mn) : 0.0;
        const QSignalBlocker block(s);
        s->setValue(s->minimum() + static_cast<int>(std::lround(frac * (s->maximum() - s->minimum()))));
        o->setProperty("ocuExactValue", v);
        return;
    }
    if (auto* b = qobject_cast<QAbstractButton*>(o)) {
        const QSignalBlocker block(b);
        b->setChecked(v != 0);
        return;
    }
    if (auto* c = qobject_cast<QComboBox*>(o)) {
        const QSignalBlocker block(c);
        c->setCurrentIndex(static_cast<int>(v) - 1);
        return;
    }
    throw Error("The object has no Value property.");
}

Rgb get_foreground(const Handle& h) {
    auto* w = qobject_cast<QWidget*>(checked(h));
    if (!w) throw Error("The object has no ForegroundColor property.");
    return rgb(w->palette().color(w->foregroundRole()));
}
void set_foreground(const Handle& h, Rgb c) {
    auto* w = qobject_cast<QWidget*>(checked(h));
    if (!w) throw Error("The object has no ForegroundColor property.");
    QPalette p = w->palette();
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(role, qcolor(c));
    w->setPalette(p);
}
Rgb get_background(const Handle& h) {
    auto* w = qobject_cast<QWidget*>(checked(h));
    if (!w) throw Error("The object has no BackgroundColor property.");
    return rgb(w->palette().color(w->backgroundRole()));
}
void set_background(const Handle& h, Rgb c) {
    auto* w = qobject_cast<QWidget*>(checked(h));
    if (!w) throw Error("The object has no BackgroundColor property.");
    QPalette p = w->palette();
    p.setColor(w->backgroundRole(), qcolor(c));
    if (qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w)) p.setColor(QPalette::Base, qcolor(c));
    if (qobject_cast<QAbstractSlider*>(w) || qobject_cast<QAbstractButton*>(w))
        p.setColor(QPalette::Button, qcolor(c));
    w->setPalette(p);
    if (qobject_cast<QLabel*>(w) || w->isWindow()) w->setAutoFillBackground(true);
}
Rgb default_uicontrol_background() { return rgb(QApplication::palette().color(QPalette::Button)); }

std::string get_name(const Handle& h) {
    auto* w = qobject_cast<QWidget*>(checked(h));
    if (!w) throw Error("The object has no Name property.");
    return w->windowTitle().toStdString();
}
void set_name(const Handle& h, const std::string& name) {
    auto* w = qobject_cast<QWidget*>(checked(h));
    if (!w) throw Error("The object has no Name property.");
    w->setWindowTitle(QString::fromStdString(name));
}
bool is_visible(const Handle& h) {
    auto* w = qobject_cast<QWidget*>(checked(h));
    if (!w) throw Error("The object has no Visible property.");
    return w->isVisible();
}
void set_visible(const Handle& h, bool on) {
    auto* w = qobject_cast<QWidget*>(checked(h));
    if (!w) throw Error("The object has no Visible property.");
    if (on) {
        w->show();
        if (w->isWindow() && QGuiApplication::platformName() != QLatin1String("offscreen")) {
            w->raise();
            w->activateWindow();
        }
    } else {
        w->hide();
    }
}
void set_window_style(const Handle& h, const std::string& style) {
    QWidget* fig = figure_of(h);
    if (!fig) throw Error("H must be the handle to a figure or figure descendent.");
    Qt::WindowModality m;
    if (style == "modal")
        m = Qt::ApplicationModal;
    else if (style == "normal")
        m = Qt::NonModal;
    else
        throw Error("WindowStyle must be \"normal\" or \"modal\".");
    if (fig->windowModality() == m) return;
    const bool vis = fig->isVisible();
    if (vis) fig->hide();  // Qt applies a new modality when the window is shown
    fig->setWindowModality(m);
    if (vis) fig->show();
}
bool get_enable(const Handle& h) {
    QObject* o = checked(h);
    if (auto* a = qobject_cast<QAction*>(o)) return a->isEnabled();
    if (auto* w = qobject_cast<QWidget*>(o)) return w->isEnabled();
    throw Error("The object has no Enable property.");
}
void set_enable(const Handle& h, bool on) {
    QObject* o = checked(h);
    if (auto* a = qobject_cast<QAction*>(o)) {
        a->setEnabled(on);
    } else if (auto* w = qobject_cast<QWidget*>(o)) {
        w->setEnabled(on);
    } else {
        throw Error("The object has no Enable property.");
    }
}
void focus_control(const Handle& h) {
    auto* w = qobject_cast<QWidget*>(checked(h));
    if (!w) throw Error("Only a control can take the keyboard focus.");
    w->setFocus(Qt::OtherFocusReason);
    if (auto* e = qobject_cast<QLineEdit*>(w)) e->selectAll();
}
std::string label_of(const Handle& h) {
    auto* w = qobject_cast<QWidget*>(checked(h));
    if (!w) return {};
    for (QLabel* l : w->window()->findChildren<QLabel*>()) {
        if (l->buddy() != w) continue;
        QString t = l->text();
        // "&&" is a literal ampersand, a single "&" marks the mnemonic.
        t.replace(QLatin1String("&&"), QString(QChar(0x1)));
        t.remove(QLatin1Char('&'));
        t.replace(QChar(0x1), QLatin1Char('&'));
        return t.trimmed().toStdString();
    }
    return {};
}
std::string get_handle_visibility(const Handle& h) {
    QVariant v = checked(h)->property("HandleVisibility");
    return v.isValid() ? v.toString().toStdString() : "on";
}
void set_handle_visibility(const Handle& h, const std::string& v) {
    if (v != "on" && v != "off" && v != "callback")
        throw Error("HandleVisibility must be on, callback or off.");
    checked(h)->setProperty("HandleVisibility", QString::fromStdString(v));
}

namespace {
std::string lower(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}
}  // namespace

bool set_property(const Handle& h, std::string_view name, const Value& v) {
    if (!is_valid(h)) return false;
    const std::string n = lower(name);
    try {
        if (n == "visible" && is_text(v)) {
            const std::string t = lower(text(v));
            if (t != "on" && t != "off") return false;
            set_visible(h, t == "on");
        } else if (n == "name" && is_text(v)) {
            set_name(h, text(v));
        } else if (n == "tag" && is_text(v)) {
            h->setObjectName(QString::fromStdString(text(v)));
        } else if (n == "windowstyle" && is_text(v)) {
            set_window_style(h, text(v));
        } else if (n == "handlevisibility" && is_text(v)) {
            set_handle_visibility(h, text(v));
        } else if (n == "color" && std::holds_alternative<std::vector<double>>(v)) {
            const auto& c = std::get<std::vector<double>>(v);
            if (c.size() != 3) return false;
            set_background(h, Rgb{c[0], c[1], c[2]});
        } else {
            return false;
        }
    } catch (const Error&) {
        return false;
    }
    return true;
}

}  // namespace ocu::gui
