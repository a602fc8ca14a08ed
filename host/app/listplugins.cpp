#include "app/listplugins.h"

#include "app/pluginmanager.h"
#include "common/commonsysteminfo.h"
#include "sdk/sensorscout.h"
#include "sdk/sensortype.h"

void writePluginList(const PluginManager& plugins, QTextStream& out) {
    out << "Plug-ins:\n";
    if (plugins.plugins().isEmpty())
        out << "  (none loaded)\n";
    for (const PluginManager::LoadedPlugin& p : plugins.plugins()) {
        out << "  " << p.fileName << "  (" << p.filePath << ")\n";
        for (SensorType* type : p.sensorTypes)
            out << "    sensor type: " << type->getName() << "\n";
        out << "    scouts: " << p.scouts.size() << "\n";
    }
    if (!plugins.refusals().isEmpty()) {
        out << "Refused files:\n";
        for (const PluginManager::Refusal& r : plugins.refusals())
            out << "  " << r.filePath << ": " << r.reason << "\n";
    }
    out << "System information:\n";
    for (const auto& entry : CommonSystemInfo::instance().entries())
        out << "  \"" << entry.first << "\" = \"" << entry.second << "\"\n";
    out.flush();
}
