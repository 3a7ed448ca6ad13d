#include "translator.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

// Built by lrelease from veltrin_en.ts and compiled into the program.
const char* const ENGLISH_QM = ":/veltrin/i18n/veltrin_en.qm";

QTranslator& OurTranslator()
{
    static QTranslator s_translator;
    return s_translator;
}

QTranslator& QtTranslator()
{
    static QTranslator s_translator;
    return s_translator;
}

} // namespace

bool InstallTranslations(QCoreApplication& app, const QLocale& locale)
{
    RemoveTranslations(app);
    if (QtTranslator().load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&QtTranslator());
    if (locale.language() != QLocale::English)
        return false;  // the source texts are the Chinese ones
    if (!OurTranslator().load(QString::fromLatin1(ENGLISH_QM)))
        return false;
    return app.installTranslator(&OurTranslator());
}

void RemoveTranslations(QCoreApplication& app)
{
    app.removeTranslator(&OurTranslator());
    app.removeTranslator(&QtTranslator());
}
