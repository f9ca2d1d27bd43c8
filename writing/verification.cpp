#include "writing/verification.h"

#include "writing/readsfile.h"

#include <QDateTime>
#include <QStringList>

#include <bit>

namespace {

// The two- and three-track replies hand the numeric tracks over as the
// terminal sends them: "'" for "=" and "=" for ">".
QString fromNumericWire(QString text)
{
    for (QChar& c : text) {
        if (c == QLatin1Char('\''))
            c = QLatin1Char('=');
        else if (c == QLatin1Char('='))
            c = QLatin1Char('>');
    }
    return text;
}

// A differing card is looked for among this many cards with the same track 1
// (or track 2): a batch whose track 1 is one text for every card would
// otherwise be walked whole for each card read.
constexpr int MaxCandidates = 256;

QByteArray seenKey(const JournalIndex::Key& key, unsigned tracks)
{
    QByteArray k(1, char('0' + tracks));
    for (int t = 0; t < 3; ++t) {
        if (tracks & (1u << t))
            k += '\x1f' + key.bytes[t];
    }
    return k;
}

} // namespace

QString Verification::trackList(unsigned tracks)
{
    QStringList names;
    for (int t = 1; t <= 3; ++t) {
        if (tracks & (1u << (t - 1)))
            names.append(QString::number(t));
    }
    return names.join(QLatin1String(", "));
}

Verification::Verification(const JournalIndex& index, JournalIndex::Scope scope)
    : m_index(index), m_scope(index.inScope(scope)), m_state(size_t(index.size()), State::NotRead)
{
}

unsigned Verification::tracksRead(int trackChoice)
{
    // Track 3 alone: the reply's text is never shown, so there is nothing to match.
    static constexpr unsigned Tracks[6] = {JournalIndex::Track1,
                                           JournalIndex::Track2,
                                           0,
                                           JournalIndex::Track1 | JournalIndex::Track2,
                                           JournalIndex::Track2 | JournalIndex::Track3,
                                           JournalIndex::AllTracks};
    return trackChoice >= 0 && trackChoice < 6 ? Tracks[trackChoice] : 0;
}

const JournalIndex::Lookup& Verification::lookup(unsigned tracks)
{
    JournalIndex::Lookup& l = m_lookups[tracks];
    if (l.tracks() != tracks)
        l = JournalIndex::Lookup(m_index, tracks, m_scope);
    return l;
}

void Verification::prepare(int trackChoice)
{
    const unsigned tracks = tracksRead(trackChoice);
    if (tracks == 0)
        return;
    lookup(tracks);
    for (unsigned t : {unsigned(JournalIndex::Track1), unsigned(JournalIndex::Track2)}) {
        if ((tracks & t) && tracks != t)
            lookup(t);
    }
}

Verification::Result Verification::check(int trackChoice, const JournalIndex::Texts& shown)
{
    Result r;
    const unsigned tracks = tracksRead(trackChoice);
    if (tracks == 0) {
        r.outcome = Outcome::NothingToRead;
        r.message = QStringLiteral("Дорожка 3 одна читается без текста: сверять нечего");
        r.record = QStringLiteral("nothing to verify");
        return r;
    }
    for (int t = 1; t <= 3; ++t) {
        if (tracks & (1u << (t - 1)))
            r.read.track(t) = t > 1 && trackChoice >= 3 ? fromNumericWire(shown.track(t)) : shown.track(t);
    }
    const JournalIndex::Key key(r.read);

    qsizetype latest = -1, notYetRead = -1;
    lookup(tracks).forEach(m_index, key, [&](qsizetype position) {
        if (latest < 0)
            latest = position;
        if (m_state[size_t(position)] == State::Verified)
            return true;
        notYetRead = position;
        return false;
    });
    if (notYetRead >= 0)
        return verified(r, notYetRead);
    if (latest >= 0) {
        r.again = true;
        return verified(r, latest);
    }

    unsigned differingTracks = 0;
    const qsizetype near = closest(key, tracks, differingTracks);
    const QByteArray seen = seenKey(key, tracks);
    if (near >= 0)
        return differs(r, near, differingTracks, seen);

    r.outcome = Outcome::Unknown;
    r.again = m_seenUnknown.contains(seen);
    if (!r.again) {
        m_seenUnknown.insert(seen);
        ++m_unknown;
    }
    r.message = QStringLiteral("Нет в журнале");
    if (r.again)
        r.message += QStringLiteral(" (прочитана повторно)");
    r.record = QStringLiteral("unknown");
    return r;
}

