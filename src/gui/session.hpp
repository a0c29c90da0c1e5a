// Runs what the window's controls ask for, one thing at a time.
//
// Every control hands its request to the session.  An action runs on the
// window's own thread; while it runs, a second press anywhere in the window
// is ignored and closing the window is refused (it asks the action to stop
// instead).  A long action reports through RunOptions::progress: after a
// short delay a progress window with a Cancel button appears, the window
// keeps painting, and Cancel makes the next report answer "stop", which the
// action ends like a failure (no report, nothing changed).
#pragma once

#include "gui/qt_gui.hpp"
#include "byname/program.hpp"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

namespace quillan {

class Session : public QObject {
public:
    Session(QtGui& gui, Program& program);
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Runs `body` as one piece of work started from the window, described by
    // `what` in the progress window.  Returns false, doing nothing, while
    // another piece of work runs.  Failures escaping `body` are printed on
    // the console; none reaches the event loop.
    bool run(const std::string& what, const std::function<void()>& body);
    bool busy() const { return busy_; }

    // Told when an action named by a control starts and when it has ended,
    // however it ended (the Plots area follows the workspace and the last test).
    void set_action_observer(std::function<void(const std::string& action, bool finished)> observer) {
        observer_ = std::move(observer);
    }

    // How long an action runs before the progress window appears.
    void set_progress_delay(std::chrono::milliseconds delay) { delay_ = delay; }
    // The progress window of the running action, if it is showing.
    QProgressDialog* progress_window() const { return dialog_.data(); }

private:
    void handle(const QtGui::CallbackRequest& request);
    bool progress(long long done, long long total);
    void show_progress_window();

    QtGui& gui_;
    Program& program_;
    bool busy_ = false;
    std::atomic<bool> cancel_{false};
    std::string what_;
    std::chrono::milliseconds delay_{300};
    QElapsedTimer clock_;
    qint64 last_pump_ = -1;
    QPointer<QProgressDialog> dialog_;
    std::function<void(const std::string&, bool)> observer_;
};

}  // namespace quillan
