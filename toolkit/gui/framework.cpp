// The window framework over Qt Widgets (see framework.hpp).
#include "toolkit/gui/framework.hpp"

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <unordered_map>

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QTextEdit>
#include <QUiLoader>

#include "toolkit/gui/imshow.hpp"
#include "toolkit/gui/internal.hpp"
#include "toolkit/gui/platform.hpp"
#include "toolkit/paths.hpp"

namespace ocu::gui {

// ---------------------------------------------------------------------------
// Values

bool is_text(const Value& v) { return std::holds_alternative<std::string>(v); }
bool is_empty(const Value& v) {
    if (std::holds_alternative<Empty>(v)) return true;
    if (const auto* r = std::get_if<Record>(&v)) return r->empty();
    if (const auto* d = std::get_if<std::vector<double>>(&v)) return d->empty();
    return false;
}
const std::string& text(const Value& v) {
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    throw Error("A text was expected.");
}
double number(const Value& v) {
    if (const auto* d = std::get_if<double>(&v)) return *d;
    if (const auto* d = std::get_if<std::vector<double>>(&v); d && d->size() == 1) return (*d)[0];
    throw Error("A number was expected.");
}
Handle handle(const Value& v) {
    if (const auto* h = std::get_if<Handle>(&v)) return *h;
    throw Error("An object handle was expected.");
}
const AnyImage& image(const Value& v) {
    if (const auto* a = std::get_if<AnyImage>(&v)) return *a;
    throw Error("An image array was expected.");
}

// ---------------------------------------------------------------------------
// Figures

namespace {

// Per-window data of the framework, kept as a hidden child of the window.
class FigureData : public QObject {
public:
    explicit FigureData(QWidget* fig) : QObject(fig) { setObjectName(kName); }
    static constexpr const char* kName = "qt_ocu_figure";
    std::map<std::string, std::any> appdata;
    std::vector<QEventLoop*> waits;
    QPointer<QWidget> current_axes;
    bool deleted = false;
    bool wired = false;
};

FigureData* data_of(const QWidget* w) {
    if (!w) return nullptr;
    for (QObject* c : w->children()) {
        if (c->objectName() == QLatin1String(FigureData::kName)) return static_cast<FigureData*>(c);
    }
    return nullptr;
}

std::vector<QPointer<QWidget>>& all_figures() {
    static std::vector<QPointer<QWidget>> v;
    return v;
}
QPointer<QWidget>& current_figure() {
    static QPointer<QWidget> f;
    return f;
}
std::vector<Handle>& running_objects() {
    static std::vector<Handle> v;
    return v;
}

bool marked_deleted(const QObject* o) { return o && o->property("ocuDeleted").toBool(); }

QWidget* enclosing_figure(const QObject* o) {
    for (const QObject* p = o; p; p = p->parent()) {
        if (p->isWidgetType()) {
            auto* w = static_cast<QWidget*>(const_cast<QObject*>(p));
            if (data_of(w)) return w;
        }
    }
    return nullptr;
}

void end_waits(FigureData* fd) {
    for (QEventLoop* l : fd->waits) l->quit();
}

void mark_deleted(QWidget* fig) {
    FigureData* fd = data_of(fig);
    if (!fd || fd->deleted) return;
    fd->deleted = true;
    fig->setProperty("ocuDeleted", true);
    end_waits(fd);
    if (current_figure() == fig) current_figure() = nullptr;
    fig->deleteLater();
}

}  // namespace

bool detail::g_pointer_input_active = false;

void detail::register_figure(QWidget* w) {
    if (!w || data_of(w)) return;
    new FigureData(w);
    all_figures().push_back(w);
    current_figure() = w;
}
bool detail::is_figure(const QWidget* w) { return data_of(w) != nullptr; }
QWidget* detail::current_axes(QWidget* fig) {
    FigureData* fd = data_of(fig);
    if (!fd) return nullptr;
    if (fd->current_axes && !marked_deleted(fd->current_axes)) return fd->current_axes;
    for (QWidget* c : fig->findChildren<QWidget*>()) {
        if (dynamic_cast<ImageArea*>(c) && !marked_deleted(c)) return c;
    }
    return nullptr;
}
void detail::set_current_axes(QWidget* fig, QWidget* ax) {
    if (FigureData* fd = data_of(fig)) fd->current_axes = ax;
}

bool is_valid(const Handle& h) {
    if (h.isNull() || marked_deleted(h.data())) return false;
    const QWidget* fig = enclosing_figure(h.data());
    if (fig && (marked_deleted(fig) || data_of(fig)->deleted)) return false;
    return true;
}

QWidget* figure_of(const Handle& h) {
    if (!is_valid(h)) return nullptr;
    return enclosing_figure(h.data());
}

void detail::delete_now(QWidget* fig) {
    if (!fig) return;
    mark_deleted(fig);
    fig->hide();
    delete fig;
}

void delete_object(const Handle& h) {
    if (!is_valid(h)) return;
    QObject* o = h.data();
    if (!o) return;
    if (o->isWidgetType() && data_of(static_cast<QWidget*>(o))) {
        auto* fig = static_cast<QWidget*>(o);
        const bool was_visible = fig->isVisible();
        mark_deleted(fig);
        // Closing lets Qt end the program when this was its last window.
        if (was_visible) fig->close();
        return;
    }
    o->setProperty("ocuDeleted", true);
    if (o->isWidgetType()) static_cast<QWidget*>(o)->hide();
    o->deleteLater();
}

Handle gcbo() { return running_objects().empty() ? Handle{} : running_objects().back(); }

QWidget* gcf() {
    QWidget* c = current_figure();
    if (c && !data_of(c)->deleted) return c;
    auto& v = all_figures();
    v.erase(std::remove_if(v.begin(), v.end(), [](const QPointer<QWidget>& p) { return p.isNull(); }), v.end());
    for (auto it = v.rbegin(); it != v.rend(); ++it) {
        if (!data_of(*it)->deleted) return *it;
    }
    return nullptr;
}

void figure(const Handle& fig) {
    QWidget* f = figure_of(fig);
    if (!f) throw Error("Invalid figure handle.");
    current_figure() = f;
}

// ---------------------------------------------------------------------------
// Controls

Handle Controls::operator()(std::string_view tag) const {
    for (const auto& [t, hs] : fields_) {
        if (t == tag) return hs.front();
    }
    throw Error("Reference to non-existent field '" + std::string(tag) + "'.");
}
std::vector<Handle> Controls::all(std::string_view tag) const {
    for (const auto& [t, hs] : fields_) {
        if (t == tag) return hs;
    }
    return {};
}
bool Controls::has(std::string_view tag) const {
    return std::any_of(fields_.begin(), fields_.end(), [&](const auto& f) { return f.first == tag; });
}
std::vector<std::string> Controls::tags() const {
    std::vector<std::string> t;
    for (const auto& f : fields_) t.push_back(f.first);
    return t;
}
void Controls::append(const std::string& tag, Handle h) {
    for (auto& [t, hs] : fields_) {
        if (t == tag) {
            hs.push_back(std::move(h));
            return;
        }
    }
    fields_.push_back({tag, {std::move(h)}});
}

namespace {
bool valid_identifier(const QString& s) {
    if (s.isEmpty() || s.size() > 63) return false;
    auto letter = [](QChar c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!letter(s[0])) return false;
    for (QChar c : s) {
        if (!(letter(c) || (c >= '0' && c <= '9') || c == '_')) return false;
    }
    return !s.startsWith(QLatin1String("qt_"));
}

std::vector<QObject*> objects_of(QWidget* fig) {
    std::vector<QObject*> v{fig};
    for (QObject* o : fig->findChildren<QObject*>()) v.push_back(o);
    return v;
}
}  // namespace

Controls guihandles(const Handle& fig_in) {
    QWidget* fig = fig_in.isNull() ? gcf() : figure_of(fig_in);
    if (!fig) throw Error("H must be the handle to a figure or figure descendent.");
    Controls c;
    for (QObject* o : objects_of(fig)) {
        if (marked_deleted(o)) continue;
        const QString tag = o->objectName();
        if (valid_identifier(tag)) c.append(tag.toStdString(), Handle(o));
    }
    return c;
}

// ---------------------------------------------------------------------------
// Application data

namespace {
FigureData* checked_data(const Handle& h) {
    QWidget* fig = figure_of(h);
    if (!fig) throw Error("H must be the handle to a figure or figure descendent.");
    return data_of(fig);
}
}  // namespace

void setappdata(const Handle& fig, const std::string& name, std::any value) {
    checked_data(fig)->appdata[name] = std::move(value);
}
std::any getappdata(const Handle& fig, const std::string& name) {
    auto& m = checked_data(fig)->appdata;
    auto it = m.find(name);
    return it == m.end() ? std::any{} : it->second;
}
bool isappdata(const Handle& fig, const std::string& name) {
    return checked_data(fig)->appdata.count(name) != 0;
}
void rmappdata(const Handle& fig, const std::string& name) { checked_data(fig)->appdata.erase(name); }
std::map<std::string, std::any>& root_appdata() {
    static std::map<std::string, std::any> m;
    return m;
}

Record guidata(const Handle& h) {
    auto& m = checked_data(h)->appdata;
    auto it = m.find("UsedByGUIData_m");
    return it == m.end() ? Record{} : Record{it->second};
}
void guidata(const Handle& h, Record record) {
    checked_data(h)->appdata["UsedByGUIData_m"] = std::move(record.value);
}
namespace detail {
const std::any* stored_record(const Handle& h) {
    auto& m = checked_data(h)->appdata;
    auto it = m.find("UsedByGUIData_m");
    return it == m.end() ? nullptr : &it->second;
}
}  // namespace detail

// ---------------------------------------------------------------------------
// Layouts

std::string openfig_key(const std::string& filename) {
    std::string cleaned;
    for (char ch : filename) {
        const auto u = static_cast<unsigned char>(ch);
        if (std::isalnum(u) || ch == '_') cleaned.push_back(ch);
    }
    std::reverse(cleaned.begin(), cleaned.end());
    std::string key = "OpenFig_" + cleaned + "_SINGLETON";
    if (key.size() > 31) key.resize(31);
    return key;
}

std::string find_layout_file(const std::string& name) {
    std::string n = name;
    if (QFileInfo(QString::fromStdString(n)).suffix().isEmpty()) n += ".fig";
    return find_data_file(n);
}

namespace {
// Qt Designer's loader, knowing the framework's own widget classes.
class Loader : public QUiLoader {
public:
    QWidget* createWidget(const QString& cls, QWidget* parent, const QString& name) override {
        if (cls == QLatin1String("ImageArea")) {
            auto* w = new ImageArea(parent);
            w->setObjectName(name);
            return w;
        }
        return QUiLoader::createWidget(cls, parent, name);
    }
};

QWidget* load_layout(const std::string& filename) {
    const std::string path = find_layout_file(filename);
    QFile f(QString::fromStdString(path));
    if (!f.exists()) throw Error("Layout file \"" + filename + "\" does not exist.");
    if (!f.open(QIODevice::ReadOnly)) throw Error("Can't open layout file \"" + path + "\" for reading.");
    static Loader* loader = new Loader;
    QWidget* w = loader->load(&f, nullptr);
    if (!w) {
        throw Error("Layout file \"" + path + "\" cannot be loaded: " + loader->errorString().toStdString());
    }
    w->setProperty("ocuLayoutFile", QString::fromStdString(path));
    detail::register_figure(w);
    return w;
}
}  // namespace

QWidget* openfig(const std::string& filename, Policy policy, Visibility visibility) {
    std::string name = filename;
    const QString suffix = QFileInfo(QString::fromStdString(name)).suffix();
    if (suffix.isEmpty()) {
        name += ".fig";
    } else if (suffix.compare(QLatin1String("fig"), Qt::CaseInsensitive) != 0) {
        throw Error("Argument must be a .fig file");
    }
    const std::string key = openfig_key(name);
    std::vector<QPointer<QWidget>> list;
    if (auto it = root_appdata().find(key); it != root_appdata().end()) {
        if (auto* l = std::any_cast<std::vector<QPointer<QWidget>>>(&it->second)) list = *l;
    }
    list.erase(std::remove_if(list.begin(), list.end(),
                              [](const QPointer<QWidget>& w) { return !is_valid(Handle(w.data())); }),
               list.end());

    QWidget* fig = nullptr;
    bool reused = false;
    bool layout_visible = true;
    if (policy == Policy::New || list.empty()) {
        fig = load_layout(name);
        const QVariant v = fig->property("visible_in_layout");
        layout_visible = v.isValid() ? v.toBool() : true;
        list.push_back(fig);
    } else {
        fig = list.back();
        if (!fig) throw Error("The window recorded for \"" + name + "\" no longer exists.");
        reused = true;
        layout_visible = fig->isVisible();
    }
    root_appdata()[key] = list;
    movegui(Handle(fig));
    switch (visibility) {
        case Visibility::Invisible: fig->hide(); break;
        case Visibility::Visible: fig->show(); break;
        case Visibility::Auto:
            if (!reused) fig->hide();
            break;
        case Visibility::FromLayout: fig->setVisible(layout_visible); break;
    }
    current_figure() = fig;
    return fig;
}

LayoutOptions layout_options(const Handle& h) {
    QWidget* fig = figure_of(h);
    if (!fig) throw Error("H must be the handle to a figure or figure descendent.");
    LayoutOptions o;
    if (QVariant v = fig->property("syscolorfig"); v.isValid()) o.syscolorfig = v.toBool();
    if (QVariant v = fig->property("singleton"); v.isValid()) o.singleton = v.toBool();
    return o;
}

void movegui(const Handle& h, std::string_view position) {
    if (position != "onscreen") throw Error("Unrecognized position \"" + std::string(position) + "\".");
    QWidget* fig = figure_of(h);
    if (!fig) throw Error("H must be the handle to a figure or figure descendent.");
    QScreen* screen = fig->screen() ? fig->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect avail = screen->availableGeometry();
    const QRect inner = fig->geometry();
    const QRect outer = fig->frameGeometry();
    int add_w = 0, add_h = 0, left = inner.left(), top = inner.top();
    if (outer != inner) {
        // The toolkit knows the frame.
        add_w = outer.width() - inner.width();
        add_h = outer.height() - inner.height();
        left = outer.left();
        top = outer.top();
    } else if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        // Only the inner rectangle is known yet: allow for the frame.
        add_w = 6;
        add_h = 24;
    }
    const int w = std::min(inner.width() + add_w, avail.width());
    const int hgt = std::min(inner.height() + add_h, avail.height());
    const int room_x = avail.width() - w, room_y = avail.height() - hgt;
    const int x = std::clamp(left - avail.left(), 0, room_x);
    const int y = std::clamp(top - avail.top(), 0, room_y);
    // A window that already lies on the screen is left alone, so that a
    // window manager may place a new window itself.
    if (x == left - avail.left() && y == top - avail.top() && w == inner.width() + add_w &&
        hgt == inner.height() + add_h)
        return;
    fig->resize(w - add_w, hgt - add_h);
    fig->move(avail.left() + x, avail.top() + y);
}

