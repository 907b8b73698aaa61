#pragma once

#include <QLocale>
#include <QTranslator>

#include <memory>
#include <vector>

enum class UiLanguage { Chinese, English };

// Chinese is the program's own language and that of the plain C/POSIX locale; every other
// language gets English.
UiLanguage uiLanguageFor(const QLocale &locale);

// The program's texts and Qt's own texts (box buttons, context menus) in one language, installed
// in the application for as long as this object lives.
// Text drawn from the glyphs' own outlines and advances, not snapped to the pixel grid. Call once,
// after the application object is made and before the first widget.
void useUnhintedText();

class Translations
{
public:
    Translations(UiLanguage language, const QLocale &locale);
    ~Translations();
    Translations(const Translations &) = delete;
    Translations &operator=(const Translations &) = delete;

private:
    void install(std::unique_ptr<QTranslator> translator);
    std::vector<std::unique_ptr<QTranslator>> installed;
};
