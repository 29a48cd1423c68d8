// What the wizard's window tests share: fresh state, the message database, the background engine (no
// modem), the wizard itself, the fixture files, ways to reach each step and a look into the Outbox.
#pragma once

#include "TestRig.h"
#include "compose/BroadtextWizard.h"
#include "compose/Frm_Broadtext_Step2.h"
#include "compose/Frm_Broadtext_Step3.h"
#include "compose/Frm_Broadtext_Step4.h"
#include "compose/Frm_Broadtext_Step5.h"
#include "delivery/Engine.h"
#include "views/MessageTextEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTreeView>

// Counts the engine's news that the Outbox changed: what an open message box refreshes its folder tree on.
class OutboxNews : public QObject {
public:
    int treeFills = 0;
    explicit OutboxNews(Engine& engine)
    {
        QObject::connect(&engine, &Engine::outboxChanged, this, [this] { ++treeFills; });
    }
};

struct WizardRig : TestRig {
    Engine engine{state, db, log};
    BroadtextWizard wizard{engine, nullptr};

    WizardRig() { engine.timerRefreshHomePage.setEnabled(false); }

    static QString fixture(const QString& name) { return QStringLiteral(BROADTEXT_TEST_DATA "/wizard/") + name; }

    template <typename T> static T* child(QWidget* w, const QString& name)
    {
        T* c = w->findChild<T*>(name);
        if (!c)
            qFatal("no control %s", qPrintable(name));
        return c;
    }
    static void click(QWidget* w, const QString& name) { child<QAbstractButton>(w, name)->click(); }
    static void choose(QWidget* w, const QString& name, const QString& text)
    {
        auto* c = child<QComboBox>(w, name);
        const int i = c->findText(text);
        if (i < 0)
            qFatal("no item %s in %s", qPrintable(text), qPrintable(name));
        c->setCurrentIndex(i);
    }
    static QString text(QWidget* w, const char* name) { return child<QLabel>(w, QString::fromLatin1(name))->text(); }
    static QStringList items(QComboBox* c)
    {
        QStringList out;
        for (int i = 0; i < c->count(); ++i)
            out << c->itemText(i);
        return out;
    }
    static QString focused(QWidget* w) { return w->focusWidget() ? w->focusWidget()->objectName() : QString(); }
    static void processDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    static int visibleWindows()
    {
        processDeletes();
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            n += w->isVisible() ? 1 : 0;
        return n;
    }

    // Opens step 2 and chooses a source and a file (typed into the field).
    Frm_Broadtext_Step2* step2With(const char* option, const QString& file)
    {
        wizard.show();
        Frm_Broadtext_Step2* s = wizard.step2();
        click(s, QString::fromLatin1(option));
        s->txtFileName->setText(file);
        return s;
    }

    // A text file up to step 5: one number per line (""), separated by `separator`, or with the layout as
    // the step starts ("?": separated, no separator chosen).
    Frm_Broadtext_Step5* textStep5(const QString& file, const QString& separator = {})
    {
        Frm_Broadtext_Step2* s = step2With("OptTxt", file);
        if (separator.isEmpty())
            s->OptNoOnNewLine->click();
        else if (separator != QLatin1String("?"))
            choose(s, QStringLiteral("cmbNoSeperatedBy"), separator);
        s->cmdNext->click();
        return wizard.step5();
    }

    // Step 3 for an Access file (a fixture ending in .mdb) or step 4 for a workbook or CSV file.
    static bool isAccess(const QString& file) { return file.endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive); }
    WizardStep* tableStep(const QString& file)
    {
        const bool access = isAccess(file);
        const bool csv = file.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
        step2With(access ? "OptAccess" : csv ? "OptCsv" : "OptExcel", fixture(file))->cmdNext->click();
        return step(access ? 3 : 4);
    }

    // Step 5 from a table or a worksheet: the numbers column and, when given, the messages column.
    Frm_Broadtext_Step5* tableStep5(const QString& file, const QString& table, const QString& numbers,
                                    const QString& messages = {})
    {
        const bool access = isAccess(file);
        WizardStep* s = tableStep(file);
        choose(s, access ? QStringLiteral("cmbTableName") : QStringLiteral("CmbSheetName"), table);
        choose(s, access ? QStringLiteral("CmbFieldName") : QStringLiteral("cmbColumnName"), numbers);
        if (!messages.isEmpty()) {
            click(s, QStringLiteral("optSeparateSMS"));
            choose(s, QStringLiteral("cmbSMSField"), messages);
        }
        click(s, QStringLiteral("cmdNext"));
        return readStep5();
    }

    // Step 5 once it has read its list (a table or a worksheet is read from the event loop).
    Frm_Broadtext_Step5* readStep5() const
    {
        QPointer<Frm_Broadtext_Step5> s = wizard.step5();
        if (!QTest::qWaitFor([&] { return !s || !s->isReading(); }, 60000))
            qFatal("step 5 did not finish reading");
        return s;
    }

    // The loaded step n.
    WizardStep* step(int n) const
    {
        WizardStep* steps[] = {wizard.step2(), wizard.step3(), wizard.step4(), wizard.step5()};
        return steps[n - 2];
    }

    // Step n reached the usual way: 3 from wizard.mdb, 4 from wizard.xls, 5 from three-lines.txt.
    WizardStep* openStep(int n)
    {
        if (n == 2)
            wizard.show();
        else if (n < 5)
            tableStep(QString::fromLatin1(n == 3 ? "wizard.mdb" : "wizard.xls"));
        else
            textStep5(fixture(QStringLiteral("three-lines.txt")));
        return step(n);
    }

    // What the numbers list shows in a column, and a row's mark set as a click on its box would.
    static QStringList listed(Frm_Broadtext_Step5* s, int column = 0)
    {
        QAbstractItemModel* m = s->ListNumbers->model();
        QStringList out;
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->index(r, column).data().toString();
        return out;
    }
    static void setRowChecked(Frm_Broadtext_Step5* s, int row, bool on)
    {
        QAbstractItemModel* m = s->ListNumbers->model();
        m->setData(m->index(row, 0), on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    }

    // Send on step 5, waited for until the queueing has ended (a long list is queued from the event loop).
    static void send(Frm_Broadtext_Step5* s)
    {
        QPointer<Frm_Broadtext_Step5> step(s); // a step that queued everything closes
        QTest::mouseClick(s->cmdNext, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!step || !step->isQueueing(), 60000);
    }

    // The one message step 5 showed names the refusal, and neither a row nor a campaign was queued.
    bool refusedWithNothingQueued(const QString& refusal)
    {
        return dialogs.messages().size() == 1 && dialogs.messages().first().contains(refusal) &&
               db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox")) == 0 &&
               db.count(QStringLiteral("SELECT count(*) FROM Campaigns")) == 0;
    }

    // One column of the Outbox, in the order the rows were queued.
    QStringList outbox(const char* column)
    {
        QStringList out;
        Query q(db, QStringLiteral("SELECT %1 FROM Message_OutBox ORDER BY Outbox_Id").arg(QLatin1String(column)));
        while (q.next())
            out << q.value(0).toString();
        return out;
    }
    QStringList outboxNumbers() { return outbox("RecipientMobileNo"); }
    QStringList outboxMessages() { return outbox("Message"); }
};
