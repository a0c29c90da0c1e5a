#include "gui/main_window.hpp"
#include "gui/window_guide.hpp"

#include "analyses/action_env.hpp"
#include "analyses/analyses.hpp"
#include "gui/qt_text.hpp"
#include "gui/session.hpp"
#include "platform/seed_text.hpp"
#include "platform/version.hpp"
#include "shell/action_table.hpp"
#include "window/program.hpp"
#include "window/window_env.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCursor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QRegularExpression>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

#include <charconv>
#include <set>
#include <vector>

namespace quillan {

namespace {

bool loads_files(const std::string& action) {
    const ActionRow* row = find_action(action);
    return row && row->reads_files();
}

// The menu entries for the file actions, in menu order.
struct FileEntry {
    const char* action;
    const char* text;
    QKeySequence keys;
};

// Puts a mnemonic on the first letter of `text` not yet taken.
QString with_mnemonic(QString text, std::set<QChar>& taken) {
    text.remove(QChar('&'));
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i].toLower();
        if (c.isLetter() && !taken.count(c)) {
            taken.insert(c);
            return text.left(i) + QChar('&') + text.mid(i);
        }
    }
    return text;
}

}  // namespace

std::unique_ptr<QSettings> open_settings() {
    const QByteArray file = qgetenv("QUILLAN_SETTINGS");
    if (!file.isEmpty()) return std::make_unique<QSettings>(QFile::decodeName(file), QSettings::IniFormat);
    return std::make_unique<QSettings>(QStringLiteral("quillan"), QStringLiteral("quillan"));
}

MainWindow::MainWindow(QtGui& gui, Program& program, Session& session, QWidget* window, std::unique_ptr<QSettings> settings)
    : gui_(gui), program_(program), session_(session), window_(window), settings_(std::move(settings)) {
    plain_title_ = window_->windowTitle();
    status_ = window_->findChild<QLabel*>(QStringLiteral("StatusLine"));
    copy_seed_ = window_->findChild<QAbstractButton*>(QStringLiteral("copySeedButton"));
    seed_box_ = window_->findChild<QLineEdit*>(QStringLiteral("SeedBox"));
    if (seed_box_) seed_box_->setClearButtonEnabled(true);
    if (status_) {
        // The status line may name long files: it is shortened to the width
        // the window gives it (the full text is in its tooltip) and never
        // asks the window to grow.
        status_->setWordWrap(false);
        status_->setMinimumWidth(0);
        status_->setSizePolicy(QSizePolicy::Ignored, status_->sizePolicy().verticalPolicy());
        status_->installEventFilter(this);
    }
    window_->setMinimumSize(QSize(820, 560).expandedTo(window_->minimumSizeHint()));
    // A wider window widens the report and its pictures, not the controls.
    if (auto* splitter = window_->findChild<QSplitter*>(QStringLiteral("mainSplitter"))) {
        splitter->setStretchFactor(0, 0);
        splitter->setStretchFactor(1, 1);
    }
    window_->setAcceptDrops(true);
    hide_spare_page();
    set_tab_order();

    // Messages about what is missing name the window's own buttons.
    program_.shell().control_words() = {"the \"" + label_of("Load") + "...\" button (or \"" + label_of("Import") + "...\")",
                                        "the \"" + label_of("LoadGlist") + "...\" button",
                                        "the \"" + label_of("LoadClist") + "...\" button", "the permutation box holds"};

    build_menus();
    restore_settings();
    update_title();
    show_status();

    if (copy_seed_)
        connect(copy_seed_, &QAbstractButton::clicked, this, [this] {
            if (shown_seed_) QGuiApplication::clipboard()->setText(QString::number(*shown_seed_));
        });
    observer_id_ = session_.add_action_observer(
        [this](const std::string& action, bool finished) { finished ? action_finished(action) : action_started(action); });
    session_.set_action_gate([this](const std::string& action) { return seed_gate(action); });
    gui_.set_dialog_folder([this](const QtGui::DialogRequest& request) -> std::string {
        const std::string key = folder_key(request);
        if (key.empty() || !settings_) return {};
        const QString folder = settings_->value(qstr("folders/" + key)).toString();
        return folder.isEmpty() || !QFileInfo(folder).isDir() ? std::string() : native(folder);
    });
    // The three loads ask with one title; the window says which file it wants.
    gui_.set_dialog_title([this](const QtGui::DialogRequest& request) -> std::string {
        const ActionRow* row = find_action(running_);
        const bool load = row && row->kind == ActionKind::Load;
        if (!load || request.kind != QtGui::DialogKind::Open) return {};
        return request.title + " \u2014 " + label_of(running_);
    });
    gui_.set_file_chosen_observer([this](const QtGui::DialogRequest& request, const std::string& path) {
        const std::string key = folder_key(request);
        if (!key.empty() && settings_) settings_->setValue(qstr("folders/" + key), QFileInfo(from_native(path)).absolutePath());
    });
    install_message_hooks();
    gui_.set_pause_notice([this](bool waiting) {
        waiting_for_key_ = waiting;
        if (waiting) program_.console().line("Paused: press a key in this terminal to go on.");
        show_status();
        if (status_) status_->repaint();
    });
    window_->installEventFilter(this);
    qApp->installEventFilter(this);  // drops on any control of the window
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    session_.remove_action_observer(observer_id_);
    session_.set_action_gate({});
    gui_.set_dialog_folder({});
    gui_.set_dialog_title({});
    gui_.set_file_chosen_observer({});
    gui_.set_pause_notice({});
    gui_.set_message_diverter({});
    gui_.set_message_addition({});
    gui_.set_message_offer({});
    program_.shell().control_words() = {};
}

