#include "app/frm_About.h"

#include "app/frmSplash.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

frm_About::frm_About(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frm_About"));
    setWindowTitle(QStringLiteral("About Broadtext"));
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("Broadtext"), this);
    title->setObjectName(QStringLiteral("lblTitle"));
    QFont f = title->font();
    f.setBold(true);
    f.setPointSize(f.pointSize() + 4);
    title->setFont(f);
    auto* version = new QLabel(VersionText(), this);
    version->setObjectName(QStringLiteral("lblVersion"));
    auto* text = new QLabel(QStringLiteral("Sends and receives SMS through a GSM modem.\nVelmora"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->setObjectName(QStringLiteral("cmdOK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(title);
    layout->addWidget(version);
    layout->addWidget(text);
    layout->addWidget(buttons);
}
