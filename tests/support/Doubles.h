// The tests' stand-ins for the seams of common/Seams.h: a clock that stands still, dialogs that answer from
// a script and record what they showed, a sound player that records what it was asked to play. Benchmarks
// and the screenshots program use them too.
#pragma once

#include "common/Seams.h"

#include <QStringList>
#include <deque>
#include <vector>

// A clock that stands still unless told otherwise; advance() or set() move it.
class ManualClock : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime::currentDateTime()) : current(start) {}
    QDateTime now() const override { return current; }
    void set(const QDateTime& t) { current = t; }
    void advance(qint64 ms) { current = current.addMSecs(ms); }

private:
    QDateTime current;
};

// Dialogs for tests and benchmarks: records every box and answers questions from a queue
// (Yes when the queue is empty unless defaultAnswer says otherwise). Never blocks.
class ScriptedDialogs : public Dialogs {
public:
    struct Shown {
        enum Kind { Message, Question, OpenFile, Notice } kind;
        QString text;
    };
    std::vector<Shown> shown;
    std::deque<bool> answers;
    bool defaultAnswer = true;
    std::deque<QString> fileNames;
    QString lastFilter;
    QString lastFolder;

    void message(const QString& text) override { shown.push_back({Shown::Message, text}); }
    void notice(const QString& text) override { shown.push_back({Shown::Notice, text}); }
    bool question(const QString& text) override
    {
        shown.push_back({Shown::Question, text});
        if (answers.empty())
            return defaultAnswer;
        bool a = answers.front();
        answers.pop_front();
        return a;
    }
    QString openFileName(const QString& folder, const QString& filter) override
    {
        shown.push_back({Shown::OpenFile, filter});
        lastFolder = folder;
        lastFilter = filter;
        if (fileNames.empty())
            return {};
        QString f = fileNames.front();
        fileNames.pop_front();
        return f;
    }
    QStringList messages() const
    {
        QStringList out;
        for (const auto& s : shown)
            if (s.kind == Shown::Message)
                out << s.text;
        return out;
    }
    QStringList notices() const
    {
        QStringList out;
        for (const auto& s : shown)
            if (s.kind == Shown::Notice)
                out << s.text;
        return out;
    }
    QStringList questions() const
    {
        QStringList out;
        for (const auto& s : shown)
            if (s.kind == Shown::Question)
                out << s.text;
        return out;
    }
    void clear() { shown.clear(); }
};

class RecordingSoundPlayer : public SoundPlayer {
public:
    QStringList played;
    bool PlayWaveFile(const QString& file, bool) override
    {
        played << file;
        return true;
    }
};
