#include "app/WidgetDialogs.h"

#include "common/AppState.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace {

QWidget* owner()
{
    if (QWidget* w = QApplication::activeModalWidget())
        return w;
    return QApplication::activeWindow();
}

QString shown(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

QString QtFileFilter(const QString& filter)
{
    QStringList parts = filter.split(QLatin1Char('|'));
    QStringList names;
    for (qsizetype i = 0; i < parts.size(); i += 2)
        names << parts.at(i);
    return names.join(QStringLiteral(";;"));
}

void WidgetDialogs::message(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(ProgramTitle), shown(text), QMessageBox::Ok, owner());
    box.exec();
}

void WidgetDialogs::notice(const QString& text)
{
    // Not exec(): the box stays up while the event loop (and with it the modem work) goes on.
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromLatin1(ProgramTitle), shown(text), QMessageBox::Ok,
                                QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

bool WidgetDialogs::question(const QString& text)
{
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(ProgramTitle), shown(text),
                    QMessageBox::Yes | QMessageBox::No, owner());
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

int WidgetDialogs::choice(const QString& text, const QStringList& buttons)
{
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(ProgramTitle), shown(text), QMessageBox::NoButton,
                    owner());
    QList<QPushButton*> pushed;
    for (qsizetype i = 0; i < buttons.size(); ++i)
        pushed << box.addButton(buttons[i],
                                i + 1 == buttons.size() ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
    if (!pushed.isEmpty()) {
        box.setDefaultButton(pushed.first());
        box.setEscapeButton(pushed.last());
    }
    box.exec();
    const qsizetype i = pushed.indexOf(qobject_cast<QPushButton*>(box.clickedButton()));
    return int(i < 0 ? buttons.size() - 1 : i);
}

void WidgetDialogs::showFolder(const QString& path)
{
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        message(QStringLiteral("The folder %1 could not be shown. Please open it in your file manager.").arg(path));
}

QString WidgetDialogs::openFileName(const QString& folder, const QString& filter)
{
    return QFileDialog::getOpenFileName(owner(), QString::fromLatin1(ProgramTitle), folder, QtFileFilter(filter));
}

QString WidgetDialogs::saveFileName(const QString& suggested, const QString& filter)
{
    return QFileDialog::getSaveFileName(owner(), QString::fromLatin1(ProgramTitle), suggested, QtFileFilter(filter));
}
