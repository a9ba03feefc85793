#include "app/Alerts.h"

#include "app/SoundSettings.h"

#include <QMessageBox>
#include <QPushButton>

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
