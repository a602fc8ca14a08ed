// Plug-ins that a host must not use, built in several flavours by CMakeLists.txt:
//   FAKE_IID                the interface id in the Qt metadata
//   FAKE_BAD_VERIFICATION   when defined, a verification text of an unsupported interface version is
//                           exported; otherwise none is
#include "plugininterface.h"

#include <QObject>

class FakePlugin : public QObject, public PluginInterface {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID FAKE_IID)
    Q_INTERFACES(PluginInterface)
public:
    QList<SensorScout*> getSensorScouts() override { return {}; }
    QList<SensorType*>* getSensorTypes() override { return new QList<SensorType*>(); }
};

#ifdef FAKE_BAD_VERIFICATION
extern "C" Q_DECL_EXPORT const char* qt_plugin_query_verification_data() {
    return "pattern=QT_PLUGIN_VERIFICATION_DATA\nversion=5.0.0\ndebug=false\nbuildkey=none";
}
#endif

#include "fake_plugin.moc"
