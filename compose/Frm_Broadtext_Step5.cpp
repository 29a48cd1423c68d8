#include "compose/Frm_Broadtext_Step5.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/LengthCounter.h"
#include "common/Seams.h"
#include "compose/BroadtextWizard.h"
#include "compose/MailMerge.h"
#include "compose/NumberSources.h"
#include "compose/NumbersListModel.h"
#include "compose/OutboxQueueing.h"
#include "delivery/Delivery.h"
#include "delivery/Engine.h"
#include "delivery/RecipientNumbers.h"
#include "store/CampaignRepository.h"
#include "store/Database.h"
#include "store/OptOutRepository.h"
#include "views/MessageTextEdit.h"
#include "views/SendAtControls.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <optional>

namespace {

constexpr int Twips = 15;
// The progress bar appears once queueing has taken this long.
constexpr qint64 ProgressAfterMs = 300;

} // namespace

Frm_Broadtext_Step5::Source Frm_Broadtext_Step5::SourceOf(const QString& fileName)
{
    const auto at = [&](const char* fragment) {
        return fileName.lastIndexOf(QLatin1String(fragment), -1, Qt::CaseInsensitive);
    };
    const qsizetype txt = at(".txt");
    const qsizetype sheet = std::max(at(".xls"), at(".csv"));
    const qsizetype mdb = at(".mdb");
    const qsizetype last = std::max({txt, sheet, mdb});
    if (last < 0)
        return Source::None;
    if (last == txt)
        return Source::Text;
    if (last == sheet)
        return Source::Excel;
    return Source::Access;
}

