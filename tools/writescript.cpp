#include "tools/writescript.h"

#include <cstring>

QByteArray WriteOutcome::answerBytes() const
{
    switch (answer) {
    case Answer::Written:
        return QByteArray("\x1b"
                          "00p",
                          4);
    case Answer::NotWritten:
        return QByteArray("\x1b"
                          "0qq",
                          4);
    case Answer::NoVerdict:
        return QByteArray("\x1b"
                          "000",
                          4);
    case Answer::LoneEsc:
        return QByteArray(1, '\x1b');
    case Answer::None:
        break;
    }
    return {};
}

bool WriteScript::outcomeForLetter(char letter, const WriteTimings& timings, WriteOutcome& outcome)
{
    using A = WriteOutcome::Answer;
    WriteOutcome o;
    o.letter = letter;
    o.delayMs = timings.answerDelayMs;
    switch (letter) {
    case 'W':
        break;
    case 'N':
        o.answer = A::NotWritten;
        break;
    case 'X':
        o.answer = A::None;
        break;
    case 'V':
        o.answer = A::NoVerdict;
        break;
    case 'P':
    case 'Q':
        o.answer = letter == 'P' ? A::Written : A::NotWritten;
        o.pieces = 4;
        o.pieceGapMs = timings.pieceGapMs;
        break;
    case 'D':
        o.delayMs += timings.slowDelayMs;
        break;
    case 'J':
        // No ESC in the junk: a program that keys on the first ESC must still find the real answer.
        o.noise = QByteArray("\x00\x55\xff", 3);
        o.pieceGapMs = timings.pieceGapMs;
        break;
    case 'E':
        o.answer = A::LoneEsc;
        break;
    default:
        return false;
    }
    outcome = o;
    return true;
}

WriteScript WriteScript::fromList(QList<WriteOutcome> outcomes)
{
    WriteScript s;
    s.m_queue.assign(outcomes.begin(), outcomes.end());
    return s;
}

bool WriteScript::fromPattern(const QString& pattern, const WriteTimings& timings, WriteScript& script, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    WriteScript s;
    QString letters = pattern;
    if (pattern.startsWith(QLatin1String("random:"))) {
        const QStringList parts = pattern.split(QLatin1Char(':'));
        bool ok = false;
        const uint seed = parts.value(1).toUInt(&ok);
        if (!ok || parts.size() > 3)
            return fail(QStringLiteral("random outcomes are random:SEED or random:SEED:LETTERS"));
        letters = parts.size() == 3 ? parts[2] : QString::fromLatin1(Letters);
        if (letters.isEmpty())
            return fail(QStringLiteral("random outcomes need at least one letter"));
        s.m_random = true;
        s.m_rng.seed(seed);
    }
    const bool repeat = !s.m_random && letters.endsWith(QLatin1Char('*'));
    if (repeat)
        letters.chop(1);
    QList<WriteOutcome> outcomes;
    for (QChar c : letters) {
        WriteOutcome o;
        if (c.unicode() > 0x7f || !outcomeForLetter(char(c.unicode()), timings, o))
            return fail(QStringLiteral("unknown outcome letter '%1' (letters: %2)").arg(c, QLatin1String(Letters)));
        outcomes.append(o);
    }
    if (s.m_random || repeat) {
        if (outcomes.isEmpty())
            return fail(QStringLiteral("a repeating pattern needs at least one letter"));
        s.m_cycle = outcomes;
    } else {
        s.m_queue.assign(outcomes.begin(), outcomes.end());
    }
    script = std::move(s);
    return true;
}

WriteOutcome WriteScript::next()
{
    if (!m_queue.empty()) {
        WriteOutcome o = m_queue.front();
        m_queue.pop_front();
        return o;
    }
    if (m_cycle.isEmpty())
        return {};
    // The generator's raw output is fixed by the standard, unlike the distributions,
    // so a seed gives the same mix on every platform.
    if (m_random)
        return m_cycle[qsizetype(m_rng() % quint32(m_cycle.size()))];
    const WriteOutcome o = m_cycle[m_cycleAt];
    m_cycleAt = (m_cycleAt + 1) % m_cycle.size();
    return o;
}