// ---------------------------------------------------------------------------
// Modal wait

void uiwait(const Handle& h) {
    QWidget* fig = figure_of(h);
    if (!fig) throw Error("H must be the handle to a figure or figure descendent.");
    FigureData* fd = data_of(fig);
    // The window waits visible and takes input.
    set_visible(Handle(fig), true);
    QEventLoop loop;
    QPointer<QWidget> guard(fig);
    fd->waits.push_back(&loop);
    QObject::connect(fig, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
    if (guard) {
        auto& w = data_of(guard)->waits;
        w.erase(std::remove(w.begin(), w.end(), &loop), w.end());
    }
}

void uiresume(const Handle& h) {
    QWidget* fig = figure_of(h);
    if (!fig) return;
    FigureData* fd = data_of(fig);
    if (!fd->waits.empty()) fd->waits.back()->quit();
}

// ---------------------------------------------------------------------------
// Properties

namespace {
QObject* checked(const Handle& h) {
    if (!is_valid(h)) throw Error("Invalid or deleted object.");
    return h.data();
}
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
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) p.setColor(role, qcolor(c));
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
    if (qobject_cast<QAbstractSlider*>(w) || qobject_cast<QAbstractButton*>(w)) p.setColor(QPalette::Button, qcolor(c));
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
    if (style == "modal") m = Qt::ApplicationModal;
    else if (style == "normal") m = Qt::NonModal;
    else throw Error("WindowStyle must be \"normal\" or \"modal\".");
    if (fig->windowModality() == m) return;
    const bool vis = fig->isVisible();
    if (vis) fig->hide();  // Qt applies a new modality when the window is shown
    fig->setWindowModality(m);
    if (vis) fig->show();
}
std::string get_handle_visibility(const Handle& h) {
    QVariant v = checked(h)->property("HandleVisibility");
    return v.isValid() ? v.toString().toStdString() : "on";
}
void set_handle_visibility(const Handle& h, const std::string& v) {
    if (v != "on" && v != "off" && v != "callback") throw Error("HandleVisibility must be on, callback or off.");
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

// ---------------------------------------------------------------------------
// Callbacks

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

void register_window_function(const std::string& name, WindowFunction f) { window_functions()[name] = std::move(f); }
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
bool inside_control(const QWidget* w, const QWidget* fig) {
    for (const QWidget* p = w; p && p != fig; p = p->parentWidget()) {
        if (is_control(p)) return true;
    }
    return false;
}

// Close requests and pointer presses of the framework's windows.
class AppFilter : public QObject {
public:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Close && o->isWidgetType()) {
            auto* w = static_cast<QWidget*>(o);
            if (w->isWindow() && data_of(w)) mark_deleted(w);
        } else if (e->type() == QEvent::MouseButtonPress && o->isWidgetType() && !detail::g_pointer_input_active) {
            press(static_cast<QWidget*>(o), static_cast<QMouseEvent*>(e));
        }
        return false;
    }

