#pragma once

#include <osg/Camera>
#include <osg/Group>
#include <osg/MatrixTransform>
#include <osg/ref_ptr>
#include <osgGA/GUIEventHandler>
#include <osgGA/OrbitManipulator>
#include <osgViewer/GraphicsWindow>
#include <osgViewer/Viewer>

#include <QOpenGLWidget>
#include <QPointF>

// The host's 3D widget: a single-threaded scene-graph viewer embedded in a QOpenGLWidget. The
// viewer renders into the widget's framebuffer in paintGL, only when asked to (a new result calls
// update(), user input repaints itself), never on a timer. An orbit manipulator turns, pans and
// zooms around the scene; four presets look from behind the sensor (front), from its left, its
// right and from above. A compass in the lower-left corner shows the axes as the camera sees them.
// The GL objects are released when the widget's context goes away (reparenting makes a new one).
//
// Coordinates are the sensor's vehicle frame: x forward, y left, z up, in metres. GUI thread only.
class Osg3DView : public QOpenGLWidget {
    Q_OBJECT
public:
    enum DefaultView { Front, Left, Right, Top };

    explicit Osg3DView(QWidget* parent = nullptr);
    ~Osg3DView() override;

    // Where scene objects are added. The viewer is replaced when the widget gets a new context.
    osg::Group* getSceneRoot() const { return sceneRoot.get(); }
    osgViewer::Viewer* getViewer() const { return viewer.get(); }
    // Pick handlers and the like receive the widget's mouse events.
    void addEventHandler(osgGA::GUIEventHandler* handler);
    void removeEventHandler(osgGA::GUIEventHandler* handler);

    void setDefaultView(DefaultView view);
    // Moves the compass viewport right by x and up by y pixels (the replay window's controls
    // cover the corner).
    void setCompassOffset(int x, int y);
    QPoint getCompassOffset() const { return compassOffset; }
    osg::Camera* getCompassCamera() const { return compass.get(); }

    // Where a scene point lands in widget pixels (origin top left), with the current camera.
    QPointF project(const osg::Vec3d& point) const;
    // Frames rendered so far (repaints happen on demand only).
    int getFrameCount() const { return frames; }

signals:
    // The user or a preset moved the camera.
    void cameraMoved();

protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void createViewer(int width, int height);
    void releaseGL();
    void buildCompass();
    void placeCompass();
    void updateProjection(int width, int height);
    osgGA::EventQueue* events() const { return window->getEventQueue(); }
    QPointF scaled(const QPointF& p) const { return p * devicePixelRatioF(); }

    osg::ref_ptr<osgViewer::Viewer> viewer;
    osg::ref_ptr<osgViewer::GraphicsWindowEmbedded> window;
    osg::ref_ptr<osgGA::OrbitManipulator> manipulator;
    osg::ref_ptr<osg::Group> root;
    osg::ref_ptr<osg::Group> sceneRoot;
    osg::ref_ptr<osg::Camera> compass;
    osg::ref_ptr<osg::MatrixTransform> compassAxes;
    QPoint compassOffset;
    std::vector<osg::ref_ptr<osgGA::GUIEventHandler>> handlers;
    int frames = 0;
    bool released = false;
};