Frm_Broadtext_Step5::Frm_Broadtext_Step5(Engine& engine, BroadtextWizard& wizard, QWidget* parent)
    : WizardStep(engine, wizard, 5, parent)
{
    setObjectName(QStringLiteral("Frm_Broadtext_Step5"));

    Check1 = new QCheckBox(QStringLiteral("Select All"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    lblSelectedItems = NamedLabel(QStringLiteral("lblSelectedItems"), QString(), this);
    lblNoItems = NamedLabel(QStringLiteral("lblNoItems"), QString(), this);
    lblSkipped = NamedLabel(QStringLiteral("lblSkipped"), QString(), this);
    lblSkipped->setWordWrap(true);
    lblReading = NamedLabel(QStringLiteral("lblReading"), QString(), this);
    lblReading->setVisible(false);
    cmdRemoveDuplicates = new QPushButton(QStringLiteral("Remove &Duplicates"), this);
    cmdRemoveDuplicates->setObjectName(QStringLiteral("cmdRemoveDuplicates"));
    cmdRemoveDuplicates->setAutoDefault(false);

    model = new NumbersListModel(this);
    model->setNumberRule(RecipientNumberProblem);
    ListNumbers = new QTreeView(this);
    ListNumbers->setObjectName(QStringLiteral("ListNumbers"));
    ListNumbers->setRootIsDecorated(false);
    ListNumbers->setUniformRowHeights(true);
    ListNumbers->setItemsExpandable(false);
    ListNumbers->setAllColumnsShowFocus(true);
    ListNumbers->header()->setStretchLastSection(false);
    ListNumbers->setModel(model);

    Frame2 = new QGroupBox(QStringLiteral("Compose Common SMS"), this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    txtMessage = new MessageTextEdit(QStringLiteral("txtMessage"), Frame2);
    txtMessage->setMode(engine.status().messageMode());
    txtMessage->setFixedHeight(72);
    Label3 = NamedLabel(QStringLiteral("Label3"), QString(), Frame2);
    Label5 = NamedLabel(QStringLiteral("Label5"), QString(), Frame2, true);
    Label5->setStyleSheet(QStringLiteral("color: red"));
    Label5->setWordWrap(true);
    // Room for the two lines of the warning, which appears while typing.
    Label5->setMinimumHeight(2 * Label5->fontMetrics().lineSpacing() + 2);
    auto* frameLayout = new QVBoxLayout(Frame2);
    // The limit of the message format in use (PDU parts carry less), and of Unicode once the text needs it.
    const auto limitCaption = [](int limit) { return QStringLiteral("Max %1 Characters :").arg(limit); };
    Label2 = NamedLabel(QStringLiteral("Label2"), limitCaption(LengthCounter({}, engine.status().messageMode()).limit),
                        Frame2);
    frameLayout->addWidget(Label2);
    frameLayout->addWidget(txtMessage);
    frameLayout->addWidget(Label3);
    frameLayout->addWidget(Label5);

    txtCampaignName =
        new QLineEdit(QStringLiteral("Campaign %1")
                          .arg(engine.clock().now().toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))),
                      this);
    txtCampaignName->setObjectName(QStringLiteral("txtCampaignName"));
    const SendAtControls sendAt = MakeSendAtControls(engine.clock().now(), this);
    chkSendAt = sendAt.check;
    dtpSendAt = sendAt.when;

    progressSend = new QProgressBar(this);
    progressSend->setObjectName(QStringLiteral("progressSend"));
    progressSend->setVisible(false);
    cmdCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setAutoDefault(false);
    cmdCancel->setVisible(false);

    content()->addWidget(NamedLabel(QStringLiteral("Label1"), QStringLiteral("Found Numbers"), this, true));
    auto* counts = new QHBoxLayout;
    counts->addWidget(Check1);
    counts->addSpacing(12);
    counts->addWidget(cmdRemoveDuplicates);
    counts->addStretch();
    counts->addWidget(NamedLabel(QStringLiteral("Label4"), QStringLiteral("Selected"), this));
    counts->addWidget(lblSelectedItems);
    counts->addWidget(NamedLabel(QStringLiteral("Label6"), QStringLiteral("of"), this));
    counts->addWidget(lblNoItems);
    content()->addLayout(counts);
    content()->addWidget(lblSkipped);
    content()->addWidget(lblReading);
    content()->addWidget(ListNumbers, 1);
    content()->addWidget(Frame2);
    auto* name = new QHBoxLayout;
    name->addWidget(NamedLabel(QStringLiteral("lblCampaignName"), QStringLiteral("Campaign name:"), this));
    name->addWidget(txtCampaignName, 1);
    name->addSpacing(12);
    name->addWidget(chkSendAt);
    name->addWidget(dtpSendAt);
    content()->addLayout(name);
    auto* progress = new QHBoxLayout;
    progress->addWidget(progressSend, 1);
    progress->addWidget(cmdCancel);
    content()->addLayout(progress);

    cmdBack = addButton(QStringLiteral("cmdBack"), QStringLiteral("<< &Back"));
    cmdNext = addButton(QStringLiteral("cmdNext"), QStringLiteral("&Send"));
    cmdClose = addButton(QStringLiteral("cmdClose"), QStringLiteral("&Close"));

    Form_Load();

    connect(Check1, &QCheckBox::clicked, this, &Frm_Broadtext_Step5::Check1_Click);
    connect(cmdRemoveDuplicates, &QPushButton::clicked, this, &Frm_Broadtext_Step5::cmdRemoveDuplicates_Click);
    connect(model, &NumbersListModel::rowCheckChanged, this, [this] { showCounts(); });
    connect(txtMessage, &MessageTextEdit::changed, this, &Frm_Broadtext_Step5::showLength);
    connect(cmdNext, &QPushButton::clicked, this, &Frm_Broadtext_Step5::cmdNext_Click);
    connect(cmdCancel, &QPushButton::clicked, this, [this] {
        if (queueing)
            queueing->cancel();
        else if (reading)
            reading->cancel(QStringLiteral("Reading was cancelled: the list holds only the numbers read before."));
    });
    connect(cmdBack, &QPushButton::clicked, this, &Frm_Broadtext_Step5::cmdBack_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
}

void Frm_Broadtext_Step5::showLength(const QString& text)
{
    // With fields, the counter speaks for the longest message any ticked row will get.
    QString counted = text;
    const QStringList headers = mergeHeaders();
    if (!headers.isEmpty() && text.contains(QLatin1Char('{'))) {
        const MailMerge merge = MailMerge::Parse(text, headers);
        if (merge.error().isEmpty() && merge.hasFields()) {
            std::vector<QStringList> cells;
            for (qint64 i = 0; i < model->count(); ++i)
                if (model->isChecked(i))
                    cells.push_back(model->row(i).cells);
            if (!cells.empty())
                counted = CheckMergedLengths(merge, cells, engine.status().messageMode()).longest;
        }
    }
    const LengthCounterCaptions c = LengthCounter(counted, engine.status().messageMode());
    Label2->setText(QStringLiteral("Max %1 Characters :").arg(c.limit));
    Label3->setText(c.count);
    Label5->setText(c.warning);
}

void Frm_Broadtext_Step5::showCounts()
{
    lblSelectedItems->setText(QString::number(model->checkedCount()));
    lblNoItems->setText(QString::number(model->count()));
    QStringList notes;
    if (const qint64 n = model->invalidCount())
        notes << (n == 1 ? QStringLiteral("1 invalid number is left unticked.")
                         : QStringLiteral("%1 invalid numbers are left unticked.").arg(n));
    if (duplicatesRemoved > 0)
        notes << (duplicatesRemoved == 1
                      ? QStringLiteral("Remove Duplicates removed 1 repeated number.")
                      : QStringLiteral("Remove Duplicates removed %1 repeated numbers.").arg(duplicatesRemoved));
    lblSkipped->setText(notes.join(QLatin1Char(' ')));
    lblSkipped->setVisible(!notes.isEmpty());
}

void Frm_Broadtext_Step5::Form_Load()
{
    Check1->setChecked(true);
    Check1_Click();
    ListNumbers->setColumnWidth(0, 2500 / Twips);

    const WizardChoices& chosen = wizard.choices();
    sourceFile = chosen.Frm_Broadtext_Step2.SelectedfileName;
    separator = chosen.Frm_Broadtext_Step2.NoSeperatedBy;
    kind = SourceOf(sourceFile);
    if (kind == Source::Access)
        separate = !Trim(chosen.Frm_Broadtext_Step3.SMSColumnName).isEmpty();
    else if (kind == Source::Excel)
        separate = !Trim(chosen.Frm_Broadtext_Step4.SMSColumnName).isEmpty();
    Frame2->setVisible(!separate);

    if (separate) {
        model->setMessageColumn(true);
        ListNumbers->setColumnWidth(1, 3500 / Twips);
    }
    if (kind == Source::Text) {
        showRead(ReadTextFileNumbers(sourceFile, separator));
        return;
    }
    if (kind == Source::None) {
        showCounts();
        return;
    }
    // A table or a worksheet can be large and is read by another program: the step shows meanwhile.
    if (kind == Source::Access)
        reading = StartReadingAccessTable(Trim(sourceFile), Trim(chosen.Frm_Broadtext_Step3.tableName),
                                          Trim(chosen.Frm_Broadtext_Step3.FieldName),
                                          separate ? Trim(chosen.Frm_Broadtext_Step3.SMSColumnName) : QString(), this);
    else
        reading = StartReadingExcelSheet(Trim(sourceFile), Trim(chosen.Frm_Broadtext_Step4.SheetName),
                                         Trim(chosen.Frm_Broadtext_Step4.ColumnName),
                                         separate ? Trim(chosen.Frm_Broadtext_Step4.SMSColumnName) : QString(), this);
    connect(reading, &NumberRowsReading::rowsRead, this, [this](qint64 rows) {
        lblReading->setText(QStringLiteral("Reading the numbers... %1 read so far.").arg(rows));
    });
    connect(reading, &NumberRowsReading::finished, this, [this](const NumberRows& read) {
        reading->deleteLater();
        reading = nullptr;
        setReading(false);
        showRead(read);
    });
    setReading(true);
    reading->start();
}

void Frm_Broadtext_Step5::setReading(bool on)
{
    for (QWidget* w : std::initializer_list<QWidget*>{Check1, cmdRemoveDuplicates, ListNumbers, Frame2, cmdNext})
        w->setEnabled(!on);
    lblReading->setText(QStringLiteral("Reading the numbers..."));
    lblReading->setVisible(on);
    cmdCancel->setVisible(on);
    cmdCancel->setEnabled(on);
    if (on)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void Frm_Broadtext_Step5::showRead(const NumberRows& read)
{
    if (!read.headers.isEmpty())
        headers = read.headers;
    model->append(read.rows);
    showCounts();
    if (!read.error.isEmpty())
        engine.dialogs().message(read.error);
}

void Frm_Broadtext_Step5::Check1_Click()
{
    model->setAllChecked(Check1->isChecked());
    showCounts();
}

void Frm_Broadtext_Step5::cmdRemoveDuplicates_Click()
{
    // Numbers that the modem would be given alike are one recipient (the Outbox sends them cleaned).
    duplicatesRemoved += model->removeDuplicates(CleanRecipientNumber);
    showCounts();
}

void Frm_Broadtext_Step5::setSending(bool on)
{
    for (QWidget* w : std::initializer_list<QWidget*>{Check1, cmdRemoveDuplicates, ListNumbers, Frame2, chkSendAt,
                                                      cmdBack, cmdNext, cmdClose})
        w->setEnabled(!on);
    dtpSendAt->setEnabled(!on && chkSendAt->isChecked());
    cmdCancel->setVisible(on);
    cmdCancel->setEnabled(on);
    if (!on)
        progressSend->setVisible(false);
}

void Frm_Broadtext_Step5::cmdNext_Click()
{
    auto& dialogs = engine.dialogs();
    QString commonMessage;
    if (!separate) {
        commonMessage = Trim(txtMessage->text());
        if (commonMessage.isEmpty()) {
            dialogs.message(QStringLiteral("Please enter message."));
            return;
        }
    }
    if (model->checkedCount() == 0) {
        dialogs.message(QStringLiteral("Please select mobile number from list."));
        return;
    }
    // Checked now rather than against the clock when the rows are queued: the user chose a moment to come.
    QDateTime sendAt;
    if (chkSendAt->isChecked()) {
        sendAt = dtpSendAt->dateTime();
        if (sendAt <= engine.clock().now()) {
            dialogs.message(QStringLiteral("The time to send at, %1, has already passed. Please choose a later time.")
                                .arg(sendAt.toString(dtpSendAt->displayFormat())));
            dtpSendAt->setFocus();
            return;
        }
    }
    // The rows are taken now: the list is locked until the queueing ends.
    std::vector<OutboxQueueing::Row> rows;
    rows.reserve(size_t(model->checkedCount()));
    skippedEmpty = 0;
    skippedOptedOut = 0;
    campaignDuplicates = 0;
    // A common message for a table or a worksheet is a template over its columns: checked whole first.
    std::optional<MailMerge> merge;
    if (!separate && !mergeHeaders().isEmpty()) {
        merge = MailMerge::Parse(commonMessage, mergeHeaders());
        if (!merge->error().isEmpty()) {
            dialogs.message(merge->error());
            return;
        }
        if (!merge->hasFields())
            merge.reset();
    }
    QSet<QString> optedOut;
    try {
        optedOut = OptOutRepository(engine.database()).keys();
    } catch (const DbError& e) {
        dialogs.message(e.description());
        return;
    }
    for (qint64 i = 0; i < model->count(); ++i) {
        if (!model->isChecked(i))
            continue;
        const NumberRow& row = model->row(i);
        const QString message = separate ? Trim(row.message) : (merge ? Trim(merge->fill(row.cells)) : commonMessage);
        // A message that would be empty is not queued; the end of the queueing says how many were left out.
        if (message.isEmpty())
            ++skippedEmpty;
        else if (!optedOut.isEmpty() && optedOut.contains(OptOutKey(row.number)))
            ++skippedOptedOut; // said at the end of the queueing with the other numbers left out
        else
            rows.push_back({i, Trim(row.number), message});
    }
    if (rows.empty() && skippedOptedOut > 0) {
        dialogs.message(OptedOutText(skippedOptedOut));
        return;
    }
    if (rows.empty()) {
        dialogs.message(QStringLiteral("The selected numbers have no message in the chosen column. Please choose "
                                       "the column that holds the messages."));
        return;
    }
    if (merge) {
        // Reported, never cut: a message longer than the field takes is not queued for anyone.
        std::vector<qint64> tooLong;
        for (const OutboxQueueing::Row& r : rows)
            if (!FitsMessageField(r.message, engine.status().messageMode()))
                tooLong.push_back(r.listRow);
        if (!tooLong.empty()) {
            dialogs.message(TooLongRowsText(tooLong));
            return;
        }
    }
    QString campaignName = Trim(txtCampaignName->text());
    if (campaignName.isEmpty())
        campaignName = QStringLiteral("Campaign %1")
                           .arg(engine.clock().now().toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    qint64 campaign = 0;
    try {
        campaign = CampaignRepository(engine.database()).create(campaignName, engine.clock().now());
    } catch (const DbError& e) {
        dialogs.message(e.description());
        return;
    }

    queueing = new OutboxQueueing(engine.database(), engine.clock(), std::move(rows), campaign, sendAt, this);
    connect(queueing, &OutboxQueueing::progress, this, &Frm_Broadtext_Step5::queueingProgress);
    connect(queueing, &OutboxQueueing::finished, this, &Frm_Broadtext_Step5::queueingFinished);
    progressSend->setRange(0, int(std::min<qint64>(queueing->total(), INT_MAX)));
    progressSend->setValue(0);
    queueingTime.start();
    setSending(true);
    queueing->start();
}

void Frm_Broadtext_Step5::queueingProgress(qint64 done, qint64 total)
{
    Q_UNUSED(total);
    if (queueingTime.elapsed() < ProgressAfterMs)
        return;
    progressSend->setVisible(true);
    progressSend->setValue(int(std::min<qint64>(done, INT_MAX)));
}

void Frm_Broadtext_Step5::queueingFinished(const QString& error, bool cancelled)
{
    const std::vector<qint64> committed = queueing->committed();
    campaignDuplicates = queueing->duplicates();
    queueing->deleteLater();
    queueing = nullptr;
    setSending(false);
    if (!committed.empty())
        engine.deliverNow();

    auto& dialogs = engine.dialogs();
    if (!error.isEmpty() || cancelled) {
        // The rows already in the Outbox are unmarked, so that sending again does not queue them twice.
        for (qint64 r : committed)
            model->setChecked(r, false);
        showCounts();
        dialogs.message(cancelled ? QStringLiteral("Queueing was cancelled: %1 of the selected numbers were put in the "
                                                   "Out box and are no longer ticked.")
                                        .arg(committed.size())
                                  : error);
        if (!committed.empty())
            Q_EMIT engine.outboxChanged();
        return;
    }
    QString done = QStringLiteral("Message has been sent successfully to Out box.");
    if (skippedEmpty > 0)
        done += QStringLiteral("\r\n\r\n%1 of the selected numbers have an empty message and were not queued.")
                    .arg(skippedEmpty);
    if (skippedOptedOut > 0)
        done += QStringLiteral("\r\n\r\n") + OptedOutText(skippedOptedOut);
    if (campaignDuplicates > 0)
        done += QStringLiteral("\r\n\r\n%1 of the selected numbers were repeated and were queued once.")
                    .arg(campaignDuplicates);
    dialogs.message(done);
    close();
    Q_EMIT engine.outboxChanged();
}

void Frm_Broadtext_Step5::cmdBack_Click()
{
    int previous = 0;
    switch (kind) {
    case Source::Text:
        previous = 2;
        break;
    case Source::Excel:
        previous = 4;
        break;
    case Source::Access:
        previous = 3;
        break;
    case Source::None:
        break;
    }
    // Unloading this step ends the wizard; the step before it then starts afresh.
    close();
    if (previous)
        wizard.showFresh(previous);
}
