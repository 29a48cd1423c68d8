#include "compose/Frm_Broadtext_Step5.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/LengthCounter.h"
#include "common/Seams.h"
#include "compose/BroadtextWizard.h"
#include "compose/NumberSources.h"
#include "compose/NumbersListModel.h"
#include "compose/RecipientNumbers.h"
#include "delivery/Delivery.h"
#include "delivery/Engine.h"
#include "store/Database.h"
#include "views/MessageTextEdit.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

constexpr int Twips = 15;
// A batch of inserts is committed after this long, and the window then handles its events.
constexpr qint64 BatchMs = 40;
// The progress bar appears once queueing has taken this long.
constexpr qint64 ProgressAfterMs = 300;

QString sqlErrorText(const QSqlError& e)
{
    const QString t = e.databaseText().isEmpty() ? e.text() : e.databaseText();
    return t.isEmpty() ? QStringLiteral("Unknown database error") : t;
}

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
    txtMessage->setMode(engine.state.messageMode());
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
    Label2 =
        NamedLabel(QStringLiteral("Label2"), limitCaption(LengthCounter({}, engine.state.messageMode()).limit), Frame2);
    frameLayout->addWidget(Label2);
    frameLayout->addWidget(txtMessage);
    frameLayout->addWidget(Label3);
    frameLayout->addWidget(Label5);

    progressSend = new QProgressBar(this);
    progressSend->setObjectName(QStringLiteral("progressSend"));
    progressSend->setVisible(false);

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
    content()->addWidget(ListNumbers, 1);
    content()->addWidget(Frame2);
    content()->addWidget(progressSend);

    cmdBack = addButton(QStringLiteral("cmdBack"), QStringLiteral("<< &Back"));
    cmdNext = addButton(QStringLiteral("cmdNext"), QStringLiteral("&Send"));
    cmdClose = addButton(QStringLiteral("cmdClose"), QStringLiteral("&Close"));

    Form_Load();

    connect(Check1, &QCheckBox::clicked, this, &Frm_Broadtext_Step5::Check1_Click);
    connect(cmdRemoveDuplicates, &QPushButton::clicked, this, &Frm_Broadtext_Step5::cmdRemoveDuplicates_Click);
    connect(model, &NumbersListModel::rowCheckChanged, this, [this] { showCounts(); });
    connect(txtMessage, &MessageTextEdit::changed, this, [this, limitCaption](const QString& text) {
        const LengthCounterCaptions c = LengthCounter(text, this->engine.state.messageMode());
        Label2->setText(limitCaption(c.limit));
        Label3->setText(c.count);
        Label5->setText(c.warning);
    });
    connect(cmdNext, &QPushButton::clicked, this, &Frm_Broadtext_Step5::cmdNext_Click);
    connect(cmdBack, &QPushButton::clicked, this, &Frm_Broadtext_Step5::cmdBack_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
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

    NumberRows read;
    switch (kind) {
    case Source::Text:
        read = ReadTextFileNumbers(sourceFile, separator);
        break;
    case Source::Access:
        read = ReadAccessTable(Trim(sourceFile), Trim(chosen.Frm_Broadtext_Step3.tableName),
                               Trim(chosen.Frm_Broadtext_Step3.FieldName),
                               separate ? Trim(chosen.Frm_Broadtext_Step3.SMSColumnName) : QString());
        break;
    case Source::Excel:
        read = ReadExcelSheet(Trim(sourceFile), Trim(chosen.Frm_Broadtext_Step4.SheetName),
                              Trim(chosen.Frm_Broadtext_Step4.ColumnName),
                              separate ? Trim(chosen.Frm_Broadtext_Step4.SMSColumnName) : QString());
        break;
    case Source::None:
        break;
    }
    if (separate) {
        model->setMessageColumn(true);
        ListNumbers->setColumnWidth(1, 3500 / Twips);
    }
    model->append(read.rows);
    showCounts();
    if (!read.error.isEmpty())
        engine.state.dialogs->message(read.error);
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
    sending = on;
    for (QWidget* w :
         std::initializer_list<QWidget*>{Check1, cmdRemoveDuplicates, ListNumbers, Frame2, cmdBack, cmdNext, cmdClose})
        w->setEnabled(!on);
    if (!on)
        progressSend->setVisible(false);
}

