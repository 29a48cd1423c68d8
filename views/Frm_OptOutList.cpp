#include "views/Frm_OptOutList.h"
#include "views/NamedLabel.h"

#include "common/Csv.h"
#include "common/Seams.h"
#include "delivery/Engine.h"
#include "store/Database.h"
#include "store/ModemsRepository.h"
#include "store/OptOutRepository.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum Column { Number, AddedOn, Modem, Word };
constexpr int KeyRole = Qt::UserRole;

template <class Widget> Widget* named(Widget* w, const QString& name)
{
    w->setObjectName(name);
    return w;
}

// What a person types for a number: digits with the usual separators and at most a leading plus. Anything
// else (a name, a short code with letters) could never match a reply's sender.
bool looksLikeNumber(const QString& text)
{
    static const QRegularExpression shape(QStringLiteral("^\\+?[0-9 ()\\-.]+$"));
    return shape.match(text).hasMatch() && !OptOutKey(text).isEmpty();
}

// The modem names by id, for the list and the export; a modem since removed shows as its id.
QString modemName(const QHash<int, QString>& names, int id)
{
    if (id <= 0)
        return {};
    return names.value(id, QStringLiteral("Modem %1").arg(id));
}

QHash<int, QString> modemNames(Database& db)
{
    QHash<int, QString> names;
    for (const ModemConfig& m : ModemsRepository(db).all())
        names.insert(m.id, m.displayName());
    return names;
}

} // namespace

