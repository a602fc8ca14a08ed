#pragma once

class QSettings;

// The host's shared settings (organisation "Vexa", application "OrlanGUI") and the developer-mode
// switch read from them. Depends on nothing else in this library, so the log and the utilities
// both use it without using each other.
class HostSettings {
public:
    // Created on first use. GUI thread only.
    static QSettings& settings();
    // The setting "devMode" or the environment variable ORLANGUI_DEV_MODE=1.
    static bool isDevMode();
};
