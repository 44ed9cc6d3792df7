#include "terminallauncher.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace tarvik {

std::optional<std::string> TerminalLauncher::start(const std::string& program,
                                                   const std::filesystem::path& workDir) {
    const QString dir = QString::fromStdString(workDir.string());
    const QString name = QString::fromStdString(program);
    QFileInfo exe(dir + QLatin1Char('/') + name);
    if (!exe.isFile() || !exe.isExecutable())
        return "作業フォルダ " + dir.toStdString() + " に " + program + " がありません";

    // Both terminals take -T (title) and -e (the command and its arguments).
    const QStringList args{QStringLiteral("-T"), name, QStringLiteral("-e"), QStringLiteral("./") + name};
    for (const char* terminal : {"x-terminal-emulator", "xterm"}) {
        QString path = QStandardPaths::findExecutable(QString::fromLatin1(terminal));
        if (path.isEmpty()) continue;
        if (QProcess::startDetached(path, args, dir)) return std::nullopt;
    }
    return "端末ウィンドウ（x-terminal-emulator、xterm）を起動できません";
}

} // namespace tarvik