// The written card with the same track 1 or track 2 that differs on the
// fewest tracks read; of those, one not read back yet, then the latest.
qsizetype Verification::closest(const JournalIndex::Key& key, unsigned tracks, unsigned& differing)
{
    qsizetype best = -1;
    int bestCount = 4;
    bool bestNotRead = false;
    for (unsigned by : {unsigned(JournalIndex::Track1), unsigned(JournalIndex::Track2)}) {
        if (!(tracks & by) || tracks == by)
            continue;
        int visited = 0;
        lookup(by).forEach(m_index, key, [&](qsizetype position) {
            unsigned diff = 0;
            for (unsigned t = 1; t <= 4; t <<= 1) {
                if ((tracks & t) && !m_index.sameOn(position, t, key))
                    diff |= t;
            }
            const int count = std::popcount(diff);
            const bool notRead = m_state[size_t(position)] == State::NotRead;
            if (count < bestCount || (count == bestCount && notRead && !bestNotRead) ||
                (count == bestCount && notRead == bestNotRead && position > best)) {
                best = position;
                bestCount = count;
                bestNotRead = notRead;
                differing = diff;
            }
            return ++visited < MaxCandidates;
        });
    }
    return best;
}

Verification::Result Verification::verified(Result r, qsizetype written)
{
    r.outcome = Outcome::Verified;
    r.written = written;
    if (!r.again) {
        if (m_state[size_t(written)] != State::Verified)
            ++m_verified;
        m_state[size_t(written)] = State::Verified;
    }
    r.message =
        (r.again ? QStringLiteral("Верно, прочитана повторно: ") : QStringLiteral("Верно: ")) + cardName(written);
    const JournalIndex::Card c = m_index.card(written);
    r.record = QStringLiteral("%1, run %2, card %3")
                   .arg(r.again ? QStringLiteral("verified again") : QStringLiteral("verified"))
                   .arg(c.run)
                   .arg(c.card);
    return r;
}

Verification::Result Verification::differs(Result r, qsizetype written, unsigned differingTracks,
                                           const QByteArray& seen)
{
    r.outcome = Outcome::Differs;
    r.written = written;
    r.differing = differingTracks;
    r.again = m_seenDiffering.contains(seen);
    if (!r.again) {
        m_seenDiffering.insert(seen);
        ++m_differing;
        m_differingCards.append({written, r.read});
        if (m_state[size_t(written)] == State::NotRead)
            m_state[size_t(written)] = State::Differed;
    }
    const JournalIndex::Card c = m_index.card(written);
    QStringList how;
    for (int t = 1; t <= 3; ++t) {
        if (differingTracks & (1u << (t - 1)))
            how.append(QStringLiteral("дорожка %1 «%2» вместо «%3»").arg(t).arg(r.read.track(t), c.texts.track(t)));
    }
    r.message =
        QStringLiteral("Отличается от записанной: %1; %2").arg(cardName(written), how.join(QLatin1String("; ")));
    if (r.again)
        r.message += QStringLiteral(" (прочитана повторно)");
    r.record =
        QStringLiteral("differs on track %1, run %2, card %3").arg(trackList(differingTracks)).arg(c.run).arg(c.card);
    return r;
}

QString Verification::cardName(qsizetype written) const
{
    const JournalIndex::Card c = m_index.card(written);
    const QDateTime time = QDateTime::fromString(c.time, Qt::ISODateWithMs);
    const QString when = time.isValid() ? time.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) : c.time;
    return QStringLiteral("карточка %1, прогон %2, записана %3").arg(c.card).arg(c.run).arg(when);
}

qsizetype Verification::notSwipedBack() const
{
    qsizetype n = 0;
    for (qsizetype position : m_scope)
        n += m_state[size_t(position)] == State::NotRead;
    return n;
}

std::vector<qsizetype> Verification::notSwipedBackCards() const
{
    std::vector<qsizetype> cards;
    for (qsizetype position : m_scope) {
        if (m_state[size_t(position)] == State::NotRead)
            cards.push_back(position);
    }
    return cards;
}

QString Verification::reportHeader()
{
    return QStringLiteral("what,card,run,time,track1,track2,track3,read track1,read track2,read track3");
}

QByteArray Verification::report() const
{
    QByteArray csv = reportHeader().toUtf8() + "\r\n";
    auto row = [&](const QString& what, qsizetype written, const JournalIndex::Texts& read) {
        const JournalIndex::Card c = m_index.card(written);
        const QStringList fields{what,
                                 QString::number(c.card),
                                 QString::number(c.run),
                                 ReadsFile::csvField(c.time),
                                 ReadsFile::csvField(c.texts.track1),
                                 ReadsFile::csvField(c.texts.track2),
                                 ReadsFile::csvField(c.texts.track3),
                                 ReadsFile::csvField(read.track1),
                                 ReadsFile::csvField(read.track2),
                                 ReadsFile::csvField(read.track3)};
        csv += fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
    };
    for (qsizetype position : notSwipedBackCards())
        row(QStringLiteral("not swiped back"), position, {});
    for (const Differing& d : m_differingCards)
        row(QStringLiteral("differs"), d.written, d.read);
    return csv;
}
