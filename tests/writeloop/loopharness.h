#pragma once

#include "base/error.h"
#include "writing/batchsession.h"

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
            CardTexts texts{n, n, n};
            if (next == overLongAt)
                texts.track1 = QString(Tracks_Write::Capacity[1] + 1, u'A');
            return WriteLoop::StagedCard{texts, [this] { ++next; }};
        };
    }
};

// What the write tab shows of a run: the track edits, the log and the count.
// Stopping the run on a step's stop is the session's own; the window only shows it.
struct TabShown
{
    CardTexts edits;
    QStringList log;
    QString label = QStringLiteral("Записано карточек:");

    // "Записать": the session starts the run, the window empties its log.
    void start(BatchSession& session, bool sendPending = true)
    {
        const QString decision = session.startRun(sendPending);
        log.clear();
        if (!decision.isEmpty())
            log.append(decision);
        label = WriteLoop::countLabelAtStart();
    }

    // Timer2Timer on the texts in hand.
    WriteLoop::Tick step(BatchSession& session)
    {
        WriteLoop::Tick t = session.tick(edits);
        show(t);
        return t;
    }

    void show(const WriteLoop::Tick& t)
    {
        if (t.newTexts)
            edits = *t.newTexts;
        log += t.logLines;
        if (t.countLabel)
            label = *t.countLabel;
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
