#include "gui/space_panel.hpp"

#include "gui/session.hpp"
#include "render/space_plots.hpp"
#include "window/program.hpp"

#include <Eigen/Geometry>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quillan {

namespace {

// A drag across the canvas's width turns the landmarks about half a turn.
constexpr double kRadiansPerPixel = 0.01;
constexpr double kKeyStep = std::numbers::pi / 24;  // 7.5 degrees an arrow key

// A little from above and from the left, so that depth shows from the start.
Eigen::Matrix3d first_turn() {
    return (Eigen::AngleAxisd(0.35, Eigen::Vector3d::UnitX()) * Eigen::AngleAxisd(-0.5, Eigen::Vector3d::UnitY()))
        .toRotationMatrix();
}

bool same(const Matrix& a, const Matrix& b) { return a.rows() == b.rows() && a.cols() == b.cols() && (a.size() == 0 || a == b); }

}  // namespace

TurningCanvas::TurningCanvas(QWidget* parent) : QWidget(parent), turn_(first_turn()) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TurningCanvas::set_shapes(std::optional<Superimposition> sup, Grouping g, QString reason) {
    sup_ = std::move(sup);
    grouping_ = std::move(g);
    reason_ = std::move(reason);
    if (on_status)
        on_status(sup_ ? QStringLiteral("Drag to turn the landmarks (the arrow keys turn them a step), the wheel or + and - "
                                        "zoom, Home or a double click turns them back; point at a mark to name its specimen.")
                       : reason_);
    update();
}

void TurningCanvas::turn_by(double across, double up) {
    // About the screen's axes, whatever the landmarks' turn so far.
    turn_ = (Eigen::AngleAxisd(up, Eigen::Vector3d::UnitX()) * Eigen::AngleAxisd(across, Eigen::Vector3d::UnitY()))
                .toRotationMatrix() *
            turn_;
    // Rounding must not make the turn a stretch after thousands of steps.
    const Eigen::Quaterniond q(turn_);
    turn_ = q.normalized().toRotationMatrix();
    update();
}

void TurningCanvas::reset_turn() {
    turn_ = first_turn();
    zoom_ = 1;
    update();
}

void TurningCanvas::zoom_by(double factor) {
    zoom_ = std::clamp(zoom_ * factor, kMinZoom, kMaxZoom);
    update();
}

Scene TurningCanvas::scene() const {
    if (!sup_) return {};
    return turned_scene(*sup_, grouping_, links ? links() : Links{}, turn_, QSizeF(size()), zoom_);
}

void TurningCanvas::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const Scene s = scene();
    if (s.size.isEmpty()) {
        p.drawText(rect().adjusted(20, 20, -20, -20), Qt::AlignCenter | Qt::TextWordWrap, reason_);
        return;
    }
    p.setRenderHint(QPainter::Antialiasing);
    paint_scene(p, s, QRectF(rect()));
}

void TurningCanvas::mousePressEvent(QMouseEvent* e) { last_ = e->position(); }

void TurningCanvas::mouseMoveEvent(QMouseEvent* e) {
    if (e->buttons() & (Qt::LeftButton | Qt::RightButton)) {
        const QPointF d = e->position() - last_;
        last_ = e->position();
        turn_by(d.x() * kRadiansPerPixel, d.y() * kRadiansPerPixel);
        return;
    }
    if (!sup_) return;
    const int specimen = scene().specimen_at(e->position(), 5.0);
    if (specimen < 0) {
        QToolTip::hideText();
        return;
    }
    QString text = QString::fromStdString(specimen_label(specimen, ids));
    if (grouping_.groups() > 1)
        text += QStringLiteral(", ") +
                QString::fromStdString(
                    grouping_.names[static_cast<std::size_t>(grouping_.group_of[static_cast<std::size_t>(specimen)])]);
    QToolTip::showText(e->globalPosition().toPoint(), text, this);
    if (on_status) on_status(text);
}

void TurningCanvas::mouseDoubleClickEvent(QMouseEvent*) { reset_turn(); }