private:
    void press(QWidget* w, QMouseEvent* me) {
        // A press not taken by a widget travels up to its parents: handle it once.
        const auto stamp = std::make_tuple(me->timestamp(), me->globalPosition().x(), me->globalPosition().y());
        if (stamp == last_) return;
        last_ = stamp;
        QWidget* fig = enclosing_figure(w);
        if (!fig || w->window() != fig || !is_valid(Handle(fig))) return;
        const Handle target(w);
        const Handle fh(fig);
        if (!inside_control(w, fig)) run_callback(get_callback(fh, "WindowButtonDownFcn"), fh);
        if (!is_valid(target)) return;
        const bool button = qobject_cast<QAbstractButton*>(w) != nullptr;
        if (!button || me->button() == Qt::RightButton) run_callback(get_callback(target, "ButtonDownFcn"), target);
    }
    std::tuple<quint64, double, double> last_{0, -1e300, -1e300};
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
        QObject::connect(s, &QAbstractSlider::valueChanged, s, [s, fire] {
            s->setProperty("ocuExactValue", QVariant());
            if (!s->isSliderDown()) fire();
        });
        QObject::connect(s, &QAbstractSlider::sliderReleased, s, fire);
    }
}

}  // namespace

namespace detail {

bool is_callback_mode(const Args& v) {
    return v.size() > 3 && is_text(v[0]) && std::holds_alternative<Handle>(v[1]) && is_valid(std::get<Handle>(v[1]));
}

namespace {
bool prefix_match(std::string_view s, std::string_view ref, std::size_t n) {
    // The first n characters of s and ref agree, case ignored (both need n).
    if (s.size() < n || ref.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(s[i])) != std::tolower(static_cast<unsigned char>(ref[i])))
            return false;
    }
    return true;
}
}  // namespace

