// The About window: the program's title and version.
#pragma once

#include <QDialog>

class frm_About : public QDialog {
    Q_OBJECT
public:
    explicit frm_About(QWidget* parent = nullptr);
};
