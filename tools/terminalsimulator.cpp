// The terminal's behaviour in one file on purpose: the command parser, the frame
// decoding, the follow-up timing and the line's pacing all work on the one state
// of the device, and are read together against how the R418V behaves.
#include "tools/terminalsimulator.h"

#include <algorithm>

namespace {

constexpr char Esc = '\x1b';
constexpr char Gs = '\x1d';
// A frame at capacity is 233 bytes; anything this long without its terminator is
// noise, and swallowing more would hide every later command.
constexpr qsizetype MaxFrameBytes = 1024;
constexpr qint64 StampSlackUs = 5000;

QString hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString printable(const QByteArray& line)
{
    return QString::fromLatin1(line);
}

std::optional<TerminalSimulator::ReadChoice> readChoiceOf(char second, char third)
{
    using C = TerminalSimulator::ReadChoice;
    if (second == ']')
        return C::Track2; // the program sends whatever its buffer holds as the third byte
    if (second == 'T' && third == ']')
        return C::Track3;
    if (second == 'B') {
        switch (third) {
        case 'M':
            return C::Track1;
        case 'T':
            return C::Track12;
        case ']':
            return C::Track23;
        case 't':
            return C::Track123;
        default:
            break;
        }
    }
    return std::nullopt;
}

char commandSecondByte(TerminalSimulator::ReadChoice choice)
{
    using C = TerminalSimulator::ReadChoice;
    switch (choice) {
    case C::Track2:
        return ']';
    case C::Track3:
        return 'T';
    default:
        return 'B';
    }
}

QString characterProblem(const QByteArray& text, int track)
{
    // Track 1 holds the 6-bit set (space .. '_'), tracks 2 and 3 the 4-bit set ('0' .. '>');
    // the sentinels '%' and '?' are the terminal's own and never data.
    for (char c : text) {
        const uchar u = uchar(c);
        const bool ok = track == 1 ? (u >= 0x20 && u <= 0x5f && c != '%' && c != '?') : (u >= 0x30 && u <= 0x3e);
        if (!ok)
            return QStringLiteral("track %1 cannot hold the byte %2").arg(track).arg(u, 2, 16, QLatin1Char('0'));
    }
    return {};
}

} // namespace

TerminalSimulator::TerminalSimulator(CardDeck deck) : m_deck(std::move(deck)) {}

TerminalSimulator::TerminalSimulator(CardDeck deck, Line line) : m_deck(std::move(deck)), m_line(line) {}

int TerminalSimulator::pauseAfterFrameMs(const bool carries[3])
{
    // The terminal's own timings, by the tracks of the frame: it takes longest to
    // lay down track 1 alone, and hardly any time for tracks 2 and 3.
    const bool t1 = carries[0], t2 = carries[1], t3 = carries[2];
    if (t1 && !t2 && !t3)
        return 200;
    if (!t1 && t2 && t3)
        return 10;
    return 100;
}

QString TerminalSimulator::choiceName(ReadChoice choice)
{
    static const char* const names[] = {"track1", "track2", "track3", "track12", "track23", "track123"};
    return QLatin1String(names[int(choice)]);
}

QByteArray TerminalSimulator::toNumericWire(QByteArray text)
{
    for (char& c : text) {
        if (c == '=')
            c = '\x27';
        else if (c == '>')
            c = '\x3d';
    }
    return text;
}

QByteArray TerminalSimulator::fromNumericWire(QByteArray bytes)
{
    for (char& c : bytes) {
        if (c == '\x27')
            c = '=';
        else if (c == '\x3d')
            c = '>';
    }
    return bytes;
}

QByteArray TerminalSimulator::replyFor(ReadChoice choice, const SimCard& card)
{
    const QByteArray t2 = toNumericWire(card.track2);
    const QByteArray t3 = toNumericWire(card.track3);
    QByteArray data;
    switch (choice) {
    case ReadChoice::Track1:
        data = '%' + card.track1;
        break;
    case ReadChoice::Track2:
        data = t2;
        break;
    case ReadChoice::Track3:
        data = t3;
        break;
    case ReadChoice::Track12:
        data = t2 + 'B' + card.track1;
        break;
    case ReadChoice::Track23:
        data = t2 + 'A' + t3;
        break;
    case ReadChoice::Track123:
        data = t2 + 'A' + t3 + 'B' + card.track1;
        break;
    }
    return QByteArray(1, Esc) + commandSecondByte(choice) + data + '?';
}