Frm_OptOutList::Frm_OptOutList(Engine& engine, QWidget* parent) : QDialog(parent), engine(engine)
{
    setObjectName(QStringLiteral("Frm_OptOutList"));
    setWindowTitle(QStringLiteral("Opt-out List"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* lblNumber = named(new QLabel(QStringLiteral("Mobile Number :"), this), QStringLiteral("lblOptOutNumber"));
    txtOptOutNumber = named(new QLineEdit(this), QStringLiteral("txtOptOutNumber"));
    cmdAddOptOut = NamedButton(QStringLiteral("cmdAddOptOut"), QStringLiteral("&Add"), this);
    lstOptOut = named(new QTreeWidget(this), QStringLiteral("lstOptOut"));
    lstOptOut->setRootIsDecorated(false);
    lstOptOut->setUniformRowHeights(true);
    lstOptOut->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstOptOut->setColumnCount(4);
    lstOptOut->setHeaderLabels(
        {QStringLiteral("Number"), QStringLiteral("Added On"), QStringLiteral("Modem"), QStringLiteral("Word")});
    lstOptOut->setColumnWidth(Number, 160);
    lstOptOut->setColumnWidth(AddedOn, 140);
    lstOptOut->setColumnWidth(Modem, 120);
    lblOptOutCount = named(new QLabel(this), QStringLiteral("lblOptOutCount"));
    cmdRemoveOptOut = NamedButton(QStringLiteral("cmdRemoveOptOut"), QStringLiteral("&Remove"), this);
    cmdExportOptOut = NamedButton(QStringLiteral("cmdExportOptOut"), QStringLiteral("&Export..."), this);

    auto* settings = named(new QGroupBox(QStringLiteral("Settings"), this), QStringLiteral("fraOptOutSettings"));
    auto* lblWords =
        named(new QLabel(QStringLiteral("Stop words (one per line) :"), settings), QStringLiteral("lblStopWords"));
    txtStopWords = named(new QPlainTextEdit(settings), QStringLiteral("txtStopWords"));
    txtStopWords->setToolTip(
        QStringLiteral("A message whose whole text is one of these words, in any case, puts its sender on the list."));
    chkOptOutConfirm = named(new QCheckBox(QStringLiteral("Answer a stop word once with :"), settings),
                             QStringLiteral("chkOptOutConfirm"));
    txtOptOutConfirmText = named(new QLineEdit(settings), QStringLiteral("txtOptOutConfirmText"));
    chkOptOutStartRemoves =
        named(new QCheckBox(QStringLiteral("START from a listed number takes it off the list"), settings),
              QStringLiteral("chkOptOutStartRemoves"));
    cmdSaveOptOut = NamedButton(QStringLiteral("cmdSaveOptOut"), QStringLiteral("&Save Settings"), settings);
    CmdExit = NamedButton(QStringLiteral("CmdExit"), QStringLiteral("E&xit"), this);

    auto* grid = new QGridLayout(this);
    auto* entry = new QHBoxLayout;
    entry->addWidget(lblNumber);
    entry->addWidget(txtOptOutNumber, 1);
    entry->addWidget(cmdAddOptOut);
    grid->addLayout(entry, 0, 0);
    grid->addWidget(lstOptOut, 1, 0);
    auto* listActions = new QHBoxLayout;
    listActions->addWidget(lblOptOutCount);
    listActions->addStretch();
    listActions->addWidget(cmdRemoveOptOut);
    listActions->addWidget(cmdExportOptOut);
    grid->addLayout(listActions, 2, 0);
    auto* form = new QVBoxLayout(settings);
    form->addWidget(lblWords);
    form->addWidget(txtStopWords, 1);
    form->addWidget(chkOptOutConfirm);
    form->addWidget(txtOptOutConfirmText);
    form->addWidget(chkOptOutStartRemoves);
    form->addWidget(cmdSaveOptOut, 0, Qt::AlignRight);
    grid->addWidget(settings, 0, 1, 3, 1);
    auto* close = new QHBoxLayout;
    close->addStretch();
    close->addWidget(CmdExit);
    grid->addLayout(close, 3, 0, 1, 2);
    grid->setRowStretch(1, 1);
    grid->setColumnStretch(0, 2);
    grid->setColumnStretch(1, 1);
    resize(820, 480);

    connect(cmdAddOptOut, &QPushButton::clicked, this, &Frm_OptOutList::cmdAddOptOut_Click);
    connect(txtOptOutNumber, &QLineEdit::returnPressed, this, &Frm_OptOutList::cmdAddOptOut_Click);
    connect(txtOptOutNumber, &QLineEdit::textChanged, this, &Frm_OptOutList::updateButtons);
    connect(lstOptOut, &QTreeWidget::itemSelectionChanged, this, &Frm_OptOutList::updateButtons);
    connect(cmdRemoveOptOut, &QPushButton::clicked, this, &Frm_OptOutList::cmdRemoveOptOut_Click);
    connect(cmdExportOptOut, &QPushButton::clicked, this, &Frm_OptOutList::cmdExportOptOut_Click);
    connect(chkOptOutConfirm, &QCheckBox::toggled, txtOptOutConfirmText, &QWidget::setEnabled);
    connect(cmdSaveOptOut, &QPushButton::clicked, this, &Frm_OptOutList::cmdSaveOptOut_Click);
    connect(CmdExit, &QPushButton::clicked, this, &QWidget::close);

    FillList();
    loadSettings();
}

void Frm_OptOutList::FillList()
{
    lstOptOut->clear();
    try {
        const QHash<int, QString> names = modemNames(engine.database());
        const QList<OptOutEntry> entries = OptOutRepository(engine.database()).list();
        QList<QTreeWidgetItem*> rows;
        rows.reserve(entries.size());
        for (const OptOutEntry& e : entries) {
            auto* row = new QTreeWidgetItem;
            row->setText(Number, e.number);
            row->setData(Number, KeyRole, e.key);
            row->setText(AddedOn, e.added.toString(QStringLiteral("dd/MM/yyyy HH:mm")));
            row->setText(Modem, modemName(names, e.modem));
            row->setText(Word, e.word);
            rows << row;
        }
        lstOptOut->addTopLevelItems(rows);
        lblOptOutCount->setText(QStringLiteral("%1 number(s) on the list").arg(entries.size()));
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
    updateButtons();
}

void Frm_OptOutList::loadSettings()
{
    try {
        const OptOutSettings s = ReadOptOutSettings(engine.database());
        txtStopWords->setPlainText(s.stopWords.join(QLatin1Char('\n')));
        chkOptOutConfirm->setChecked(s.confirm);
        txtOptOutConfirmText->setText(s.confirmText);
        txtOptOutConfirmText->setEnabled(s.confirm);
        chkOptOutStartRemoves->setChecked(s.startRemoves);
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
}

void Frm_OptOutList::updateButtons()
{
    cmdAddOptOut->setEnabled(!txtOptOutNumber->text().trimmed().isEmpty());
    cmdRemoveOptOut->setEnabled(!lstOptOut->selectedItems().isEmpty());
    cmdExportOptOut->setEnabled(lstOptOut->topLevelItemCount() > 0);
}

void Frm_OptOutList::cmdAddOptOut_Click()
{
    const QString number = txtOptOutNumber->text().trimmed();
    if (number.isEmpty())
        return;
    if (!looksLikeNumber(number)) {
        engine.dialogs().message(QStringLiteral("Please enter a valid mobile number."));
        txtOptOutNumber->setFocus();
        return;
    }
    try {
        OptOutRepository list(engine.database());
        if (!list.add(number, engine.clock().now())) {
            engine.dialogs().message(QStringLiteral("%1 is already on the opt-out list.").arg(number));
            return;
        }
        // What is already queued to the number is held back now, not only when a run reaches it.
        const int held = list.optOutQueuedRows(number);
        engine.dialogs().message(
            QStringLiteral("%1 added to the opt-out list. %2 waiting message(s) to it marked OPTED OUT.")
                .arg(number)
                .arg(held));
        txtOptOutNumber->clear();
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
    FillList();
}

void Frm_OptOutList::cmdRemoveOptOut_Click()
{
    const QList<QTreeWidgetItem*> selected = lstOptOut->selectedItems();
    if (selected.isEmpty())
        return;
    const QString question =
        selected.size() == 1
            ? QStringLiteral("Remove %1 from the opt-out list? Messages to it will be sent again.")
                  .arg(selected.first()->text(Number))
            : QStringLiteral("Remove the %1 selected numbers from the opt-out list? Messages to them will be sent "
                             "again.")
                  .arg(selected.size());
    if (!engine.dialogs().question(question))
        return;
    try {
        OptOutRepository list(engine.database());
        for (const QTreeWidgetItem* row : selected)
            list.remove(row->data(Number, KeyRole).toString());
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
    FillList();
}

void Frm_OptOutList::cmdExportOptOut_Click()
{
    const QString path = engine.dialogs().saveFileName(QDir::home().filePath(QStringLiteral("Opt-out List.csv")),
                                                       QStringLiteral("CSV Files (*.csv)|*.csv"));
    if (path.isEmpty())
        return;
    try {
        // The list as stored, not as the window last showed it: another program may have added to it.
        const QHash<int, QString> names = modemNames(engine.database());
        const QList<OptOutEntry> entries = OptOutRepository(engine.database()).list();
        qsizetype next = 0;
        const CsvFileResult done = WriteCsvFile(
            path,
            {QStringLiteral("Number"), QStringLiteral("Added On"), QStringLiteral("Modem"), QStringLiteral("Word")},
            [&](QStringList& row) {
                if (next == entries.size())
                    return false;
                const OptOutEntry& e = entries[next++];
                row = {e.number, e.added.toString(Qt::ISODate), modemName(names, e.modem), e.word};
                return true;
            });
        if (!done.error.isEmpty())
            engine.dialogs().message(QStringLiteral("The opt-out list could not be exported to %1: %2")
                                         .arg(QDir::toNativeSeparators(path), done.error));
        else
            engine.dialogs().message(
                QStringLiteral("%1 numbers exported to %2.").arg(done.rows).arg(QDir::toNativeSeparators(path)));
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
}

void Frm_OptOutList::cmdSaveOptOut_Click()
{
    OptOutSettings s;
    s.stopWords = txtStopWords->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    s.confirm = chkOptOutConfirm->isChecked();
    s.confirmText = txtOptOutConfirmText->text().trimmed();
    s.startRemoves = chkOptOutStartRemoves->isChecked();
    // The store reads an empty list back as the default words, so "no word stops" cannot be saved as such.
    if (s.stopWords.join(QString()).trimmed().isEmpty()) {
        engine.dialogs().message(QStringLiteral("Please enter at least one stop word."));
        txtStopWords->setFocus();
        return;
    }
    // An empty answer would be queued as an empty message, which the Outbox refuses anyway.
    if (s.confirm && s.confirmText.isEmpty()) {
        engine.dialogs().message(QStringLiteral("Please enter the confirmation text."));
        txtOptOutConfirmText->setFocus();
        return;
    }
    try {
        WriteOptOutSettings(engine.database(), s);
        loadSettings(); // as stored: upper case, blanks and repeats gone
        engine.dialogs().message(QStringLiteral("Opt-out settings saved."));
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
}
