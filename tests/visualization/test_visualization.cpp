// Scene objects of the 3D view and the property panels over it.

#include "osg3dvisualization/scenestyle.h"
#include "visualization/collisionavoidancevisualization_trvaxx.h"
#include "visualization/objectlist.h"
#include "visualization/propertyviews_trvaxx.h"
#include "visualization/scenevisualization_trvaxx.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QSignalSpy>

#include <set>

namespace {

DetectedObjectData_TRVAXX objects(std::initializer_list<DetectedObject_TRVAXX> list) {
    DetectedObjectData_TRVAXX data;
    std::copy(list.begin(), list.end(), data.objects.begin());
    return data;
}

// From (4, -1, 0.2) to (5, 0.5, 1.8), moving at 2 m/s towards the sensor.
DetectedObject_TRVAXX object(int id, int type = 0) {
    return {id, 0, 0, type, 0, 4, -1, 5, 0.5f, 0.2f, 1.8f, -2};
}

} // namespace

TEST(ObjectList, NodeGeometryVisibilityAndSelectionSignals) {
    ObjectList list;
    list.update(objects({object(3)}));
    const ObjectNode* node = list.getNode(0);
    EXPECT_EQ(node->getValue(0), true);
    EXPECT_EQ(node->getBox()->getCenter(), osg::Vec3(4.5f, -0.25f, 1.0f));
    EXPECT_NEAR((node->getBox()->getHalfExtents() - osg::Vec3(0.5f, 0.75f, 0.8f)).length(), 0, 1e-6);
    EXPECT_EQ(node->getIdText()->getText().createUTF8EncodedString(), "3");
    EXPECT_NEAR((node->getIdText()->getPosition() - osg::Vec3(4.5f, -0.25f, 1.9f)).length(), 0, 1e-6);
    const osg::Vec3Array* vector = node->getVector()->getPoints();
    EXPECT_EQ((*vector)[1] - (*vector)[0], osg::Vec3(-2, 0, 0));
    EXPECT_EQ(list.getNode(1)->getValue(0), false) << "an empty slot (id -1) is switched off";
    // Visibility switches and selection signals; 3 stays, 9 joins.
    QSignalSpy selected(&list, SIGNAL(objectSelected(int)));
    QSignalSpy deselected(&list, SIGNAL(objectDeselected()));
    QSignalSpy removed(&list, SIGNAL(objectRemoved()));
    list.update(objects({object(3), object(9, ObjectList::kRetroType)}));
    list.setRetroVisible(false);
    EXPECT_TRUE(list.getNode(0)->getValue(0));
    EXPECT_FALSE(list.getNode(1)->getValue(0));
    list.setObjectsVisible(false);
    EXPECT_FALSE(list.getNode(0)->getValue(0));

    list.selectObject(3);
    list.selectObject(-1);
    list.selectObject(9);
    EXPECT_EQ(selected.size(), 2);
    EXPECT_EQ(selected.at(1).at(0).toInt(), 9);
    EXPECT_EQ(deselected.size(), 1);
    list.update(objects({object(3)})); // 9 is gone
    EXPECT_EQ(removed.size(), 1);
    EXPECT_EQ(list.getSelectedObject(), -1);
}

TEST(ObjectList, ColoursByStateAndKind) {
    // The states and kinds must be told apart: no two share a box colour.
    std::set<std::vector<float>> boxColours;
    for (const auto& [type, select, hover, crash, colour, vector] :
         {std::tuple{0, -1, -1, false, "objectColor", "objectVectorColor"},
          {0, 7, -1, false, "objectSelectedColor", "objectVectorColor"},
          {0, -1, 7, false, "objectMouseOverColor", "objectVectorColor"},
          {0, 7, 7, true, "objectCrashedColor", "objectVectorColor"}, // a crash beats selection and hover
          {2, -1, -1, false, "retroColor", "retroVectorColor"},
          {2, 7, -1, false, "retroSelectedColor", "retroVectorColor"},
          {2, -1, 7, false, "retroMouseOverColor", "retroVectorColor"}}) {
        SCOPED_TRACE(colour);
        ObjectList list;
        DetectedObjectData_TRVAXX data = objects({object(7, type)});
        data.crashPredicted = crash ? 1 : 0;
        data.crashObjectID = 7;
        list.update(data);
        list.selectObject(select);
        list.setMouseOverObject(hover);
        EXPECT_EQ(list.getNode(0)->getBox()->getColor(), sceneColor(colour));
        EXPECT_EQ(list.getNode(0)->getVector()->getColor(), sceneColor(vector));
        const osg::Vec4 box = list.getNode(0)->getBox()->getColor();
        boxColours.insert({box.r(), box.g(), box.b()});
    }
    EXPECT_EQ(boxColours.size(), 7u);
}