TerminalSimulator::Frame TerminalSimulator::decodeFrame(const QByteArray& bytes, bool checkCharacters)
{
    Frame f;
    f.bytes = bytes;
    if (!bytes.startsWith("\x1bt")) {
        f.problem = QStringLiteral("no lead-in ESC 't'");
        return f;
    }
    if (bytes.size() < 5 || !bytes.endsWith("\x1d\x1b\\")) {
        f.problem = QStringLiteral("no terminator GS ESC '\\'");
        return f;
    }
    // Sections stand as track 2 (no marker), 'A' track 3, 'B' track 1; track 1 comes
    // last, so once 'B' is seen the rest is track 1 whatever letters it holds.
    const QByteArray body = bytes.mid(2, bytes.size() - 5);
    qsizetype at = 0;
    auto until = [&](auto stop) {
        qsizetype end = at;
        while (end < body.size() && !stop(body[end]))
            ++end;
        const QByteArray part = body.mid(at, end - at);
        at = end;
        return part;
    };
    f.card.track2 = fromNumericWire(until([](char c) { return c == 'A' || c == 'B'; }));
    f.carries[1] = !f.card.track2.isEmpty();
    if (at < body.size() && body[at] == 'A') {
        ++at;
        f.carries[2] = true;
        f.card.track3 = fromNumericWire(until([](char c) { return c == 'B'; }));
    }
    if (at < body.size() && body[at] == 'B') {
        f.carries[0] = true;
        f.card.track1 = body.mid(at + 1);
    }
    if (!f.carries[0] && !f.carries[1] && !f.carries[2]) {
        f.problem = QStringLiteral("no track in the frame");
        return f;
    }
    const QByteArray* texts[3] = {&f.card.track1, &f.card.track2, &f.card.track3};
    for (int t = 0; t < 3 && checkCharacters; ++t) {
        if (!f.carries[t])
            continue;
        if (texts[t]->size() > Capacity[t]) {
            f.problem = QStringLiteral("track %1 holds %2 characters, more than its %3")
                            .arg(t + 1)
                            .arg(texts[t]->size())
                            .arg(Capacity[t]);
            return f;
        }
        if (texts[t]->isEmpty()) {
            f.problem = QStringLiteral("track %1 is empty").arg(t + 1);
            return f;
        }
        f.problem = characterProblem(*texts[t], t + 1);
        if (!f.problem.isEmpty())
            return f;
    }
    return f;
}

void TerminalSimulator::receive(const QByteArray& bytes, qint64 nowMs, qint64 quietSinceMs)
{
    if (bytes.isEmpty())
        return;
    runTimers(nowMs);
    // On a paced line each byte reaches the terminal one byte time after the one
    // before it has, however early the program handed it to its driver. Beside
    // that, the earliest each can have come: sent just after the line was last
    // seen empty, behind bytes that came as early as they could.
    qint64 t = nowMs * 1000;
    qint64 earliest = (quietSinceMs >= 0 ? std::min(quietSinceMs, nowMs) : nowMs) * 1000;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (m_line.paced) {
            t = std::max(t, m_lineInFreeUs) + ByteTimeUs;
            m_lineInFreeUs = t;
            earliest = std::max(earliest, m_lineInEarliestUs) + ByteTimeUs;
            m_lineInEarliestUs = earliest;
        }
        m_pendingArrivalUs.append(t);
        m_pendingLateUs.append(m_line.paced ? t - earliest : 0);
    }
    m_received.append({t / 1000, bytes});
    m_pending += bytes;
    parsePending();
}

qint64 TerminalSimulator::arrivalMs(qsizetype lastPendingByte) const
{
    return m_pendingArrivalUs.at(lastPendingByte) / 1000;
}

