#include "gui/session.hpp"

#include "window/window_utils.hpp"

#include <QApplication>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <cmath>

#include <new>

namespace quillan {

namespace {
// The window is pumped at most this often while an action reports progress,
// so that frequent reports cost the computation next to nothing.
constexpr qint64 kPumpIntervalMs = 40;
// Progress is shown in steps of 1/1000 whatever the count.
constexpr int kSteps = 1000;

QString duration_text(double seconds) {
    const long long s = std::llround(seconds);
    if (s < 60) return QStringLiteral("%1 s").arg(s);
    if (s < 3600) return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    return QStringLiteral("%1 h %2 min").arg(s / 3600).arg((s % 3600) / 60);
}

// A control that starts work when used: it names an action or a callback.
bool starts_work(const QWidget* w) { return w->property("action").isValid() || w->property("callback").isValid(); }
}  // namespace

QString Session::progress_text(const std::string& what, long long done, long long total, double seconds) {
    const QString title = QString::fromStdString(what);
    if (total <= 0) return title;
    done = std::clamp(done, 0LL, total);
    QString text = QStringLiteral("%1\n%2 of %3 done").arg(title).arg(done).arg(total);
    if (seconds > 0 && done > 0) {
        const double rate = static_cast<double>(done) / seconds;
        text += QStringLiteral("\n%1 permutations per second, about %2 left")
                    .arg(QString::number(rate, 'f', 0), duration_text(static_cast<double>(total - done) / rate));
    }
    return text;
}

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
    loop_start_ = 0;
    loop_done_ = loop_total_ = -1;
    clock_.start();
    // Nothing that starts work can be used meanwhile; the rest of the window
    // (the report, the pictures, the close button) can.
    lock_starters();
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
    unlock_starters();
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
    // Files dropped on a window would start a load.
    if (event->type() != QEvent::Drop) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w) return false;
    QWidget* top = w->window();
    for (Handle h : gui_.windows())
        if (gui_.widget(h) == top) return true;  // swallowed
    return false;
}

void Session::lock_starters() {
    locked_.clear();
    focus_ = QApplication::focusWidget();
    for (Handle h : gui_.windows()) {
        QWidget* window = gui_.widget(h);
        if (!window) continue;
        for (auto* w : window->findChildren<QWidget*>())
            if (starts_work(w) && w->isEnabled()) {
                w->setEnabled(false);
                locked_.emplace_back(w);
            }
    }
    moved_to_ = focus_ ? focus_->window()->focusWidget() : nullptr;
}

void Session::unlock_starters() {
    for (const auto& w : std::exchange(locked_, {}))
        if (w) w->setEnabled(true);
    // The focus goes back to the control that started the run.  Disabled
    // meanwhile, it had passed the focus on to the next control (the
    // Negatives box, where an arrow key would switch the choice unseen);
    // a control the user chose during the run keeps it.
    if (focus_ && focus_->isEnabled()) {
        QWidget* now = focus_->window()->focusWidget();
        if (!now || now == moved_to_) focus_->setFocus();
    }
    focus_ = nullptr;
    moved_to_ = nullptr;
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
    if (total != loop_total_ || done < loop_done_) {
        loop_total_ = total;
        loop_start_ = now;
    }
    loop_done_ = done;
    if (dialog_) {
        if (total > 0) {
            const long long clamped = std::min(std::max(done, 0LL), total);
            dialog_->setLabelText(progress_text(what_, done, total, static_cast<double>(now - loop_start_) / 1000.0));
            dialog_->setValue(static_cast<int>(clamped * kSteps / total));
        } else {
            dialog_->setRange(0, 0);  // no count known: a busy bar
        }
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return !cancel_;
}

}  // namespace quillan
