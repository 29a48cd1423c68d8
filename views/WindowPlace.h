// Windows open where the user left them: the size and position of every named window (and which docks of a
// main window are open, and where), and the widths the user gave to list columns, kept in broadtext.conf
// beside the database.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

struct AppState;
class QHeaderView;

// Watches every window of the program: a named window is put back in its last place when it is shown, and
// its place is kept when it is hidden or closed (and when the program ends).
class WindowPlaces : public QObject {
    Q_OBJECT
public:
    WindowPlaces(const AppState& state, QObject* parent);
    ~WindowPlaces() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const AppState& state;
};

// Puts back the widths stored under key and returns them (0 for a column that was hidden then), or nothing
// (no change) when none are stored. A list can gain a last column and lose it again: widths kept without it
// still fit the columns they were kept for (the caller sizes the new one), and a width kept for a column the
// list does not have now is passed over.
QList<int> RestoreColumnWidths(const AppState& state, QHeaderView* header, const QString& key);
// Keeps the header's column widths under key.
void KeepColumnWidths(const AppState& state, const QHeaderView* header, const QString& key);