void TerminalSimulator::parsePending()
{
    while (!m_pending.isEmpty()) {
        if (m_inFrame) {
            if (!scanFrame())
                return;
            continue;
        }
        if (m_pending[0] != Esc) {
            skip();
            continue;
        }
        if (m_pending.size() < 2)
            return;
        const char second = m_pending[1];
        const qint64 nowMs = arrivalMs(1);
        switch (second) {
        case '0':
            consume(2, CommandKind::Stop);
            stop(nowMs);
            continue;
        case 'j': {
            const qint64 escStartUs = m_pendingArrivalUs.at(0) - (m_line.paced ? ByteTimeUs : 0);
            consume(2, CommandKind::FollowUp);
            followUp(nowMs, timingFaultOfFollowUp(escStartUs));
            continue;
        }
        case 't':
            m_inFrame = true;
            m_frameAtMs = nowMs; // when its lead-in ESC 't' is complete
            m_frameScanFrom = 2;
            continue;
        case 'B':
        case ']':
        case 'T':
        case '%':
            break;
        default:
            skip();
            continue;
        }
        if (m_pending.size() < 3)
            return;
        const char third = m_pending[2];
        const qint64 atMs = arrivalMs(2);
        if (second == '%' && third == 'B') {
            consume(3, CommandKind::WriteStart);
            m_writeSession = true;
            note(Event::Kind::WriteStarted, atMs, QStringLiteral("write-start"));
        } else if (const auto choice = readChoiceOf(second, third)) {
            consume(3, CommandKind::Read);
            arm(*choice, atMs);
        } else {
            skip();
        }
    }
}

// Looks for the end of the frame that m_pending opens with; false while it has not all come.
bool TerminalSimulator::scanFrame()
{
    const qsizetype esc = m_pending.indexOf(Esc, m_frameScanFrom);
    if (esc < 0) {
        m_frameScanFrom = m_pending.size();
        if (m_pending.size() <= MaxFrameBytes)
            return false;
        takeFrame(m_pending.size());
        return true;
    }
    if (esc >= 3 && m_pending[esc - 1] == Gs) {
        if (esc + 1 >= m_pending.size()) {
            m_frameScanFrom = esc;
            return false;
        }
        if (m_pending[esc + 1] == '\\') {
            takeFrame(esc + 2);
            return true;
        }
    }
    // An ESC that does not end the frame starts the next command: the frame was cut short.
    takeFrame(esc);
    return true;
}

void TerminalSimulator::dropPending(qsizetype count)
{
    m_pending.remove(0, count);
    m_pendingArrivalUs.remove(0, count);
    m_pendingLateUs.remove(0, count);
}

void TerminalSimulator::consume(qsizetype count, CommandKind kind)
{
    m_commands.append({arrivalMs(count - 1), kind, m_pending.left(count), {}});
    dropPending(count);
}

void TerminalSimulator::skip()
{
    const QByteArray byte = m_pending.left(1);
    const qint64 atMs = arrivalMs(0);
    consume(1, CommandKind::Unknown);
    note(Event::Kind::Skipped, atMs, QStringLiteral("skipped ") + hex(byte));
}

void TerminalSimulator::arm(ReadChoice choice, qint64 nowMs)
{
    m_armed = choice;
    m_presentAtMs = m_presentAfterMs > 0 ? nowMs + m_presentAfterMs : -1;
    note(Event::Kind::Armed, nowMs, QStringLiteral("armed ") + choiceName(choice));
}

void TerminalSimulator::stop(qint64 nowMs)
{
    encodeSwiped(nowMs);
    m_swipes.clear();
    m_armed.reset();
    m_presentAtMs = -1;
    m_writeSession = false;
    m_unansweredFrame = -1;
    // What the terminal had not yet begun to send it drops; bytes already due are on the wire.
    const qint64 nowUs = nowMs * 1000;
    while (!m_output.empty() && m_output.back().dueUs > nowUs)
        m_output.pop_back();
    m_lineFreeUs = m_output.empty() ? nowUs : std::max(nowUs, m_output.back().dueUs);
    m_burstBytes = UsbBurstBytes; // what the adapter holds goes as it is; anything later is a new burst
    m_frameEndUs = -1;
    note(Event::Kind::Stopped, nowMs, QStringLiteral("stopped"));
}