void Frm_Broadtext_Step5::queueCheckedRows(const QString& commonMessage, std::vector<qint64>& committed, QString* error)
{
    skippedEmpty = 0;
    Database& db = engine.db;
    const Clock& clock = *engine.state.clock;
    QSqlQuery insert(db.connection());
    if (!insert.prepare(QStringLiteral(
            "INSERT INTO Message_OutBox (RecipientMobileNo, Message, OutBoxDateTime) VALUES (?, ?, ?)"))) {
        *error = sqlErrorText(insert.lastError());
        return;
    }
    progressSend->setRange(0, int(std::min<qint64>(model->count(), INT_MAX)));
    QElapsedTimer total;
    total.start();
    const qint64 n = model->count();
    qint64 i = 0;
    std::vector<qint64> batch;
    while (i < n) {
        batch.clear();
        try {
            db.beginTransaction();
        } catch (const DbError& e) {
            *error = e.description();
            return;
        }
        QElapsedTimer elapsed;
        elapsed.start();
        QString failure;
        for (; i < n; ++i) {
            if ((i & 255) == 0 && !batch.empty() && elapsed.elapsed() >= BatchMs)
                break;
            if (!model->isChecked(i))
                continue;
            const NumberRow& row = model->row(i);
            // A message that would be empty is not queued; the caller says how many were left out.
            if (separate && Trim(row.message).isEmpty()) {
                ++skippedEmpty;
                continue;
            }
            insert.bindValue(0, Trim(row.number));
            insert.bindValue(1, separate ? Trim(row.message) : commonMessage);
            insert.bindValue(2, Database::DbTime(clock.now()));
            if (!insert.exec()) {
                failure = sqlErrorText(insert.lastError());
                break;
            }
            batch.push_back(i);
        }
        // What was saved before a failure stays saved.
        try {
            db.commit();
            committed.insert(committed.end(), batch.begin(), batch.end());
        } catch (const DbError& e) {
            db.rollback();
            if (failure.isEmpty())
                failure = e.description();
        }
        if (!failure.isEmpty()) {
            *error = failure;
            return;
        }
        if (total.elapsed() >= ProgressAfterMs) {
            progressSend->setVisible(true);
            progressSend->setValue(int(std::min<qint64>(i, INT_MAX)));
        }
        QCoreApplication::processEvents();
    }
}

void Frm_Broadtext_Step5::cmdNext_Click()
{
    if (sending)
        return;
    auto& dialogs = *engine.state.dialogs;
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
    if (separate) {
        bool anyMessage = false;
        for (qint64 i = 0; i < model->count() && !anyMessage; ++i)
            anyMessage = model->isChecked(i) && !Trim(model->row(i).message).isEmpty();
        if (!anyMessage) {
            dialogs.message(QStringLiteral("The selected numbers have no message in the chosen column. Please choose "
                                           "the column that holds the messages."));
            return;
        }
    }

    setSending(true);
    std::vector<qint64> committed;
    QString error;
    queueCheckedRows(commonMessage, committed, &error);
    setSending(false);

    if (!error.isEmpty()) {
        // The rows already in the Outbox are unmarked, so that sending again does not queue them twice.
        for (qint64 r : committed)
            model->setChecked(r, false);
        showCounts();
        dialogs.message(error);
        if (!committed.empty())
            Q_EMIT engine.outboxChanged();
        return;
    }
    QString done = QStringLiteral("Message has been sent successfully to Out box.");
    if (skippedEmpty > 0)
        done += QStringLiteral("\r\n\r\n%1 of the selected numbers have an empty message and were not queued.")
                    .arg(skippedEmpty);
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
