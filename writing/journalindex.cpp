#include "writing/journalindex.h"

#include "writing/csvfield.h"
#include "writing/journal.h"

#include <QFile>
#include <QHash>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>

namespace {

constexpr int MaxFields = 10; // a line with more is damaged anyway
constexpr qsizetype Chunk = 4 << 20;

struct Field
{
    const char* data = nullptr;
    qsizetype size = 0;
    bool quoted = false; // the field began with a quote
    QByteArrayView view() const { return {data, size}; }
};

// One CSV record: fields point into the buffer, or into `own` for a field
// that had quotes or carriage returns to take out.
struct Record
{
    std::array<Field, MaxFields> fields;
    std::array<std::string, MaxFields> own;
    int count = 0;

    void add(const char* data, qsizetype size, bool quoted = false)
    {
        if (count < MaxFields)
            fields[count] = {data, size, quoted};
        ++count;
    }
};

// Reads one record from [p, end) as the journal writes them (RFC 4180, CR LF or
// LF, carriage returns outside quotes dropped). Returns where the next record
// begins, or null when the buffer ends first.
const char* parseRecord(const char* p, const char* end, Record& r)
{
    r.count = 0;
    for (;;) {
        const char* start = p;
        while (p < end && *p != ',' && *p != '\n' && *p != '"' && *p != '\r')
            ++p;
        if (p == end)
            return nullptr;
        if (*p == ',' || *p == '\n') {
            r.add(start, p - start);
            if (*p++ == '\n')
                return p;
            continue;
        }
        std::string scratch(start, p);
        const bool beganQuoted = p == start && *p == '"';
        bool quoted = false;
        for (;; ++p) {
            if (p == end)
                return nullptr;
            const char c = *p;
            if (quoted) {
                if (c != '"') {
                    scratch += c;
                } else if (p + 1 == end) {
                    return nullptr; // a doubled quote or the end of the field: the next bytes tell
                } else if (p[1] == '"') {
                    scratch += '"';
                    ++p;
                } else {
                    quoted = false;
                }
            } else if (c == '"') {
                quoted = true;
            } else if (c == ',' || c == '\n') {
                break;
            } else if (c != '\r') {
                scratch += c;
            }
        }
        if (r.count < MaxFields) {
            r.own[r.count] = std::move(scratch);
            r.add(r.own[r.count].data(), qsizetype(r.own[r.count].size()), beganQuoted);
        } else {
            r.add(nullptr, 0);
        }
        if (*p++ == '\n')
            return p;
    }
}

// The text of a field as the journal meant it. Where the journal guards a
// field against spreadsheet formulas, this is where the guard comes off.
QByteArrayView fieldText(const Field& f)
{
    const QByteArrayView v = f.view();
    if (f.quoted && v.size() >= 2 && v[0] == '\'' && (v[1] == '\'' || CsvField::startsFormula(QLatin1Char(v[1]))))
        return v.sliced(1);
    return v;
}

bool readNumber(QByteArrayView digits, std::int32_t& value)
{
    qsizetype k = 0;
    const bool negative = !digits.isEmpty() && digits[0] == '-';
    if (negative)
        k = 1;
    if (k == digits.size() || digits.size() - k > 9)
        return false;
    std::int32_t v = 0;
    for (; k < digits.size(); ++k) {
        if (digits[k] < '0' || digits[k] > '9')
            return false;
        v = v * 10 + (digits[k] - '0');
    }
    value = negative ? -v : v;
    return true;
}

int outcomeOf(QByteArrayView name)
{
    for (int k = 0; k < int(std::size(Journal::OutcomeNames)); ++k) {
        if (name == QByteArrayView(Journal::OutcomeNames[k]))
            return k;
    }
    return -1;
}

constexpr int WrittenOutcome = 1;

std::uint32_t textHash(QByteArrayView bytes)
{
    return std::uint32_t(qHashBits(bytes.data(), size_t(bytes.size()), 0));
}

std::size_t combine(const std::uint32_t (&hashes)[3], unsigned tracks)
{
    std::size_t h = tracks;
    for (int t = 0; t < 3; ++t) {
        if (tracks & (1u << t))
            h = (h ^ hashes[t]) * 0x9E3779B97F4A7C15ull;
    }
    return h ^ (h >> 29);
}

} // namespace

class JournalIndexReader
{
public:
    explicit JournalIndexReader(JournalIndex& index) : m_index(index) {}

    // Takes every whole record of [p, end); returns where the unfinished one begins.
    const char* take(const char* p, const char* end)
    {
        while (p < end) {
            const char* next = splitPlainLine(p, end);
            if (!next)
                next = parseRecord(p, end, m_record);
            if (!next)
                return p;
            takeRecord();
            p = next;
        }
        return p;
    }

