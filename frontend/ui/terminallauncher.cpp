#include "terminallauncher.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace tarvik {

std::optional<QString> TerminalLauncher::commandFor(const QString& program, const QString& workDir,
                                                   const QString& ownDir) {
    auto runnable = [](const QFileInfo& f) { return f.isFile() && f.isExecutable(); };
    if (runnable(QFileInfo(workDir + QLatin1Char('/') + program))) return QStringLiteral("./") + program;
    if (ownDir.isEmpty()) return std::nullopt;
    QFileInfo beside(ownDir + QLatin1Char('/') + program);
    if (runnable(beside)) return beside.absoluteFilePath();
    return std::nullopt;
}

std::optional<std::string> TerminalLauncher::start(const std::string& program,
                                                   const std::filesystem::path& workDir) {
    const QString dir = QString::fromStdString(workDir.string());
    const QString name = QString::fromStdString(program);
    const auto found = commandFor(name, dir, QCoreApplication::applicationDirPath());
    if (!found)
        return QCoreApplication::translate("tarvik::TerminalLauncher", "作業フォルダ %1 に %2 がありません")
            .arg(dir, name)
            .toStdString();
    const QString command = *found;

    // Both terminals take -T (title) and -e (the command and its arguments).
    const QStringList args{QStringLiteral("-T"), name, QStringLiteral("-e"), command};
    // The programs print Japanese in UTF-8: give the terminal a UTF-8
    // character set when the session has none.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString ctype = env.value(QStringLiteral("LC_ALL"));
    if (ctype.isEmpty()) ctype = env.value(QStringLiteral("LC_CTYPE"));
    if (ctype.isEmpty()) ctype = env.value(QStringLiteral("LANG"));
    if (!ctype.contains(QLatin1String("UTF-8"), Qt::CaseInsensitive) &&
        !ctype.contains(QLatin1String("utf8"), Qt::CaseInsensitive)) {
        env.remove(QStringLiteral("LC_ALL"));
        env.insert(QStringLiteral("LC_CTYPE"), QStringLiteral("C.UTF-8"));
    }

    for (const char* terminal : {"x-terminal-emulator", "xterm"}) {
        QString path = QStandardPaths::findExecutable(QString::fromLatin1(terminal));
        if (path.isEmpty()) continue;
        QProcess process;
        process.setProgram(path);
        process.setArguments(args);
        process.setWorkingDirectory(dir);
        process.setProcessEnvironment(env);
        if (process.startDetached()) return std::nullopt;
    }
    return QCoreApplication::translate("tarvik::TerminalLauncher",
                                       "端末ウィンドウ（x-terminal-emulator、xterm）を起動できません")
        .toStdString();
}

} // namespace tarvik
