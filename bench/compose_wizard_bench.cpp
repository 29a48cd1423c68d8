// How fast the mass-send wizard takes big lists, through the real windows.
//
// Writes a text file of N numbers (default N = 100 000), an Excel 97-2003 workbook holding as many numbers
// as one worksheet can (65 535 under the heading row; made with Perl Spreadsheet::WriteExcel) and an .xlsx
// workbook of 100 000 numbers with a message each in its shared strings, as Excel writes them (made with
// python3's zipfile), then for each: the time from Next on the step before the list to the list being
// filled and drawn, and the time of Send queueing every row into the Outbox, with the longest stretch
// during queueing in which the window handled no events (a timer asks every millisecond). Every read of a
// workbook starts the reader program once. Usage: compose_wizard_bench [N]
#include "TestRig.h"
#include "compose/BroadtextWizard.h"
#include "compose/Frm_Broadtext_Step2.h"
#include "compose/Frm_Broadtext_Step4.h"
#include "compose/Frm_Broadtext_Step5.h"
#include "compose/NumberSources.h"
#include "compose/NumbersListModel.h"
#include "delivery/Engine.h"
#include "views/MessageTextEdit.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

constexpr int SheetRows = 65535; // an .xls worksheet holds 65 536 rows, one of them the heading
constexpr int XlsxRows = 100000;

QString number(int i)
{
    return QStringLiteral("98%1").arg(i, 8, 10, QLatin1Char('0'));
}

bool writeText(const QString& path, int n)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray all;
    for (int i = 0; i < n; ++i)
        all += number(i).toLatin1() + "\r\n";
    return f.write(all) == all.size();
}

bool writeWorkbook(const QString& path, int n)
{
    const QString script = QStringLiteral(
        "use Spreadsheet::WriteExcel; my $b = Spreadsheet::WriteExcel->new($ARGV[0]) or die;"
        "my $s = $b->add_worksheet('Numbers'); $s->write_string(0, 0, 'Mobile'); $s->write_string(0, 1, 'SMS');"
        "for my $i (1 .. $ARGV[1]) { $s->write_number($i, 0, 9800000000 + $i - 1);"
        " $s->write_string($i, 1, \"Message $i\"); } $b->close();");
    QProcess perl;
    perl.start(QStringLiteral("perl"), {QStringLiteral("-e"), script, path, QString::number(n)});
    return perl.waitForFinished(300000) && perl.exitStatus() == QProcess::NormalExit && perl.exitCode() == 0;
}

bool writeXlsx(const QString& path, int n)
{
    const QString script = QStringLiteral(R"(
import sys, zipfile
path, n = sys.argv[1], int(sys.argv[2])
M = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
R = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
P = "http://schemas.openxmlformats.org/package/2006/relationships"
rows = ['<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c></row>']
rows += ['<row r="%d"><c r="A%d"><v>%d</v></c><c r="B%d" t="s"><v>%d</v></c></row>' % (i + 2, i + 2, 9800000000 + i, i + 2, i + 2)
         for i in range(n)]
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("[Content_Types].xml", '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>')
    z.writestr("_rels/.rels", '<Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/officeDocument" '
               'Target="xl/workbook.xml"/></Relationships>' % (P, R))
    z.writestr("xl/workbook.xml", '<workbook xmlns="%s" xmlns:r="%s"><sheets><sheet name="Numbers" sheetId="1" '
               'r:id="rId1"/></sheets></workbook>' % (M, R))
    z.writestr("xl/_rels/workbook.xml.rels", '<Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/worksheet" '
               'Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="%s/sharedStrings" '
               'Target="sharedStrings.xml"/></Relationships>' % (P, R, R))
    z.writestr("xl/sharedStrings.xml", '<sst xmlns="%s"><si><t>Mobile</t></si><si><t>SMS</t></si>%s</sst>'
               % (M, "".join("<si><t>Message %d</t></si>" % (i + 1) for i in range(n))))
    z.writestr("xl/worksheets/sheet1.xml", '<worksheet xmlns="%s"><dimension ref="A1:B%d"/><sheetData>%s'
               '</sheetData></worksheet>' % (M, n + 1, "".join(rows)))
)");
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), script, path, QString::number(n)});
    return python.waitForFinished(300000) && python.exitStatus() == QProcess::NormalExit && python.exitCode() == 0;
}

struct Figures {
    double fillMs = 0;
    double queueMs = 0;
    double longestPauseMs = 0;
    qint64 rows = 0;
    qint64 queued = 0;
};

