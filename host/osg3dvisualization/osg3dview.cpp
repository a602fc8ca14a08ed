#include "osg3dvisualization/osg3dview.h"

#include "osg3dvisualization/osg3dlog.h"
#include "osg3dvisualization/scenestyle.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/LineWidth>
#include <osgText/Text>

#include <QMouseEvent>
#include <QOpenGLContext>
#include <QWheelEvent>

#include <algorithm>

Q_LOGGING_CATEGORY(lcOsg3d, "trvaxx.host.osg3d")

namespace {
constexpr int kCompassSize = 90;

int osgButton(Qt::MouseButton button) {
    switch (button) {
    case Qt::LeftButton:
        return 1;
    case Qt::MiddleButton:
        return 2;
    case Qt::RightButton:
        return 3;
    default:
        return 0;
    }
}

struct Preset {
    osg::Vec3d eye, center, up;
};

Preset preset(Osg3DView::DefaultView view) {
    const osg::Vec3d center(8.0, 0.0, 0.0);
    switch (view) {
    case Osg3DView::Left:
        return {center + osg::Vec3d(0, 18, 4), center, osg::Z_AXIS};
    case Osg3DView::Right:
        return {center + osg::Vec3d(0, -18, 4), center, osg::Z_AXIS};
    case Osg3DView::Top:
        return {center + osg::Vec3d(0, 0, 25), center, osg::X_AXIS};
    case Osg3DView::Front:
    default:
        // Above and behind the sensor, clear of the vehicle it is mounted on.
        return {osg::Vec3d(-2, 0, 6), center, osg::Z_AXIS};
    }
}
} // namespace

Osg3DView::Osg3DView(QWidget* parent)
    : QOpenGLWidget(parent), manipulator(new osgGA::OrbitManipulator), root(new osg::Group),
      sceneRoot(new osg::Group) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(160, 120);
    // A throw would need continuous frames; the view repaints on input only.
    manipulator->setAllowThrow(false);
    const Preset home = preset(Front);
    manipulator->setHomePosition(home.eye, home.center, home.up);
    manipulator->setAutoComputeHomePosition(false);
    root->addChild(sceneRoot.get());
    buildCompass();
    root->addChild(compass.get());
    createViewer(640, 480);
    manipulator->home(0.0);
}

void Osg3DView::createViewer(int width, int height) {
    viewer = new osgViewer::Viewer;
    window = new osgViewer::GraphicsWindowEmbedded(0, 0, width, height);
    events()->getCurrentEventState()->setMouseYOrientation(osgGA::GUIEventAdapter::Y_INCREASING_DOWNWARDS);
    osg::Camera* camera = viewer->getCamera();
    camera->setGraphicsContext(window.get());
    camera->setViewport(0, 0, width, height);
    camera->setClearColor(sceneColor("sceneBackground"));
    updateProjection(width, height);
    viewer->setThreadingModel(osgViewer::Viewer::SingleThreaded);
    viewer->setKeyEventSetsDone(0);
    viewer->setQuitEventSetsDone(false);
    viewer->setCameraManipulator(manipulator.get(), false);
    for (const auto& handler : handlers)
        viewer->addEventHandler(handler.get());
    viewer->setSceneData(root.get());
}

Osg3DView::~Osg3DView() {
    // The context's aboutToBeDestroyed comes when only the QOpenGLWidget part is left; release
    // while this object is whole and stop listening.
    releaseGL();
    if (context())
        disconnect(context(), nullptr, this, nullptr);
}

void Osg3DView::addEventHandler(osgGA::GUIEventHandler* handler) {
    handlers.emplace_back(handler);
    viewer->addEventHandler(handler);
}

void Osg3DView::removeEventHandler(osgGA::GUIEventHandler* handler) {
    handlers.erase(std::remove(handlers.begin(), handlers.end(), handler), handlers.end());
    viewer->removeEventHandler(handler);
}

void Osg3DView::buildCompass() {
    compass = new osg::Camera;
    compass->setReferenceFrame(osg::Transform::ABSOLUTE_RF);
    compass->setRenderOrder(osg::Camera::POST_RENDER);
    compass->setClearMask(GL_DEPTH_BUFFER_BIT);
    compass->setAllowEventFocus(false);
    compass->setProjectionMatrixAsOrtho(-1.4, 1.4, -1.4, 1.4, -10.0, 10.0);
    compass->setViewMatrix(osg::Matrixd::identity());
    compass->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF);

    osg::ref_ptr<osg::Geometry> axes = new osg::Geometry;
    osg::ref_ptr<osg::Vec3Array> points = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array;
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    const osg::Vec3 directions[3] = {osg::X_AXIS, osg::Y_AXIS, osg::Z_AXIS};
    const osg::Vec4 axisColours[3] = {{0.9f, 0.25f, 0.25f, 1}, {0.3f, 0.85f, 0.3f, 1}, {0.3f, 0.5f, 1, 1}};
    const char* names[3] = {"X", "Y", "Z"};
    for (int i = 0; i < 3; ++i) {
        points->push_back(osg::Vec3());
        points->push_back(directions[i]);
        colours->push_back(axisColours[i]);
        colours->push_back(axisColours[i]);
        osg::ref_ptr<osgText::Text> label = new osgText::Text;
        label->setFont(sceneFont());
        label->setText(names[i]);
        label->setCharacterSize(0.35f);
        label->setAxisAlignment(osgText::Text::SCREEN);
        label->setAlignment(osgText::Text::CENTER_CENTER);
        label->setPosition(directions[i] * 1.2f);
        label->setColor(axisColours[i]);
        geode->addDrawable(label.get());
    }
    axes->setVertexArray(points.get());
    axes->setColorArray(colours.get(), osg::Array::BIND_PER_VERTEX);
    axes->addPrimitiveSet(new osg::DrawArrays(GL_LINES, 0, 6));
    axes->getOrCreateStateSet()->setAttribute(new osg::LineWidth(2.0f));
    geode->addDrawable(axes.get());
    compassAxes = new osg::MatrixTransform;
    compassAxes->addChild(geode.get());
    compass->addChild(compassAxes.get());
    placeCompass();
}

