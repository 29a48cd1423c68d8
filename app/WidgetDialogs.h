// Message boxes, questions and the file-open dialog as the user sees them (Qt Widgets).
#pragma once

#include "common/Seams.h"

class WidgetDialogs : public Dialogs {
public:
    void message(const QString& text) override;
    void notice(const QString& text) override;
    bool question(const QString& text) override;
    QString openFileName(const QString& folder, const QString& filter) override;
};

// "TXT Files (*.txt)|*.txt" -> "TXT Files (*.txt)"
QString QtFileFilter(const QString& filter);