// Presses the button that opens step 5, then Send; step 5 must come up with the whole list.
Figures measure(TestRig& rig, BroadtextWizard& wizard, QPushButton* next)
{
    Figures f;
    QElapsedTimer t;
    t.start();
    next->click();
    QPointer<Frm_Broadtext_Step5> reading = wizard.step5();
    // A table or a worksheet is read from the event loop: this loop stands for the application's.
    while (reading && reading->isReading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    Frm_Broadtext_Step5* s5 = reading;
    if (!s5)
        return f;
    s5->grab(); // lay out and draw the list once, as the screen would
    f.fillMs = t.nsecsElapsed() / 1e6;
    f.rows = s5->numbers()->count();
    if (!s5->separateMessages())
        s5->txtMessage->setText(QStringLiteral("Our shop opens at nine tomorrow."));

    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        f.longestPauseMs = std::max(f.longestPauseMs, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
    });
    ticker.start(1);
    sinceTick.restart();
    t.restart();
    QPointer<Frm_Broadtext_Step5> step(s5); // a step that queued everything closes
    s5->cmdNext->click();
    // The rows are queued from the event loop: this loop stands for the application's.
    while (step && step->isQueueing())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    f.queueMs = t.nsecsElapsed() / 1e6;
    ticker.stop();
    f.queued = rig.db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox"));
    return f;
}

void print(const char* what, const Figures& f)
{
    std::printf("  %-44s %7lld rows   list filled in %8.1f ms   queued %7lld in %8.1f ms"
                "   longest pause while queueing %6.1f ms\n",
                what, static_cast<long long>(f.rows), f.fillMs, static_cast<long long>(f.queued), f.queueMs,
                f.longestPauseMs);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int n = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;
    std::printf("Mass-send wizard (%d numbers from a text file, %d from an .xls worksheet, %d from an .xlsx one)\n", n,
                SheetRows, XlsxRows);

    {
        TestRig rig;
        Engine engine(rig.state, rig.db, rig.log);
        BroadtextWizard wizard(engine, nullptr);
        const QString file = rig.dir.path() + QStringLiteral("/numbers.txt");
        if (!writeText(file, n)) {
            std::printf("  cannot write %s\n", qPrintable(file));
            return 1;
        }
        wizard.show();
        Frm_Broadtext_Step2* s2 = wizard.step2();
        s2->OptNoOnNewLine->click();
        s2->txtFileName->setText(file);
        const Figures f = measure(rig, wizard, s2->cmdNext);
        print("text file, one number per line", f);
        if (!rig.dialogs.messages().isEmpty())
            std::printf("  messages: %s\n", qPrintable(rig.dialogs.messages().join(QStringLiteral(" | "))));
    }

    struct Workbook {
        const char* what;
        const char* name;
        int rows;
        bool (*write)(const QString&, int);
    };
    const Workbook books[] = {{"Excel sheet", "numbers.xls", SheetRows, writeWorkbook},
                              {"Excel 2007 sheet", "numbers.xlsx", XlsxRows, writeXlsx}};
    for (const Workbook& book : books) {
        QTemporaryDir made;
        const QString file = made.filePath(QString::fromLatin1(book.name));
        QElapsedTimer t;
        t.start();
        if (!book.write(file, book.rows)) {
            std::printf("  cannot write %s (perl with Spreadsheet::WriteExcel and python3 are needed)\n", book.name);
            return 1;
        }
        std::printf("  (%s of %d rows written in %.0f ms, %lld bytes)\n", book.name, book.rows, t.nsecsElapsed() / 1e6,
                    static_cast<long long>(QFile(file).size()));
        for (const bool separate : {false, true}) {
            TestRig rig;
            Engine engine(rig.state, rig.db, rig.log);
            BroadtextWizard wizard(engine, nullptr);
            wizard.show();
            Frm_Broadtext_Step2* s2 = wizard.step2();
            s2->OptExcel->click();
            s2->txtFileName->setText(file);
            t.restart();
            s2->cmdNext->click();
            const double sheetsMs = t.nsecsElapsed() / 1e6;
            Frm_Broadtext_Step4* s4 = wizard.step4();
            t.restart();
            s4->CmbSheetName->setCurrentIndex(0);
            const double columnsMs = t.nsecsElapsed() / 1e6;
            t.restart();
            s4->cmbColumnName->setCurrentIndex(0);
            const double previewMs = t.nsecsElapsed() / 1e6;
            if (separate) {
                s4->optSeparateSMS->click();
                s4->cmbSMSField->setCurrentIndex(1);
            } else {
                std::printf("  %s: sheets listed in %.1f ms, columns in %.1f ms, four-record preview in %.1f ms\n",
                            book.what, sheetsMs, columnsMs, previewMs);
            }
            const Figures f = measure(rig, wizard, s4->cmdNext);
            print(qPrintable(QString::fromLatin1(book.what) +
                             QString::fromLatin1(separate ? ", message per number" : ", common message")),
                  f);
            if (!rig.dialogs.messages().isEmpty())
                std::printf("  messages: %s\n", qPrintable(rig.dialogs.messages().join(QStringLiteral(" | "))));
        }
    }
    return 0;
}
