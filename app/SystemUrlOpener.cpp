#include "SystemUrlOpener.h"

#include "LumenoLogging.h"
#include "ReaderEnvironment.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>

SystemUrlOpener::SystemUrlOpener(std::function<void(const QUrl&)> failed, QObject* parent)
    : QObject(parent), m_failed(std::move(failed)) {
    for (const QString& scheme : schemes())
        QDesktopServices::setUrlHandler(scheme, this, "openUrl");
}

SystemUrlOpener::~SystemUrlOpener() {
    for (const QString& scheme : schemes())
        QDesktopServices::unsetUrlHandler(scheme);
}

const QStringList& SystemUrlOpener::schemes() {
    static const QStringList kSchemes{QStringLiteral("http"), QStringLiteral("https"),
                                      QStringLiteral("mailto")};
    return kSchemes;
}

void SystemUrlOpener::openUrl(const QUrl& url) {
    open(url, m_failed);
}

void SystemUrlOpener::open(const QUrl& url, std::function<void(const QUrl&)> failed) {
    const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (xdgOpen.isEmpty()) {
        // The platform's own way, without this handler in between.
        const QString scheme = url.scheme();
        const bool handled = schemes().contains(scheme);
        if (handled)
            QDesktopServices::unsetUrlHandler(scheme);
        const bool opened = QDesktopServices::openUrl(url);
        if (handled)
            QDesktopServices::setUrlHandler(scheme, this, "openUrl");
        if (!opened && failed)
            failed(url);
        return;
    }
    // Not this object's child: a browser that xdg-open waits for may outlive the reader's
    // windows, and must not be cut from its output then.
    auto* process = new QProcess;
    process->setProgram(xdgOpen);
    process->setArguments(
        {url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded)});
    process->setProcessEnvironment(ReaderEnvironment::forStartedPrograms());
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    auto started = std::make_shared<QElapsedTimer>();
    const QPointer<SystemUrlOpener> self(this);
    auto ended = [self, process, started, url, failed = std::move(failed)](bool ok) {
        process->deleteLater();
        if (ok || started->elapsed() > kLongestStartMs)
            return;
        qCWarning(lcWindow).noquote()
            << "xdg-open did not open" << logSafe(url.toString(QUrl::FullyEncoded));
        if (self && failed)
            failed(url);
    };
    connect(process, &QProcess::finished, process, [ended](int code, QProcess::ExitStatus status) {
        ended(status == QProcess::NormalExit && code == 0);
    });
    connect(process, &QProcess::errorOccurred, process, [ended](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            ended(false);
    });
    started->start();
    process->start();
}
