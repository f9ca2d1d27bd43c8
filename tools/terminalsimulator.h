#pragma once

#include "tools/simcard.h"
#include "tools/writescript.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <deque>
#include <optional>

// The card terminal on the far side of the serial line, as a pure state machine:
// bytes go in with the time they arrived, the bytes the terminal sends come out
// when they are due. It keeps no clock and runs no thread, so the same engine
// serves the in-process device of the fast tests (a counter for a clock) and the
// program on a pseudo-terminal (the real clock).
//
// It knows only the wire: it parses commands from the byte stream (split or
// joined anyhow), answers reads with cards from a deck, takes write frames apart
// and answers ESC 'j' as its write script says. Everything it receives and does
// is kept for a test to inspect.
class TerminalSimulator
{
public:
    enum class ReadChoice { Track1, Track2, Track3, Track12, Track23, Track123 };
    static QString choiceName(ReadChoice choice);

    enum class CommandKind { Read, Stop, WriteStart, Frame, FollowUp, Unknown };

    // How the program's port hands over what the terminal sends.
    enum class Delivery {
        UsbAdapter, // in bursts: what has come is handed over every 16 ms, at once when 62 bytes wait
        Uart,       // each byte the moment it has arrived
    };
    // The serial line between the program and the terminal. The real one runs at
    // 9600 baud, 8N1: a byte takes ten bit times, about 1.04 ms, either way, so a
    // long frame or reply is on the line for a quarter of a second.
    struct Line
    {
        bool paced = true;
        Delivery delivery = Delivery::UsbAdapter;
        // Bytes pass at once and whole: only for unit tests that count bytes, not time.
        static Line instant() { return {false, Delivery::Uart}; }
    };
    static constexpr int UsbLatencyMs = 16;
    static constexpr int UsbBurstBytes = 62;

    // One receive() call: its bytes all carry its time.
    struct Received
    {
        qint64 atMs = 0;
        QByteArray bytes;
    };
    // One command as parsed from the stream; Unknown holds a skipped byte. Its time
    // is when its last byte reached the terminal.
    struct Command
    {
        qint64 atMs = 0;
        CommandKind kind = CommandKind::Unknown;
        QByteArray bytes;
        QString timingFault; // a follow-up that came too soon after its frame: why
    };
    // A write frame as received and taken apart.
    struct Frame
    {
        qint64 atMs = 0;
        QByteArray bytes;
        SimCard card;         // translation undone
        bool carries[3] = {}; // which sections it held, tracks 1, 2, 3
        QString problem;      // empty when the terminal accepts the frame
        bool ok() const { return problem.isEmpty(); }
    };
    // What happened, for the program to print and log as it goes.
    struct Event
    {
        enum class Kind {
            Armed,
            Stopped,
            Presented,
            NotArmed,
            WriteStarted,
            FrameTaken,
            Answered,
            Encoded,
            Skipped,
            TimingFault
        };
        Kind kind;
        qint64 atMs = 0;
        QString text;
        SimCard card;
    };
    // How a read reply goes out.
    struct ReplyScript
    {
        int delayMs = 0;
        int pieces = 1;
        int pieceGapMs = 0;
    };

    static constexpr int Capacity[3] = {79, 40, 107};
    // 9600 baud, 10 bits a byte.
    static constexpr qint64 ByteTimeUs = 1042;

    // The real line by default.
    explicit TerminalSimulator(CardDeck deck = CardDeck::sample());
    TerminalSimulator(CardDeck deck, Line line);

    // The pause the terminal needs between the last byte of a frame and the ESC 'j'
    // that follows it, by the tracks the frame carries (1, 2, 3).
    static int pauseAfterFrameMs(const bool carries[3]);

    // A card is presented this long after each read command; 0: only on present().
    void setPresentAfterMs(int ms) { m_presentAfterMs = ms; }
    void setReplyScript(const ReplyScript& script) { m_replyScript = script; }
    void setLine(Line line) { m_line = line; }
    const Line& line() const { return m_line; }
    // A card to write is swiped this long after ESC 'j'; only then comes the answer.
    void setSwipeMs(int ms) { m_swipeMs = ms; }
    void setWriteScript(WriteScript script) { m_writeScript = std::move(script); }
    // Refuse frames whose texts a stripe cannot hold (over capacity, outside the track's characters).
    void setCheckCharacterSets(bool check) { m_checkCharacters = check; }

