#include "app/frmSplash.h"

#include <QCloseEvent>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

QString VersionText()
{
    return QStringLiteral("Version %1.%2.%3")
        .arg(BROADTEXT_VERSION_MAJOR)
        .arg(BROADTEXT_VERSION_MINOR)
        .arg(BROADTEXT_VERSION_PATCH);
}

frmSplash::frmSplash(QWidget* parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    auto* picture = new QLabel(this);
    picture->setPixmap(style()->standardIcon(QStyle::SP_DriveNetIcon).pixmap(96, 96));
    picture->setAlignment(Qt::AlignCenter);
    auto* title = new QLabel(QStringLiteral("Broadtext"), this);
    title->setObjectName(QStringLiteral("lblProductName"));
    QFont f = title->font();
    f.setPointSize(f.pointSize() * 2);
    f.setBold(true);
    title->setFont(f);
    title->setAlignment(Qt::AlignCenter);
    auto* version = new QLabel(VersionText(), this);
    version->setObjectName(QStringLiteral("lblVersion"));
    version->setAlignment(Qt::AlignCenter);
    auto* company = new QLabel(QStringLiteral("Velmora"), this);
    company->setAlignment(Qt::AlignCenter);
    layout->addWidget(picture);
    layout->addWidget(title);
    layout->addWidget(version);
    layout->addWidget(company);
    resize(420, 260);

    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &QWidget::close);
    timer.start(3000);
}

void frmSplash::mousePressEvent(QMouseEvent*)
{
    close();
}

void frmSplash::keyPressEvent(QKeyEvent*)
{
    close();
}

void frmSplash::closeEvent(QCloseEvent* event)
{
    if (!done) {
        done = true;
        Q_EMIT finished();
    }
    event->accept();
}
