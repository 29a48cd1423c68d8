// The splash window: the program's title and version; closes on a click, a key or after three seconds.
#pragma once

#include <QTimer>
#include <QWidget>

QString VersionText(); // "Version " major.minor.revision

class frmSplash : public QWidget {
    Q_OBJECT
public:
    explicit frmSplash(QWidget* parent = nullptr);

Q_SIGNALS:
    void finished();

protected:
    void mousePressEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void closeEvent(QCloseEvent*) override;

private:
    QTimer timer;
    bool done = false;
};
