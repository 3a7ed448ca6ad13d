#pragma once
// The texts we add to the screen are written in Chinese, like the console's own; an English
// translation is chosen when the user's locale is English. Qt's own texts (button labels)
// follow the locale wherever Qt ships a translation for it.
#include <QLocale>

class QCoreApplication;

// Installs the translations for locale on app; true when the English texts were installed.
bool InstallTranslations(QCoreApplication& app, const QLocale& locale = QLocale());
// Takes them off again.
void RemoveTranslations(QCoreApplication& app);
