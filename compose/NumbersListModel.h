// The rows of the wizard's numbers list: a number, in separate-message mode a message, and a check mark
// per row. Kept as plain vectors so that a list of a hundred thousand numbers fills and scrolls at once.
#pragma once

#include "compose/NumberSources.h"

#include <QAbstractTableModel>
#include <functional>
#include <vector>

class NumbersListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit NumbersListModel(QObject* parent = nullptr);

    // Adds the "Message" column (separate-message mode).
    void setMessageColumn(bool on);
    bool hasMessageColumn() const { return messageColumn; }
    // Why a number cannot be sent to (empty when it can): rows with such a number are listed unticked and
    // cannot be ticked. Set before appending.
    void setNumberRule(std::function<QString(const QString&)> problem) { numberProblem = std::move(problem); }
    // Appends rows, checked when their number can be sent to.
    void append(const std::vector<NumberRow>& rows);
    qint64 invalidCount() const { return invalidRows; }
    bool isValid(qint64 i) const { return problems[size_t(i)].isEmpty(); }
    void clear();

    qint64 count() const { return qint64(entries.size()); }
    qint64 checkedCount() const { return checkedRows; }
    const NumberRow& row(qint64 i) const { return entries[size_t(i)]; }
    bool isChecked(qint64 i) const { return checks[size_t(i)] != 0; }
    void setChecked(qint64 i, bool on);
    void setAllChecked(bool on);
    // Removes every row whose key (of its number) an earlier row already has; the rows kept keep their
    // messages and marks. Returns how many rows went.
    qint64 removeDuplicates(const std::function<QString(const QString&)>& key);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

Q_SIGNALS:
    // One row's mark was changed (by the user or setChecked); on tells which way.
    void rowCheckChanged(qint64 row, bool on);

private:
    std::vector<NumberRow> entries;
    std::vector<char> checks;
    std::vector<QString> problems; // per row, empty when its number can be sent to
    std::function<QString(const QString&)> numberProblem;
    qint64 checkedRows = 0;
    qint64 invalidRows = 0;
    bool messageColumn = false;
};
