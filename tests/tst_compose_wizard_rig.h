// What the wizard's window tests share: fresh state, the message database, the background engine (no
// modem), the wizard itself, the fixture files and a look into the Outbox.
#pragma once

#include "TestRig.h"
#include "compose/BroadtextWizard.h"
#include "compose/Frm_Broadtext_Step2.h"
#include "compose/Frm_Broadtext_Step3.h"
#include "compose/Frm_Broadtext_Step4.h"
#include "compose/Frm_Broadtext_Step5.h"
#include "compose/NumbersListModel.h"
#include "delivery/Engine.h"
#include "delivery/MessageBoxView.h"
#include "views/MessageTextEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTreeView>

struct OutboxRow {
    QString number;
    QString message;
    QVariant recepId;
    QVariant delivered;
    QString queuedAt;
};

// A message box that only counts the refreshes of its folder tree.
class FakeMessageBoxView : public MessageBoxView {
public:
    int treeFills = 0;
    bool isInBoxSelected() const override { return false; }
    void fillTreeView() override { ++treeFills; }
    void redraw() override {}
    void addInboxRowAtTop(const QString&, const QString&, const QDateTime&, qint64) override {}
};

struct WizardRig : TestRig {
    Engine engine{state, db, log};
    BroadtextWizard wizard{engine, nullptr};

    WizardRig() { engine.timerRefreshHomePage.setEnabled(false); }

    static QString fixture(const QString& name) { return QStringLiteral(BROADTEXT_TEST_DATA "/wizard/") + name; }

    template <typename T> static T* child(QWidget* w, const char* name)
    {
        T* c = w->findChild<T*>(QString::fromLatin1(name));
        if (!c)
            qFatal("no control %s", name);
        return c;
    }

    static void click(QWidget* w, const char* name) { child<QAbstractButton>(w, name)->click(); }
    static void choose(QWidget* w, const char* name, const QString& text)
    {
        auto* c = child<QComboBox>(w, name);
        const int i = c->findText(text);
        if (i < 0)
            qFatal("no item %s in %s", qPrintable(text), name);
        c->setCurrentIndex(i);
    }
    static QString text(QWidget* w, const char* name) { return child<QLabel>(w, name)->text(); }

    // Opens step 2 and chooses a source and a file (typed into the field).
    Frm_Broadtext_Step2* step2With(const char* option, const QString& file)
    {
        wizard.show();
        Frm_Broadtext_Step2* s = wizard.step2();
        click(s, option);
        s->txtFileName->setText(file);
        return s;
    }

    // A text file read one number per line, up to step 5.
    Frm_Broadtext_Step5* textStep5(const QString& file, const QString& separator = {})
    {
        Frm_Broadtext_Step2* s = step2With("OptTxt", file);
        if (separator.isEmpty()) {
            click(s, "OptNoOnNewLine");
        } else {
            s->cmbNoSeperatedBy->setCurrentIndex(s->cmbNoSeperatedBy->findText(separator));
        }
        click(s, "cmdNext");
        return wizard.step5();
    }

    Frm_Broadtext_Step5* accessStep5(const QString& table, const QString& numbers, const QString& messages = {})
    {
        Frm_Broadtext_Step2* s = step2With("OptAccess", fixture(QStringLiteral("wizard.mdb")));
        click(s, "cmdNext");
        Frm_Broadtext_Step3* s3 = wizard.step3();
        choose(s3, "cmbTableName", table);
        choose(s3, "CmbFieldName", numbers);
        if (!messages.isEmpty()) {
            click(s3, "optSeparateSMS");
            choose(s3, "cmbSMSField", messages);
        }
        click(s3, "cmdNext");
        return wizard.step5();
    }

    Frm_Broadtext_Step5* excelStep5(const QString& sheet, const QString& numbers, const QString& messages = {})
    {
        Frm_Broadtext_Step2* s = step2With("OptExcel", fixture(QStringLiteral("wizard.xls")));
        click(s, "cmdNext");
        Frm_Broadtext_Step4* s4 = wizard.step4();
        choose(s4, "CmbSheetName", sheet);
        choose(s4, "cmbColumnName", numbers);
        if (!messages.isEmpty()) {
            click(s4, "optSeparateSMS");
            choose(s4, "cmbSMSField", messages);
        }
        click(s4, "cmdNext");
        return wizard.step5();
    }

    static QStringList listed(Frm_Broadtext_Step5* s, int column = 0)
    {
        auto* view = child<QTreeView>(s, "ListNumbers");
        QStringList out;
        for (int r = 0; r < view->model()->rowCount(); ++r)
            out << view->model()->index(r, column).data().toString();
        return out;
    }

    static void setRowChecked(Frm_Broadtext_Step5* s, int row, bool on)
    {
        auto* view = child<QTreeView>(s, "ListNumbers");
        view->model()->setData(view->model()->index(row, 0), on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    }

    std::vector<OutboxRow> outbox()
    {
        std::vector<OutboxRow> rows;
        Query q(db, QStringLiteral("SELECT RecipientMobileNo, Message, RecepId, DeliveryDatetime, OutBoxDateTime "
                                   "FROM Message_OutBox ORDER BY Outbox_Id"));
        while (q.next())
            rows.push_back(
                {q.value(0).toString(), q.value(1).toString(), q.value(2), q.value(3), q.value(4).toString()});
        return rows;
    }

    QStringList outboxNumbers()
    {
        QStringList out;
        for (const OutboxRow& r : outbox())
            out << r.number;
        return out;
    }

    QStringList outboxMessages()
    {
        QStringList out;
        for (const OutboxRow& r : outbox())
            out << r.message;
        return out;
    }
};
