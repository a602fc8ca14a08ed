#pragma once

#include <QByteArray>
#include <QString>

// The plug-in verification text that device plug-ins export as
// `const char* qt_plugin_query_verification_data()`, next to Qt's own plug-in metadata:
//     pattern=QT_PLUGIN_VERIFICATION_DATA
//     version=4.8.5
//     debug=false
//     buildkey=<build key>
// The build key names the processor architecture, the operating system and the compiler ABI
// family of the build; a host refuses a plug-in whose key differs from its own.
namespace PluginVerification {

constexpr const char* PATTERN = "QT_PLUGIN_VERIFICATION_DATA";
constexpr const char* INTERFACE_VERSION = "4.8.5";
constexpr const char* EXPORT_SYMBOL = "qt_plugin_query_verification_data";

// The build key of the code that includes this header, fixed at its compile time.
inline QByteArray buildKey() {
#if defined(__x86_64__)
    const char* arch = "x86_64";
#elif defined(__aarch64__)
    const char* arch = "arm64";
#elif defined(__i386__)
    const char* arch = "i386";
#else
    const char* arch = "unknown";
#endif
#if defined(__linux__)
    const char* os = "linux";
#elif defined(_WIN32)
    const char* os = "windows";
#else
    const char* os = "unix";
#endif
#if defined(__GNUC__)
    const char* compiler = "g++-4"; // GCC and clang share the Itanium C++ ABI
#elif defined(_MSC_VER)
    const char* compiler = "msvc";
#else
    const char* compiler = "unknown";
#endif
    return QByteArray(arch) + ' ' + os + ' ' + compiler + " full-config";
}

// The complete verification text for the including build.
inline QByteArray verificationText() {
    return QByteArray("pattern=") + PATTERN + "\nversion=" + INTERFACE_VERSION +
           "\ndebug=false\nbuildkey=" + buildKey();
}

// Checks a plug-in's verification text against this host: the pattern line, a 4.x version not
// newer than ours, a release build and the same build key. Returns an empty string when the text
// is acceptable, else the reason.
QString check(const char* text);

} // namespace PluginVerification
