// The tests' stand-ins for the seams of common/Seams.h: a clock that stands still, dialogs that answer from
// a script and record what they showed, a sound player that records what it was asked to play. Benchmarks
// and the screenshots program use them too.
#pragma once

#include "common/Seams.h"

#include <QStringList>
#include <deque>
#include <functional>
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
        enum Kind { Message, Question, OpenFile, Notice, Choice, Folder, SaveFile } kind;
        QString text;
    };
    std::vector<Shown> shown;
    std::deque<bool> answers;
    bool defaultAnswer = true;
    std::deque<QString> fileNames;
    std::deque<int> choiceAnswers;  // button indexes; the last button (the way out) when empty
    std::function<void()> onChoice; // runs while a choice is up (the user putting something right)
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
    int choice(const QString& text, const QStringList& buttons) override
    {
        shown.push_back({Shown::Choice, text});
        if (onChoice)
            onChoice();
        if (choiceAnswers.empty())
            return int(buttons.size()) - 1;
        int a = choiceAnswers.front();
        choiceAnswers.pop_front();
        return a;
    }
    void showFolder(const QString& path) override { shown.push_back({Shown::Folder, path}); }
    QString openFileName(const QString& folder, const QString& filter) override
    {
        shown.push_back({Shown::OpenFile, filter});
        lastFolder = folder;
        lastFilter = filter;
        return nextFileName();
    }
    // The save dialog takes its answers from the same queue as the open dialog; the suggested path is kept.
    QString saveFileName(const QString& suggested, const QString& filter) override
    {
        shown.push_back({Shown::SaveFile, suggested});
        lastFolder = suggested;
        lastFilter = filter;
        return nextFileName();
    }
    QString nextFileName()
    {
        if (fileNames.empty())
            return {};
        QString f = fileNames.front();
        fileNames.pop_front();
        return f;
    }
    QStringList of(Shown::Kind kind) const
    {
        QStringList out;
        for (const auto& s : shown)
            if (s.kind == kind)
                out << s.text;
        return out;
    }
    QStringList messages() const { return of(Shown::Message); }
    QStringList choices() const { return of(Shown::Choice); }
    QStringList folders() const { return of(Shown::Folder); }
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