// The message windows: some go to the status line, some name this
// window's controls, and one offers to undo what it reports.
void MainWindow::install_message_hooks() {
    gui_.set_message_diverter([this](const QtGui::Message& m) { return tell_in_status(m); });
    gui_.set_message_addition([this](const QtGui::Message& m) {
        // The refusal is worded for every front end; here it can name the controls.
        if (m.text == kTwoWayRefusal || m.text == kRegressionRefusal)
            return "In this window: choose the second factor in G2, or load a two-column group file with the \"" +
                   label_of("LoadGlist") + "...\" button.";
        if (m.text != kOneWayRefusal) return std::string();
        return "In this window: set G2 to (none), or load a one-column group file with the \"" + label_of("LoadGlist") +
               "...\" button.";
    });
    gui_.set_message_offer([this](const QtGui::Message& m) {
        if (m.title != kKeptByRowTitle) return QtGui::Offer{};
        return QtGui::Offer{"Drop them", [this] {
                                if (running_.empty()) program_.shell().drop_kept_by_row();
                                show_status();
                            }};
    });
}

void MainWindow::hide_spare_page() {
    // The spare controls are kept for later use and do nothing yet: their
    // page stays in the window, out of sight, rather than offering nine
    // buttons that only say so.
    if (QWidget* spare = window_->findChild<QWidget*>(QStringLiteral("extrasPage")))
        for (QWidget* p = spare->parentWidget(); p; p = p->parentWidget())
            if (auto* tabs = qobject_cast<QTabWidget*>(p)) {
                tabs->setTabVisible(tabs->indexOf(spare), false);
                break;
            }
}

