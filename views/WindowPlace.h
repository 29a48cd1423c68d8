// Windows open where the user left them: the size and position of every named window (and which docks of a
// main window are open, and where), and the widths the user gave to list columns, kept in broadtext.conf
// beside the database.
#pragma once

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

// The widths stored under key for a list of that many columns; false (nothing changed) when none are.
bool RestoreColumnWidths(const AppState& state, QHeaderView* header, const QString& key);
// Keeps the header's column widths under key.
void KeepColumnWidths(const AppState& state, const QHeaderView* header, const QString& key);
