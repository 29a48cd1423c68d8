#include "views/Frm_Campaigns.h"
#include "views/CsvExport.h"
#include "views/NamedLabel.h"
#include "views/ServerNews.h"

#include "common/Csv.h"
#include "common/Seams.h"
#include "delivery/Engine.h"
#include "store/CampaignRepository.h"
#include "store/Database.h"

#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum Column { Name, Created, State, Queued, Sent, Failed, Delivered, OptedOut, Cancelled, Columns };

} // namespace

Frm_Campaigns::Frm_Campaigns(Engine& engine, QWidget* parent) : QDialog(parent), engine(engine)
{
    setObjectName(QStringLiteral("Frm_Campaigns"));
    setWindowTitle(QStringLiteral("Campaigns"));
    setAttribute(Qt::WA_DeleteOnClose);

    ListCampaigns = new QTreeWidget(this);
    ListCampaigns->setObjectName(QStringLiteral("ListCampaigns"));
    ListCampaigns->setRootIsDecorated(false);
    ListCampaigns->setUniformRowHeights(true);
    ListCampaigns->setColumnCount(Columns);
    ListCampaigns->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Created"), QStringLiteral("State"),
                                    QStringLiteral("Queued"), QStringLiteral("Sent"), QStringLiteral("Failed"),
                                    QStringLiteral("Delivered"), QStringLiteral("Opted out"),
                                    QStringLiteral("Cancelled")});
    cmdPause = NamedButton(QStringLiteral("cmdPause"), QStringLiteral("&Pause"), this);
    cmdResume = NamedButton(QStringLiteral("cmdResume"), QStringLiteral("&Resume"), this);
    cmdCancelCampaign = NamedButton(QStringLiteral("cmdCancelCampaign"), QStringLiteral("&Cancel Campaign"), this);
    cmdExport = NamedButton(QStringLiteral("cmdExport"), QStringLiteral("&Export..."), this);
    cmdExport->setToolTip(QStringLiteral("Writes what became of each message of the selected campaign to a CSV file."));
    cmdRefresh = NamedButton(QStringLiteral("cmdRefresh"), QStringLiteral("Re&fresh"), this);
    cmdClose = NamedButton(QStringLiteral("cmdClose"), QStringLiteral("Cl&ose"), this);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {cmdPause, cmdResume, cmdCancelCampaign, cmdExport, cmdRefresh})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(cmdClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ListCampaigns, 1);
    layout->addLayout(buttons);
    resize(760, 360);

    connect(ListCampaigns, &QTreeWidget::currentItemChanged, this, [this] { updateButtons(); });
    connect(cmdPause, &QPushButton::clicked, this, &Frm_Campaigns::cmdPause_Click);
    connect(cmdResume, &QPushButton::clicked, this, &Frm_Campaigns::cmdResume_Click);
    connect(cmdCancelCampaign, &QPushButton::clicked, this, &Frm_Campaigns::cmdCancelCampaign_Click);
    connect(cmdExport, &QPushButton::clicked, this, &Frm_Campaigns::cmdExport_Click);
    connect(cmdRefresh, &QPushButton::clicked, this, &Frm_Campaigns::FillCampaigns);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
    // What the modems send changes the counts; nobody here asked for that refresh, so a database failure in it
    // opens no box (the database watch tells the user once).
    connect(&engine, &Engine::outboxChanged, this, &Frm_Campaigns::followChanges);
    // On a server base the other computers send from the same campaigns.
    if (ServerNews* news = ServerNews::Of(engine.database()))
        connect(news, &ServerNews::rowsChanged, this, [this](ServerNews::Tables tables) {
            if (tables.testFlag(ServerNews::Outbox) && this->engine.database().linkUp())
                followChanges();
        });

    FillCampaigns();
}

qint64 Frm_Campaigns::selectedId() const
{
    const QTreeWidgetItem* item = ListCampaigns->currentItem();
    return item ? item->data(Name, Qt::UserRole).toLongLong() : 0;
}

void Frm_Campaigns::FillCampaigns()
{
    const qint64 selected = selectedId();
    ListCampaigns->clear();
    try {
        CampaignRepository campaigns(engine.database());
        for (const Campaign& c : campaigns.list()) {
            const CampaignCounts n = campaigns.counts(c.id);
            auto* item = new QTreeWidgetItem(ListCampaigns);
            item->setText(Name, c.name);
            item->setData(Name, Qt::UserRole, c.id);
            item->setText(Created, c.created.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")));
            item->setText(State, CampaignRepository::StateText(c.state));
            item->setData(State, Qt::UserRole, int(c.state));
            const qint64 counts[] = {n.queued, n.sent, n.failed, n.delivered, n.optedOut, n.cancelled};
            for (int i = 0; i < 6; ++i) {
                item->setText(Queued + i, QString::number(counts[i]));
                item->setTextAlignment(Queued + i, Qt::AlignRight | Qt::AlignVCenter);
            }
            if (c.id == selected)
                ListCampaigns->setCurrentItem(item);
        }
    } catch (const DbError& e) {
        if (!followingChanges)
            engine.dialogs().message(e.description());
    }
    updateButtons();
}

void Frm_Campaigns::followChanges()
{
    const QScopedValueRollback quiet(followingChanges, true);
    FillCampaigns();
}

void Frm_Campaigns::updateButtons()
{
    const QTreeWidgetItem* item = ListCampaigns->currentItem();
    const auto state = item ? CampaignState(item->data(State, Qt::UserRole).toInt()) : CampaignState::Cancelled;
    cmdPause->setEnabled(item && state == CampaignState::Running);
    cmdResume->setEnabled(item && state == CampaignState::Paused);
    // A campaign still loading is its loader's until it runs.
    cmdCancelCampaign->setEnabled(item && (state == CampaignState::Running || state == CampaignState::Paused));
    cmdExport->setEnabled(item);
}

void Frm_Campaigns::cmdPause_Click()
{
    try {
        CampaignRepository(engine.database()).pause(selectedId());
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
    FillCampaigns();
}

void Frm_Campaigns::cmdResume_Click()
{
    try {
        if (CampaignRepository(engine.database()).resume(selectedId()))
            engine.deliverNow();
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
    FillCampaigns();
}

void Frm_Campaigns::cmdCancelCampaign_Click()
{
    const qint64 id = selectedId();
    if (id <= 0)
        return;
    if (!engine.dialogs().question(
            QStringLiteral("Cancel this campaign? Its messages not yet sent will not be sent."))) {
        return;
    }
    try {
        if (CampaignRepository(engine.database()).cancel(id) > 0)
            Q_EMIT engine.outboxChanged(); // which fills the list again
        else
            FillCampaigns();
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
}

void Frm_Campaigns::cmdExport_Click()
{
    const qint64 id = selectedId();
    if (id <= 0)
        return;
    // The campaign's name makes the file's, without what a file name cannot hold.
    QString name = ListCampaigns->currentItem()->text(Name);
    name.replace(QRegularExpression(QStringLiteral("[/\\\\:*?\"<>|]")), QStringLiteral("_"));
    if (name.trimmed().isEmpty())
        name = QStringLiteral("Campaign");
    const QString path = engine.dialogs().saveFileName(QDir::home().filePath(name.trimmed() + QStringLiteral(".csv")),
                                                       QStringLiteral("CSV Files (*.csv)|*.csv"));
    if (path.isEmpty())
        return;
    try {
        CampaignResults rows(engine.database(), id);
        ExportToCsv(engine.dialogs(), path, CampaignResults::header(),
                    [&](QStringList& row) { return rows.next(row); });
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
}
