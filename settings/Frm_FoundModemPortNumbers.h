// The list of modems the detection found: port, manufacturer and model, one row each, with one empty row
// below. A click on a manufacturer picks that modem for the settings window.
#pragma once

#include <QWidget>
#include <functional>

struct AppState;
class Engine;
class QTableWidget;

class Frm_FoundModemPortNumbers : public QWidget {
    Q_OBJECT
public:
    Frm_FoundModemPortNumbers(Engine& engine, QWidget* parent = nullptr);

    // Called, after the window has closed, with the port text of the picked modem.
    std::function<void(const QString& port)> onPick;

    void MshNumbers_Click(int row, int column);

    // Column headings: a hidden leading column, then port, manufacturer and model.
    static QString columnFormat() { return QStringLiteral("|Port Number| Manufacturer Id| Model Number"); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();

    Engine& engine;
    AppState& state;
    bool childWindowWasOpen = false;
    QTableWidget* MshNumbers;
};