    // Bytes read from the program at nowMs. quietSinceMs, when known, is a moment the
    // line was found empty before them: the bytes were sent no earlier, and a reader
    // that the scheduler kept away stamps them late by up to the difference.
    void receive(const QByteArray& bytes, qint64 nowMs, qint64 quietSinceMs = -1);
    // Everything due by nowMs that has not been taken yet.
    QByteArray takeOutput(qint64 nowMs);
    // When the next output byte or automatic presentation is due; -1 when nothing is.
    qint64 nextDueMs() const;

    // A card swiped now: the next of the deck, or the given one. False (and the card
    // is lost, as on the device) when the terminal is not armed.
    bool present(qint64 nowMs);
    bool present(const SimCard& card, qint64 nowMs);
    std::optional<ReadChoice> armedFor() const { return m_armed; }
    bool inWriteSession() const { return m_writeSession; }

    const QList<Received>& received() const { return m_received; }
    QByteArray receivedBytes() const;
    const QList<Command>& commands() const { return m_commands; }
    QByteArray skippedBytes() const;
    const QList<Frame>& frames() const { return m_frames; }
    // The cards answered "written", in order: what is on the stripes now.
    const QList<SimCard>& encodedCards() const { return m_encoded; }
    // The outcome of every ESC 'j', in order.
    const QList<WriteOutcome>& answers() const { return m_answers; }
    const QList<SimCard>& presentedCards() const { return m_presented; }
    QList<Event> takeEvents();
    // Follow-ups that reached the terminal sooner than its pause after their frame.
    int timingFaults() const { return m_timingFaults; }

    // The reply to a read of `choice` for `card`: ESC, the command's second byte,
    // the tracks with the choice's markers, "?".
    static QByteArray replyFor(ReadChoice choice, const SimCard& card);
    static QByteArray toNumericWire(QByteArray text);
    static QByteArray fromNumericWire(QByteArray bytes);
    // Checks the frame's lead-in, terminator and texts and takes it apart.
    static Frame decodeFrame(const QByteArray& bytes, bool checkCharacters = true);

private:
    struct OutByte
    {
        qint64 dueUs;     // when it has passed the line
        qint64 deliverUs; // when the program's port hands it over
        char byte;
    };

    void parsePending();
    bool scanFrame();
    void dropPending(qsizetype count);
    void consume(qsizetype count, CommandKind kind);
    void skip();
    void arm(ReadChoice choice, qint64 nowMs);
    void stop(qint64 nowMs);
    void takeFrame(qsizetype length);
    void followUp(qint64 nowMs, const QString& timingFault);
    void runTimers(qint64 nowMs);
    void encodeSwiped(qint64 nowMs);
    void send(const QByteArray& bytes, qint64 startMs);
    qint64 deliveryOf(qint64 dueUs);
    qint64 arrivalMs(qsizetype lastPendingByte) const;
    QString timingFaultOfFollowUp(qint64 escStartUs) const;
    void sendInPieces(const QByteArray& bytes, qint64 startMs, int pieces, int gapMs);
    void note(Event::Kind kind, qint64 atMs, const QString& text, const SimCard& card = {});

    CardDeck m_deck;
    int m_presentAfterMs = 0;
    ReplyScript m_replyScript;
    Line m_line;
    int m_swipeMs = 0;
    int m_timingFaults = 0;
    WriteScript m_writeScript;
    bool m_checkCharacters = true;

    QByteArray m_pending;             // received bytes not yet parsed into a command
    QList<qint64> m_pendingArrivalUs; // when each of them reached the terminal
    QList<qint64> m_pendingLateUs;    // how much earlier each may have reached it
    qint64 m_lineInFreeUs = 0;        // when the line from the program is free again
    qint64 m_lineInEarliestUs = 0;    // the earliest it can be
    bool m_inFrame = false;
    qint64 m_frameAtMs = 0;
    qint64 m_frameEndUs = -1; // the last frame's last byte, until its follow-up
    qint64 m_frameLateUs = 0; // how much earlier that byte may have come
    bool m_frameCarries[3] = {};
    qsizetype m_frameScanFrom = 2;

    std::optional<ReadChoice> m_armed;
    qint64 m_presentAtMs = -1;
    bool m_writeSession = false;
    qsizetype m_unansweredFrame = -1;

    struct Swipe
    {
        qint64 atMs;
        SimCard card;
    };
    std::deque<Swipe> m_swipes; // cards answered "written", encoded when they go through

    std::deque<OutByte> m_output;
    qint64 m_lineFreeUs = 0;
    qint64 m_burstDeliverUs = -1; // the adapter's burst being filled
    int m_burstBytes = 0;

    QList<Received> m_received;
    QList<Command> m_commands;
    QList<Frame> m_frames;
    QList<SimCard> m_encoded;
    QList<WriteOutcome> m_answers;
    QList<SimCard> m_presented;
    QList<Event> m_events;
};
