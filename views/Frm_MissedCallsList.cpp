#include "views/Frm_MissedCallsList.h"
#include "views/NamedLabel.h"
#include "views/ServerNews.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Seams.h"
#include "delivery/Engine.h"
#include "store/CallsRepository.h"
#include "store/Database.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSet>
#include <QSignalBlocker>
#include <QTreeWidget>

namespace {

enum Column { CallDate, CallNumber, CallTiming, Id };

constexpr int twips(int t)
{
    return t / 15;
}

QDateEdit* datePicker(const QString& name, QWidget* parent)
{
    auto* d = new QDateEdit(parent);
    d->setObjectName(name);
    d->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    d->setCalendarPopup(true);
    return d;
}

} // namespace

Frm_MissedCallsList::Frm_MissedCallsList(Engine& engine, QWidget* parent) : QDialog(parent), engine(engine)
{
    setObjectName(QStringLiteral("Frm_MissedCallsList"));
    setWindowTitle(QStringLiteral("Missed Calls Report"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* Label2 = new QLabel(QStringLiteral("From Date :"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    DtpFrom = datePicker(QStringLiteral("DtpFrom"), this);
    auto* Label3 = new QLabel(QStringLiteral("To Date :"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    DtpTo = datePicker(QStringLiteral("DtpTo"), this);
    cmdSearch = NamedButton(QStringLiteral("cmdSearch"), QStringLiteral("&Search"), this);
    ListLogs = new QTreeWidget(this);
    ListLogs->setObjectName(QStringLiteral("ListLogs"));
    ListLogs->setRootIsDecorated(false);
    ListLogs->setUniformRowHeights(true);
    ListLogs->setSelectionMode(QAbstractItemView::SingleSelection);
    chkAll = new QCheckBox(QStringLiteral("Select All"), this);
    chkAll->setObjectName(QStringLiteral("chkAll"));
    cmdDelete = NamedButton(QStringLiteral("cmdDelete"), QStringLiteral("&Delete Selected"), this);
    CmdExit = NamedButton(QStringLiteral("CmdExit"), QStringLiteral("&Exit"), this);

    auto* grid = new QGridLayout(this);
    auto* range = new QHBoxLayout;
    range->addWidget(Label2);
    range->addWidget(DtpFrom);
    range->addSpacing(16);
    range->addWidget(Label3);
    range->addWidget(DtpTo);
    range->addSpacing(16);
    range->addWidget(cmdSearch);
    range->addStretch();
    grid->addLayout(range, 0, 0);
    grid->addWidget(ListLogs, 1, 0);
    auto* actions = new QHBoxLayout;
    actions->addWidget(chkAll);
    actions->addStretch();
    actions->addWidget(cmdDelete);
    actions->addWidget(CmdExit);
    grid->addLayout(actions, 2, 0);
    grid->setRowStretch(1, 1);
    resize(twips(7800), twips(6000));

    connect(cmdSearch, &QPushButton::clicked, this, &Frm_MissedCallsList::cmdSearch_Click);
    connect(chkAll, &QCheckBox::clicked, this, &Frm_MissedCallsList::chkAll_Click);
    connect(cmdDelete, &QPushButton::clicked, this, &Frm_MissedCallsList::cmdDelete_Click);
    connect(CmdExit, &QPushButton::clicked, this, &Frm_MissedCallsList::CmdExit_Click);
    connect(ListLogs, &QTreeWidget::itemChanged, this, &Frm_MissedCallsList::ListLogs_ItemCheck);
    if (ServerNews* news = ServerNews::Of(engine.database()))
        connect(news, &ServerNews::rowsChanged, this, [this](ServerNews::Tables tables) {
            if (tables.testFlag(ServerNews::Calls))
                showCallsAnew();
        });

    Form_Load();
}

void Frm_MissedCallsList::Form_Load()
{
    cmdDelete->setEnabled(false);
    const QDate today = engine.clock().now().date();
    DtpFrom->setDate(today);
    DtpTo->setDate(today);
    FillLogList();
}

void Frm_MissedCallsList::cmdSearch_Click()
{
    if (DtpFrom->date() > DtpTo->date()) {
        engine.dialogs().message(QStringLiteral("'From Date' should be less than 'To Date'."));
        DtpFrom->setFocus();
        return;
    }
    FillLogList();
}

void Frm_MissedCallsList::FillLogList()
{
    ListLogs->clear();
    ListLogs->setColumnCount(4);
    ListLogs->setHeaderLabels(
        {QStringLiteral("Call Date"), QStringLiteral("Call Number"), QStringLiteral("Call Timing"), QString()});
    ListLogs->setColumnWidth(CallDate, twips(2500));
    ListLogs->setColumnWidth(CallNumber, twips(2600));
    ListLogs->setColumnWidth(CallTiming, twips(2000));
    ListLogs->setColumnHidden(Id, true);
    // Every new row is unticked, so there is nothing to delete until the user ticks one again.
    chkAll->setChecked(false);
    cmdDelete->setEnabled(false);

    const QSignalBlocker quiet(ListLogs);
    try {
        for (const MissedCall& call : CallsRepository(engine.database()).missedCalls(DtpFrom->date(), DtpTo->date())) {
            auto* row = new QTreeWidgetItem;
            row->setText(CallDate, call.at.toString(QStringLiteral("dd/MM/yyyy")));
            if (!call.number.isEmpty())
                row->setText(CallNumber, call.number);
            if (call.at.isValid())
                row->setText(CallTiming, call.at.toString(QStringLiteral("HH:mm")));
            row->setText(Id, QString::number(call.id));
            row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
            row->setCheckState(CallDate, Qt::Unchecked);
            ListLogs->addTopLevelItem(row);
        }
    } catch (const DbError& e) {
        if (!followingChanges)
            engine.dialogs().message(e.description());
    }
}

void Frm_MissedCallsList::showCallsAnew()
{
    // A link found lost is tried again by the engine's ticks; news cannot come meanwhile. A failure of this
    // refresh, which nobody here asked for, opens no box: the database watch tells the user once.
    if (!engine.database().linkUp())
        return;
    const QScopedValueRollback following(followingChanges, true);
    // The rows the user ticked stay ticked: he may be about to delete them.
    QSet<QString> ticked;
    for (int i = 0; i < ListLogs->topLevelItemCount(); ++i)
        if (ListLogs->topLevelItem(i)->checkState(CallDate) == Qt::Checked)
            ticked.insert(ListLogs->topLevelItem(i)->text(Id));
    const bool all = chkAll->isChecked();
    FillLogList();
    const QSignalBlocker quiet(ListLogs);
    for (int i = 0; i < ListLogs->topLevelItemCount(); ++i)
        if (ticked.contains(ListLogs->topLevelItem(i)->text(Id)))
            ListLogs->topLevelItem(i)->setCheckState(CallDate, Qt::Checked);
    chkAll->setChecked(all && ticked.size() == ListLogs->topLevelItemCount());
    cmdDelete->setEnabled(anyRowChecked());
}

bool Frm_MissedCallsList::anyRowChecked() const
{
    for (int i = 0; i < ListLogs->topLevelItemCount(); ++i)
        if (ListLogs->topLevelItem(i)->checkState(CallDate) == Qt::Checked)
            return true;
    return false;
}

void Frm_MissedCallsList::ListLogs_ItemCheck(QTreeWidgetItem*, int column)
{
    if (column == CallDate)
        cmdDelete->setEnabled(anyRowChecked());
}

void Frm_MissedCallsList::chkAll_Click()
{
    if (ListLogs->topLevelItemCount() == 0)
        return;
    const Qt::CheckState state = chkAll->isChecked() ? Qt::Checked : Qt::Unchecked;
    for (int i = 0; i < ListLogs->topLevelItemCount(); ++i)
        ListLogs->topLevelItem(i)->setCheckState(CallDate, state);
    cmdDelete->setEnabled(chkAll->isChecked());
}

void Frm_MissedCallsList::cmdDelete_Click()
{
    // The button is only enabled while a row is ticked; without one there is nothing to delete and
    // nothing to report.
    if (!anyRowChecked()) {
        cmdDelete->setEnabled(false);
        return;
    }
    if (!engine.dialogs().question(QStringLiteral("Are u sure to delete the logs?")))
        return;
    try {
        CallsRepository calls(engine.database());
        for (int i = 0; i < ListLogs->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* row = ListLogs->topLevelItem(i);
            if (row->checkState(CallDate) == Qt::Checked)
                calls.deleteCall(Trim(row->text(Id)).toLongLong());
        }
        engine.dialogs().message(QStringLiteral("Records Deleted Successfully!!!"));
        FillLogList();
        cmdDelete->setEnabled(false);
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
}

void Frm_MissedCallsList::CmdExit_Click()
{
    close();
}
