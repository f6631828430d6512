// The window framework over Qt Widgets (see framework.hpp): layout files: the screen-wide
// key, the lookup and loading of a layout (openfig), layout options and
// moving a window onto the screen.
#include "toolkit/gui/framework.hpp"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QUiLoader>

#include "toolkit/gui/imshow.hpp"
#include "toolkit/gui/internal.hpp"
#include "toolkit/paths.hpp"

namespace ocu::gui {

using namespace detail;  // the framework's shared internals (internal.hpp)

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
        case Visibility::Invisible:
            fig->hide();
            break;
        case Visibility::Visible:
            fig->show();
            break;
        case Visibility::Auto:
            if (!reused) fig->hide();
            break;
        case Visibility::FromLayout:
            fig->setVisible(layout_visible);
            break;
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

}  // namespace ocu::gui
