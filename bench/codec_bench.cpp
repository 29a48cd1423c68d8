// Throughput of the character-set and PDU codecs: a megabyte of text through each modem character set, and a
// hundred thousand PDUs encoded and decoded. Each figure is the best of three runs.
#include "common/Charset.h"
#include "modem/Pdu.h"

#include <QElapsedTimer>
#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

double bestMs(const std::function<void()>& run)
{
    double best = 1e300;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        run();
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

QString repeatedTo(const QString& sample, qsizetype units)
{
    QString text;
    text.reserve(units + sample.size());
    while (text.size() < units)
        text += sample;
    text.truncate(units);
    return text;
}

// Sizes are volatile sinks so the optimiser keeps the work.
volatile qsizetype sink = 0;

} // namespace

int main()
{
    constexpr qsizetype Units = 1 << 20;
    struct Case {
        Charset::Set set;
        QString sample;
    };
    const Case cases[] = {
        {Charset::Set::Gsm, u"Price $5 @ café_1 ok, {see} [list] ~ €20 | Grüße ¡Hola! ΔΦΓ\n"_s},
        {Charset::Set::Ira, u"Meeting moved to 10:30, room 4B (bring {notes}) ~ ok?\r\n"_s},
        {Charset::Set::Latin1, u"Grüße aus Köln, à bientôt, ¿qué tal? £5 ÿ\n"_s},
        {Charset::Set::Ucs2, u"Grüße ✓ 😀 € Привет 你好 مرحبا שלום 👍🏽 ok\n"_s},
    };
    std::printf("charset codec, %lld UTF-16 units of mixed text per run\n", static_cast<long long>(Units));
    for (const Case& c : cases) {
        // An escape pair and a surrogate pair must not be cut at the end of the sample.
        QString text = repeatedTo(c.sample, Units);
        while (!Charset::canEncode(text, c.set) || text.back().isHighSurrogate())
            text.chop(1);
        QByteArray bytes;
        const double enc = bestMs([&] { bytes = Charset::encode(text, c.set).bytes; });
        QString back;
        const double dec = bestMs([&] { back = Charset::decode(bytes, c.set).text; });
        std::printf("  %-6s encode %6.1f ms, decode %6.1f ms (%lld bytes, round trip %s)\n",
                    qPrintable(Charset::name(c.set)), enc, dec, static_cast<long long>(bytes.size()),
                    back == text ? "exact" : "DIFFERS");
    }
    const QString mixed = repeatedTo(cases[3].sample + cases[0].sample, Units);
    const double counting = bestMs([&] { sink = Charset::count(mixed, Charset::Mode::Pdu).parts; });
    std::printf("  counting the parts of that much mixed text in PDU mode: %.1f ms\n", counting);

    constexpr int Pdus = 100000;
    const QString texts[] = {
        u"Your order 4711 has shipped and arrives on Monday."_s,
        u"Grüße aus Köln! Price: €20 {incl. VAT}"_s,
        u"Привет! Встреча в 10:30 😀"_s,
        QString(160, u'x'),
        QString(70, u'ж'),
    };
    const QDateTime time(QDate(2026, 12, 6), QTime(8, 15, 2), Qt::OffsetFromUTC, 330 * 60);
    std::printf("PDU codec, %d single-part messages per run\n", Pdus);
    QStringList submits(Pdus), delivers(Pdus);
    const double encSubmit = bestMs([&] {
        Pdu::SubmitOptions o;
        o.validityMinutes = 24 * 60;
        o.statusReport = true;
        for (int i = 0; i < Pdus; ++i)
            submits[i] = Pdu::encodeSubmit(u"+919888812121"_s, texts[i % 5], o).parts.first().hex;
    });
    const double encDeliver = bestMs([&] {
        for (int i = 0; i < Pdus; ++i)
            delivers[i] = Pdu::encodeDeliver(i % 2 ? u"+447700900123"_s : u"Broadtext"_s, texts[i % 5],
                                             {u"+919800000000"_s, time, false, 0, {}})
                              .parts.first()
                              .hex;
    });
    const double decDeliver = bestMs([&] {
        for (int i = 0; i < Pdus; ++i)
            sink = Pdu::decodeDeliver(delivers[i]).text.size();
    });
    const double decSubmit = bestMs([&] {
        for (int i = 0; i < Pdus; ++i)
            sink = Pdu::decodeSubmit(submits[i]).text.size();
    });
    std::printf("  encode SMS-SUBMIT  %6.1f ms (%.2f us each)\n", encSubmit, encSubmit * 1000 / Pdus);
    std::printf("  encode SMS-DELIVER %6.1f ms (%.2f us each)\n", encDeliver, encDeliver * 1000 / Pdus);
    std::printf("  decode SMS-DELIVER %6.1f ms (%.2f us each)\n", decDeliver, decDeliver * 1000 / Pdus);
    std::printf("  decode SMS-SUBMIT  %6.1f ms (%.2f us each)\n", decSubmit, decSubmit * 1000 / Pdus);
    return 0;
}
