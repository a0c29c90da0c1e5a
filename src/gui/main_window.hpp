// What the main window offers around its controls: the menu bar, the status
// line that says what the report on screen is (and whether it is out of
// date), the Seed box and the seed a test used, files dropped on the window,
// the recent files, and what the program remembers from one run to the next
// (the last folder of each kind of file, the window's place and size, the
// permutation count and the covariate model).  The controls themselves keep
// their behaviour: every menu entry presses the control it names.
#pragma once

#include "gui/qt_gui.hpp"
#include "shell/action_table.hpp"

#include <QAbstractButton>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quillan {

// Said beside a model's report: why its Total SS is not the classic tests'
// on the same data.
inline constexpr const char* kTangentNote =
    "its sums of squares are of the shapes projected onto the tangent space at the consensus; the Two-Way and other "
    "classic tests sum full Procrustes distances, so their Total SS differs on the same data";

class Program;
class Session;

// The settings of the program: the INI file named by QUILLAN_SETTINGS when
// that is set (tests, portable installs), else the user's own.
std::unique_ptr<QSettings> open_settings();

class MainWindow : public QObject {
public:
    // A recent set of files: the landmarks and, if any, the groups and
    // covariate loaded with them.
    struct Recent {
        QString landmarks, groups, covariate;
    };
    // How a dropped file that is not in an importable format is loaded:
    // "Load", "LoadGlist" or "LoadClist", or nothing to leave it.
    using DropChooser = std::function<std::optional<std::string>(const QString& path, const std::string& guess)>;

    MainWindow(QtGui& gui, Program& program, Session& session, QWidget* window, std::unique_ptr<QSettings> settings);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    QMenuBar* menu_bar() const { return menu_bar_; }
    QString status_text() const;
    QString shown_status() const;  // the status line as drawn: shortened to fit
    // The seed of the report on screen, if it used permutations.
    std::optional<std::uint64_t> shown_seed() const { return shown_seed_; }
    QStringList recent_entries() const;  // as the Recent files menu lists them
    void open_recent(int index);
    // Loads dropped files, one after another, as the user's choice says.
    void drop_files(const QStringList& paths);
    void set_drop_chooser(DropChooser chooser) { drop_chooser_ = std::move(chooser); }
    // What a file that is no importable format most likely holds, from its
    // first line: "Load", "LoadGlist" or "LoadClist".
    static std::string guess_kind(const QString& path);
    // The shortcut of the n-th test button (from 1) of a page of the layout.
    static QKeySequence test_keys(const std::string& page, int n);
    // Writes what is remembered now (also done when the window closes).
    void save_settings();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build_menus();
    void set_tab_order();
    void install_message_hooks();
    void hide_spare_page();
    void restore_settings();
    void fit_to_screen();
    void action_started(const std::string& action);
    void action_finished(const std::string& action);
    bool seed_gate(const std::string& action);
    void describe_report();
    void show_status();
    bool tell_in_status(const QtGui::Message& message);
    void elide_status();
    void update_title();
    void remember_recent(const ActionRow& row);
    QString import_choices() const;
    QString describe_choices(const QString& choices) const;
    void set_import_choices(const QString& choices);
    void fill_recent_menu();
    void run_with_file(const std::string& action, const QString& path);
    void show_guide();
    void show_about();
    QAbstractButton* button_for(const std::string& action) const;
    std::string folder_key(const QtGui::DialogRequest& request) const;
    std::string label_of(const std::string& action) const;

    QtGui& gui_;
    Program& program_;
    Session& session_;
    QPointer<QWidget> window_;
    std::unique_ptr<QSettings> settings_;
    QPointer<QMenuBar> menu_bar_;
    QPointer<QMenu> recent_menu_;
    QPointer<QLabel> status_;
    QPointer<QAbstractButton> copy_seed_;
    QPointer<QLineEdit> seed_box_;
    QString plain_title_;
    std::string running_;  // the action running, for the dialog folders
    QString report_;       // what the report on screen is; empty for none
    QString files_;        // the file names within it, shortened first when the line is too long
    QString stale_;        // why it is out of date; empty while it is current
    QString notice_;       // a note on the data the report was made from, told once
    QString noticed_for_;  // the files of the data set that note was told for
    bool waiting_for_key_ = false;
    std::optional<std::uint64_t> shown_seed_;
    DropChooser drop_chooser_;
    int observer_id_ = 0;
};

}  // namespace quillan
