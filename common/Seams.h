// Small interfaces to the outside world (message boxes, file dialogs, the clock, sound), each with a real
// implementation and one that tests script and record.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

// Message boxes (OK button, the program's title), Yes/No questions and the file-open dialog.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual void message(const QString& text) = 0;
    virtual bool question(const QString& text) = 0; // true for Yes
    // filter in the form "TXT Files (*.txt)|*.txt"; returns the chosen path, empty when cancelled
    virtual QString openFileName(const QString& folder, const QString& filter) = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Plays a wave file by name, without falling back to a default sound; true when playback started.
    virtual bool PlayWaveFile(const QString& file, bool async) = 0;
};

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

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
        enum Kind { Message, Question, OpenFile } kind;
        QString text;
    };
    std::vector<Shown> shown;
    std::deque<bool> answers;
    bool defaultAnswer = true;
    std::deque<QString> fileNames;
    QString lastFilter;
    QString lastFolder;

    void message(const QString& text) override { shown.push_back({Shown::Message, text}); }
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
