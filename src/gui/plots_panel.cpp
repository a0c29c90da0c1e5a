#include "gui/plots_panel.hpp"

#include "gui/session.hpp"
#include "io/links_file.hpp"
#include "platform/error.hpp"
#include "render/export.hpp"
#include "shell/action_table.hpp"
#include "shell/landmark_marks.hpp"
#include "window/program.hpp"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QToolTip>
#include <QVBoxLayout>

#include <cmath>
#include <filesystem>

namespace quillan {

PlotCanvas::PlotCanvas(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PlotCanvas::set_scene(Scene scene) {
    scene_ = std::move(scene);
    painted_ = QImage();
    update();
}

void PlotCanvas::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (scene_.size.isEmpty()) {
        p.fillRect(rect(), Qt::white);
        return;
    }
    // Painting into an image of plain pixels takes the fast path for many
    // marks, and exposing the window again only copies the image.
    if (painted_.size() != size()) {
        painted_ = QImage(size(), QImage::Format_ARGB32_Premultiplied);
        QPainter q(&painted_);
        paint_scene(q, scene_, QRectF(painted_.rect()));
    }
    p.drawImage(0, 0, painted_);
}

void PlotCanvas::resizeEvent(QResizeEvent*) {
    if (on_resize) on_resize();
}

void PlotCanvas::point_at(QPointF p, QPoint global) {
    if (!on_point || scene_.size.isEmpty()) return;
    // The scene may have been laid out for another size until it is rebuilt.
    const QPointF at(p.x() * scene_.size.width() / std::max(1, width()), p.y() * scene_.size.height() / std::max(1, height()));
    on_point(scene_.specimen_at(at, 5.0), global);
}

void PlotCanvas::mouseMoveEvent(QMouseEvent* e) { point_at(e->position(), e->globalPosition().toPoint()); }
void PlotCanvas::mousePressEvent(QMouseEvent* e) { point_at(e->position(), e->globalPosition().toPoint()); }

namespace {

enum Kind { kSuperimposition, kComponents, kScree, kShapeChange, kDistribution };

bool same(const Matrix& a, const Matrix& b) { return a.rows() == b.rows() && a.cols() == b.cols() && (a.size() == 0 || a == b); }

bool is_analysis(const std::string& action) {
    const ActionRow* row = find_action(action);
    return row && row->is_analysis();
}

}  // namespace

PlotsPanel::PlotsPanel(QtGui& gui, Program& program, Session& session, QWidget* window)
    : gui_(gui),
      program_(program),
      session_(session),
      log_(std::make_unique<DistributionLog>()),
      pending_(std::make_unique<DistributionLog>()) {
    if (!window) return;
    auto* host = window->findChild<QWidget*>(QStringLiteral("plotCanvasHost"));
    kind_ = window->findChild<QComboBox*>(QStringLiteral("plotKind"));
    group_by_ = window->findChild<QComboBox*>(QStringLiteral("plotGroupBy"));
    outline_ = window->findChild<QComboBox*>(QStringLiteral("plotOutline"));
    target_ = window->findChild<QComboBox*>(QStringLiteral("plotTarget"));
    statistic_ = window->findChild<QComboBox*>(QStringLiteral("plotStatistic"));
    pc_x_ = window->findChild<QSpinBox*>(QStringLiteral("plotPcX"));
    pc_y_ = window->findChild<QSpinBox*>(QStringLiteral("plotPcY"));
    magnification_ = window->findChild<QDoubleSpinBox*>(QStringLiteral("plotMagnification"));
    status_ = window->findChild<QLabel*>(QStringLiteral("plotStatus"));
    auto* links = window->findChild<QPushButton*>(QStringLiteral("plotLinksButton"));
    auto* exporter = window->findChild<QPushButton*>(QStringLiteral("plotExportButton"));
    if (!host || !kind_ || !group_by_ || !outline_ || !target_ || !statistic_ || !pc_x_ || !pc_y_ || !magnification_ ||
        !status_ || !links || !exporter)
        return;
    auto* layout = new QVBoxLayout(host);
    layout->setContentsMargins(0, 0, 0, 0);
    canvas_ = new PlotCanvas(host);
    canvas_->setObjectName(QStringLiteral("plotCanvas"));
    layout->addWidget(canvas_);
    canvas_->on_resize = [this] { redraw(); };
    canvas_->on_point = [this](int specimen, QPoint global) {
        if (specimen < 0 || !data_) {
            QToolTip::hideText();
            return;
        }
        const auto& ids = program_.shell().legend().ids;
        const bool named = static_cast<Eigen::Index>(ids.size()) == program_.shell().workspace().landmarks.rows();
        QString text = QString::fromStdString(specimen_label(specimen, named ? ids : std::vector<std::string>{}));
        const auto& g = data_->grouping();
        if (g.groups() > 1)
            text += QStringLiteral(", ") +
                    QString::fromStdString(g.names[static_cast<std::size_t>(g.group_of[static_cast<std::size_t>(specimen)])]);
        QToolTip::showText(global, text, canvas_);
        status_->setText(text);
    };
    auto redraw_on = [this](auto* w, auto signal) { QObject::connect(w, signal, canvas_, [this] { redraw(); }); };
    redraw_on(kind_.data(), &QComboBox::currentIndexChanged);
    redraw_on(outline_.data(), &QComboBox::currentIndexChanged);
    redraw_on(target_.data(), &QComboBox::currentIndexChanged);
    redraw_on(statistic_.data(), &QComboBox::currentIndexChanged);
    redraw_on(pc_x_.data(), &QSpinBox::valueChanged);
    redraw_on(pc_y_.data(), &QSpinBox::valueChanged);
    redraw_on(magnification_.data(), &QDoubleSpinBox::valueChanged);
    QObject::connect(group_by_, &QComboBox::currentIndexChanged, canvas_, [this] {
        rebuild_data();
        redraw();
    });
    links_button_ = links;
    export_button_ = exporter;
    export_width_ = window->findChild<QSpinBox*>(QStringLiteral("plotExportWidth"));
    export_height_ = window->findChild<QSpinBox*>(QStringLiteral("plotExportHeight"));
    export_dpi_ = window->findChild<QSpinBox*>(QStringLiteral("plotExportDpi"));
    QObject::connect(links, &QPushButton::clicked, canvas_, [this] { choose_links(); });
    QObject::connect(exporter, &QPushButton::clicked, canvas_, [this] { export_picture(); });
    for (int i = 0; i < group_by_->count(); ++i) group_by_texts_ << group_by_->itemText(i);
    group_by_->setCurrentIndex(1);
    observer_id_ = session_.add_action_observer(
        [this](const std::string& action, bool finished) { finished ? action_finished(action) : action_started(action); });
    // Every test the window runs hands its permutations' statistics to the
    // distributions of the run under way.
    filler_id_ = program_.shell().add_request_filler([this](RunRequest& r) {
        if (recording_) r.run.recorder = pending_.get();
    });
    follow_workspace();
}

PlotsPanel::~PlotsPanel() {
    if (!attached()) return;
    session_.remove_action_observer(observer_id_);
    program_.shell().remove_request_filler(filler_id_);
}

void PlotsPanel::action_started(const std::string& action) {
    // The pictures stay to be looked at during a run; writing or reading
    // files waits until it has ended.
    links_button_->setEnabled(false);
    export_button_->setEnabled(false);
    if (!is_analysis(action)) return;
    pending_->start(action);
    recording_ = true;
}

void PlotsPanel::action_finished(const std::string& action) {
    recording_ = false;
    // Only a test that ran its permutations to the end replaces the last
    // test's distributions; a refused, failed or cancelled one leaves them.
    if (is_analysis(action) && (!pending_->distributions().empty() || pending_->figures())) {
        std::swap(log_, pending_);
        pending_->clear();
        statistic_->blockSignals(true);
        statistic_->clear();
        const auto factors = program_.shell().legend().factor_names(program_.shell().workspace().groups);
        for (const auto& d : log_->distributions()) statistic_->addItem(statistic_caption(*log_, d, factors));
        if (const auto& r = log_->regression_scores())
            statistic_->addItem(QStringLiteral("Regression score on ") + QString::fromStdString(r->covariate));
        analysis_ = log_->figures() ? analysis_pictures(*log_->figures(), factors) : std::vector<AnalysisPicture>{};
        for (const auto& p : analysis_) statistic_->addItem(p.title);
        statistic_->blockSignals(false);
        kind_->setCurrentIndex(kDistribution);
    }
    follow_workspace();
}

void PlotsPanel::follow_workspace() {
    if (!attached()) return;
    const Workspace& ws = program_.shell().workspace();
    if (ws.landmarks.size() == 0) {
        log_->clear();
        analysis_.clear();
    }
    if (!same(ws.landmarks, shown_data_) || !same(ws.groups, shown_groups_) ||
        (ws.landmarks.size() > 0 && !data_ && problem_.empty())) {
        shown_data_ = ws.landmarks;
        shown_groups_ = ws.groups;
        adopt_imported_wireframe();
        if (!links_.empty()) {
            // A wireframe only fits the landmarks it was read for: on
            // landmarks of another count its links would join other points.
            const int landmarks = ws.landmarks.cols() > 0 ? static_cast<int>((ws.landmarks.cols() - 1) / ws.dimensions) : 0;
            if (landmarks != links_landmarks_) {
                const std::string name = std::filesystem::path(links_file_).filename().string();
                links_.clear();
                links_file_.clear();
                program_.shell().set_links_file({});
                if (landmarks > 0)
                    gui_.msgbox((links_imported_ ? "The wireframe of " : "The links file ") + name + " was read for " +
                                    std::to_string(links_landmarks_) + " landmarks, and the landmarks now loaded have " +
                                    std::to_string(landmarks) +
                                    ": its wireframe was dropped. Choose a links file for these landmarks.",
                                "Links file");
            }
        }
        name_groupings();
        rebuild_data();
    }
    redraw();
}

// A file that brings its own wireframe is drawn with it as with a links
// file chosen at its import: a links file chosen afterwards replaces it, and
// it is taken once, not again each time the table changes.
void PlotsPanel::adopt_imported_wireframe() {
    Links wireframe = imported_wireframe(program_.shell().runner());
    const io::Legend& legend = program_.shell().legend();
    if (wireframe.empty() || (wireframe == adopted_ && legend.source == adopted_source_)) return;
    adopted_ = wireframe;
    adopted_source_ = legend.source;
    links_ = std::move(wireframe);
    links_file_ = legend.source;
    links_landmarks_ = legend.wireframe_landmarks;
    links_imported_ = true;
    program_.shell().set_links_file({});  // the landmarks' file is on the record already
}

// The Colour by entries name the factors behind G1 and G2 where an import
// (or a factor table) gave them names.
void PlotsPanel::name_groupings() {
    const Shell& shell = program_.shell();
    const io::Legend& legend = shell.legend();
    QStringList texts = group_by_texts_;
    if (!legend.level_names(shell.workspace().groups).empty() && texts.size() >= 4) {
        QStringList names;
        for (const int c : legend.chosen) names << QString::fromStdString(legend.factors[static_cast<std::size_t>(c)].name);
        texts[1] = names.value(0) + QStringLiteral(" (G1)");
        if (names.size() > 1) {
            texts[2] = names[1] + QStringLiteral(" (G2)");
            texts[3] = QStringLiteral("Cells of ") + names[0] + QStringLiteral(" x ") + names[1];
        }
    }
    for (int i = 0; i < texts.size() && i < group_by_->count(); ++i) group_by_->setItemText(i, texts[i]);
}

// The words behind the codes, while the groups are the ones an import named.
LevelNames PlotsPanel::level_names() const { return program_.shell().legend().level_names(program_.shell().workspace().groups); }

void PlotsPanel::rebuild_data() {
    data_.reset();
    problem_.clear();
    const Workspace& ws = program_.shell().workspace();
    if (ws.landmarks.size() > 0) {
        const auto by = static_cast<GroupBy>(group_by_->currentIndex());
        try {
            data_ = std::make_unique<PictureData>(ws.landmarks, ws.groups, by, level_names(), ws.dimensions,
                                                  program_.shell().legend().factor_names(ws.groups));
        } catch (const std::exception& e) {
            problem_ = e.what();
            // A grouping that does not fit still leaves the shapes to look at.
            if (by != GroupBy::None) {
                try {
                    data_ = std::make_unique<PictureData>(ws.landmarks, ws.groups, GroupBy::None, LevelNames{}, ws.dimensions);
                } catch (const std::exception&) {}
            }
        }
    }
    target_->blockSignals(true);
    const int was = target_->currentIndex();
    target_->clear();
    if (data_) {
        const int pcs = std::min(3, data_->components().components());
        for (int k = 0; k < pcs; ++k) {
            target_->addItem(QStringLiteral("Highest score on PC%1").arg(k + 1), QVariant::fromValue(QPoint(2, k)));
            target_->addItem(QStringLiteral("Lowest score on PC%1").arg(k + 1), QVariant::fromValue(QPoint(1, k)));
        }
        const auto& g = data_->grouping();
        for (int k = 0; g.groups() > 1 && k < g.groups(); ++k)
            target_->addItem(QStringLiteral("Mean of ") + QString::fromStdString(g.names[static_cast<std::size_t>(k)]),
                             QVariant::fromValue(QPoint(0, k)));
        if (was >= 0 && was < target_->count()) target_->setCurrentIndex(was);
        const int m = std::max(1, data_->components().components());
        pc_x_->setMaximum(m);
        pc_y_->setMaximum(m);
    }
    target_->blockSignals(false);
}

PictureChoices PlotsPanel::choices() const {
    PictureChoices c;
    c.group_by = static_cast<GroupBy>(group_by_->currentIndex());
    c.pc_x = pc_x_->value() - 1;
    c.pc_y = pc_y_->value() - 1;
    c.outline = outline_->currentIndex() == 0 ? Outline::Ellipse : outline_->currentIndex() == 1 ? Outline::Hull : Outline::None;
    if (target_->currentIndex() >= 0) {
        const QPoint t = target_->currentData().toPoint();
        c.target.kind = static_cast<ShapeTarget::Kind>(t.x());
        c.target.index = t.y();
    }
    c.magnification = magnification_->value();
    c.links = links_;
    c.marks = landmark_marks(program_.shell().runner());
    c.size = QSizeF(std::max(200, canvas_->width()), std::max(150, canvas_->height()));
    return c;
}

// Only the choices that shape the picture shown can be changed.
void PlotsPanel::enable_choices(int kind) {
    group_by_->setEnabled(kind == kSuperimposition || kind == kComponents);
    pc_x_->setEnabled(kind == kComponents);
    pc_y_->setEnabled(kind == kComponents);
    outline_->setEnabled(kind == kComponents);
    target_->setEnabled(kind == kShapeChange);
    const AnalysisPicture* picture = kind == kDistribution ? analysis_picture(statistic_->currentIndex()) : nullptr;
    magnification_->setEnabled(kind == kShapeChange || (picture && picture->magnified));
    statistic_->setEnabled(kind == kDistribution);
    const bool idle = !session_.busy();
    links_button_->setEnabled(idle && (kind == kSuperimposition || kind == kShapeChange));
    export_button_->setEnabled(idle);
}

void PlotsPanel::redraw() {
    if (!attached()) return;
    enable_choices(kind_->currentIndex());
    QString status;
    Scene scene = scene_at(choices().size, status);
    canvas_->set_scene(std::move(scene));
    status_->setText(status);
}

Scene PlotsPanel::scene_at(QSizeF size, QString& status) const {
    PictureChoices c = choices();
    c.size = size;
    Scene scene;
    try {
        const int kind = kind_->currentIndex();
        if (kind == kDistribution) {
            scene = distribution_scene(c.size, status);
        } else if (!data_) {
            status =
                problem_.empty() ? QStringLiteral("Load a landmark file to see its pictures.") : QString::fromStdString(problem_);
        } else if (kind == kSuperimposition) {
            scene = superimposition_picture(*data_, links_, c.size, c.marks);
            status = QStringLiteral("Point at a mark to name its specimen.");
        } else if (kind == kComponents || kind == kScree) {
            if (data_->components().components() == 0) {
                status = QStringLiteral("The aligned shapes do not vary: there are no principal components.");
            } else if (kind == kComponents) {
                const int m = data_->components().components();
                scene = components_scene(data_->components(), data_->grouping(), std::min(c.pc_x, m - 1), std::min(c.pc_y, m - 1),
                                         c.outline, c.size);
                status = QStringLiteral("Point at a mark to name its specimen.");
            } else {
                scene = scree_scene(data_->components(), c.size);
            }
        } else if (kind == kShapeChange) {
            const auto [shape, title] = data_->target(c.target, c.magnification);
            scene = shape_change_picture(*data_, shape, links_, title, c.size);
        }
    } catch (const std::exception& e) {
        status = QString::fromStdString(e.what());
    }
    if (data_ && !problem_.empty() && kind_->currentIndex() != kDistribution)
        status = QString::fromStdString(problem_) + QStringLiteral(" The specimens are shown without grouping.");
    return scene;
}

const AnalysisPicture* PlotsPanel::analysis_picture(int item) const {
    const int first = static_cast<int>(log_->distributions().size()) + (log_->regression_scores() ? 1 : 0);
    if (item < first || item - first >= static_cast<int>(analysis_.size())) return nullptr;
    return &analysis_[static_cast<std::size_t>(item - first)];
}

Scene PlotsPanel::distribution_scene(QSizeF size, QString& status) const {
    const auto& all = log_->distributions();
    const int i = statistic_->currentIndex();
    if (const AnalysisPicture* picture = analysis_picture(i)) {
        status = picture->title;
        return picture->draw(size, magnification_->value(), links_);
    }
    // After the histograms, a model with a covariate offers its regression scores.
    if (i == static_cast<int>(all.size()) && log_->regression_scores()) {
        status = QStringLiteral("Point at a mark to name its specimen.");
        return regression_scene(*log_->regression_scores(), size);
    }
    if (i < 0 || i >= static_cast<int>(all.size())) {
        status = QStringLiteral("Run a test to see the distribution of its statistics.");
        return {};
    }
    const auto& d = all[static_cast<std::size_t>(i)];
    status = QStringLiteral("%1 permutations of the last test").arg(d.permutations);
    const auto factors = program_.shell().legend().factor_names(program_.shell().workspace().groups);
    return histogram_scene(d, statistic_caption(*log_, d, factors), size);
}

void PlotsPanel::choose_links() {
    auto choice = gui_.uigetfile("*.txt", "Links file: two landmark numbers per line");
    if (!choice) return;
    const std::string path = choice->folder + choice->name;
    const int landmarks =
        data_ ? data_->superimposition().landmarks
              : static_cast<int>(program_.shell().workspace().landmarks.cols() / program_.shell().workspace().dimensions);
    try {
        if (landmarks < 1) throw QuillanError("Load a landmark file before its links file.");
        links_ = io::read_links_file(path, landmarks);
        links_file_ = path;
        links_landmarks_ = landmarks;
        links_imported_ = false;
        program_.shell().set_links_file(path);
    } catch (const std::exception& e) {
        gui_.msgbox(e.what(), "Links file");  // the wireframe shown stays as it was
        return;
    }
    redraw();
}

PictureSize PlotsPanel::export_size() const {
    // "as shown" (the spin box's lowest value) takes the size on screen.
    PictureSize size;
    const QSizeF shown = choices().size;
    size.dpi = export_dpi_ ? export_dpi_->value() : 96;
    const auto chosen = [&](const QSpinBox* box, double on_screen) {
        return box && box->value() > box->minimum() ? box->value() : static_cast<int>(std::lround(on_screen * size.dpi / 96.0));
    };
    size.width = chosen(export_width_, shown.width());
    size.height = chosen(export_height_, shown.height());
    return size;
}

QSize PlotsPanel::export_to(const std::string& path) {
    const PictureSize size = export_size();
    size.check();
    QString status;
    Scene s = scene_at(QSizeF(size.layout_width(), size.layout_height()), status);
    if (s.size.isEmpty()) throw QuillanError("There is no picture to export: " + status.toStdString());
    const QSize pixels(size.width, size.height);
    save_picture(s, path, size.dpi, pixels);
    return pixels;
}

void PlotsPanel::export_picture() {
    auto choice = gui_.uiputfile("Pictures (*.png *.svg *.pdf)", "Export picture");
    if (!choice) return;
    std::string path = choice->folder + choice->name;
    if (choice->name.find('.') == std::string::npos) path += ".png";
    try {
        const QSize written = export_to(path);
        status_->setText(QStringLiteral("Wrote %1 (%2 x %3 pixels at %4 dpi)")
                             .arg(QString::fromStdString(path))
                             .arg(written.width())
                             .arg(written.height())
                             .arg(export_size().dpi));
    } catch (const std::exception& e) {
        gui_.msgbox(e.what(), "Export picture");
    }
}

}  // namespace quillan
