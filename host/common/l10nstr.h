#pragma once

#include <QString>

// A user-visible text whose translation is looked up when it is shown, not when it is made. Texts
// registered at start-up (notifications) keep their source so they follow a later language change.
class L10nStr {
public:
    L10nStr() = default;
    // `context` is the translation context (class name); the source text is kept as given.
    L10nStr(const char* context, const char* sourceText);

    // A translatable text in the common context "OrlanGUI".
    static L10nStr tr(const char* sourceText, const char* context = "OrlanGUI");
    // A text that is shown as it is (already translated, or data such as a file name).
    static L10nStr fromPlain(const QString& text);

    // The text in the current language.
    QString translated() const;
    QString source() const { return sourceText; }
    QString context() const { return contextName; }
    bool isEmpty() const { return sourceText.isEmpty(); }
    operator QString() const { return translated(); }

    bool operator==(const L10nStr& other) const {
        return contextName == other.contextName && sourceText == other.sourceText && plain == other.plain;
    }
    bool operator!=(const L10nStr& other) const { return !(*this == other); }

private:
    QString contextName;
    QString sourceText;
    bool plain = false;
};
