#pragma once

#include "link/sleeper.h"
#include "link/tracks_write.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

class ComPort;

// The state of a run of cards on the write tab and its 500 ms step. It owns
// no widgets: the main window passes the texts of its track edits in and shows
// what a step returns. A verdict is taken only from a whole four-byte answer
// that came after this card's ESC 'j', however many reads it took to arrive.
class WriteLoop
{
public:
    using StagedCard = Tracks_Write::StagedCard;
    using Composer = Tracks_Write::Composer;

    WriteLoop(ComPort& port, Sleeper sleeper);

    // "Записать": write start command, count 0, a card due at the first step: the
    // card an earlier run sent and never saw written, when the track choice is
    // still the same, otherwise a new one.
    void start();

    // What the window shows after one step.
    struct Tick
    {
        enum class Stop { None, OverLong, ComposeFailed };
        Stop stop = Stop::None;
        QStringList logLines;
        std::optional<QString> countLabel;
        std::optional<Tracks_Write::CardTexts> newTexts; // for Edit1 .. Edit3
        QString error;                                   // with ComposeFailed
    };
    // One step. On a stop the run is over; the window disables its timer and
    // calls stop() to send the stop command. Does nothing while no run is going on.
    Tick tick(int choice, const Tracks_Write::CardTexts& inHand, const Composer& compose);

    // Sends the stop command and ends the run (cancel, a stop of a step, a track
    // box change, leaving the tab). Count and flags keep their values.
    void stop();

    bool running() const { return m_running; }
    bool generateNext() const { return m_generateNext; }
    int cardsWritten() const { return m_cardsWritten; }

    static QString countLabelAtStart();
    static QString countLabel(int cardsWritten);
    static QString noVerdictLine(); // after the card's number
    static QString overLongMessage();

private:
    Tracks_Write::WriteResult send(int choice, const Tracks_Write::CardTexts& inHand, const Composer& compose,
                                   Tick& out);
    void takeAnswerBytes(const QByteArray& bytes);
    void judgeAnswer(Tick& out);

    ComPort& m_port;
    Sleeper m_sleeper;
    bool m_running = false;
    bool m_generateNext = false;
    bool m_sendDue = false;
    bool m_awaitingAnswer = false; // a card went out and has had no verdict yet
    int m_cardsWritten = 0;
    QByteArray m_answer; // the answer to the last card sent, from its ESC on

    // The last card sent, until the terminal answers "written". A run stopped
    // before that hands it to the next run, so its values are neither lost nor
    // given to a second card.
    struct SentCard
    {
        int choice = 0;
        Tracks_Write::CardTexts texts;
    };
    std::optional<SentCard> m_unconfirmed;
    bool m_resendUnconfirmed = false;
};