void TerminalSimulator::takeFrame(qsizetype length)
{
    const QByteArray bytes = m_pending.left(length);
    m_frameEndUs = length > 0 ? m_pendingArrivalUs.at(length - 1) : -1;
    m_frameLateUs = length > 0 ? m_pendingLateUs.at(length - 1) : 0;
    dropPending(length);
    m_inFrame = false;
    Frame f = decodeFrame(bytes, m_checkCharacters);
    f.atMs = m_frameAtMs;
    if (f.ok() && !m_writeSession)
        f.problem = QStringLiteral("no write start before the frame");
    m_commands.append({m_frameEndUs / 1000, CommandKind::Frame, bytes, {}});
    std::copy_n(f.carries, 3, m_frameCarries);
    m_frames.append(f);
    m_unansweredFrame = m_frames.size() - 1;
    note(Event::Kind::FrameTaken, m_frameAtMs,
         f.ok() ? QStringLiteral("frame ") + printable(f.card.toLine())
                : QStringLiteral("frame refused (%1): %2").arg(f.problem, hex(bytes)),
         f.card);
}

// Why ESC 'j' starting at escStartUs came too soon after its frame, or empty.
QString TerminalSimulator::timingFaultOfFollowUp(qint64 escStartUs) const
{
    // Only a paced line has a timing to keep; instant bytes are for counting, not timing.
    if (!m_line.paced || m_unansweredFrame < 0 || m_frameEndUs < 0)
        return {};
    const int needMs = pauseAfterFrameMs(m_frameCarries);
    // Bytes are stamped when this side reads them, in whole milliseconds: a gap short
    // by less than that slack is this side's error. A read that the scheduler delayed
    // stamps the frame late by up to its lateness, which the reader measured; the
    // follow-up is judged against the earliest the frame can have ended.
    const qint64 gapUs = escStartUs - (m_frameEndUs - m_frameLateUs);
    if (gapUs >= needMs * 1000 - StampSlackUs)
        return {};
    return QStringLiteral("ESC 'j' %1 ms after the frame's last byte (read up to %2 ms late); the terminal "
                          "needs %3 ms")
        .arg(double(gapUs) / 1000, 0, 'f', 1)
        .arg(double(m_frameLateUs) / 1000, 0, 'f', 1)
        .arg(needMs);
}

void TerminalSimulator::followUp(qint64 nowMs, const QString& timingFault)
{
    WriteOutcome outcome;
    const bool attempt = m_unansweredFrame >= 0 && m_frames[m_unansweredFrame].ok() && timingFault.isEmpty();
    if (!timingFault.isEmpty()) {
        // Too soon: the terminal has not finished with the frame and refuses the card.
        ++m_timingFaults;
        m_commands.last().timingFault = timingFault;
        note(Event::Kind::TimingFault, nowMs, QStringLiteral("timing-fault ") + timingFault);
        outcome.answer = WriteOutcome::Answer::NotWritten;
        outcome.letter = '!';
    } else if (attempt) {
        outcome = m_writeScript.next();
        outcome.delayMs += m_swipeMs; // the card is swiped through before the answer
    } else {
        // Nothing fit to write since the last answer: the terminal says so at once.
        outcome.answer = WriteOutcome::Answer::NotWritten;
        outcome.letter = '-';
    }
    m_answers.append(outcome);
    // The stripe is written as the card goes through, just before the answer; a stop
    // that comes first finds the card not yet swiped.
    if (attempt && outcome.encodes())
        m_swipes.push_back({nowMs + outcome.delayMs, m_frames[m_unansweredFrame].card});
    encodeSwiped(nowMs);
    m_unansweredFrame = -1;
    m_frameEndUs = -1;

    qint64 start = nowMs + outcome.delayMs;
    if (!outcome.noise.isEmpty()) {
        send(outcome.noise, start);
        start += outcome.pieceGapMs;
    }
    const QByteArray answer = outcome.answerBytes();
    sendInPieces(answer, start, outcome.pieces, outcome.pieceGapMs);
    note(Event::Kind::Answered, nowMs,
         QStringLiteral("answer %1 %2")
             .arg(QString(QLatin1Char(outcome.letter)), answer.isEmpty() ? QStringLiteral("none") : hex(answer)));
}

bool TerminalSimulator::present(qint64 nowMs)
{
    if (!m_armed) {
        note(Event::Kind::NotArmed, nowMs, QStringLiteral("not-armed"));
        return false;
    }
    return present(m_deck.next(), nowMs);
}

