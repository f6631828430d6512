#include "app/work.hpp"

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "app/ocumbra.hpp"

namespace ocu::app {

SerialWorker& worker() {
    static SerialWorker w;
    return w;
}

bool stays_enabled_while_working(const std::string& tag) {
    // Closing the window (which stops the work), the help, and what changes only the display.
    for (const std::string_view t :
         {std::string_view("CloseMenuItem"), std::string_view("userguide_menu"),
          std::string_view("about_menu"), tag::actualpixels_menu.name, tag::fittowindow_menu.name,
          tag::sidebyside_menu.name, tag::showfixation_menu.name}) {
        if (tag == t) return true;
    }
    return false;
}

namespace {

constexpr const char* kWorkingName = "ocuWorking";

// What the worker and the waiting thread share about one job.
struct JobState {
    std::atomic<bool> stop{false};
    std::atomic<double> fraction{-1.0};  // < 0: nothing reported yet
    std::atomic<bool> done{false};
    std::exception_ptr error;    // written before `done`
    QEventLoop* loop = nullptr;  // user-interface thread only
};

// Escape in the window stops the work.
class EscapeFilter : public QObject {
public:
    EscapeFilter(QWidget* fig, std::function<void()> stop) : fig_(fig), stop_(std::move(stop)) {}
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape &&
            o->isWidgetType() && static_cast<QWidget*>(o)->window() == fig_) {
            stop_();
            return true;
        }
        return false;
    }

private:
    QPointer<QWidget> fig_;
    std::function<void()> stop_;
};

// The window while work runs: the entries that start work disabled (and
// enabled again as they were), the progress bar and Cancel button shown
// after a moment.
class WorkingWindow {
public:
    WorkingWindow(QWidget* fig, const std::function<void()>& stop) : fig_(fig), escape_(fig, stop) {
        gui::setappdata(gui::Handle(fig), kWorkingName, true);
        for (QAction* a : fig->findChildren<QAction*>()) {
            if (a->menu() || !a->isEnabled() || stays_enabled_while_working(a->objectName().toStdString()))
                continue;
            a->setEnabled(false);
            disabled_.emplace_back(a);
        }
        bar_ = fig->findChild<QProgressBar*>(QString::fromUtf8(
            tag::progressbar.name.data(), static_cast<qsizetype>(tag::progressbar.name.size())));
        cancel_ = fig->findChild<QPushButton*>(QString::fromUtf8(
            tag::cancelwork.name.data(), static_cast<qsizetype>(tag::cancelwork.name.size())));
        if (cancel_) QObject::connect(cancel_, &QPushButton::clicked, &escape_, stop);
        qApp->installEventFilter(&escape_);
    }
    ~WorkingWindow() {
        qApp->removeEventFilter(&escape_);
        if (cancel_) {
            QObject::disconnect(cancel_, &QPushButton::clicked, &escape_, nullptr);
            cancel_->hide();
        }
        if (bar_) bar_->hide();
        for (const QPointer<QAction>& a : disabled_)
            if (a) a->setEnabled(true);
        if (fig_ && gui::is_valid(gui::Handle(fig_.data())))
            gui::rmappdata(gui::Handle(fig_.data()), kWorkingName);
    }
    WorkingWindow(const WorkingWindow&) = delete;
    WorkingWindow& operator=(const WorkingWindow&) = delete;

    // Shows the progress (a fraction 0..1, or none reported yet).
    void show_progress(double fraction) {
        if (bar_) {
            if (fraction < 0) {
                bar_->setRange(0, 0);  // busy, without a number
            } else {
                bar_->setRange(0, 1000);
                bar_->setValue(static_cast<int>(fraction * 1000.0));
            }
            bar_->show();
        }
        if (cancel_) cancel_->show();
    }

private:
    QPointer<QWidget> fig_;
    EscapeFilter escape_;
    std::vector<QPointer<QAction>> disabled_;
    QPointer<QProgressBar> bar_;
    QPointer<QPushButton> cancel_;
};

}  // namespace

bool is_working(const gui::Handle& fig) { return gui::is_valid(fig) && gui::isappdata(fig, kWorkingName); }

void run_on_worker(const gui::Handle& fig_h, const std::function<void(const Progress*)>& job) {
    QWidget* fig = gui::figure_of(fig_h);
    if (!fig) throw Error("H must be the handle to a figure or figure descendent.");
    if (is_working(fig_h)) throw Error("Another computation is still running.");
    auto st = std::make_shared<JobState>();
    bool window_gone = false;
    bool ended_early = false;
    {
        const QPointer<QWidget> guard(fig);
        WorkingWindow working(fig, [st] { st->stop.store(true); });
        QEventLoop loop;
        st->loop = &loop;
        worker().post([st, &job] {
            try {
                const Progress progress([st](double f) { st->fraction.store(f, std::memory_order_relaxed); },
                                        &st->stop);
                job(&progress);
            } catch (...) {
                st->error = std::current_exception();
            }
            st->done.store(true);
            QMetaObject::invokeMethod(
                qApp,
                [st] {
                    if (st->loop) st->loop->quit();
                },
                Qt::QueuedConnection);
        });
        // The bar after a moment, then as the work reports; a window closed
        // meanwhile stops the work.
        QElapsedTimer clock;
        clock.start();
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (!guard || !gui::is_valid(gui::Handle(guard.data()))) {
                st->stop.store(true);
                return;
            }
            if (clock.elapsed() >= kProgressDelayMs) working.show_progress(st->fraction.load());
        });
        tick.start(40);
        if (!st->done.load()) loop.exec();
        // The program may be ending (its loops told to quit): stop the work
        // and wait for it without events, since the job uses this frame.
        if (!st->done.load()) {
            ended_early = true;
            st->stop.store(true);
            while (!st->done.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        st->loop = nullptr;
        window_gone = !guard || !gui::is_valid(gui::Handle(guard.data()));
    }
    // The job has finished here (the loop ends only then), so `job`'s captures are free again.
    if (st->error) {
        try {
            std::rethrow_exception(st->error);
        } catch (const Stopped&) {
            throw gui::Cancelled();
        }
    }
    // Work that ran past its last point of stopping is kept, unless nobody is
    // left to take it.
    if (window_gone || ended_early) throw gui::Cancelled();
}

}  // namespace ocu::app
