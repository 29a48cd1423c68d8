// The modem panel's list: one row per modem with its state, its radio and SIM as the last health poll found
// them, and what it sent, holds and failed. Fed with the sessions' status values; the counts come from a
// function the program gives (the model never reads the database itself), asked again at most once per
// interval however often the folders change. Also the status bar's one-line summary of several modems.
#pragma once

#include "delivery/ModemSession.h"
#include "store/ModemsRepository.h"

#include <QAbstractTableModel>
#include <QList>
#include <QTimer>
#include <functional>

// What the panel shows of one modem.
struct ModemPanelRow {
    ModemStatus status;
    bool switchedOn = true; // switched off in the settings: listed, never connected
    ModemCounts counts;
};

class ModemPanelModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Name, Port, State, Signal, Registration, Operator, Sim, SentToday, Queued, Failed, ColumnCount };
    using Counter = std::function<ModemCounts(int modemId)>;

    explicit ModemPanelModel(Counter counter, QObject* parent = nullptr);

    // Adds the modem's row, or updates it; a new row gets its counts at once.
    void setStatus(const ModemStatus& status, bool switchedOn = true);
    // The folders changed: the counts are asked again now, or at the end of the interval when they were just
    // asked.
    void refreshCounts();
    void setCountsInterval(int ms) { countsTimer.setInterval(ms); }

    const QList<ModemPanelRow>& modems() const { return rows; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void recount();

    Counter counter;
    QList<ModemPanelRow> rows;
    QTimer countsTimer;
    bool countsDue = false;
};

// The state column's words: Connected, Connecting, Waiting to try again, Disconnected or Switched off.
QString ModemStateText(const ModemPanelRow& row);
// The status bar's line for several modems: how many of the switched-on ones are ready, how many messages
// wait in the Outbox (when any), and the first modem's problem (when one has a problem).
QString ModemSummaryLine(const QList<ModemPanelRow>& modems, qint64 queued);
