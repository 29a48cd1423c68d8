#include "settings/frm_ChekModemProgress.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Seams.h"
#include "delivery/Engine.h"
#include "settings/Frm_FoundModemPortNumbers.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int LastPort = 20;

// An identity answer goes into a comma-separated result text: a comma of its own would shift every later
// entry to the wrong modem.
QString listEntry(const QString& answer)
{
    QString entry = answer;
    entry.replace(QLatin1Char(','), QLatin1Char(';'));
    return entry;
}

} // namespace

frm_ChekModemProgress::frm_ChekModemProgress(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Dialog), engine(engine), state(engine.appState())
{
    setObjectName(QStringLiteral("frm_ChekModemProgress"));
    setWindowTitle(QStringLiteral("Please Wait.........."));

    ProgBar = new QProgressBar(this);
    ProgBar->setObjectName(QStringLiteral("ProgBar"));
    ProgBar->setRange(0, 100);
    ProgBar->setValue(0);
    ProgBar->setTextVisible(false);
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setMinimumWidth(40);
    Command1 = new QPushButton(QStringLiteral("&Cancel"), this);
    Command1->setObjectName(QStringLiteral("Command1"));

    auto* bar = new QHBoxLayout;
    bar->addWidget(ProgBar, 1);
    bar->addWidget(Label1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(Command1, 0, Qt::AlignHCenter);
    resize(340, 90);

    connect(Command1, &QPushButton::clicked, this, &frm_ChekModemProgress::Command1_Click);

    // Load: the results of an earlier scan do not belong to this one.
    childWindowWasOpen = state.ChildWindowOpen;
    state.ComPorts.clear();
    state.ManufacturerId.clear();
    state.ModelId.clear();
    cancelled = false;
}

void frm_ChekModemProgress::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (started)
        return;
    started = true;
    // Run once the window is on the screen, not inside show().
    QMetaObject::invokeMethod(this, &frm_ChekModemProgress::Form_Activate, Qt::QueuedConnection);
}

void frm_ChekModemProgress::Form_Activate()
{
    scan();
}

void frm_ChekModemProgress::Command1_Click()
{
    cancelled = true;
    engine.cancelProbe();
    close();
}

void frm_ChekModemProgress::closeEvent(QCloseEvent* event)
{
    // Closed by the user while the scan runs: the same as Cancel.
    if (!scanEnded) {
        cancelled = true;
        engine.cancelProbe();
    }
    state.ChildWindowOpen = childWindowWasOpen;
    event->accept();
}

void frm_ChekModemProgress::scan()
{
    state.ChildWindowOpen = true;
    if (ProgBar->value() == 100)
        ProgBar->setValue(0);
    if (cancelled) {
        scanned({});
        return;
    }
    engine.ProbeComPorts(
        1, LastPort, probeSettings(), this,
        [this](int) {
            ProgBar->setValue(std::min(100, ProgBar->value() + 5));
            Label1->setText(QString::number(ProgBar->value()) + QLatin1Char('%'));
        },
        [this](const ProbeResult& r) { scanned(r); });
}

void frm_ChekModemProgress::scanned(const ProbeResult& result)
{
    scanEnded = true;
    const bool completed = !cancelled && !result.aborted;
    if (completed) {
        ProgBar->setValue(100);
        Label1->setText(QStringLiteral("100%"));
        if (result.found.empty() && !onScanned)
            engine.dialogs().message(QStringLiteral("Searched COM ports from 1 - 20 but did not find a modem."));
        for (const ProbeResult::Found& f : result.found) {
            state.ComPorts += QString::number(f.port) + QStringLiteral(", ");
            state.ManufacturerId += listEntry(f.manufacturer) + QLatin1Char(',');
            state.ModelId += listEntry(f.model) + QStringLiteral(", ");
        }
    }
    close();
    deleteLater();
    if (completed && onScanned) {
        onScanned(result);
        return;
    }
    // An empty list would leave nothing to pick and no way on: the message has said it all.
    if (completed && !result.found.empty()) {
        auto* list = new Frm_FoundModemPortNumbers(engine, parentWidget());
        list->onPick = onPick;
        list->setWindowModality(Qt::ApplicationModal);
        list->show();
    }
}
