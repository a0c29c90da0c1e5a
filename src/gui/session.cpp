#include "gui/session.hpp"

#include "shell/window_utils.hpp"

#include <QApplication>
#include <QThread>

#include <new>

namespace quillan {

namespace {
// The window is pumped at most this often while an action reports progress,
// so that frequent reports cost the computation next to nothing.
constexpr qint64 kPumpIntervalMs = 40;
// Progress is shown in steps of 1/1000 whatever the count.
constexpr int kSteps = 1000;
}  // namespace

Session::Session(QtGui& gui, Program& program) : gui_(gui), program_(program) {
    gui_.set_callback_handler([this](const QtGui::CallbackRequest& r) { handle(r); });
    gui_.set_close_guard([this](Handle window) {
        if (!busy_) return true;
        // The window closes once the action has stopped (see run).
        cancel_ = true;
        close_pending_ = true;
        to_close_.push_back(window);
        return false;
    });
}

Session::~Session() {
    gui_.set_callback_handler({});
    gui_.set_close_guard({});
}

int Session::add_action_observer(ActionObserver observer) {
    observers_.emplace_back(next_observer_, std::move(observer));
    return next_observer_++;
}

void Session::remove_action_observer(int id) {
    for (auto it = observers_.begin(); it != observers_.end(); ++it)
        if (it->first == id) {
            observers_.erase(it);
            return;
        }
}

bool Session::run_action(const std::string& action, const std::string& label) {
    if (busy_) return false;
    if (gate_ && !gate_(action)) return false;
    // Copies: an observer may add or remove observers.
    for (auto [id, o] : std::vector(observers_)) o(action, false);
    run(label.empty() ? action : label, [&] { program_.operations().call("quillan_action", {Value(action)}, 0); });
    for (auto [id, o] : std::vector(observers_)) o(action, true);
    return true;
}

void Session::handle(const QtGui::CallbackRequest& request) {
    const std::string what = request.label.empty() ? (request.action.empty() ? request.callback : request.action) : request.label;
    if (!request.action.empty()) {
        run_action(request.action, what);
    } else if (!request.callback.empty()) {
        run(what, [&] {
            // A window callback gets its control, no event data and the handles record.
            program_.quillan({Value(request.callback), Value(request.object), Value(), guidata(gui_, Value(request.object))}, 0);
        });
    }
}

bool Session::run(const std::string& what, const std::function<void()>& body) {
    if (busy_) return false;
    busy_ = true;
    cancel_ = false;
    what_ = what;
    last_pump_ = -1;
    clock_.start();
    // The windows take no input meanwhile, as under a modal window, but
    // their close buttons still work.
    qApp->installEventFilter(this);
    RunOptions& options = program_.shell().options();
    auto saved = std::move(options.progress);
    options.progress = [this](long long done, long long total) { return progress(done, total); };
    try {
        body();
    } catch (const std::bad_alloc&) {
        program_.console().line("Not enough memory to complete \"" + what + "\".");
    } catch (const std::exception& e) {
        program_.console().line(e.what());
    } catch (...) {
        program_.console().line("\"" + what + "\" ended with an unknown failure.");
    }
    options.progress = std::move(saved);
    qApp->removeEventFilter(this);
    delete dialog_.data();
    busy_ = false;
    if (close_pending_) {
        close_pending_ = false;
        const auto windows = std::exchange(to_close_, {});
        for (Handle h : windows)
            if (QWidget* w = gui_.widget(h)) w->close();
    }
    return true;
}

bool Session::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::Drop: {
            auto* w = qobject_cast<QWidget*>(watched);
            if (!w) return false;
            QWidget* top = w->window();
            for (Handle h : gui_.windows())
                if (gui_.widget(h) == top) return true;  // swallowed
            return false;
        }
        default:
            return false;
    }
}

void Session::show_progress_window() {
    QWidget* parent = nullptr;
    if (auto f = gui_.gcbf()) parent = gui_.widget(*f);
    else if (auto f = gui_.gcf()) parent = gui_.widget(*f);
    auto* d = new QProgressDialog(QString::fromStdString(what_), QStringLiteral("Cancel"), 0, kSteps, parent);
    d->setWindowTitle(QStringLiteral("quillan"));
    // Not modal: a modal window would keep the main window's close button
    // from reaching the session.  The session ignores presses meanwhile.
    d->setWindowModality(Qt::NonModal);
    d->setMinimumDuration(0);
    d->setAutoReset(false);
    d->setAutoClose(false);
    d->setMinimumWidth(360);
    connect(d, &QProgressDialog::canceled, this, [this] { cancel_ = true; });
    dialog_ = d;
    d->show();
}

bool Session::progress(long long done, long long total) {
    // Reports from another thread only learn whether to stop; the window
    // belongs to this thread.
    if (QThread::currentThread() != thread()) return !cancel_;
    if (cancel_) return false;
    const qint64 now = clock_.elapsed();
    if (last_pump_ >= 0 && now - last_pump_ < kPumpIntervalMs) return true;
    last_pump_ = now;
    if (!dialog_ && now >= delay_.count()) show_progress_window();
    if (dialog_) {
        if (total > 0) {
            const long long clamped = std::min(std::max(done, 0LL), total);
            dialog_->setLabelText(QStringLiteral("%1\n%2 of %3 done").arg(QString::fromStdString(what_)).arg(clamped).arg(total));
            dialog_->setValue(static_cast<int>(clamped * kSteps / total));
        } else {
            dialog_->setRange(0, 0);  // no count known: a busy bar
        }
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return !cancel_;
}

}  // namespace quillan
