#pragma once

#include "link/error.h"
#include "writing/writeloop.h"

#include <QStringList>

#include <functional>

// A template stand-in: every carried track gets the card's number. Its value
// moves only on commit, as a staged composer's does.
struct CounterComposer
{
    int next = 1;
    int composes = 0;
    // Throws for the card of this number while failuresLeft > 0.
    int failAt = -1;
    int failuresLeft = 0;
    // Gives this card a track 1 text one character over its capacity.
    int overLongAt = -1;

    WriteLoop::Composer composer()
    {
        return [this](int) {
            ++composes;
            if (next == failAt && failuresLeft > 0) {
                --failuresLeft;
                throw Failure(QStringLiteral("Ошибка чтения ячейки"));
            }
            const QString n = QString::number(next);
            Tracks_Write::CardTexts texts{n, n, n};
            if (next == overLongAt)
                texts.track1 = QString(Tracks_Write::Capacity[1] + 1, u'A');
            return WriteLoop::StagedCard{texts, [this] { ++next; }};
        };
    }
};

// What the write tab does with a step's result, without widgets.
struct WriteTab
{
    explicit WriteTab(WriteLoop& loop) : loop(loop) {}

    WriteLoop& loop;
    Tracks_Write::CardTexts edits;
    QStringList log;
    QString label = QStringLiteral("Записано карточек:");
    QStringList errors;
    int overLongStops = 0;

    void SpeedButton5Click()
    {
        loop.start();
        log.clear();
        label = WriteLoop::countLabelAtStart();
    }

    WriteLoop::Tick Timer2Timer(int choice, const WriteLoop::Composer& compose)
    {
        WriteLoop::Tick t = loop.tick(choice, edits, compose);
        log += t.logLines;
        if (t.countLabel)
            label = *t.countLabel;
        if (t.newTexts)
            edits = *t.newTexts;
        if (t.stop == WriteLoop::Tick::Stop::OverLong) {
            loop.stop();
            ++overLongStops;
            edits = {};
        } else if (t.stop == WriteLoop::Tick::Stop::Failed) {
            loop.stop();
            errors.append(t.error);
        }
        return t;
    }
};

inline QString writtenLine(int n)
{
    return QString::number(n) + QStringLiteral("  Карточка записана");
}

inline QString refusedLine(int n)
{
    return QString::number(n) + QStringLiteral("  Карточка НЕ записана!");
}
