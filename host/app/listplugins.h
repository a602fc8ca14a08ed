#pragma once

#include <QTextStream>

class PluginManager;

// The report of `orlangui --list-plugins`: every loaded plug-in with its sensor types, the refused
// files with their reasons, then the system information entries.
void writePluginList(const PluginManager& plugins, QTextStream& out);