void Osg3DView::placeCompass() {
    compass->setViewport(compassOffset.x(), compassOffset.y(), kCompassSize, kCompassSize);
}

void Osg3DView::setCompassOffset(int x, int y) {
    compassOffset = QPoint(x, y);
    placeCompass();
    update();
}

void Osg3DView::setDefaultView(DefaultView view) {
    const Preset p = preset(view);
    manipulator->setTransformation(p.eye, p.center, p.up);
    update();
    emit cameraMoved();
}

void Osg3DView::updateProjection(int width, int height) {
    viewer->getCamera()->setProjectionMatrixAsPerspective(45.0, double(width) / double(std::max(height, 1)),
                                                          0.1, 500.0);
}

QPointF Osg3DView::project(const osg::Vec3d& point) const {
    const osg::Camera* camera = viewer->getCamera();
    // The manipulator holds the camera pose between frames; the camera gets it only in frame().
    const osg::Matrixd viewMatrix = manipulator->getInverseMatrix();
    const osg::Vec3d ndc = point * viewMatrix * camera->getProjectionMatrix();
    const osg::Viewport* vp = camera->getViewport();
    const double x = vp->x() + (ndc.x() + 1.0) * 0.5 * vp->width();
    const double y = vp->y() + (ndc.y() + 1.0) * 0.5 * vp->height();
    return QPointF(x, vp->height() - y) / devicePixelRatioF();
}

void Osg3DView::initializeGL() {
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &Osg3DView::releaseGL,
            Qt::DirectConnection);
    // A new context after a release (reparenting): the old viewer's state, renderer and caches
    // belong to the context that is gone, so a new viewer takes over the scene and the camera.
    if (released)
        createViewer(std::max(1, width()), std::max(1, height()));
    released = false;
}

void Osg3DView::resizeGL(int width, int height) {
    const int w = int(width * devicePixelRatioF()), h = int(height * devicePixelRatioF());
    events()->windowResize(0, 0, w, h);
    window->resized(0, 0, w, h);
    viewer->getCamera()->setViewport(0, 0, w, h);
    updateProjection(w, h);
}

void Osg3DView::paintGL() {
    window->setDefaultFboId(defaultFramebufferObject());
    // The compass turns with the camera: the view matrix's rotation applied to the axes.
    compassAxes->setMatrix(osg::Matrixd::rotate(manipulator->getInverseMatrix().getRotate()));
    viewer->frame();
    ++frames;
}

void Osg3DView::releaseGL() {
    if (released || !context() || !isValid())
        return;
    makeCurrent();
    root->releaseGLObjects(window->getState());
    // Releases the cameras' objects, deletes everything of this context and frees its id.
    window->close();
    released = true;
    doneCurrent();
    qCDebug(lcOsg3d) << "Released the 3D view's GL objects";
}

void Osg3DView::mousePressEvent(QMouseEvent* event) {
    const QPointF p = scaled(event->position());
    events()->mouseButtonPress(float(p.x()), float(p.y()), osgButton(event->button()));
    update();
}

void Osg3DView::mouseReleaseEvent(QMouseEvent* event) {
    const QPointF p = scaled(event->position());
    events()->mouseButtonRelease(float(p.x()), float(p.y()), osgButton(event->button()));
    update();
    emit cameraMoved();
}

void Osg3DView::mouseMoveEvent(QMouseEvent* event) {
    const QPointF p = scaled(event->position());
    events()->mouseMotion(float(p.x()), float(p.y()));
    update();
    if (event->buttons() != Qt::NoButton)
        emit cameraMoved();
}

void Osg3DView::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPointF p = scaled(event->position());
    events()->mouseDoubleButtonPress(float(p.x()), float(p.y()), osgButton(event->button()));
    update();
}

void Osg3DView::wheelEvent(QWheelEvent* event) {
    events()->mouseScroll(event->angleDelta().y() > 0 ? osgGA::GUIEventAdapter::SCROLL_UP
                                                      : osgGA::GUIEventAdapter::SCROLL_DOWN);
    update();
    emit cameraMoved();
}
