#include "compose/ReaderRecords.h"

#include <cerrno>
#include <unistd.h>

namespace {

// A record is one type byte, a 32-bit little-endian length and the payload. A row's payload is one value
// after the other: a flag byte (0 null, 1 text), a length and the UTF-8 text.
constexpr char NameRecord = 'N';
constexpr char RowRecord = 'R';
constexpr char ErrorRecord = 'E';
constexpr int FlushSize = 64 * 1024;

void putLength(QByteArray& out, quint32 n)
{
    const char b[4] = {char(n & 0xff), char((n >> 8) & 0xff), char((n >> 16) & 0xff), char((n >> 24) & 0xff)};
    out.append(b, 4);
}

bool getLength(const QByteArray& in, qsizetype at, quint32* n)
{
    if (at + 4 > in.size())
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(in.constData() + at);
    *n = quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
    return true;
}

bool decodeRow(const char* data, qsizetype size, std::vector<SourceValue>& row)
{
    const QByteArray payload = QByteArray::fromRawData(data, size);
    qsizetype at = 0;
    while (at < size) {
        const char flag = data[at++];
        quint32 n = 0;
        if (!getLength(payload, at, &n))
            return false;
        at += 4;
        if (at + qsizetype(n) > size)
            return false;
        if (flag == 0)
            row.emplace_back(std::nullopt);
        else
            row.emplace_back(QString::fromUtf8(data + at, qsizetype(n)));
        at += n;
    }
    return true;
}

} // namespace

void ReaderSink::frame(char type, const QByteArray& payload)
{
    buffer.append(type);
    putLength(buffer, quint32(payload.size()));
    buffer.append(payload);
    if (buffer.size() >= FlushSize)
        flush();
}

void ReaderSink::name(const QString& n)
{
    frame(NameRecord, n.toUtf8());
}

void ReaderSink::row(const std::vector<SourceValue>& values)
{
    QByteArray payload;
    for (const SourceValue& v : values) {
        payload.append(char(v ? 1 : 0));
        const QByteArray text = v ? v->toUtf8() : QByteArray();
        putLength(payload, quint32(text.size()));
        payload.append(text);
    }
    frame(RowRecord, payload);
}

void ReaderSink::error(const QString& description)
{
    frame(ErrorRecord, description.toUtf8());
}

void ReaderSink::flush()
{
    const char* data = buffer.constData();
    qsizetype left = buffer.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // the wizard stopped listening; it has what it needs
        data += n;
        left -= n;
    }
    buffer.clear();
}

qsizetype DecodeReaderRecords(const QByteArray& stream, qsizetype from, ReaderOutput& out)
{
    qsizetype at = from;
    for (;;) {
        quint32 n = 0;
        if (at + 1 > stream.size() || !getLength(stream, at + 1, &n) || at + 5 + qsizetype(n) > stream.size())
            return at;
        const char type = stream.at(at);
        const char* payload = stream.constData() + at + 5;
        if (type == NameRecord) {
            out.names << QString::fromUtf8(payload, qsizetype(n));
        } else if (type == ErrorRecord) {
            out.error = QString::fromUtf8(payload, qsizetype(n));
        } else if (type == RowRecord) {
            std::vector<SourceValue> row;
            if (decodeRow(payload, qsizetype(n), row))
                out.rows.push_back(std::move(row));
        }
        at += 5 + qsizetype(n);
    }
}
