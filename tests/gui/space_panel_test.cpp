// Landmarks in space in the real window: the 3-D choice beside Load and the
// view that turns them with the mouse.
#include "gui/space_panel.hpp"
#include "support/window_rig.hpp"

#include <Eigen/Geometry>
#include <QCheckBox>
#include <QLabel>
#include <QMouseEvent>
#include <QTabWidget>
#include <QTest>

#include <memory>

using namespace quillan;

class SpacePanelTest : public quillan::test::WindowRig {
    Q_OBJECT

private:
    std::unique_ptr<SpacePanel> panel;

    std::size_t marks() {
        std::size_t n = 0;
        for (const auto& d : panel->canvas()->scene().dots) n += d.specimens.size();
        return n;
    }
    // A drag with the left button held, from `from` by `by`.
    void drag(QPoint from, QPoint by) {
        QWidget* c = panel->canvas();
        QTest::mousePress(c, Qt::LeftButton, {}, from);
        QMouseEvent move(QEvent::MouseMove, QPointF(from + by), c->mapToGlobal(QPointF(from + by)), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(c, &move);
        QTest::mouseRelease(c, Qt::LeftButton, {}, from + by);
    }

private slots:
    void init() {
        open_window();
        answer_dialogs();
        panel = std::make_unique<SpacePanel>(*program, *session, gui->widget(fig));
        QVERIFY(panel->canvas());
        named<QTabWidget>("resultTabs")->setCurrentWidget(named("spacePage"));
    }

    void cleanup() {
        panel.reset();
        close_window();
    }

    void theChoiceBesideLoadReadsSpaceAndTheViewTurnsIt() {
        QVERIFY(panel->canvas()->scene().size.isEmpty());
        auto* choice = named<QCheckBox>("DimensionsChoice");
        QVERIFY(choice && !choice->isChecked());
        choice->setChecked(true);
        QCOMPARE(program->shell().landmark_dimensions(), 3);
        load("loadLandmarksButton", "macaques.lm.txt");
        load("loadGroupsButton", "macaques.groups.txt");
        QCOMPARE(program->shell().workspace().dimensions, 3);
        QCOMPARE(marks(), std::size_t(18 * 7));
        QCOMPARE(panel->canvas()->scene().legend.size(), std::size_t(2));
        // A drag across turns about the screen's vertical axis, by its length.
        const Eigen::Matrix3d before = panel->canvas()->turn();
        drag(QPoint(100, 100), QPoint(50, 0));
        const Eigen::Matrix3d expected = Eigen::AngleAxisd(0.5, Eigen::Vector3d::UnitY()).toRotationMatrix() * before;
        QVERIFY((panel->canvas()->turn() - expected).norm() < 1e-12);
        // + and - zoom a step each, within limits; Home (as a double click)
        // turns it back and unzooms it.
        QTest::keyClick(panel->canvas(), Qt::Key_Plus);
        QCOMPARE(panel->canvas()->zoom(), TurningCanvas::kZoomStep);
        for (int i = 0; i < 40; ++i) QTest::keyClick(panel->canvas(), Qt::Key_Minus);
        QCOMPARE(panel->canvas()->zoom(), TurningCanvas::kMinZoom);
        for (int i = 0; i < 40; ++i) QTest::keyClick(panel->canvas(), Qt::Key_Plus);
        QCOMPARE(panel->canvas()->zoom(), TurningCanvas::kMaxZoom);
        QTest::keyClick(panel->canvas(), Qt::Key_Home);
        QVERIFY((panel->canvas()->turn() - before).norm() < 1e-12);
        QCOMPARE(panel->canvas()->zoom(), 1.0);
        QTest::keyClick(panel->canvas(), Qt::Key_Up);
        QVERIFY((panel->canvas()->turn() - before).norm() > 0.1);
        // Landmarks in the plane leave the view with its reason.
        choice->setChecked(false);
        QCOMPARE(program->shell().landmark_dimensions(), 2);
        load("loadLandmarksButton", "plethodon.lm.txt");
        QVERIFY(panel->canvas()->scene().size.isEmpty());
        QVERIFY(named<QLabel>("spaceStatus")->text().contains("3-D"));
    }
};

QTEST_MAIN(SpacePanelTest)
#include "space_panel_test.moc"