    void finish()
    {
        std::vector<qsizetype> all(m_index.m_cards.size());
        for (qsizetype k = 0; k < qsizetype(all.size()); ++k)
            all[k] = k;
        m_index.m_byTexts = JournalIndex::Lookup(m_index, JournalIndex::AllTracks, std::move(all));
    }

private:
    // Nearly every line has no quote and no carriage return but the one before
    // its line feed: such a line is split with memchr, which scans many bytes a
    // step. Returns null for any other line, which then goes through parseRecord.
    const char* splitPlainLine(const char* p, const char* end)
    {
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        if (!lineEnd)
            return nullptr;
        const char* last = lineEnd > p && lineEnd[-1] == '\r' ? lineEnd - 1 : lineEnd;
        if (std::memchr(p, '"', size_t(last - p)) || std::memchr(p, '\r', size_t(last - p)))
            return nullptr;
        Record& r = m_record;
        r.count = 0;
        for (;;) {
            const char* comma = static_cast<const char*>(std::memchr(p, ',', size_t(last - p)));
            if (!comma) {
                r.add(p, last - p);
                return lineEnd + 1;
            }
            r.add(p, comma - p);
            p = comma + 1;
        }
    }

    void takeRecord()
    {
        const Record& r = m_record;
        if (r.count == 1 && r.fields[0].size == 0)
            return; // a blank line
        if (r.count >= 1 && r.fields[0].view() == QByteArrayView("time"))
            return; // a header line
        JournalIndex::Stored s;
        int outcome = -1;
        if ((r.count != 8 && r.count != 9) || !readNumber(r.fields[1].view(), s.run) ||
            !readNumber(r.fields[2].view(), s.card) || (outcome = outcomeOf(r.fields[6].view())) < 0) {
            ++m_index.m_damaged;
            return;
        }
        if (outcome != WrittenOutcome)
            return;
        QByteArray& bytes = m_index.m_bytes;
        s.at = bytes.size();
        const int order[4] = {0, 3, 4, 5}; // time, track 1, 2, 3
        for (int k = 0; k < 4; ++k) {
            const QByteArrayView text = fieldText(r.fields[order[k]]);
            bytes.append(text);
            s.lengths[k] = std::int32_t(text.size());
            if (k > 0)
                s.hashes[k - 1] = textHash(text);
        }
        s.job = r.count == 9 ? jobOf(fieldText(r.fields[8])) : -1;
        m_index.m_lastRun = std::max(m_index.m_lastRun, int(s.run));
        m_index.m_cards.push_back(s);
    }

    // Lines of one job follow each other: the last one is asked first.
    std::int32_t jobOf(QByteArrayView name)
    {
        if (name.isEmpty())
            return -1;
        if (m_lastJob >= 0 && name == QByteArrayView(m_lastJobBytes))
            return m_lastJob;
        m_lastJobBytes = name.toByteArray();
        const QString text = QString::fromUtf8(name);
        m_lastJob = std::int32_t(m_index.m_jobs.indexOf(text));
        if (m_lastJob < 0) {
            m_lastJob = std::int32_t(m_index.m_jobs.size());
            m_index.m_jobs.append(text);
        }
        return m_lastJob;
    }

    JournalIndex& m_index;
    Record m_record;
    QByteArray m_lastJobBytes;
    std::int32_t m_lastJob = -1;
};

JournalIndex::Key::Key(const Texts& texts)
{
    for (int t = 0; t < 3; ++t) {
        bytes[t] = texts.track(t + 1).toUtf8();
        hashes[t] = textHash(bytes[t]);
    }
}

JournalIndex::Lookup::Lookup(const JournalIndex& index, unsigned tracks, std::vector<qsizetype> cards)
    : m_tracks(tracks), m_cards(std::move(cards))
{
    const std::size_t buckets = std::bit_ceil(std::max<std::size_t>(16, m_cards.size() * 2));
    m_mask = buckets - 1;
    m_head.assign(buckets, -1);
    m_next.resize(m_cards.size());
    for (std::size_t k = 0; k < m_cards.size(); ++k) {
        std::int32_t& head = m_head[index.hashOn(m_cards[k], tracks) & m_mask];
        m_next[k] = head;
        head = std::int32_t(k);
    }
}

