// The settings window shown for a test, with its modem list (lstModems): what the settings tests share.
#pragma once

#include "EngineRig.h"
#include "ShownWindow.h"
#include "settings/frm_Settings.h"

#include <QPushButton>
#include <QTableWidget>

struct SettingsWindow : ShownWindow<frm_Settings> {
    explicit SettingsWindow(EngineRig& rig) : ShownWindow(new frm_Settings(rig.engine)) {}
    QTableWidget* list() const { return get<QTableWidget>(QStringLiteral("lstModems")); }
    void click(const QString& button) const { QTest::mouseClick(get<QPushButton>(button), Qt::LeftButton); }
    // Chooses a modem of the list as the user would, by a click on its row.
    void select(int row) const
    {
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {},
                          list()->visualRect(list()->model()->index(row, 0)).center());
    }
};