bool TerminalSimulator::present(const SimCard& card, qint64 nowMs)
{
    if (!m_armed) {
        note(Event::Kind::NotArmed, nowMs, QStringLiteral("not-armed"));
        return false;
    }
    const ReadChoice choice = *m_armed;
    m_armed.reset();
    m_presentAtMs = -1;
    m_presented.append(card);
    sendInPieces(replyFor(choice, card), nowMs + m_replyScript.delayMs, m_replyScript.pieces, m_replyScript.pieceGapMs);
    note(Event::Kind::Presented, nowMs,
         QStringLiteral("presented %1 %2").arg(choiceName(choice), printable(card.toLine())), card);
    return true;
}

void TerminalSimulator::encodeSwiped(qint64 nowMs)
{
    while (!m_swipes.empty() && m_swipes.front().atMs <= nowMs) {
        const Swipe swipe = m_swipes.front();
        m_swipes.pop_front();
        m_encoded.append(swipe.card);
        note(Event::Kind::Encoded, swipe.atMs, QStringLiteral("encoded ") + printable(swipe.card.toLine()), swipe.card);
    }
}

void TerminalSimulator::runTimers(qint64 nowMs)
{
    encodeSwiped(nowMs);
    if (m_armed && m_presentAtMs >= 0 && nowMs >= m_presentAtMs)
        present(m_deck.next(), m_presentAtMs); // stamped when due, however late it is pulled
}

void TerminalSimulator::send(const QByteArray& bytes, qint64 startMs)
{
    qint64 t = std::max(startMs * 1000, m_lineFreeUs);
    for (char b : bytes) {
        if (m_line.paced)
            t += ByteTimeUs;
        m_output.push_back({t, deliveryOf(t), b});
    }
    m_lineFreeUs = t;
}

// When the program's port hands over a byte that has passed the line at dueUs.
// A USB adapter collects bytes and sends them on when its 16 ms latency timer
// runs out, or at once when a packet (62 bytes) is full.
qint64 TerminalSimulator::deliveryOf(qint64 dueUs)
{
    if (m_line.delivery == Delivery::Uart)
        return dueUs;
    if (dueUs <= m_burstDeliverUs && m_burstBytes < UsbBurstBytes) {
        if (++m_burstBytes == UsbBurstBytes) {
            for (auto it = m_output.rbegin(); it != m_output.rend() && it->deliverUs == m_burstDeliverUs; ++it)
                it->deliverUs = dueUs;
            m_burstDeliverUs = dueUs;
        }
        return m_burstDeliverUs;
    }
    constexpr qint64 tickUs = UsbLatencyMs * 1000;
    m_burstDeliverUs = (dueUs + tickUs - 1) / tickUs * tickUs;
    m_burstBytes = 1;
    return m_burstDeliverUs;
}

void TerminalSimulator::sendInPieces(const QByteArray& bytes, qint64 startMs, int pieces, int gapMs)
{
    pieces = std::max(1, pieces);
    qsizetype from = 0;
    for (int k = 0; k < pieces; ++k) {
        const qsizetype to = bytes.size() * (k + 1) / pieces;
        if (to > from) {
            send(bytes.mid(from, to - from), startMs);
            startMs = m_lineFreeUs / 1000 + gapMs;
        }
        from = to;
    }
}

QByteArray TerminalSimulator::takeOutput(qint64 nowMs)
{
    runTimers(nowMs);
    QByteArray out;
    const qint64 nowUs = nowMs * 1000;
    while (!m_output.empty() && m_output.front().deliverUs <= nowUs) {
        out += m_output.front().byte;
        m_output.pop_front();
    }
    return out;
}

qint64 TerminalSimulator::nextDueMs() const
{
    qint64 next = -1;
    if (!m_output.empty())
        next = (m_output.front().deliverUs + 999) / 1000;
    if (m_armed && m_presentAtMs >= 0 && (next < 0 || m_presentAtMs < next))
        next = m_presentAtMs;
    return next;
}

QByteArray TerminalSimulator::receivedBytes() const
{
    QByteArray all;
    for (const Received& r : m_received)
        all += r.bytes;
    return all;
}

QByteArray TerminalSimulator::skippedBytes() const
{
    QByteArray all;
    for (const Command& c : m_commands) {
        if (c.kind == CommandKind::Unknown)
            all += c.bytes;
    }
    return all;
}

QList<TerminalSimulator::Event> TerminalSimulator::takeEvents()
{
    return std::exchange(m_events, {});
}

void TerminalSimulator::note(Event::Kind kind, qint64 atMs, const QString& text, const SimCard& card)
{
    m_events.append({kind, atMs, text, card});
}