bool visibility_request(const Args& v) {
    bool show = true;
    for (std::size_t i = 0; i + 1 < v.size(); i += 2) {
        if (!is_text(v[i]) || !is_text(v[i + 1])) continue;
        const std::string& name = text(v[i]);
        const std::string& val = text(v[i + 1]);
        if (!prefix_match(name, "visible", std::min<std::size_t>(7, name.size()))) continue;
        const std::size_t len2 = std::min<std::size_t>(3, val.size());
        if (len2 <= 1) continue;
        if (prefix_match(val, "off", len2)) show = false;
        else if (prefix_match(val, "on", len2)) show = true;
    }
    return show;
}

void apply_property_pairs(QWidget* fig, const Args& v) {
    for (std::size_t i = 0; i + 1 < v.size(); i += 2) {
        if (!is_text(v[i])) return;
        if (!set_property(Handle(fig), text(v[i]), v[i + 1])) return;
    }
}

void wire_callbacks(QWidget* fig, const std::string& window, const std::function<bool(const std::string&)>& has_op) {
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
        if (o == fig) events.push_back("WindowButtonDownFcn");
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

void check_description(const WindowDescription& d, const std::function<bool(const std::string&)>& has_op) {
    const std::string who = d.gui_Name.empty() ? std::string("(unnamed)") : d.gui_Name;
    auto missing = [&](const char* field) {
        return Error("The window description of \"" + who + "\" lacks the field " + field + ".");
    };
    if (d.gui_Name.empty()) throw missing("gui_Name");
    if (d.gui_OpeningFcn.empty() || !has_op(d.gui_OpeningFcn)) throw missing("gui_OpeningFcn");
    if (d.gui_OutputFcn.empty() || !has_op(d.gui_OutputFcn)) throw missing("gui_OutputFcn");
}

}  // namespace detail

}  // namespace ocu::gui