// Tab walks the loads (the 3-D box after Load), the permutations, the seed and the model, then the
// tests, then the choices among an import's columns and Clear all; boxes
// that only show something are reached by clicking.
void MainWindow::set_tab_order() {
    for (const char* name : {"FileBox", "LegendBox"})
        if (auto* box = window_->findChild<QWidget*>(QString::fromUtf8(name))) box->setFocusPolicy(Qt::ClickFocus);
    std::vector<QWidget*> order;
    auto add = [&](QWidget* w) {
        if (w) order.push_back(w);
    };
    add(button_for("Load"));
    add(window_->findChild<QWidget*>(QStringLiteral("DimensionsChoice")));  // how Load reads the next file
    for (const char* action : {"LoadGlist", "LoadClist", "Import"}) add(button_for(action));
    for (const char* name : {"PermBox", "SeedBox", "CovBox"}) add(window_->findChild<QWidget*>(QString::fromUtf8(name)));
    if (QWidget* page = window_->findChild<QWidget*>(QStringLiteral("analysesPage")))
        for (auto* b : page->findChildren<QAbstractButton*>()) {
            const ActionRow* row = find_action(b->property("action").toString().toStdString());
            if (row && row->analysis) add(b);
        }
    for (const char* name :
         {"G1Choice", "G2Choice", "CovariateChoice", "NegativeChoice", "GapsChoice", "CurvesChoice", "LeaveOutMissingChoice"})
        add(window_->findChild<QWidget*>(QString::fromUtf8(name)));
    add(button_for("Clear"));
    for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

// Each kind of file has its folder: an action's files by the action, the
// Plots area's pictures and links files by what its dialogs ask for.
std::string MainWindow::folder_key(const QtGui::DialogRequest& request) const {
    if (!running_.empty()) return running_;
    if (request.title.rfind("Export picture", 0) == 0) return "picture";
    if (request.title.rfind("Links file", 0) == 0) return "links";
    return {};
}

QAbstractButton* MainWindow::button_for(const std::string& action) const {
    if (!window_) return nullptr;
    for (auto* b : window_->findChildren<QAbstractButton*>())
        if (b->property("action").toString().toStdString() == action) return b;
    return nullptr;
}

std::string MainWindow::label_of(const std::string& action) const {
    QAbstractButton* b = button_for(action);
    if (!b) return action;
    return b->text().remove(QChar('&')).remove(QStringLiteral("...")).toStdString();
}

// ---------------------------------------------------------------- menus

void MainWindow::build_menus() {
    QLayout* layout = window_->layout();
    if (!layout) return;
    menu_bar_ = new QMenuBar(window_);
    layout->setMenuBar(menu_bar_);
    menu_bar_->show();  // the window is already on screen
    auto press = [this](const std::string& action) {
        return [this, action] {
            if (QAbstractButton* b = button_for(action); b && b->isEnabled()) b->click();
        };
    };

    QMenu* file = menu_bar_->addMenu(QStringLiteral("&File"));
    const FileEntry entries[] = {
        {"Load", "Load &landmarks...", QKeySequence(Qt::CTRL | Qt::Key_L)},
        {"LoadGlist", "Load &groups...", QKeySequence(Qt::CTRL | Qt::Key_G)},
        {"LoadClist", "Load &covariate...", QKeySequence(Qt::CTRL | Qt::Key_K)},
        {"LoadTree", "Load &tree...", QKeySequence(Qt::CTRL | Qt::Key_T)},
        {"Import", "&Import...", QKeySequence(Qt::CTRL | Qt::Key_I)},
        {nullptr, nullptr, {}},
        {"SaveOut", "&Save report...", QKeySequence::Save},
        {"ExportResults", "&Export results...", QKeySequence(Qt::CTRL | Qt::Key_E)},
        {"ExportSpecimens", "Export s&pecimens...", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E)},
        {nullptr, nullptr, {}},
    };
    for (const auto& e : entries) {
        if (!e.action) {
            file->addSeparator();
            continue;
        }
        if (!button_for(e.action)) continue;  // a layout without that control
        QAction* a = file->addAction(QString::fromUtf8(e.text), this, press(e.action));
        a->setShortcut(e.keys);
        a->setData(QString::fromUtf8(e.action));
    }
    recent_menu_ = file->addMenu(QStringLiteral("&Recent files"));
    recent_menu_->setToolTipsVisible(true);
    fill_recent_menu();
    file->addSeparator();
    if (button_for("Clear"))
        file->addAction(QStringLiteral("Clear &all"), this, press("Clear"))->setData(QStringLiteral("Clear"));
    QAction* quit = file->addAction(QStringLiteral("&Quit"), this, [this] {
        if (window_) window_->close();
    });
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutContext(Qt::ApplicationShortcut);  // from the progress window too

    // Every test button of the window, page by page in the layout's order:
    // the Analyses page's on Ctrl+1 ... Ctrl+0 and Ctrl+Alt+1 ..., the
    // model on Ctrl+M, the Toolkit's on Alt+1 ... Alt+0, Alt+Shift+1 ...,
    // the Phylogeny page's on Ctrl+Shift+1 ... Ctrl+Shift+0.
    QMenu* tests = menu_bar_->addMenu(QStringLiteral("&Tests"));
    std::set<QChar> taken;
    for (const char* name : {"analysesPage", "modelsPage", "toolkitPage", "phylogenyPage"}) {
        QWidget* page = window_->findChild<QWidget*>(QString::fromUtf8(name));
        if (!page) continue;
        if (!tests->isEmpty()) tests->addSeparator();
        int n = 0;
        for (auto* b : page->findChildren<QAbstractButton*>()) {
            const std::string action = b->property("action").toString().toStdString();
            const ActionRow* row = find_action(action);
            if (!row || !row->analysis) continue;
            QAction* a = tests->addAction(with_mnemonic(b->text(), taken), this, press(action));
            a->setData(qstr(action));
            a->setToolTip(b->toolTip());
            a->setShortcut(test_keys(name, ++n));
        }
    }
    tests->setToolTipsVisible(true);

    QMenu* help = menu_bar_->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&Guide"), this, [this] { show_guide(); })->setShortcut(QKeySequence::HelpContents);
    help->addAction(QStringLiteral("&About quillan"), this, [this] { show_about(); });
}

