// The sending policy in the settings window: quiet hours on the timer tab and each modem's sending limits, set
// through the controls, stored by Save where the delivery runs read them (the first modem's limits in its Modems
// row beside ModemSetting), shown again by a new window, and refused before anything is stored when they make no
// sense.
#include "EngineRig.h"
#include "SettingsWindow.h"
#include "settings/frm_Settings.h"
#include "store/ModemsRepository.h"
#include "store/Schedule.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTableWidget>
#include <QTimeEdit>

using namespace Qt::StringLiterals;

namespace {

const QString Saved = u"Settings Saved Successfully!!!"_s;
// The limit boxes in the order the rows of the table list their values.
const QStringList LimitBoxes =
    u"txtLimitMinute txtLimitHour txtLimitDay txtLimitRecipientsMonth txtGapMin txtGapMax"_s.split(u' ');

struct Window : SettingsWindow {
    using SettingsWindow::SettingsWindow;
    // Types the limits of the selected modem, one text a box; an empty list leaves the boxes as they are.
    void setLimits(const QStringList& texts) const
    {
        for (qsizetype i = 0; i < texts.size(); ++i)
            get<QLineEdit>(LimitBoxes.at(i))->setText(texts.at(i));
    }
    QStringList limits() const
    {
        QStringList texts;
        for (const QString& box : LimitBoxes)
            texts << get<QLineEdit>(box)->text();
        return texts;
    }
    // "21:00-08:00" switches quiet hours on with those times; empty leaves them off.
    void setQuietHours(const QString& window, bool exempt) const
    {
        if (!window.isEmpty()) {
            get<QCheckBox>(u"chkQuietHours"_s)->setChecked(true);
            get<QTimeEdit>(u"dtpQuietFrom"_s)->setTime(QTime::fromString(window.section(u'-', 0, 0), u"HH:mm"_s));
            get<QTimeEdit>(u"dtpQuietTo"_s)->setTime(QTime::fromString(window.section(u'-', 1, 1), u"HH:mm"_s));
        }
        get<QCheckBox>(u"chkQuietRepliesExempt"_s)->setChecked(exempt);
    }
    QString quietHours() const
    {
        if (!get<QCheckBox>(u"chkQuietHours"_s)->isChecked())
            return {};
        return get<QTimeEdit>(u"dtpQuietFrom"_s)->time().toString(u"HH:mm"_s) + u'-' +
               get<QTimeEdit>(u"dtpQuietTo"_s)->time().toString(u"HH:mm"_s);
    }
};

// The limits a row of texts means: each a number, an empty row or box none.
ModemLimits limitsOf(const QStringList& texts)
{
    int v[6] = {};
    for (qsizetype i = 0; i < texts.size(); ++i)
        v[i] = texts.at(i).toInt();
    return {v[0], v[1], v[2], v[3], v[4], v[5]};
}

QString stored(const QuietHours& q)
{
    return q.enabled() ? q.start.toString(u"HH:mm"_s) + u'-' + q.end.toString(u"HH:mm"_s) : QString();
}

} // namespace

class SettingsPolicyTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void policyIsSavedShownAgainOrRefused_data();
    void policyIsSavedShownAgainOrRefused();
};

