#include "app/ui/DesktopOpener.h"

#include <QObject>
#include <QProcess>

void OpenWithDesktopApplication(const QUrl& url, QObject* context, std::function<void(bool opened)> finished) {
    // No parent: a window closing must not stop the viewer's start.
    auto* process = new QProcess;
    process->setProgram(QStringLiteral("xdg-open"));
    process->setArguments({url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded)});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    // The desktop's services only say whether xdg-open started; its exit
    // status says whether a viewer took the file.
    QObject::connect(process, &QProcess::finished, context, [finished](int code, QProcess::ExitStatus status) {
        if (finished) finished(status == QProcess::NormalExit && code == 0);
    });
    QObject::connect(process, &QProcess::errorOccurred, context, [finished](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && finished) finished(false);
    });
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    QObject::connect(process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) process->deleteLater();
    });
    process->start();
}