QKeySequence MainWindow::test_keys(const std::string& page, int n) {
    const auto digit = [n](int from) { return static_cast<Qt::Key>(Qt::Key_0 + (n - from) % 10); };
    if (page == "modelsPage") return n == 1 ? QKeySequence(Qt::CTRL | Qt::Key_M) : QKeySequence();
    if (page == "toolkitPage") {
        if (n <= 10) return QKeySequence(Qt::ALT | digit(0));
        return n <= 20 ? QKeySequence(Qt::ALT | Qt::SHIFT | digit(10)) : QKeySequence();
    }
    if (page == "phylogenyPage") return n <= 10 ? QKeySequence(Qt::CTRL | Qt::SHIFT | digit(0)) : QKeySequence();
    if (n <= 10) return QKeySequence(Qt::CTRL | digit(0));
    return n <= 19 ? QKeySequence(Qt::CTRL | Qt::ALT | digit(10)) : QKeySequence();
}

void MainWindow::show_guide() {
    auto* d = new QDialog(window_);
    d->setAttribute(Qt::WA_DeleteOnClose);
    d->setWindowTitle(QStringLiteral("quillan guide"));
    auto* text = new QTextBrowser(d);
    text->setMarkdown(QString::fromUtf8(window_guide_text()));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, d);
    connect(buttons, &QDialogButtonBox::rejected, d, &QDialog::close);
    auto* layout = new QVBoxLayout(d);
    layout->addWidget(text);
    layout->addWidget(buttons);
    d->resize(620, 460);
    d->show();
}

void MainWindow::show_about() {
    QMessageBox::about(window_, QStringLiteral("About quillan"),
                       QStringLiteral("<p><b>quillan %1</b><br>Permutation tests of 2-D landmark shape data.</p>"
                                      "<p>Free software under the GNU General Public License, version 3 or later.</p>"
                                      "<p>Built with Qt %2 (LGPL 3), Eigen (MPL 2.0) and nlohmann/json (MIT). "
                                      "The example data come from GPL-licensed R packages.</p>")
                           .arg(QString::fromUtf8(version_text()), QString::fromUtf8(qVersion())));
}

// ---------------------------------------------------------------- settings

void MainWindow::restore_settings() {
    if (!settings_) return;
    const QByteArray geometry = settings_->value(QStringLiteral("window/geometry")).toByteArray();
    if (!geometry.isEmpty()) window_->restoreGeometry(geometry);
    fit_to_screen();
    if (auto* splitter = window_->findChild<QSplitter*>(QStringLiteral("mainSplitter")))
        splitter->restoreState(settings_->value(QStringLiteral("window/splitter")).toByteArray());
    const auto perm = gui_.findobj_tag(kPermBox);
    const QString count = settings_->value(QStringLiteral("analysis/permutations")).toString();
    if (!perm.empty() && !count.isEmpty()) gui_.set(perm.front(), "String", Value(count.toStdString()));
    const auto cov = gui_.findobj_tag(kCovBox);
    bool ok = false;
    const int model = settings_->value(QStringLiteral("analysis/covariateModel")).toInt(&ok);
    if (!cov.empty() && ok) {
        auto* combo = qobject_cast<QComboBox*>(gui_.widget(cov.front()));
        if (combo && model >= 1 && model <= combo->count()) gui_.set(cov.front(), "Value", Value(static_cast<double>(model)));
    }
}

void MainWindow::fit_to_screen() {
    const QScreen* screen = window_->screen();
    if (!screen) return;
    const QRect room = screen->availableGeometry();
    // The frame (title bar, borders) takes its share of the screen too.  Until
    // a window manager has framed the window its frame is not known, and a
    // title bar of about 40 pixels is allowed for, so that the first start
    // does not put the status line below the screen's edge.
    QSize frame = window_->frameGeometry().size() - window_->size();
    if (frame.isEmpty()) frame = QSize(8, 40);
    const QSize most = (room.size() - frame).expandedTo(window_->minimumSize());
    if (window_->width() > most.width() || window_->height() > most.height()) window_->resize(window_->size().boundedTo(most));
}

