// Modem auto-detection: probes COM1 to COM20 with "AT" through the program's own serial port, asks each
// modem found for its manufacturer and model, then hands the result to the list of detected modems (or says
// that none was found), or to the settings window's modem list.
//
// The scan starts by itself once the window is first shown and runs on the modem thread, reporting each
// port as it goes; Cancel stops it at the next port. The window deletes itself when the scan has ended.
#pragma once

#include <QWidget>
#include <functional>

struct AppState;
class Engine;
class QLabel;
class QProgressBar;
class QPushButton;
struct ProbeResult;

class frm_ChekModemProgress : public QWidget {
    Q_OBJECT
public:
    frm_ChekModemProgress(Engine& engine, QWidget* parent = nullptr);

    void Command1_Click();
    // Passed on to the list of detected modems: called with the port text of the modem the user picked.
    std::function<void(const QString& port)> onPick;
    // When set, a completed scan goes here (after the window has closed) instead of to the list of detected
    // modems, with no message of its own: the settings window's Detect adds what was found to its modem list.
    std::function<void(const ProbeResult& result)> onScanned;

    // Settings for the probe of every port.
    static QString probeSettings() { return QStringLiteral("115200,N,8,1"); }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Activate();
    void scan();
    void scanned(const struct ProbeResult& result);

    Engine& engine;
    AppState& state;
    bool cancelled = false;
    bool started = false;
    bool scanEnded = false;
    bool childWindowWasOpen = false;

    QProgressBar* ProgBar;
    QLabel* Label1;
    QPushButton* Command1;
};