void TurningCanvas::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Left:
            turn_by(-kKeyStep, 0);
            break;
        case Qt::Key_Right:
            turn_by(kKeyStep, 0);
            break;
        case Qt::Key_Up:
            turn_by(0, -kKeyStep);
            break;
        case Qt::Key_Down:
            turn_by(0, kKeyStep);
            break;
        case Qt::Key_Home:
            reset_turn();
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:  // + without Shift on most keyboards
            zoom_by(kZoomStep);
            break;
        case Qt::Key_Minus:
            zoom_by(1 / kZoomStep);
            break;
        default:
            QWidget::keyPressEvent(e);
    }
}

// A notch of the wheel (120 eighths of a degree) zooms a step; a touchpad's
// smaller steps zoom in proportion.
void TurningCanvas::wheelEvent(QWheelEvent* e) {
    const int eighths = e->angleDelta().y();
    if (eighths == 0) {
        QWidget::wheelEvent(e);
        return;
    }
    zoom_by(std::pow(kZoomStep, eighths / 120.0));
    e->accept();
}

SpacePanel::SpacePanel(Program& program, Session& session, QWidget* window, std::function<Links()> links)
    : program_(program), session_(session) {
    if (!window) return;
    choice_ = window->findChild<QCheckBox*>(QStringLiteral("DimensionsChoice"));
    if (choice_) {
        choice_->setChecked(program_.shell().landmark_dimensions() == 3);
        QObject::connect(choice_, &QCheckBox::toggled, choice_,
                         [this](bool on) { program_.shell().landmark_dimensions() = on ? 3 : 2; });
    }
    auto* host = window->findChild<QWidget*>(QStringLiteral("spaceViewHost"));
    if (host) {
        auto* layout = new QVBoxLayout(host);
        layout->setContentsMargins(0, 0, 0, 0);
        canvas_ = new TurningCanvas(host);
        canvas_->setObjectName(QStringLiteral("spaceCanvas"));
        canvas_->links = std::move(links);
        status_ = new QLabel(host);
        status_->setObjectName(QStringLiteral("spaceStatus"));
        status_->setWordWrap(true);
        layout->addWidget(canvas_, 1);
        layout->addWidget(status_);
        canvas_->on_status = [this](const QString& text) {
            if (status_) status_->setText(text);
        };
    }
    observer_id_ = session_.add_action_observer([this](const std::string&, bool finished) {
        if (finished) follow_workspace();
    });
    follow_workspace();
}

SpacePanel::~SpacePanel() {
    if (observer_id_ >= 0) session_.remove_action_observer(observer_id_);
}

void SpacePanel::follow_workspace() {
    // The choice says what Load reads next, whatever changed it.
    if (choice_) choice_->setChecked(program_.shell().landmark_dimensions() == 3);
    if (!canvas_) return;
    const Workspace& ws = program_.shell().workspace();
    if (same(ws.landmarks, shown_data_) && same(ws.groups, shown_groups_) && ws.landmarks.size() > 0) return;
    shown_data_ = ws.landmarks;
    shown_groups_ = ws.groups;
    if (ws.landmarks.size() == 0 || ws.dimensions != 3) {
        canvas_->set_shapes(std::nullopt, {},
                            QStringLiteral("Load or import landmarks in 3-D to turn them here (tick 3-D beside Load for a "
                                           "landmark file of x, y and z)."));
        return;
    }
    const int n = static_cast<int>(ws.landmarks.rows());
    Grouping g = make_grouping(Matrix(), n, GroupBy::None);
    try {
        g = make_grouping(ws.groups, n, GroupBy::First, program_.shell().legend().level_names(ws.groups));
    } catch (const std::exception&) {}  // groups that do not fit: the specimens in one colour
    const auto& ids = program_.shell().legend().ids;
    canvas_->ids = static_cast<int>(ids.size()) == n ? ids : std::vector<std::string>{};
    try {
        canvas_->set_shapes(superimpose(ws.landmarks, 3), std::move(g));
    } catch (const std::exception& e) {
        canvas_->set_shapes(std::nullopt, {}, QString::fromStdString(e.what()));
    }
}

}  // namespace quillan
