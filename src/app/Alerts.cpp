#include "app/Alerts.h"

#include "app/SoundSettings.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>

namespace bopling {

bool confirmRemoval(const QString &name)
{
    QMessageBox alert;
    alert.setIcon(QMessageBox::Warning);
    alert.setWindowTitle(QStringLiteral("Bopling"));
    alert.setText(QStringLiteral("Remove %1?").arg(name));
    alert.setInformativeText(QStringLiteral("The creature's sprites are deleted from this "
                                            "computer. You can make it again from a photo."));
    QPushButton *remove = alert.addButton(QStringLiteral("Remove"), QMessageBox::AcceptRole);
    alert.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    alert.setDefaultButton(remove);
    // The program has no window of its own in front: bring the question there.
    alert.setWindowFlag(Qt::WindowStaysOnTopHint);
    alert.show();
    alert.raise();
    alert.activateWindow();
    alert.exec();
    return alert.clickedButton() == alert.defaultButton();
}

namespace {

void showAddress(const QUrl &url)
{
    const QString address = url.toString();
    auto *message = new QMessageBox(
        QMessageBox::Information, QStringLiteral("Bopling"),
        QStringLiteral("No web browser could open Claude Code's page. Copy this address into "
                       "a browser to learn how to install it:"));
    message->setInformativeText(address);
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPushButton *copy = message->addButton(QStringLiteral("Copy address"), QMessageBox::AcceptRole);
    message->addButton(QMessageBox::Close);
    message->setDefaultButton(copy);
    QObject::connect(message, &QMessageBox::buttonClicked, message, [copy, address](auto *button) {
        if (button == copy)
            QGuiApplication::clipboard()->setText(address);
    });
    message->setAttribute(Qt::WA_DeleteOnClose);
    message->setWindowFlag(Qt::WindowStaysOnTopHint);
    message->open();
    message->raise();
    message->activateWindow();
}

} // namespace

void openLink(const QUrl &url)
{
    // QDesktopServices only says whether it could start xdg-open; xdg-open's
    // own exit status says whether anything opened the page.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        if (!QDesktopServices::openUrl(url))
            showAddress(url);
        return;
    }
    auto *process = new QProcess;
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(process, &QProcess::finished, process,
                     [process, url](int code, QProcess::ExitStatus status) {
                         if (status != QProcess::NormalExit || code != 0)
                             showAddress(url);
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, url](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         showAddress(url);
                         process->deleteLater();
                     });
    process->start(opener, {url.toString(QUrl::FullyEncoded)});
}

void showSoundSettingsMissing()
{
    auto *message = new QMessageBox(QMessageBox::Information, QStringLiteral("Bopling"),
                                    soundSettingsMissingText(), QMessageBox::Ok);
    message->setAttribute(Qt::WA_DeleteOnClose);
    message->setWindowFlag(Qt::WindowStaysOnTopHint);
    message->open();
    message->raise();
    message->activateWindow();
}

} // namespace bopling
