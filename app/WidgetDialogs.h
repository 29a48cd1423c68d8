// Message boxes, questions, choices, the file-open dialog and the file manager as the user sees them.
#pragma once

#include "common/Seams.h"

class WidgetDialogs : public Dialogs {
public:
    void message(const QString& text) override;
    void notice(const QString& text) override;
    bool question(const QString& text) override;
    int choice(const QString& text, const QStringList& buttons) override;
    void showFolder(const QString& path) override;
    QString openFileName(const QString& folder, const QString& filter) override;
    QString saveFileName(const QString& suggested, const QString& filter) override;
};

// "TXT Files (*.txt)|*.txt" -> "TXT Files (*.txt)"
QString QtFileFilter(const QString& filter);
