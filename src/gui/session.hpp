// Runs what the window's controls ask for, one thing at a time.
//
// Every control hands its request to the session.  An action runs on the
// window's own thread; while it runs, the controls that start work are
// disabled (a press that slips through is ignored), and closing the window
// asks the action to stop and closes the window once it has.  Everything
// else stays usable: the report and the pictures of the last test can be
// read, scrolled and switched while a long test runs.  A long action reports
// through RunOptions::progress: after a short delay a progress window with a
// Cancel button appears, saying how far the run is, how many permutations it
// does a second and how long it has left; the window keeps painting, and
// Cancel makes the next report answer "stop", which the action ends like a
// failure (no report, nothing changed).  The progress window is not modal,
// so that the main window's close button still reaches the session.
#pragma once

#include "gui/qt_gui.hpp"
#include "window/program.hpp"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

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

    // Runs the dispatcher's action `action` as a control naming it does;
    // `label` describes it in the progress window.  False when refused.
    bool run_action(const std::string& action, const std::string& label);

    // Told when an action named by a control starts and when it has ended,
    // however it ended (the Plots area follows the workspace and the last
    // test).  Returns an id for remove_action_observer.
    using ActionObserver = std::function<void(const std::string& action, bool finished)>;
    int add_action_observer(ActionObserver observer);
    void remove_action_observer(int id);
    // Asked before an action starts; returning false skips it (the gate
    // says why itself).
    void set_action_gate(std::function<bool(const std::string& action)> gate) { gate_ = std::move(gate); }
    // Whether closing a window was asked for while an action ran.
    bool close_pending() const { return close_pending_; }

    // How long an action runs before the progress window appears.
    void set_progress_delay(std::chrono::milliseconds delay) { delay_ = delay; }
    // The progress window of the running action, if it is showing.
    QProgressDialog* progress_window() const { return dialog_.data(); }
    // The progress window's text for `done` of `total` after `seconds`.
    static QString progress_text(const std::string& what, long long done, long long total, double seconds);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void handle(const QtGui::CallbackRequest& request);
    bool progress(long long done, long long total);
    void show_progress_window();
    void lock_starters();
    void unlock_starters();

    QtGui& gui_;
    Program& program_;
    bool busy_ = false;
    std::atomic<bool> cancel_{false};
    std::string what_;
    std::chrono::milliseconds delay_{300};
    QElapsedTimer clock_;
    qint64 last_pump_ = -1;
    // Where the rate is measured from: a new loop of the same action (the
    // count falling back, or a new total) starts it again.
    qint64 loop_start_ = 0;
    long long loop_done_ = -1, loop_total_ = -1;
    std::vector<QPointer<QWidget>> locked_;  // the controls disabled for the run
    QPointer<QWidget> focus_;                // where the focus was when it started
    QPointer<QWidget> moved_to_;             // where disabling the controls moved it
    QPointer<QProgressDialog> dialog_;
    std::vector<std::pair<int, ActionObserver>> observers_;
    int next_observer_ = 1;
    std::function<bool(const std::string&)> gate_;
    bool close_pending_ = false;
    std::vector<Handle> to_close_;
};

}  // namespace quillan