void MainWindow::save_settings() {
    if (!settings_ || !window_) return;
    // A window that has grown past its screen comes back fitting it.
    fit_to_screen();
    settings_->setValue(QStringLiteral("window/geometry"), window_->saveGeometry());
    if (auto* splitter = window_->findChild<QSplitter*>(QStringLiteral("mainSplitter")))
        settings_->setValue(QStringLiteral("window/splitter"), splitter->saveState());
    const auto perm = gui_.findobj_tag(kPermBox);
    if (!perm.empty())
        settings_->setValue(QStringLiteral("analysis/permutations"), qstr(gui_.get(perm.front(), "String").text()));
    const auto cov = gui_.findobj_tag(kCovBox);
    if (!cov.empty()) {
        const Value v = gui_.get(cov.front(), "Value");
        if (v.is_matrix() && v.matrix().size() == 1)
            settings_->setValue(QStringLiteral("analysis/covariateModel"), static_cast<int>(v.scalar()));
    }
    settings_->sync();
}

// ---------------------------------------------------------------- actions

bool MainWindow::seed_gate(const std::string& action) {
    const ActionRow* row = find_action(action);
    if (!row || !row->analysis) return true;
    const std::string text = seed_box_ ? seed_box_->text().toStdString() : std::string();
    if (seed_text_is_blank(text)) {
        program_.shell().options().seed.reset();
        return true;
    }
    const auto seed = parse_seed_text(text);
    if (!seed) {
        gui_.msgbox(
            "The seed must be a whole number from 0 to 18446744073709551615, or empty to draw afresh (the Seed box "
            "holds \"" +
                text + "\").",
            "");
        if (!report_.isEmpty()) stale_ = QStringLiteral("a later test was refused");
        show_status();
        return false;
    }
    program_.shell().options().seed = *seed;
    return true;
}

void MainWindow::action_started(const std::string& action) {
    running_ = action;
    notice_.clear();
    if (settings_ && find_action(action) && find_action(action)->analysis) save_settings();
}

// A test on data with groups of one specimen says so after every run: the
// window tells it once per data set, on the status line, instead of a message
// window over the report.
bool MainWindow::tell_in_status(const QtGui::Message& message) {
    if (message.title == kErrorTermTitle) {  // about this report: said beside each one
        const QString note = qstr(message.text).replace(QChar('\n'), QChar(' '));
        notice_ = notice_.isEmpty() ? note : notice_ + QStringLiteral(" ") + note;
        return true;
    }
    if (message.title != "Single-specimen groups") return false;
    const auto paths = program_.shell().loaded_paths();
    const QString data = qstr(paths.landmarks + '\n' + paths.groups + '\n' + paths.covariate);
    if (data != noticed_for_) {
        noticed_for_ = data;
        notice_ = qstr(message.text).replace(QChar('\n'), QChar(' '));
    }
    return true;
}

void MainWindow::action_finished(const std::string& action) {
    running_.clear();
    const ActionRow* row = find_action(action);
    if (!row) return;
    const Outcome outcome = program_.shell().last_outcome();
    if (row->analysis) {
        if (outcome == Outcome::Reported) {
            describe_report();
        } else if (row->kind == ActionKind::ConsoleOnly && outcome == Outcome::Done) {
            // Its working is on the console only: the report on screen is not its.
            notice_ = qstr(label_of(action)) + QStringLiteral(": its output went to the console, not to the report");
        } else if (outcome == Outcome::Cancelled) {
            notice_ = qstr(label_of(action)) + QStringLiteral(" was cancelled") +
                      (report_.isEmpty() ? QString() : QStringLiteral("; the report shown is of the test before"));
        } else if ((outcome == Outcome::Failed || outcome == Outcome::Refused) && !report_.isEmpty()) {
            stale_ = QStringLiteral("a later test failed or was refused");
        }
    } else if (row->kind == ActionKind::Clear && outcome == Outcome::Done) {
        report_.clear();
        stale_.clear();
        shown_seed_.reset();
        update_title();
    } else if (loads_files(action) && outcome == Outcome::Done) {
        noticed_for_.clear();  // a note on the data is worth saying again
        if (!report_.isEmpty()) stale_ = QStringLiteral("a file was loaded after it");
        update_title();
        if (row->file_option) remember_recent(*row);  // not a choice among columns already read
    }
    if (copy_seed_) copy_seed_->setEnabled(shown_seed_.has_value());
    show_status();
}