TEST(SceneVisualization, MovesTheSensorOnlyWhenSomethingChanged) {
    SceneVisualization_TRVAXX scene;
    // Mounted looking ahead: the optical axis (the camera's z) along x, its x to the right (-y).
    CameraCalibration_TRVAXX c{0.1f, -0.2f, 1.3f, 0.0f, float(M_PI / 2), float(-M_PI / 2)};
    EXPECT_TRUE(scene.placeSensor(c, {0.5, 0.0, 1.0}));
    EXPECT_FALSE(scene.placeSensor(c, {0.5, 0.0, 1.0}));
    EXPECT_EQ(scene.getPlacementCount(), 1);
    EXPECT_EQ(scene.getCameraNode()->getMatrix().getTrans(), osg::Vec3d(0.1f, -0.2f, 1.3f));
    const osg::Matrixd turn = osg::Matrixd::rotate(scene.getCameraNode()->getMatrix().getRotate());
    EXPECT_NEAR((osg::Z_AXIS * turn - osg::X_AXIS).length(), 0, 1e-6);
    EXPECT_NEAR((osg::X_AXIS * turn + osg::Y_AXIS).length(), 0, 1e-6);

    c.rotY = 0.01f;
    EXPECT_TRUE(scene.placeSensor(c, {0.5, 0.0, 1.0}));
    EXPECT_TRUE(scene.placeSensor(c, {0.5, 0.1, 1.0}));
    EXPECT_EQ(scene.getPlacementCount(), 3);
}

TEST(CollisionAvoidanceVisualization, VehicleFromParametersZoneColourByCrash) {
    CollisionAvoidanceVisualization_TRVAXX ca;
    QMap<int, QVariant> info{{82, -3.0}, {83, 1.0}, {84, -0.5}, {85, 0.5}, {86, 2.0}};
    DetectedObjectData_TRVAXX data; // no crash predicted
    ca.update(data, info);
    EXPECT_EQ(ca.getVehicle()->getCenter(), osg::Vec3(-1, 0, 1));
    EXPECT_EQ(ca.getZone()->getColor(), sceneColor("zoneColor"));
    EXPECT_FALSE(ca.isProjectedVehicleShown());
    data.crashPredicted = 1;
    data.crashPredictorValid = 1;
    data.relImpactVelocity = 2;
    data.crashPredictTime = 1.5f;
    ca.update(data, info);
    EXPECT_EQ(ca.getZone()->getColor().r(), sceneColor("objectCrashedColor").r());
    ASSERT_TRUE(ca.isProjectedVehicleShown());
    EXPECT_EQ(ca.getProjectedVehicle()->getCenter(), osg::Vec3(2, 0, 1));
}

TEST(LineGuidancePropertyView, TextsOfTheLineWithTheId) {
    LineGuidancePropertyView_TRVAXX view;
    EXPECT_EQ(view.titleLabel()->text(), "Line Information");
    DetectedLineData_TRVAXX lines;
    lines.count = 2;
    lines.lines[1].id = 4;
    lines.lines[1].offset = -0.256f;
    lines.lines[1].alpha = float(M_PI / 6);
    lines.lines[1].heap_height = 0.5f;
    lines.lines[1].heap_area = 1.234f;
    lines.lines[1].quality = 0.876f;
    view.show(4, lines);
    const QStringList expected{"4", "-0.26 m", "30°", "0.50 m", "1.23 m²", "88 %"};
    for (int row = 0; row < expected.size(); ++row)
        EXPECT_EQ(view.valueText(row), expected[row]) << row;
    EXPECT_TRUE(view.isVisible());
    // An id outside the counted slots keeps the previous values.
    lines.lines[2].id = 5;
    view.show(5, lines);
    EXPECT_EQ(view.valueText(LineGuidancePropertyView_TRVAXX::LineId), "4");
}

TEST(CollisionAvoidancePropertyView, StatusTextsAndValueRows) {
    // The velocity is the one after a first update that wrote "9.00 m/s".
    for (const auto& [valid, predicted, status, velocity, warning] :
         {std::tuple{quint8(1), -2, "Not available", "Not available", false},
          {1, -1, "Crash was predicted", "9.00 m/s", false},
          {1, 1, "Crash predicted", "1.25 m/s", true},
          {0, 1, "Crash predicted", "9.00 m/s", true},
          {1, 2, "Error", "Not available", false},
          {1, 7, "Crash was predicted", "Not available", false}}) {
        SCOPED_TRACE(predicted);
        CollisionAvoidancePropertyView_TRVAXX view;
        view.setBeeper([] {});
        view.update({1, 12, 0.8f, 9.0f, 1});
        view.update({valid, 12, 0.8f, 1.25f, predicted});
        EXPECT_EQ(view.valueText(CollisionAvoidancePropertyView_TRVAXX::Status), status);
        EXPECT_EQ(view.valueText(CollisionAvoidancePropertyView_TRVAXX::ImpactVelocity), velocity);
        EXPECT_EQ(view.valueText(CollisionAvoidancePropertyView_TRVAXX::ObjectId), "12");
        EXPECT_EQ(view.isWarning(), warning);
    }
}

TEST(CollisionAvoidancePropertyView, BeepsAtMostOnceASecondAndOnlyForAPredictedCrash) {
    const std::pair<std::vector<std::pair<qint64, int>>, int> cases[] = {{{{0, 1}, {1500, 1}}, 2},
                                                                         {{{0, 1}, {1000, 1}}, 1},
                                                                         {{{0, 1}, {600, 1}, {1200, 1}}, 2},
                                                                         {{{0, 1}, {2000, 0}}, 1}};
    for (const auto& [updates, expected] : cases) {
        CollisionAvoidancePropertyView_TRVAXX view;
        qint64 now = 0;
        int beeps = 0;
        view.setClock([&] { return now; });
        view.setBeeper([&] { ++beeps; });
        for (const auto& [time, predicted] : updates) {
            now = time;
            view.update({1, 3, 1.0f, 1.0f, predicted});
        }
        EXPECT_EQ(beeps, expected) << updates.size() << " updates until " << now;
        EXPECT_EQ(view.isWarning(), updates.back().second == 1) << "the warning goes with the crash";
    }
}
