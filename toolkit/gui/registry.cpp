// The window framework over Qt Widgets (see framework.hpp): the framework's windows
// and their per-window data, the controls by tag (guihandles), application
// data and guidata, and the modal wait.
#include "toolkit/gui/framework.hpp"

#include <algorithm>
#include <any>
#include <map>
#include <string>
#include <vector>

#include <QEventLoop>
#include <QPointer>
#include <QString>

#include "toolkit/gui/imshow.hpp"
#include "toolkit/gui/internal.hpp"

namespace ocu::gui {

using namespace detail;  // the framework's shared internals (internal.hpp)

// ---------------------------------------------------------------------------
// Windows

namespace detail {
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

}  // namespace detail

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
    v.erase(std::remove_if(v.begin(), v.end(), [](const QPointer<QWidget>& p) { return p.isNull(); }),
            v.end());
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

namespace detail {
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
}  // namespace detail

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
    FigureData* fd = checked_data(h);
    fd->appdata["UsedByGUIData_m"] = std::move(record.value);
    ++fd->revision;
}
std::uint64_t guidata_revision(const Handle& h) { return checked_data(h)->revision; }
namespace detail {
const std::any* stored_record(const Handle& h) {
    auto& m = checked_data(h)->appdata;
    auto it = m.find("UsedByGUIData_m");
    return it == m.end() ? nullptr : &it->second;
}
}  // namespace detail

// ---------------------------------------------------------------------------
// Modal wait

void uiwait(const Handle& h) {
    QWidget* fig = figure_of(h);
    if (!fig) throw Error("H must be the handle to a figure or figure descendent.");
    FigureData* fd = data_of(fig);
    fd->cancelled = false;
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

void uicancel(const Handle& h) {
    QWidget* fig = figure_of(h);
    if (!fig) return;
    FigureData* fd = data_of(fig);
    if (fd->waits.empty()) return;
    fd->cancelled = true;
    fd->waits.back()->quit();
}

}  // namespace ocu::gui
