// Test plug-ins, built in several flavours by CMakeLists.txt:
//   FAKE_IID                the interface id in the Qt metadata
//   FAKE_BAD_VERIFICATION   exports a verification text of an unsupported interface version
//   FAKE_WORKING            exports the host's own verification text and offers a sensor type
//                           "FAKE" whose GUI controller shows one screen (for the host's connect
//                           flow); an address named "fail" makes its start fail with id 4242
// Without either verification define the library exports no verification text.
#include "common/pluginverification.h"
#include "sdk/hostframe.h"
#include "sdk/plugininterface.h"
#include "sdk/sensor.h"
#include "sdk/sensorgui.h"
#include "sdk/sensortype.h"

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <cstring>

class FakeSensor : public Sensor {
public:
    explicit FakeSensor(SensorAdrSP_t address) : address(address) {}
    SensorAdrSP_t getSensorAddress() const override { return address; }

private:
    SensorAdrSP_t address;
};

class FakeGUI : public SensorGUI {
    Q_OBJECT
public:
    explicit FakeGUI(SensorSP_t sensor) : sensor(sensor) {}
    ~FakeGUI() override { delete screen; }
    int start(HostFrame* frame) override {
        hostFrame = frame;
        emit percentageLoaded(50);
        if (sensor->getSensorAddress()->getName() == QLatin1String("fail"))
            return 4242;
        screen = new QLabel(QStringLiteral("fake sensor screen"));
        screen->setObjectName(QStringLiteral("fakeScreen"));
        hostFrame->showScreen(screen);
        emit percentageLoaded(100);
        return 0;
    }
    bool shutDown() override {
        hostFrame->closeSensorGUI();
        return true;
    }

private:
    SensorSP_t sensor;
    HostFrame* hostFrame = nullptr;
    QPointer<QLabel> screen;
};

class FakeType : public SensorType {
public:
    SensorSP_t createSensor(SensorAdrSP_t address) override { return SensorSP_t(new FakeSensor(address)); }
    SensorGUI* createSensorGUI(SensorSP_t sensor, GuiType type) override {
        return type == GUI_TYPE_DEFAULT ? new FakeGUI(sensor) : nullptr;
    }
    bool isSupportedTypeID(const char* typeId) override {
        return typeId && std::strncmp(typeId, "FAKE", 4) == 0;
    }
    ReplayDataView* createReplayDataView() override { return nullptr; }
    QString getName() override { return QStringLiteral("FAKE"); }
};

class FakePlugin : public QObject, public PluginInterface {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID FAKE_IID)
    Q_INTERFACES(PluginInterface)
public:
    QList<SensorScout*> getSensorScouts() override { return {}; }
    QList<SensorType*>* getSensorTypes() override {
#ifdef FAKE_WORKING
        return new QList<SensorType*>{&type};
#else
        return new QList<SensorType*>();
#endif
    }

private:
    FakeType type;
};

#if defined(FAKE_BAD_VERIFICATION)
extern "C" Q_DECL_EXPORT const char* qt_plugin_query_verification_data() {
    return "pattern=QT_PLUGIN_VERIFICATION_DATA\nversion=5.0.0\ndebug=false\nbuildkey=none";
}
#elif defined(FAKE_WORKING)
extern "C" Q_DECL_EXPORT const char* qt_plugin_query_verification_data() {
    static const QByteArray text = PluginVerification::verificationText();
    return text.constData();
}
#endif

#include "fake_plugin.moc"