JournalIndex JournalIndex::read(const QString& path)
{
    JournalIndex index;
    JournalIndexReader reader(index);
    QFile file(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        // A written card takes less than half of its two lines ("sent", then
        // "written"); the pages of room that are never filled are never touched.
        index.m_bytes.reserve(qsizetype(std::min<qint64>(file.size() / 2, qint64(1) << 30)));
        index.m_cards.reserve(size_t(file.size() / 150));
        QByteArray buffer(Chunk, Qt::Uninitialized);
        qsizetype kept = 0;
        for (;;) {
            if (kept == buffer.size())
                buffer.resize(buffer.size() * 2); // one record longer than the buffer
            const qint64 got = file.read(buffer.data() + kept, buffer.size() - kept);
            if (got <= 0)
                break; // what is kept is a last line still being written: it does not count
            const char* begin = buffer.constData();
            const char* end = begin + kept + got;
            const char* rest = reader.take(begin, end);
            kept = end - rest;
            std::memmove(buffer.data(), rest, size_t(kept));
        }
    }
    reader.finish();
    return index;
}

JournalIndex JournalIndex::fromBytes(QByteArrayView bytes)
{
    JournalIndex index;
    JournalIndexReader reader(index);
    reader.take(bytes.data(), bytes.data() + bytes.size());
    reader.finish();
    return index;
}

QByteArrayView JournalIndex::field(const Stored& s, int k) const
{
    qsizetype at = s.at;
    for (int i = 0; i < k; ++i)
        at += s.lengths[i];
    return QByteArrayView(m_bytes.constData() + at, s.lengths[k]);
}

JournalIndex::Card JournalIndex::card(qsizetype position) const
{
    const Stored& s = m_cards[size_t(position)];
    Card c;
    c.time = QString::fromUtf8(field(s, 0));
    c.run = s.run;
    c.card = s.card;
    c.texts = {QString::fromUtf8(field(s, 1)), QString::fromUtf8(field(s, 2)), QString::fromUtf8(field(s, 3))};
    if (s.job >= 0)
        c.job = m_jobs[s.job];
    return c;
}

bool JournalIndex::sameOn(qsizetype position, unsigned tracks, const Key& key) const
{
    const Stored& s = m_cards[size_t(position)];
    for (int t = 0; t < 3; ++t) {
        if ((tracks & (1u << t)) && field(s, t + 1) != QByteArrayView(key.bytes[t]))
            return false;
    }
    return true;
}

std::size_t JournalIndex::hashOn(qsizetype position, unsigned tracks) const
{
    return combine(m_cards[size_t(position)].hashes, tracks);
}

std::size_t JournalIndex::hashOn(const Key& key, unsigned tracks)
{
    return combine(key.hashes, tracks);
}

QList<qsizetype> JournalIndex::find(const Lookup& lookup, const Key& key) const
{
    QList<qsizetype> found;
    lookup.forEach(*this, key, [&](qsizetype position) {
        found.append(position);
        return true;
    });
    return found;
}

bool JournalIndex::contains(const QString& track1, const QString& track2, const QString& track3) const
{
    bool found = false;
    m_byTexts.forEach(*this, Key({track1, track2, track3}), [&](qsizetype) { return !(found = true); });
    return found;
}

QList<qsizetype> JournalIndex::withTexts(const Texts& texts) const
{
    return find(m_byTexts, Key(texts));
}

const JournalIndex::Lookup& JournalIndex::byTrack(unsigned track) const
{
    Lookup& lookup = track == Track1 ? m_byTrack1 : m_byTrack2;
    if (lookup.tracks() != track) {
        std::vector<qsizetype> all(m_cards.size());
        for (qsizetype k = 0; k < qsizetype(all.size()); ++k)
            all[size_t(k)] = k;
        lookup = Lookup(*this, track, std::move(all));
    }
    return lookup;
}

QList<qsizetype> JournalIndex::withTrack1(const QString& text) const
{
    return find(byTrack(Track1), Key({text, {}, {}}));
}

QList<qsizetype> JournalIndex::withTrack2(const QString& text) const
{
    return find(byTrack(Track2), Key({{}, text, {}}));
}

std::vector<qsizetype> JournalIndex::inScope(const Scope& scope) const
{
    std::vector<qsizetype> cards;
    const std::int32_t job = scope.kind == Scope::Job ? std::int32_t(m_jobs.indexOf(scope.job)) : -1;
    if (scope.kind == Scope::Job && (job < 0 || scope.job.isEmpty()))
        return cards;
    for (qsizetype k = 0; k < size(); ++k) {
        const Stored& s = m_cards[size_t(k)];
        if (scope.kind == Scope::AllRuns || (scope.kind == Scope::LastRun && s.run == m_lastRun) ||
            (scope.kind == Scope::Job && s.job == job))
            cards.push_back(k);
    }
    return cards;
}
