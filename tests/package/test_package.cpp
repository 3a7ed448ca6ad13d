// The Debian package, built by CPack from this build and read back with dpkg-deb: its fields,
// the files it installs, a metainfo file appstreamcli accepts, icons of the sizes their folders
// say, man pages that list every option the programs' --help lists, and programs that run.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

struct Output {
    int nExit = -1;
    QString strOut;
    QString strErr;
};

Output Exec(const QString& strProgram, const QStringList& args, const QString& strDir = QString())
{
    QProcess proc;
    if (!strDir.isEmpty())
        proc.setWorkingDirectory(strDir);
    proc.start(strProgram, args);
    Output o;
    if (!proc.waitForFinished(300000))
        return o;
    o.nExit = proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -1;
    o.strOut = QString::fromUtf8(proc.readAllStandardOutput());
    o.strErr = QString::fromUtf8(proc.readAllStandardError());
    return o;
}

// The long options a program's --help names.
QStringList HelpOptions(const QString& strProgram)
{
    const Output help = Exec(strProgram, {QStringLiteral("--help")});
    QStringList options;
    static const QRegularExpression re(QStringLiteral("(?<![\\w-])--[a-z][a-z-]*[a-z]"));
    for (auto it = re.globalMatch(help.strOut); it.hasNext();) {
        const QString strOption = it.next().captured(0);
        if (!options.contains(strOption))
            options << strOption;
    }
    return options;
}

class PackageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_pDir = new QTemporaryDir;
        const Output made = Exec(QStringLiteral(CPACK_COMMAND),
                                 {"-G", "DEB", "-B", s_pDir->path(), "--config",
                                  qEnvironmentVariable("VELTRIN_BINARY_DIR") + "/CPackConfig.cmake"},
                                 qEnvironmentVariable("VELTRIN_BINARY_DIR"));
        s_strMade = made.strOut + made.strErr;
        const QStringList debs = QDir(s_pDir->path()).entryList({QStringLiteral("*.deb")});
        if (debs.size() == 1)
            s_strDeb = s_pDir->filePath(debs.first());
        s_strRoot = s_pDir->filePath(QStringLiteral("root"));
        if (!s_strDeb.isEmpty())
            Exec(QStringLiteral("dpkg-deb"), {"-x", s_strDeb, s_strRoot});
    }
    static void TearDownTestSuite()
    {
        delete s_pDir;
        s_pDir = nullptr;
    }
    void SetUp() override { ASSERT_FALSE(s_strDeb.isEmpty()) << "cpack made no package:\n" << qPrintable(s_strMade); }
    static QString Field(const char* pszName)
    {
        return Exec(QStringLiteral("dpkg-deb"), {"-f", s_strDeb, QString::fromLatin1(pszName)}).strOut.trimmed();
    }
    static QString Installed(const QString& strPath) { return s_strRoot + strPath; }

    static QTemporaryDir* s_pDir;
    static QString s_strDeb;
    static QString s_strRoot;
    static QString s_strMade;
};

QTemporaryDir* PackageTest::s_pDir = nullptr;
QString PackageTest::s_strDeb;
QString PackageTest::s_strRoot;
QString PackageTest::s_strMade;

TEST_F(PackageTest, NameVersionAndDependencies)
{
    const QString strArch = Exec(QStringLiteral("dpkg"), {"--print-architecture"}).strOut.trimmed();
    EXPECT_EQ(QFileInfo(s_strDeb).fileName(), QStringLiteral("veltrin_%1_%2.deb").arg(QStringLiteral(PROJECT_VERSION_FOR_TEST), strArch));
    EXPECT_EQ(Field("Package"), QStringLiteral("veltrin"));
    EXPECT_EQ(Field("Version"), QStringLiteral(PROJECT_VERSION_FOR_TEST));
    EXPECT_EQ(Field("Architecture"), strArch);
    // Computed from the binaries, plus what no library names: the platform plugins and the font.
    const QString strDepends = Field("Depends");
    for (const char* pszPackage : {"libc6", "libstdc++6", "libqt6core6", "libqt6gui6", "libqt6widgets6",
                                   "libqt6serialport6", "qt6-qpa-plugins", "fonts-arphic-uming"})
        EXPECT_TRUE(strDepends.contains(QRegularExpression(QStringLiteral("(^|, )%1( |,|$)").arg(QRegularExpression::escape(pszPackage)))))
            << pszPackage << " missing from " << qPrintable(strDepends);
}

