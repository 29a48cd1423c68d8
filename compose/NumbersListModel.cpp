#include "compose/NumbersListModel.h"

#include <QColor>
#include <QSet>

NumbersListModel::NumbersListModel(QObject* parent) : QAbstractTableModel(parent) {}

void NumbersListModel::setMessageColumn(bool on)
{
    if (on == messageColumn)
        return;
    if (on) {
        beginInsertColumns({}, 1, 1);
        messageColumn = true;
        endInsertColumns();
    } else {
        beginRemoveColumns({}, 1, 1);
        messageColumn = false;
        endRemoveColumns();
    }
}

void NumbersListModel::append(const std::vector<NumberRow>& rows)
{
    if (rows.empty())
        return;
    const qint64 first = count();
    beginInsertRows({}, int(first), int(first + qint64(rows.size()) - 1));
    entries.insert(entries.end(), rows.begin(), rows.end());
    for (const NumberRow& r : rows) {
        problems.push_back(numberProblem ? numberProblem(r.number) : QString());
        const bool valid = problems.back().isEmpty();
        checks.push_back(valid ? 1 : 0);
        checkedRows += valid ? 1 : 0;
        invalidRows += valid ? 0 : 1;
    }
    endInsertRows();
}

void NumbersListModel::clear()
{
    beginResetModel();
    entries.clear();
    checks.clear();
    problems.clear();
    checkedRows = 0;
    invalidRows = 0;
    endResetModel();
}

void NumbersListModel::setChecked(qint64 i, bool on)
{
    if (i < 0 || i >= count() || isChecked(i) == on || (on && !isValid(i)))
        return;
    checks[size_t(i)] = on ? 1 : 0;
    checkedRows += on ? 1 : -1;
    const QModelIndex cell = index(int(i), 0);
    Q_EMIT dataChanged(cell, cell, {Qt::CheckStateRole});
    Q_EMIT rowCheckChanged(i, on);
}

void NumbersListModel::setAllChecked(bool on)
{
    checkedRows = 0;
    for (size_t i = 0; i < checks.size(); ++i) {
        checks[i] = on && problems[i].isEmpty() ? 1 : 0;
        checkedRows += checks[i];
    }
    if (!entries.empty())
        Q_EMIT dataChanged(index(0, 0), index(int(count() - 1), 0), {Qt::CheckStateRole});
}

qint64 NumbersListModel::removeDuplicates(const std::function<QString(const QString&)>& key)
{
    QSet<QString> seen;
    seen.reserve(qsizetype(entries.size()));
    size_t kept = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const qsizetype before = seen.size();
        seen.insert(key(entries[i].number));
        if (seen.size() == before) {
            checkedRows -= checks[i];
            invalidRows -= problems[i].isEmpty() ? 0 : 1;
            continue;
        }
        if (kept != i) {
            entries[kept] = std::move(entries[i]);
            checks[kept] = checks[i];
            problems[kept] = std::move(problems[i]);
        }
        ++kept;
    }
    const qint64 removed = qint64(entries.size() - kept);
    if (removed == 0)
        return 0;
    beginResetModel();
    entries.resize(kept);
    checks.resize(kept);
    problems.resize(kept);
    endResetModel();
    return removed;
}

int NumbersListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(entries.size());
}

int NumbersListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : (messageColumn ? 2 : 1);
}

QVariant NumbersListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const NumberRow& r = entries[size_t(index.row())];
    if (role == Qt::DisplayRole)
        return index.column() == 0 ? r.number : r.message;
    if (role == Qt::CheckStateRole && index.column() == 0)
        return isChecked(index.row()) ? Qt::Checked : Qt::Unchecked;
    const QString& problem = problems[size_t(index.row())];
    if (role == Qt::ToolTipRole && !problem.isEmpty())
        return problem;
    if (role == Qt::ForegroundRole && !problem.isEmpty())
        return QColor(Qt::gray);
    return {};
}

bool NumbersListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != 0)
        return false;
    setChecked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags NumbersListModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0 && index.isValid() && isValid(index.row()))
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant NumbersListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section == 0 ? QStringLiteral("Mobile Numbers") : QStringLiteral("Message");
}
