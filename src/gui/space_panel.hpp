// Landmarks in space in the window: the 3-D choice beside Load, which makes
// Load read x, y and z of each landmark, and the 3-D view tab, where the
// superimposed specimens turn with the mouse.  Its controls come from the
// layout file (DimensionsChoice, spaceViewHost); without them it does nothing.
#pragma once

#include "figures/links.hpp"
#include "figures/shapes.hpp"
#include "render/scene.hpp"

#include <Eigen/Core>
#include <QCheckBox>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;

namespace quillan {

class Program;
class Session;

// Paints the superimposition turned; a drag turns it (across about the
// screen's vertical, up and down about its horizontal), the arrow keys turn
// it a step, the mouse wheel and the + and - keys zoom about the centre, and
// a double click (or Home) brings it back to the first view, unzoomed.
class TurningCanvas : public QWidget {
public:
    explicit TurningCanvas(QWidget* parent = nullptr);
    // Landmarks in space to show, or none (nullopt) with the reason.
    void set_shapes(std::optional<Superimposition> sup, Grouping g, QString reason = {});
    // Asked for the wireframe each time the picture is laid out.
    std::function<Links()> links;
    const Eigen::Matrix3d& turn() const { return turn_; }
    // Turns by `across` radians about the screen's vertical axis and `up`
    // about its horizontal one.
    void turn_by(double across, double up);
    void reset_turn();  // the turn and the zoom both
    // The magnification about the centre, 1 for the whole sphere of the
    // landmarks; zoom_by multiplies it, kept from kMinZoom to kMaxZoom.
    double zoom() const { return zoom_; }
    void zoom_by(double factor);
    static constexpr double kMinZoom = 0.5, kMaxZoom = 10, kZoomStep = 1.25;
    // The picture as painted at the canvas's size (empty with no shapes).
    Scene scene() const;
    // The specimens' IDs, when the file gave them, named under the mouse.
    std::vector<std::string> ids;
    // Says what is under the mouse or why there is no picture.
    std::function<void(const QString&)> on_status;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    std::optional<Superimposition> sup_;
    Grouping grouping_;
    QString reason_;
    Eigen::Matrix3d turn_;
    double zoom_ = 1;
    QPointF last_;
};

class SpacePanel {
public:
    // `links` gives the wireframe the pictures are drawn with.
    SpacePanel(Program& program, Session& session, QWidget* window, std::function<Links()> links = {});
    ~SpacePanel();
    SpacePanel(const SpacePanel&) = delete;
    SpacePanel& operator=(const SpacePanel&) = delete;

    TurningCanvas* canvas() const { return canvas_; }
    // Re-reads the workspace (called after every action).
    void follow_workspace();

private:
    Program& program_;
    Session& session_;
    QPointer<QCheckBox> choice_;
    QPointer<TurningCanvas> canvas_;
    QPointer<QLabel> status_;
    Matrix shown_data_, shown_groups_;
    int observer_id_ = -1;
};

}  // namespace quillan
