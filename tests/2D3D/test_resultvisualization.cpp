// The view container: which page shows in which mode, the grabber running only on the joint page,
// pages shown late showing the newest result, the panel's switches reaching the views.

#include "viewtest.h"

#include "2D3D/resultvisualization.h"
#include "2D3D/view2d3d_trvaxx.h"
#include "2D3D/view2d_trvaxx.h"
#include "2D3D/view3d_trvaxx.h"
#include "2D3D/viewselectionstrip.h"
#include "common/commonutilities.h"
#include "visualization2d/view2d.h"

#include <QComboBox>
#include <QPushButton>
#include <QSettings>

struct Container : ::testing::Test, ResultFeed {};

TEST_F(Container, WithoutAJointViewItsPageNeverShows) {
    ResultVisualization without(false);
    without.connectTransformer(&transformer);
    showAndWait(without, {900, 600});
    EXPECT_FALSE(without.getStrip()->button2D3D()->isEnabled());
    // Until the first result a waiting page shows; a mode chosen meanwhile is kept.
    without.switchTo3D();
    EXPECT_NE(without.currentPage(), without.getView3D());
    feed(resulttest::Variant::LG, 1);
    EXPECT_EQ(without.currentPage(), without.getView3D());

    QSignalSpy activated(&without, &ResultVisualization::overlayActivated);
    without.switchTo2D3D();
    EXPECT_EQ(without.getMode(), ResultVisualization::Mode3D);
    EXPECT_EQ(without.currentPage(), without.getView3D());
    EXPECT_EQ(activated.size(), 0);
    without.getStrip()->button2D()->click();
    EXPECT_EQ(without.currentPage(), without.getView2D());
}

TEST_F(Container, PagesShownLateShowTheNewestResult) {
    ResultVisualization container(true);
    container.connectTransformer(&transformer);
    showAndWait(container, {900, 600});
    feed(resulttest::Variant::OD, 1);
    ASSERT_EQ(container.currentPage(), container.getView2D());
    // The pages the container hides do no work (the views' own tests show a hidden view waits).
    feed(resulttest::Variant::OD, 2);
    feed(resulttest::Variant::OD, 3);
    EXPECT_EQ(container.getView3D()->getProcessedCount(), 0);
    container.switchTo3D();
    EXPECT_EQ(container.getView3D()->getProcessedCount(), 1);
    // The 2D page, hidden while results 4 and 5 came, shows result 5 when it comes back; the
    // logarithmic switch reaches its amplitude pane.
    feed(resulttest::Variant::OD, 4);
    feed(resulttest::Variant::OD, 5);
    container.setAmplitudeLogarithmic(true);
    container.switchTo2D();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->getResult()->frameCounter(), 5u);
    EXPECT_EQ(container.getView2D()->pane(View2D_TRVAXX::DistancePane)->backgroundImage(),
              last->getDistanceImage());
    EXPECT_EQ(container.getView2D()->pane(View2D_TRVAXX::AmplitudePane)->backgroundImage(),
              last->getLogarithmicAmplitudeImage());
}

TEST_F(Container, TheGrabberRunsOnlyOnTheJointPage) {
    CommonUtilities::gocSettings().setValue(QStringLiteral("plugin_trvaxx/camera_test_pattern"), true);
    ResultVisualization container(true);
    container.connectTransformer(&transformer);
    View2D3D_TRVAXX* joint = container.getView2D3D();
    joint->setGrabberFolders({qEnvironmentVariable("TRVAXX_PLUGIN_PATH")});
    showAndWait(container, {900, 600});

    QSignalSpy overlayOn(&container, &ResultVisualization::overlayActivated);
    QSignalSpy overlayOff(&container, &ResultVisualization::overlayDeActivated);
    container.getStrip()->findButton()->click();
    QComboBox* cameras = container.getStrip()->cameraList();
    ASSERT_GT(cameras->count(), 0) << "the test pattern is offered";
    cameras->setCurrentIndex(cameras->count() - 1);
    emit cameras->textActivated(cameras->currentText());

    struct Step {
        void (ResultVisualization::*slot)();
        int mode;
        bool running;
    } steps[] = {{&ResultVisualization::switchTo2D3D, ResultVisualization::Mode2D3D, true},
                 {&ResultVisualization::switchTo2D, ResultVisualization::Mode2D, false},
                 {&ResultVisualization::switchTo2D3D, ResultVisualization::Mode2D3D, true},
                 {&ResultVisualization::switchTo3D, ResultVisualization::Mode3D, false}};
    // Before the first result the joint page waits with the camera off.
    container.switchTo2D3D();
    EXPECT_FALSE(joint->isGrabberRunning());
    EXPECT_NE(container.currentPage(), joint);
    feed(resulttest::Variant::OD, 1);
    EXPECT_EQ(container.currentPage(), joint);
    EXPECT_TRUE(joint->isGrabberRunning());
    for (const Step& s : steps) {
        (container.*s.slot)();
        EXPECT_EQ(container.getMode(), s.mode);
        EXPECT_EQ(joint->isGrabberRunning(), s.running) << "mode " << s.mode;
    }
    EXPECT_EQ(overlayOn.size(), 2);
    EXPECT_EQ(overlayOff.size(), 2);
    CommonUtilities::gocSettings().remove(QStringLiteral("plugin_trvaxx"));
}
