#include "app/language.h"

#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QLibraryInfo>

UiLanguage uiLanguageFor(const QLocale &locale)
{
    switch (locale.language()) {
    case QLocale::Chinese:
    case QLocale::C:
        return UiLanguage::Chinese;
    default:
        return UiLanguage::English;
    }
}

void useUnhintedText()
{
    // The hinter works through every distinct glyph of the form before the first frame can be
    // shown, a hundred Chinese ones among them: a tenth of the start-up. Unhinted, a text is also
    // as wide at every size and screen scale as it was designed.
    QFont font = QGuiApplication::font();
    font.setHintingPreference(QFont::PreferNoHinting);
    QGuiApplication::setFont(font);
}

Translations::Translations(UiLanguage language, const QLocale &locale)
{
    // Qt speaks the same language as the program: the locale's own Chinese where it is Chinese.
    QLocale qtLocale(QLocale::English);
    if (language == UiLanguage::Chinese)
        qtLocale = locale.language() == QLocale::Chinese
                       ? locale
                       : QLocale(QLocale::Chinese, QLocale::China);
    const QString qtDirectory = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const char *catalogue : {"qtbase", "qtserialport"}) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(qtLocale, QLatin1String(catalogue), QStringLiteral("_"), qtDirectory))
            install(std::move(translator));
    }
    // The program's texts are written in Chinese; other languages come from its catalogue.
    if (language == UiLanguage::English) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(QStringLiteral(":/i18n/rfcfgtool_en.qm")))
            install(std::move(translator));
    }
}

Translations::~Translations()
{
    for (const auto &translator : installed)
        QCoreApplication::removeTranslator(translator.get());
}

void Translations::install(std::unique_ptr<QTranslator> translator)
{
    QCoreApplication::installTranslator(translator.get());
    installed.push_back(std::move(translator));
}
