// Platform operations on Qt (see platform.hpp).
#include "toolkit/gui/platform.hpp"

#include <vector>

#include <QApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>

#include "toolkit/gui/imshow.hpp"
#include "toolkit/gui/internal.hpp"

namespace ocu::gui {

namespace {
std::unique_ptr<Platform>& current() {
    static std::unique_ptr<Platform> p;
    return p;
}

QWidget* dialog_parent() {
    QWidget* f = gcf();
    return (f && f->isVisible()) ? f : nullptr;
}

FileChoice choice_of(const QString& path) {
    FileChoice c;
    if (path.isEmpty()) return c;
    const QFileInfo fi(path);
    c.filename = fi.fileName().toStdString();
    c.pathname = fi.absolutePath().toStdString();
    if (c.pathname.empty() || c.pathname.back() != '/') c.pathname += '/';
    c.cancelled = false;
    return c;
}
}  // namespace

Platform& platform() {
    auto& p = current();
    if (!p) p = std::make_unique<QtPlatform>();
    return *p;
}

std::unique_ptr<Platform> set_platform(std::unique_ptr<Platform> p) {
    auto old = std::move(current());
    current() = std::move(p);
    return old;
}

std::string qt_name_filter(const std::string& filter) {
    std::string spaced = filter;
    for (char& c : spaced) {
        if (c == ';') c = ' ';
    }
    return filter + " (" + spaced + ")";
}

FileChoice QtPlatform::get_file(const std::string& filter, const std::string& title) {
    const QString filters = QString::fromStdString(qt_name_filter(filter)) + ";;All files (*)";
    return choice_of(QFileDialog::getOpenFileName(dialog_parent(), QString::fromStdString(title), QDir::currentPath(),
                                                  filters));
}

FileChoice QtPlatform::put_file(const std::string& proposed, const std::string& title) {
    const QFileInfo fi(QString::fromStdString(proposed));
    QString dir = proposed.find('/') == std::string::npos ? QDir::currentPath() : fi.absolutePath();
    QFileDialog dlg(dialog_parent(), QString::fromStdString(title), dir);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    const QString name = fi.fileName();
    if (name.contains('*') || name.contains('?')) {
        // A pattern: it filters the files shown, and its extension is added
        // to a name typed without one.
        dlg.setNameFilters({name + " (" + name + ")", "All files (*)"});
        if (!fi.suffix().isEmpty() && !fi.suffix().contains('*')) dlg.setDefaultSuffix(fi.suffix());
    } else {
        dlg.selectFile(name);
        if (!fi.suffix().isEmpty()) dlg.setDefaultSuffix(fi.suffix());
    }
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
    return choice_of(dlg.selectedFiles().front());
}

std::string QtPlatform::question(const std::string& q, const std::string& title,
                                 const std::vector<std::string>& buttons, const std::string& default_button) {
    QMessageBox box(QMessageBox::Question, QString::fromStdString(title), QString::fromStdString(q),
                    QMessageBox::NoButton, dialog_parent());
    std::vector<std::pair<QAbstractButton*, std::string>> made;
    for (const auto& b : buttons) {
        QPushButton* pb = box.addButton(QString::fromStdString(b), QMessageBox::AcceptRole);
        made.emplace_back(pb, b);
        if (b == default_button) box.setDefaultButton(pb);
    }
    box.exec();
    for (const auto& [btn, label] : made) {
        if (box.clickedButton() == btn) return label;
    }
    return {};
}

void print_window(const Handle& fig_h, QPrinter& printer) {
    QWidget* fig = figure_of(fig_h);
    if (!fig) throw Error("H must be the handle to a figure or figure descendent.");
    QPainter painter;
    if (!painter.begin(&printer)) {
        if (printer.outputFormat() == QPrinter::PdfFormat)
            throw Error("Cannot write the file \"" + printer.outputFileName().toStdString() + "\".");
        throw Error("The printer could not be started.");
    }
    const QRect page = painter.viewport();
    const QSize size = fig->size();
    const double scale = std::min(page.width() / static_cast<double>(size.width()),
                                  page.height() / static_cast<double>(size.height()));
    painter.translate(page.left(), page.top());
    painter.scale(scale, scale);
    fig->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    painter.end();
}

void QtPlatform::print_dialog(const Handle& fig) {
    QWidget* f = figure_of(fig);
    if (!f) throw Error("H must be the handle to a figure or figure descendent.");
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(f->windowTitle());
    QPrintDialog dlg(&printer, f->isVisible() ? f : nullptr);
    dlg.setWindowTitle("Print " + f->windowTitle());
    if (dlg.exec() != QDialog::Accepted) return;
    print_window(fig, printer);
}

namespace {
// Takes the next pointer click in one window: a press or a double-click that
// is not on a control. Escape and closing the window cancel the wait.
class PressCatcher : public QObject {
public:
    PressCatcher(QWidget* fig, QEventLoop* loop) : fig_(fig), loop_(loop) {}
    bool eventFilter(QObject* o, QEvent* e) override {
        switch (e->type()) {
            case QEvent::Close:
                if (o == fig_) cancel();
                return false;
            case QEvent::KeyPress:
                if (in_window(o) && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) {
                    cancel();
                    return true;
                }
                return false;
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick: {
                if (!in_window(o)) return false;
                // Menus and controls work as usual while the wait goes on.
                if (detail::inside_control(static_cast<QWidget*>(o), fig_)) return false;
                global_ = static_cast<QMouseEvent*>(e)->globalPosition();
                got_ = true;
                loop_->quit();
                return true;
            }
            default:
                return false;
        }
    }
    void cancel() {
        cancelled_ = true;
        loop_->quit();
    }
    const QWidget* figure() const { return fig_; }
    bool got() const { return got_ && !cancelled_; }
    QPointF global() const { return global_; }

private:
    bool in_window(const QObject* o) const {
        return o->isWidgetType() && static_cast<const QWidget*>(o)->window() == fig_;
    }
    QWidget* fig_;
    QEventLoop* loop_;
    QPointF global_;
    bool got_ = false;
    bool cancelled_ = false;
};

// The pointer inputs waiting, innermost last.
std::vector<PressCatcher*>& pointer_waits() {
    static std::vector<PressCatcher*> v;
    return v;
}
}  // namespace

std::array<double, 2> QtPlatform::pointer_input(const Handle& fig_h) {
    QWidget* fig = figure_of(fig_h);
    if (!fig) throw Error("H must be the handle to a figure or figure descendent.");
    QEventLoop loop;
    PressCatcher catcher(fig, &loop);
    QPointer<QWidget> guard(fig);
    QObject::connect(fig, &QObject::destroyed, &loop, [&catcher] { catcher.cancel(); });
    qApp->installEventFilter(&catcher);
    pointer_waits().push_back(&catcher);
    fig->setCursor(Qt::CrossCursor);
    const bool was_active = detail::g_pointer_input_active;
    detail::g_pointer_input_active = true;
    loop.exec();
    detail::g_pointer_input_active = was_active;
    std::erase(pointer_waits(), &catcher);
    qApp->removeEventFilter(&catcher);
    if (guard) guard->unsetCursor();
    if (!catcher.got() || !is_valid(Handle(guard.data()))) throw Cancelled();
    ImageArea* ax = dynamic_cast<ImageArea*>(detail::current_axes(guard));
    if (!ax) throw Error("The window has no image area.");
    const QPointF d = ax->widget_to_data(ax->mapFromGlobal(catcher.global()));
    return {d.x(), d.y()};
}

void QtPlatform::end_pointer_input(const Handle& fig_h) {
    const QObject* fig = fig_h.data();
    for (PressCatcher* c : pointer_waits()) {
        if (c->figure() == fig) c->cancel();
    }
}

void QtPlatform::flush() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void QtPlatform::report_error(const std::string& text) {
    QMessageBox::critical(dialog_parent(), "Error", QString::fromStdString(text));
}

}  // namespace ocu::gui