TEST_F(PackageTest, InstallsTheProgramsAndWhatTheDesktopNeeds)
{
    QStringList want = {"/usr/bin/Veltrin", "/usr/bin/sensor-sim", "/usr/bin/sensor-decode",
                        "/usr/share/applications/veltrin.desktop",
                        "/usr/share/icons/hicolor/scalable/apps/veltrin.svg",
                        "/usr/share/metainfo/org.veltrin.Veltrin.metainfo.xml",
                        "/usr/share/man/man1/Veltrin.1.gz", "/usr/share/man/man1/sensor-sim.1.gz",
                        "/usr/share/man/man1/sensor-decode.1.gz", "/usr/share/doc/veltrin/copyright"};
    for (int n : {16, 32, 48, 64, 128, 256})
        want << QStringLiteral("/usr/share/icons/hicolor/%1x%1/apps/veltrin.png").arg(n);
    QStringList files;
    for (QDirIterator it(s_strRoot, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        files << it.next().mid(s_strRoot.size());
    files.sort();
    want.sort();
    EXPECT_EQ(files, want);  // and nothing else: no tests, no headers, nothing outside /usr

    for (int n : {16, 32, 48, 64, 128, 256})
        EXPECT_EQ(QImage(Installed(QStringLiteral("/usr/share/icons/hicolor/%1x%1/apps/veltrin.png").arg(n))).size(),
                  QSize(n, n));
    QFile desktop(Installed(QStringLiteral("/usr/share/applications/veltrin.desktop")));
    ASSERT_TRUE(desktop.open(QIODevice::ReadOnly));
    const QString strDesktop = QString::fromUtf8(desktop.readAll());
    EXPECT_TRUE(strDesktop.contains(QStringLiteral("\nExec=Veltrin\n")));
    EXPECT_TRUE(strDesktop.contains(QStringLiteral("\nIcon=veltrin\n")));

    const Output version = Exec(Installed(QStringLiteral("/usr/bin/Veltrin")), {QStringLiteral("--version")});
    EXPECT_EQ(version.strOut.trimmed(), QStringLiteral("Veltrin %1").arg(QStringLiteral(PROJECT_VERSION_FOR_TEST)));
    for (const char* pszTool : {"/usr/bin/sensor-sim", "/usr/bin/sensor-decode"})
        EXPECT_EQ(Exec(Installed(QString::fromLatin1(pszTool)), {QStringLiteral("--help")}).nExit, 0) << pszTool;
}

TEST_F(PackageTest, MetainfoIsValid)
{
    const Output check = Exec(QStringLiteral("appstreamcli"),
                              {"validate", "--no-net", Installed(QStringLiteral("/usr/share/metainfo/org.veltrin.Veltrin.metainfo.xml"))});
    EXPECT_EQ(check.nExit, 0) << qPrintable(check.strOut + check.strErr);
    QFile meta(Installed(QStringLiteral("/usr/share/metainfo/org.veltrin.Veltrin.metainfo.xml")));
    ASSERT_TRUE(meta.open(QIODevice::ReadOnly));
    EXPECT_TRUE(meta.readAll().contains(QStringLiteral("<release version=\"%1\"").arg(QStringLiteral(PROJECT_VERSION_FOR_TEST)).toUtf8()));
}

TEST_F(PackageTest, ManPagesListEveryOptionOfTheHelp)
{
    for (const char* pszProgram : {"Veltrin", "sensor-sim", "sensor-decode"}) {
        const QString strPage = Installed(QStringLiteral("/usr/share/man/man1/%1.1.gz").arg(QString::fromLatin1(pszProgram)));
        const Output page = Exec(QStringLiteral("gzip"), {"-dc", strPage});
        ASSERT_EQ(page.nExit, 0) << qPrintable(strPage);
        EXPECT_TRUE(page.strOut.contains(QStringLiteral("Veltrin %1").arg(QStringLiteral(PROJECT_VERSION_FOR_TEST))))
            << pszProgram;
        // Roff writes a dash in an option as \-.
        QString strText = page.strOut;
        strText.replace(QStringLiteral("\\-"), QStringLiteral("-"));
        const QStringList options = HelpOptions(Installed(QStringLiteral("/usr/bin/%1").arg(QString::fromLatin1(pszProgram))));
        EXPECT_FALSE(options.isEmpty()) << pszProgram;
        for (const QString& strOption : options)
            EXPECT_TRUE(strText.contains(strOption)) << pszProgram << ": " << qPrintable(strOption)
                                                     << " is in --help but not in its man page";
    }
}

} // namespace
