// The Plots area of the main window: the pictures of what is loaded and of
// the last test, with their choices, a canvas that names the specimen under
// the mouse, and "Export picture...".  Its controls come from the layout
// file (the plotsPage tab); this class finds them by name and drives them.
#pragma once

#include "figures/distributions.hpp"
#include "figures/links.hpp"
#include "figures/picture_size.hpp"
#include "gui/qt_gui.hpp"
#include "render/pictures.hpp"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class QComboBox;
class QSpinBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;

namespace quillan {

class Program;
class Session;

// Paints a scene at the widget's size; tells who is under the mouse.
class PlotCanvas : public QWidget {
public:
    explicit PlotCanvas(QWidget* parent = nullptr);
    void set_scene(Scene scene);
    const Scene& scene() const { return scene_; }
    // Asked for a new scene whenever the canvas changes size.
    std::function<void()> on_resize;
    // Given the specimen under the mouse (or -1) when it moves or clicks.
    std::function<void(int specimen, QPoint global)> on_point;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void point_at(QPointF p, QPoint global);
    Scene scene_;
    QImage painted_;  // the scene painted once, shown on every repaint
};

class PlotsPanel {
public:
    // Attaches to the plotsPage controls of `window`; without them (an
    // older layout file) the panel does nothing.
    PlotsPanel(QtGui& gui, Program& program, Session& session, QWidget* window);
    ~PlotsPanel();
    PlotsPanel(const PlotsPanel&) = delete;
    PlotsPanel& operator=(const PlotsPanel&) = delete;

    bool attached() const { return canvas_ != nullptr; }
    PlotCanvas* canvas() const { return canvas_; }
    const DistributionLog& distributions() const { return *log_; }
    const Links& links() const { return links_; }  // the wireframe chosen
    // Re-reads the workspace and redraws (called after every action).
    void follow_workspace();
    void redraw();
    // Writes the picture shown to `path` (PNG, SVG or PDF by extension), of
    // the export size chosen, less the empty bands beside a frame of the
    // data's aspect; returns its size in pixels.
    QSize export_to(const std::string& path);
    // The export size chosen: the size on screen where none is given.
    PictureSize export_size() const;

private:
    void action_started(const std::string& action);
    void action_finished(const std::string& action);
    void rebuild_data();
    void name_groupings();
    LevelNames level_names() const;
    void enable_choices(int kind);
    void fill_choices();
    void choose_links();
    void adopt_imported_wireframe();
    void export_picture();
    PictureChoices choices() const;
    // The picture chosen, laid out at `size`; `status` says what it shows
    // or why there is none.
    Scene scene_at(QSizeF size, QString& status) const;
    Scene distribution_scene(QSizeF size, QString& status) const;
    // The last shape analysis's picture listed at `item` of the statistics, or nullptr.
    const AnalysisPicture* analysis_picture(int item) const;

    QtGui& gui_;
    Program& program_;
    Session& session_;
    QPointer<PlotCanvas> canvas_;
    QPointer<QComboBox> kind_, group_by_, outline_, target_, statistic_;
    QStringList group_by_texts_;  // the Colour by entries as the layout names them
    QPointer<QSpinBox> pc_x_, pc_y_, export_width_, export_height_, export_dpi_;
    QPointer<QDoubleSpinBox> magnification_;
    QPointer<QLabel> status_;
    QPointer<QPushButton> links_button_, export_button_;
    std::unique_ptr<DistributionLog> log_, pending_;
    std::unique_ptr<PictureData> data_;
    std::vector<AnalysisPicture> analysis_;  // the last shape analysis's pictures, listed after the histograms
    Matrix shown_data_, shown_groups_;
    Links links_;
    std::string links_file_;
    int links_landmarks_ = 0;      // the landmarks the links file was read for
    bool links_imported_ = false;  // the links are the imported file's own wireframe
    Links adopted_;                // the imported wireframe taken last, and its file
    std::string adopted_source_;
    std::string problem_;
    int observer_id_ = 0;
    int filler_id_ = 0;
    bool recording_ = false;  // between the start and the end of a test
};

}  // namespace quillan
