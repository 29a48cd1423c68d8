#include "settings/frm_ChekModemProgress.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Seams.h"
#include "delivery/Engine.h"
#include "settings/Frm_FoundModemPortNumbers.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
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
    : QWidget(parent, Qt::Dialog), engine(engine), state(engine.state)
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
    close();
}

void frm_ChekModemProgress::closeEvent(QCloseEvent* event)
{
    // Closed by the user while the scan runs: the same as Cancel.
    if (!scanEnded)
        cancelled = true;
    state.ChildWindowOpen = childWindowWasOpen;
    event->accept();
}

void frm_ChekModemProgress::scan()
{
    QPointer<frm_ChekModemProgress> self(this);
    Modem& modem = engine.modem;
    MSComm& port = engine.MSComm1;
    AppState& st = state;
    // The window went away under the scan (its owner was deleted): leave the port as the scan found it.
    auto abandon = [&] {
        modem.CloseComPort();
        st.IsConnected = false;
    };
    state.ChildWindowOpen = true;

    QList<int> found;
    if (ProgBar->value() == 100)
        ProgBar->setValue(0);
    int p = 1;
    if (!cancelled) {
        do {
            ProgBar->setValue(ProgBar->value() + 5);
            Label1->setText(QString::number(ProgBar->value()) + QLatin1Char('%'));
            ProgBar->repaint();
            Label1->repaint();

            // A port that does not exist or is busy fails here, silently, and costs no wait.
            modem.ConfigureComPort(p, probeSettings());
            const bool opened = !port.setPortOpen(true);
            state.IsConnected = opened;

            QString response;
            if (opened)
                response = modem.ExecuteATCommand(QStringLiteral("AT\r"), ScaledDelay(state.ModemDelayFactor, 100),
                                                  QStringLiteral("OK"), false, true, 2, QString());
            if (!self)
                return abandon();
            ++p;
            if (!response.isEmpty()) {
                found << p - 1;
            } else if (p > LastPort && found.isEmpty()) {
                state.dialogs->message(QStringLiteral("Searched COM ports from 1 - 20 but did not find a modem."));
                break;
            }
            port.setPortOpen(false);
            state.IsConnected = false;
        } while (!cancelled && p <= LastPort);
        modem.CloseComPort();
        state.IsConnected = false;
    }

    if (!cancelled) {
        ProgBar->setValue(100);
        Label1->setText(QStringLiteral("100%"));
        for (int f : found) {
            if (cancelled)
                break;
            state.ComPorts += QString::number(f) + QStringLiteral(", ");
            modem.ConfigureComPort(f, probeSettings());
            modem.OpenComPort();
            const QString manufacturer = modem.GetManufacturerId();
            if (!self)
                return abandon();
            state.ManufacturerId += listEntry(manufacturer) + QLatin1Char(',');
            const QString model = modem.GetModelId();
            if (!self)
                return abandon();
            state.ModelId += listEntry(model) + QStringLiteral(", ");
            modem.CloseComPort();
        }
    }
    modem.CloseComPort();
    state.IsConnected = false;

    scanEnded = true;
    const bool showList = !cancelled;
    close();
    deleteLater();
    if (showList) {
        auto* list = new Frm_FoundModemPortNumbers(engine, parentWidget());
        list->onPick = onPick;
        list->setWindowModality(Qt::ApplicationModal);
        list->show();
    }
}
