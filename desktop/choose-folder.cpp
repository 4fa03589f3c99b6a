// Started from the menu entry "Kolmiras – gör och ändra övningar": asks the teacher for the
// exercise's folder and starts the editor there. The editor itself reads no command line and
// works in the folder it is started in, and a menu has no folder to give it.
//
// The dialog is the desktop's own where Qt has a theme for it (GTK or a portal), and Qt's
// otherwise. It starts in the home folder, where a teacher keeps exercises; the folder may be
// empty, for a new exercise, or hold one to mend.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

#include <cerrno>
#include <cstring>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QByteArray editor;
    {
        QApplication app(argc, argv);
        QTranslator words;
        if (words.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            app.installTranslator(&words);
        // Installed in libexec/pirvel/, two levels beside bin/ where the editor is.
        editor = QFile::encodeName(
            QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/../../bin"))
                .absoluteFilePath(QStringLiteral("kolmiras")));
        const QString folder = QFileDialog::getExistingDirectory(
            nullptr, QStringLiteral("Kolmiras: välj övningens mapp"), QDir::homePath());
        if (folder.isEmpty())
            return 0;
        if (!QDir::setCurrent(folder)) {
            QMessageBox::critical(nullptr, QStringLiteral("Kolmiras"),
                                  QStringLiteral("Mappen \"%1\" kunde inte öppnas. Se efter att "
                                                 "den finns och att du får öppna den, eller "
                                                 "kopiera övningen till din hemmapp.")
                                      .arg(folder));
            return 2;
        }
        if (::access(editor.constData(), X_OK) != 0) {
            QMessageBox::critical(nullptr, QStringLiteral("Kolmiras"),
                                  QStringLiteral("Programmet Kolmiras saknas i installationen "
                                                 "(%1). Installera Pirvel på nytt.")
                                      .arg(QFile::decodeName(editor)));
            return 2;
        }
    }
    // The dialog's window and connection are gone before the editor takes the process over.
    ::execl(editor.constData(), "kolmiras", static_cast<char *>(nullptr));
    const int error = errno;
    ::fprintf(stderr, "kolmiras kan inte startas: %s\n", std::strerror(error));
    return 2;
}
