// The picture module of quillan-batch --plots (see picture_module.hpp): the
// pictures of the action run, written as SVG and PNG into a folder, drawn on
// Qt's offscreen platform (no display needed).  Built as a module of its own,
// with its own copy of the computing side; only its entry point is seen
// from outside.
#include "batch/picture_module.hpp"
#include "io/links_file.hpp"
#include "platform/error.hpp"
#include "platform/stop_request.hpp"
#include "platform/version.hpp"
#include "render/export.hpp"
#include "render/pictures.hpp"

#include <QGuiApplication>
#include <QtGlobal>

#include <filesystem>
#include <memory>

namespace quillan {

namespace {

// Fonts need an application object; batch has no display, so it paints on
// the offscreen platform whatever the environment says.  The object lives
// while the pictures are made and is torn down properly after them.
std::unique_ptr<QGuiApplication> application_for_pictures() {
    if (QGuiApplication::instance()) return nullptr;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "quillan-batch";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

// Qt's own notices while the pictures are made (such as a missing runtime
// folder) are part of the trace, not messages for the user.
std::ostream* g_qt_trace = nullptr;
void qt_message_to_trace(QtMsgType, const QMessageLogContext&, const QString& text) {
    if (g_qt_trace) *g_qt_trace << text.toStdString() << '\n';
}
class QtMessagesToTrace {
public:
    explicit QtMessagesToTrace(std::ostream& trace) {
        g_qt_trace = &trace;
        previous_ = qInstallMessageHandler(qt_message_to_trace);
    }
    ~QtMessagesToTrace() {
        qInstallMessageHandler(previous_);
        g_qt_trace = nullptr;
    }
    QtMessagesToTrace(const QtMessagesToTrace&) = delete;
    QtMessagesToTrace& operator=(const QtMessagesToTrace&) = delete;

private:
    QtMessageHandler previous_;
};

GroupBy group_by_of(const std::string& s) {
    if (s == "none") return GroupBy::None;
    if (s == "g1") return GroupBy::First;
    if (s == "g2") return GroupBy::Second;
    if (s == "cells") return GroupBy::Cells;
    throw QuillanError("--plots-group-by must be none, g1, g2 or cells, not \"" + s + "\".");
}

// Writes every picture that what is loaded and the last test allow.
// Returns the number of files written; fails with a message naming the
// file or folder at fault (the files saved before it are the caller's to keep
// or drop: they go through request.save).
int write_batch_plots(const Workspace& ws, const DistributionLog& log, const BatchPlotRequest& request, std::ostream& warnings,
                      std::ostream& trace) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(fs::path(request.folder), ec);
    if (ec || !fs::is_directory(fs::path(request.folder)))
        throw QuillanError("Cannot write the pictures into " + request.folder + ": " +
                           (ec ? ec.message() : std::string("it is not a folder")) + ".");
    const StopSource asks_program(request.stop_cause);
    const QtMessagesToTrace qt_messages(trace);
    const auto application = application_for_pictures();
    std::vector<NamedScene> scenes;
    const QSizeF layout(request.size.layout_width(), request.size.layout_height());
    PictureChoices choices;
    choices.size = layout;
    if (ws.landmarks.size() > 0) {
        choices.group_by = ws.groups.size() > 0 ? group_by_of(request.group_by) : GroupBy::None;
        const PictureData data(ws.landmarks, ws.groups, choices.group_by, request.level_names, ws.dimensions,
                               request.factor_names);
        choices.links = request.links_file.empty() ? request.wireframe
                                                   : io::read_links_file(request.links_file, data.superimposition().landmarks);
        choices.marks = request.marks;
        std::vector<std::string> notes;
        scenes = shape_pictures(data, choices, &notes);
        for (const auto& n : notes) warnings << "quillan-batch: " << n << '\n';
        // The shape change toward every group's mean as well, for a grouped table.
        if (notes.empty())
            for (auto& s : group_change_pictures(data, choices)) scenes.push_back(std::move(s));
        if (notes.empty() && data.grouping().groups() > kMaxGroupChanges)
            warnings << "quillan-batch: no shape change toward each group's mean: the grouping has " << data.grouping().groups()
                     << " groups, more than " << kMaxGroupChanges << '\n';
    }
    std::size_t not_drawn = 0;
    for (auto& s : distribution_pictures(log, layout, &not_drawn, request.factor_names)) scenes.push_back(std::move(s));
    if (not_drawn > 0)
        warnings << "quillan-batch: the histograms of the first " << kMaxHistograms << " of the " << log.distributions().size()
                 << " permutation distributions were drawn; the other " << not_drawn
                 << " were not (the report and --json hold every test's numbers)\n";
    if (log.figures())
        for (const AnalysisPicture& p : analysis_pictures(*log.figures(), request.factor_names)) {
            try {
                scenes.push_back({p.name, p.draw(layout, choices.magnification, choices.links)});
            } catch (const QuillanError& e) {
                warnings << "quillan-batch: no " << p.name << " picture: " << e.what() << '\n';
            }
        }
    int written = 0;
    const QSize pixels(request.size.width, request.size.height);
    for (const auto& s : scenes)
        for (const char* ext : {".svg", ".png"}) {
            stop_point();  // a stop asked for while drawing: no further picture
            const std::string path = (fs::path(request.folder) / (s.name + ext)).string();
            const QByteArray bytes = encode_picture(s.scene, picture_format_of(path), request.size.dpi, pixels);
            if (bytes.isEmpty()) throw QuillanError("Cannot write the picture " + path + ": nothing was drawn.");
            if (request.save) request.save(path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
            else write_picture_file(path, bytes);
            trace << "quillan-batch: wrote " << path << '\n';
            ++written;
        }
    return written;
}

// The module's one function, which no exception leaves.
int write_plots(const Workspace& ws, const DistributionLog& log, const BatchPlotRequest& request, std::ostream& warnings,
                std::ostream& trace, std::string& error) {
    try {
        return write_batch_plots(ws, log, request, warnings, trace);
    } catch (const Cancelled&) {
        return 0;  // stopped: the program drops the pictures drawn so far with the rest of its files
    } catch (const std::exception& e) {
        error = e.what();
        return -1;
    }
}

}  // namespace

}  // namespace quillan

extern "C" __attribute__((visibility("default"))) const quillan::PictureModule* quillan_picture_module() {
    static const quillan::PictureModule module{quillan::kPictureModuleInterface, quillan::version_text(), &quillan::write_plots};
    return &module;
}