void MainWindow::describe_report() {
    const RunInfo& run = program_.shell().last_record().run;
    QStringList files;
    for (const auto& input : run.inputs)
        if (!files.contains(qstr(input.name))) files << qstr(input.name);
    QString text = QStringLiteral("Report: %1").arg(qstr(label_of(run.action)));
    files_ = files.join(QStringLiteral(", "));
    if (!files.isEmpty()) text += QStringLiteral(" on ") + files_;
    if (run.permutations > 0) text += QStringLiteral("; %1 permutations").arg(run.permutations);
    shown_seed_.reset();
    if (!run.seeds.empty()) {
        shown_seed_ = run.seeds.front();
        text += QStringLiteral("; seed %1").arg(QString::number(*shown_seed_));
    }
    text += QStringLiteral("; made %1").arg(qstr(run.date));
    report_ = text;
    const ActionRow* row = find_action(run.action);
    if (row && row->analysis == run_model)
        notice_ = (notice_.isEmpty() ? QString() : notice_ + ' ') + QString::fromUtf8(kTangentNote);
    stale_.clear();
}

QString MainWindow::status_text() const {
    if (waiting_for_key_)
        return QStringLiteral(
            "Waiting for a key press in the terminal that started quillan; the window takes no clicks until then.");
    if (report_.isEmpty())
        return notice_.isEmpty() ? QStringLiteral("No report yet.") : QStringLiteral("No report yet \u2014 ") + notice_ + '.';
    const QString report = notice_.isEmpty() ? report_ : report_ + QStringLiteral(" \u2014 ") + notice_;
    return stale_.isEmpty() ? report : report + QStringLiteral(" \u2014 out of date: ") + stale_ + QStringLiteral(".");
}

void MainWindow::show_status() {
    if (!status_) return;
    const QString hint =
        shown_seed_
            ? QStringLiteral("Repeat this run with the Seed box or quillan-batch --seed %1.").arg(QString::number(*shown_seed_))
            : QStringLiteral(
                  "What the report on screen is: the test, the data files, the "
                  "permutations, the seed and when it ran.");
    status_->setToolTip(status_text() + QStringLiteral("\n\n") + hint);
    elide_status();
}

// A line too long for the window gives way in this order: the note on the
// data, then the file names; the test, the permutations, the seed and
// whether it is out of date stay whole while they fit.
void MainWindow::elide_status() {
    if (!status_) return;
    const QFontMetrics fm = status_->fontMetrics();
    const int room = std::max(status_->contentsRect().width(), 0);
    const QString full = status_text();
    if (fm.horizontalAdvance(full) <= room || report_.isEmpty() || waiting_for_key_) {
        status_->setText(fm.elidedText(full, Qt::ElideMiddle, room));
        return;
    }
    const QString dash = QStringLiteral(" \u2014 ");
    const QString stale = stale_.isEmpty() ? QString() : dash + QStringLiteral("out of date: ") + stale_ + QStringLiteral(".");
    QString report = report_;
    const int over = fm.horizontalAdvance(report + stale) - room;
    if (over > 0 && !files_.isEmpty()) {
        const int files_room = fm.horizontalAdvance(files_) - over;
        report.replace(files_, fm.elidedText(files_, Qt::ElideMiddle, std::max(files_room, 0)));
    }
    QString text = report + stale;
    const int left = room - fm.horizontalAdvance(text) - fm.horizontalAdvance(dash);
    if (!notice_.isEmpty() && left >= fm.horizontalAdvance(QStringLiteral("note\u2026")))
        text = report + dash + fm.elidedText(notice_, Qt::ElideRight, left) + stale;
    // Narrower still: the end, with the seed, stays.
    status_->setText(fm.elidedText(text, Qt::ElideLeft, room));
}

QString MainWindow::shown_status() const { return status_ ? status_->text() : QString(); }

void MainWindow::update_title() {
    const std::string landmarks = program_.shell().loaded_paths().landmarks;
    if (landmarks.empty()) window_->setWindowTitle(plain_title_);
    else window_->setWindowTitle(QFileInfo(from_native(landmarks)).fileName() + QStringLiteral(" - quillan"));
}

}  // namespace quillan
