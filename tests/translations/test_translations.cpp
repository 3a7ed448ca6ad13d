// Every on-screen text in the sources has a finished English translation (so a merge cannot
// add untranslated texts unnoticed), the translations keep their placeholders, and the English
// texts are chosen for an English locale only.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include "mscomm.h"
#include "translator.h"

namespace {

struct TsMessage {
    QString strContext;
    QString strSource;
    QString strTranslation;
    QString strType;  // "unfinished", "vanished", "obsolete" or empty
};

QList<TsMessage> ReadTs(const QString& strFile)
{
    QList<TsMessage> messages;
    QFile file(strFile);
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    QXmlStreamReader xml(&file);
    QString strContext;
    TsMessage current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name"))
            strContext = xml.readElementText();
        else if (xml.name() == QLatin1String("message"))
            current = TsMessage{strContext, {}, {}, {}};
        else if (xml.name() == QLatin1String("source"))
            current.strSource = xml.readElementText();
        else if (xml.name() == QLatin1String("translation")) {
            current.strType = xml.attributes().value(QLatin1String("type")).toString();
            current.strTranslation = xml.readElementText();
            messages.append(current);
        }
    }
    EXPECT_FALSE(xml.hasError()) << qPrintable(xml.errorString());
    return messages;
}

QSet<QString> Placeholders(const QString& strText)
{
    QSet<QString> found;
    static const QRegularExpression re(QStringLiteral("%(\\d+)"));
    for (auto it = re.globalMatch(strText); it.hasNext();)
        found.insert(it.next().captured(0));
    return found;
}

QString TsFile() { return qEnvironmentVariable("VELTRIN_SOURCE_DIR") + QStringLiteral("/translations/veltrin_en.ts"); }

TEST(Translations, EveryTextInTheSourcesHasAFinishedEnglishTranslation)
{
    // lupdate over the sources, as scripts/update-translations runs it, into a copy of the .ts:
    // new texts come in unfinished, finished ones keep their translation.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString strCopy = dir.filePath(QStringLiteral("veltrin_en.ts"));
    ASSERT_TRUE(QFile::copy(TsFile(), strCopy));
    QFile::setPermissions(strCopy, QFile::ReadOwner | QFile::WriteOwner);
    QProcess update;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LUPDATE"), QStringLiteral(LUPDATE_PATH));
    update.setProcessEnvironment(env);
    update.start(qEnvironmentVariable("VELTRIN_SOURCE_DIR") + QStringLiteral("/scripts/update-translations"),
                 {QStringLiteral("--ts"), strCopy});
    ASSERT_TRUE(update.waitForFinished(120000));
    ASSERT_EQ(update.exitCode(), 0) << update.readAllStandardError().constData();

    const QList<TsMessage> messages = ReadTs(strCopy);
    EXPECT_FALSE(messages.isEmpty());
    QStringList missing;
    for (const TsMessage& m : messages)
        if (m.strType == QLatin1String("unfinished") || m.strTranslation.isEmpty())
            missing << m.strContext + QStringLiteral(": ") + m.strSource;
    EXPECT_TRUE(missing.isEmpty()) << "texts without a finished English translation in "
                                   << qPrintable(TsFile()) << " (run scripts/update-translations, then "
                                   << "translate them):\n  " << qPrintable(missing.join(QStringLiteral("\n  ")));
}

TEST(Translations, KeepThePlaceholdersAndAreEnglish)
{
    static const QRegularExpression han(QStringLiteral("[\\x{3000}-\\x{303F}\\x{4E00}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));
    for (const TsMessage& m : ReadTs(TsFile())) {
        if (m.strType == QLatin1String("vanished") || m.strType == QLatin1String("obsolete"))
            continue;
        EXPECT_EQ(Placeholders(m.strSource), Placeholders(m.strTranslation))
            << qPrintable(m.strSource) << " -> " << qPrintable(m.strTranslation);
        EXPECT_FALSE(han.match(m.strTranslation).hasMatch()) << "not English: " << qPrintable(m.strTranslation);
    }
}

TEST(Translations, EnglishForAnEnglishLocaleOnly)
{
    QCoreApplication& app = *QCoreApplication::instance();
    ASSERT_TRUE(InstallTranslations(app, QLocale(QLocale::English, QLocale::UnitedKingdom)));
    CMSComm comm;
    try {
        comm.SetCommPort(0);
        ADD_FAILURE() << "port 0 accepted";
    } catch (const CommError& e) {
        EXPECT_EQ(e.Description(), QStringLiteral("Invalid port number 0."));
    }
    EXPECT_FALSE(InstallTranslations(app, QLocale(QLocale::Chinese, QLocale::China)));
    EXPECT_EQ(CMSComm::tr("端口号 %1 无效。"), QStringLiteral("端口号 %1 无效。"));
    EXPECT_FALSE(InstallTranslations(app, QLocale(QLocale::German, QLocale::Germany)));
    RemoveTranslations(app);
}

} // namespace
