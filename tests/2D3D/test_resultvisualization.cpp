// The view container: pages per mode, the grabber only on the joint page, late pages up to date.

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

struct Container : ::testing::Test, ResultFeed {
    void show(ResultVisualization& container) {
        container.connectTransformer(&transformer);
        showAndWait(container, {900, 600});
    }
};

TEST_F(Container, WithoutAJointViewItsPageNeverShows) {
    ResultVisualization without(false);
    show(without);
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
    show(container);
    feed(resulttest::Variant::OD, 1);
    ASSERT_EQ(container.currentPage(), container.getView2D());
    container.switchTo3D();
    // The 2D page, hidden while result 2 came, shows it in the amplitude pane made logarithmic.
    feed(resulttest::Variant::OD, 2);
    container.setAmplitudeLogarithmic(true);
    container.switchTo2D();
    ASSERT_TRUE(last);
    EXPECT_EQ(container.getView2D()->pane(View2D_TRVAXX::AmplitudePane)->backgroundImage(),
              last->getLogarithmicAmplitudeImage());
}

TEST_F(Container, TheGrabberRunsOnlyOnTheJointPage) {
    CommonUtilities::gocSettings().setValue(QStringLiteral("plugin_trvaxx/camera_test_pattern"), true);
    ResultVisualization container(true);
    View2D3D_TRVAXX* joint = container.getView2D3D();
    joint->setGrabberFolders({qEnvironmentVariable("TRVAXX_PLUGIN_PATH")});
    show(container);

    QSignalSpy overlayOn(&container, &ResultVisualization::overlayActivated);
    QSignalSpy overlayOff(&container, &ResultVisualization::overlayDeActivated);
    container.getStrip()->findButton()->click();
    QComboBox* cameras = container.getStrip()->cameraList();
    ASSERT_GT(cameras->count(), 0) << "the test pattern is offered";
    cameras->setCurrentIndex(cameras->count() - 1);
    emit cameras->textActivated(cameras->currentText());

    container.switchTo2D3D();
    EXPECT_FALSE(joint->isGrabberRunning());
    EXPECT_NE(container.currentPage(), joint);
    feed(resulttest::Variant::OD, 1);
    EXPECT_EQ(container.currentPage(), joint);
    EXPECT_TRUE(joint->isGrabberRunning());
    using RV = ResultVisualization;
    const std::pair<void (RV::*)(), int> steps[] = {{&RV::switchTo2D3D, RV::Mode2D3D},
                                                    {&RV::switchTo2D, RV::Mode2D},
                                                    {&RV::switchTo2D3D, RV::Mode2D3D},
                                                    {&RV::switchTo3D, RV::Mode3D}};
    for (const auto& [slot, mode] : steps) {
        (container.*slot)();
        EXPECT_EQ(container.getMode(), mode);
        EXPECT_EQ(joint->isGrabberRunning(), mode == RV::Mode2D3D) << "mode " << mode;
    }
    EXPECT_EQ(overlayOn.size(), 2);
    EXPECT_EQ(overlayOff.size(), 2);
    CommonUtilities::gocSettings().remove(QStringLiteral("plugin_trvaxx"));
}
