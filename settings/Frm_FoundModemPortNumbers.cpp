#include "settings/Frm_FoundModemPortNumbers.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Seams.h"
#include "delivery/Engine.h"
#include "modem/ComPorts.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int PortColumn = 1;
constexpr int ManufacturerColumn = 2;
constexpr int ModelColumn = 3;

// Twips to pixels on a 96-dpi screen.
constexpr int Px(int twips)
{
    return twips / 15;
}

} // namespace

Frm_FoundModemPortNumbers::Frm_FoundModemPortNumbers(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Dialog), engine(engine), state(engine.appState())
{
    setObjectName(QStringLiteral("Frm_FoundModemPortNumbers"));
    setWindowTitle(QStringLiteral("Select Your Modem"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* label1 = new QLabel(QStringLiteral("Found Modems :"), this);
    label1->setObjectName(QStringLiteral("Label1"));
    auto* label2 = new QLabel(QStringLiteral("Please select the modem which you wish for your application ."), this);
    label2->setObjectName(QStringLiteral("Label2"));
    MshNumbers = new QTableWidget(this);
    MshNumbers->setObjectName(QStringLiteral("MshNumbers"));
    MshNumbers->setEditTriggers(QAbstractItemView::NoEditTriggers);
    MshNumbers->setSelectionMode(QAbstractItemView::NoSelection);
    MshNumbers->verticalHeader()->hide();
    MshNumbers->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    MshNumbers->horizontalHeader()->setHighlightSections(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label1);
    layout->addWidget(MshNumbers, 1);
    layout->addWidget(label2);
    resize(Px(1000 + 2700 + 2700) + 80, 260);

    connect(MshNumbers, &QTableWidget::cellClicked, this, &Frm_FoundModemPortNumbers::MshNumbers_Click);

    Form_Load();
}

void Frm_FoundModemPortNumbers::Form_Load()
{
    childWindowWasOpen = state.ChildWindowOpen;
    state.ChildWindowOpen = true;
    state.selectPortFromList = false;

    MshNumbers->clear();
    const QStringList heads = columnFormat().split(QLatin1Char('|'));
    MshNumbers->setColumnCount(static_cast<int>(heads.size()));
    MshNumbers->setHorizontalHeaderLabels(heads);
    MshNumbers->setColumnHidden(0, true);
    // The widths of the design, widened where this desktop's font would cut a heading.
    const int widths[] = {0, Px(1000), Px(2700), Px(2700)};
    for (int c = PortColumn; c <= ModelColumn; ++c)
        MshNumbers->setColumnWidth(c, std::max(widths[c], MshNumbers->horizontalHeader()->sectionSizeHint(c)));
    MshNumbers->setRowCount(1);

    const QStringList ports = state.ComPorts.split(QLatin1Char(','));
    const QStringList manufacturers = state.ManufacturerId.split(QLatin1Char(','));
    const QStringList models = state.ModelId.split(QLatin1Char(','));
    int r = 0;
    for (qsizetype i = 0; i < ports.size(); ++i) {
        if (Trim(ports.at(i)).isEmpty())
            continue;
        MshNumbers->setItem(r, PortColumn, new QTableWidgetItem(ports.at(i)));
        auto* manufacturer = new QTableWidgetItem(manufacturers.value(i));
        // The manufacturer is the place to click.
        manufacturer->setForeground(QColor(0, 0, 255));
        QFont bold = MshNumbers->font();
        bold.setBold(true);
        manufacturer->setFont(bold);
        MshNumbers->setItem(r, ManufacturerColumn, manufacturer);
        MshNumbers->setItem(r, ModelColumn, new QTableWidgetItem(models.value(i)));
        ++r;
        MshNumbers->setRowCount(r + 1);
    }
    MshNumbers->setCurrentItem(nullptr);
}

void Frm_FoundModemPortNumbers::MshNumbers_Click(int row, int column)
{
    if (column != ManufacturerColumn)
        return;
    const QTableWidgetItem* portItem = MshNumbers->item(row, PortColumn);
    if (!portItem || portItem->text().isEmpty())
        return;
    const QString port = Trim(portItem->text());
    state.selectPortFromList = true;
    // From now on the number means this modem, even when another device later takes its device name.
    PinComPort(PortPathsOf(state), port.toInt());
    const auto pick = onPick;
    close();
    if (pick)
        pick(port);
}

void Frm_FoundModemPortNumbers::closeEvent(QCloseEvent* event)
{
    state.ManufacturerId.clear();
    state.ModelId.clear();
    state.ChildWindowOpen = childWindowWasOpen;
    event->accept();
}