void SettingsPolicyTest::policyIsSavedShownAgainOrRefused_data()
{
    QTest::addColumn<QString>("quiet"); // "from-to", empty: off
    QTest::addColumn<bool>("exempt");
    QTest::addColumn<QStringList>("first");  // the first modem's limit boxes, as LimitBoxes orders them
    QTest::addColumn<QStringList>("second"); // those of a modem added in the window
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("tab"); // the tab a refusal shows
    QTest::addColumn<int>("row"); // the modem a refusal shows
    auto limits = [](const char* texts) { return QString::fromLatin1(texts).split(u' ', Qt::SkipEmptyParts); };

    QTest::newRow("no policy") << QString() << true << QStringList() << QStringList() << Saved << 0 << 0;
    QTest::newRow("quiet hours wrapping midnight, limits on both modems")
        << u"21:00-08:00"_s << false << limits("10 100 500 200 3 8") << limits("5 0 0 0 2 2") << Saved << 0 << 0;
    QTest::newRow("quiet hours within a day, replies exempt, empty box is no limit")
        << u"12:30-14:00"_s << true << limits("0 0 0 0 0 0") << QStringList{u"6"_s, QString(), u"40"_s} << Saved << 0
        << 0;
    QTest::newRow("quiet hours of no length")
        << u"09:00-09:00"_s << true << QStringList() << QStringList() << frm_Settings::quietHoursRefusal() << 1 << 0;
    QTest::newRow("negative limit, first modem")
        << QString() << true << limits("-1 0 0 0 0 0") << QStringList() << frm_Settings::limitRefusal() << 0 << 0;
    QTest::newRow("limit not a number, added modem")
        << QString() << true << QStringList() << limits("0 ten 0 0 0 0") << frm_Settings::limitRefusal() << 0 << 1;
    QTest::newRow("gap backwards, added modem")
        << QString() << true << QStringList() << limits("0 0 0 0 9 4") << frm_Settings::gapRefusal() << 0 << 1;
}

void SettingsPolicyTest::policyIsSavedShownAgainOrRefused()
{
    QFETCH(QString, quiet);
    QFETCH(bool, exempt);
    QFETCH(QStringList, first);
    QFETCH(QStringList, second);
    QFETCH(QString, message);
    QFETCH(int, tab);
    QFETCH(int, row);
    EngineRig rig;
    rig.saveModemSetting();
    {
        Window w(rig);
        w.setLimits(first);
        w.click(u"cmdAddModem"_s);
        w.get<QComboBox>(u"Combo_comportNo"_s)->setCurrentText(u"5"_s);
        w.setLimits(second);
        w.select(0); // the added modem's entries are kept while another one is shown
        w.setQuietHours(quiet, exempt);
        w.click(u"cmdSave1"_s);
        QCOMPARE(rig.dialogs.messages(), QStringList{message});
        if (message != Saved) {
            QCOMPARE(w.get<QTabBar>(u"TabStrip1"_s)->currentIndex(), tab);
            QCOMPARE(w.list()->currentRow(), row);
            // Nothing of the policy or the modem list was stored.
            QCOMPARE(stored(ReadScheduleSettings(rig.db).quiet), QString());
            QCOMPARE(ModemsRepository(rig.db).all().size(), 1);
            QCOMPARE(ModemsRepository(rig.db).find(Engine::FirstModem)->limits, ModemLimits{});
            return;
        }
    }
    const ScheduleSettings schedule = ReadScheduleSettings(rig.db);
    QCOMPARE(stored(schedule.quiet), quiet);
    QCOMPARE(schedule.repliesExempt, exempt);
    const QList<ModemConfig> modems = ModemsRepository(rig.db).all();
    QCOMPARE(modems.size(), 2);
    QCOMPARE(modems.at(0).limits, limitsOf(first));
    QCOMPARE(modems.at(1).limits, limitsOf(second));
    // The sessions follow the saved list, and each run reads its modem's limits from these rows.
    QCOMPARE(rig.engine.modemIds(), QList<int>({Engine::FirstModem, modems.at(1).id}));

    Window again(rig);
    QCOMPARE(again.quietHours(), quiet);
    QCOMPARE(again.get<QCheckBox>(u"chkQuietRepliesExempt"_s)->isChecked(), exempt);
    for (int r : {0, 1}) {
        again.select(r);
        const ModemLimits l = modems.at(r).limits;
        QCOMPARE(again.limits(), (QStringList{QString::number(l.perMinute), QString::number(l.perHour),
                                              QString::number(l.perDay), QString::number(l.recipientsPerMonth),
                                              QString::number(l.gapMinSeconds), QString::number(l.gapMaxSeconds)}));
    }
}

QTEST_MAIN(SettingsPolicyTest)
#include "tst_settings_policy.moc"
