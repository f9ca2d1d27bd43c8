#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// The cards a journal records as written, read at once for look-ups by their
// texts: was this card written, when, in which run and job. A journal of a
// million cards reads in well under a second; a line that does not read is
// passed over and counted, never fatal.
//
// Texts are kept as the journal's UTF-8 bytes in one buffer and become QStrings
// only when a card is asked for, so reading makes no string per field. The
// look-ups by track 1 and by track 2 are built when first asked for: an index
// is not for two threads at once.
class JournalIndex
{
public:
    struct Texts
    {
        QString track1, track2, track3;

        const QString& track(int t) const { return t == 1 ? track1 : t == 2 ? track2 : track3; }
        QString& track(int t) { return t == 1 ? track1 : t == 2 ? track2 : track3; }
        friend bool operator==(const Texts&, const Texts&) = default;
    };

    struct Card
    {
        QString time; // as the journal has it: ISO 8601 with the UTC offset
        int run = 0;
        int card = 0; // the card's number in its run
        Texts texts;
        QString job; // the job file it was made from; empty when the journal did not say
    };

    // Sets of tracks, one bit each.
    enum Track : unsigned { Track1 = 1, Track2 = 2, Track3 = 4, AllTracks = 7 };

    struct Scope
    {
        enum Kind { AllRuns, LastRun, Job } kind = AllRuns;
        QString job; // Job: the job file as the journal names it
    };

    // The texts of a card as look-ups compare them: UTF-8 and hashed once.
    struct Key
    {
        explicit Key(const Texts& texts);
        QByteArray bytes[3];
        std::uint32_t hashes[3];
    };

    // Written cards by the texts of some tracks: a chained hash over a list of
    // card positions, walked latest card first.
    class Lookup
    {
    public:
        Lookup() = default;
        Lookup(const JournalIndex& index, unsigned tracks, std::vector<qsizetype> cards);

        unsigned tracks() const { return m_tracks; }
        qsizetype size() const { return qsizetype(m_cards.size()); }
        // Calls `visit(position)` for each card whose texts on these tracks are
        // the key's, latest first, until it returns false.
        template <typename Visit> void forEach(const JournalIndex& index, const Key& key, Visit visit) const;

    private:
        unsigned m_tracks = 0;
        std::size_t m_mask = 0;
        std::vector<qsizetype> m_cards;
        std::vector<std::int32_t> m_head;
        std::vector<std::int32_t> m_next;
    };

    JournalIndex() = default;
    JournalIndex(JournalIndex&&) noexcept = default;
    JournalIndex& operator=(JournalIndex&&) noexcept = default;

    // A file that is missing or cannot be read gives an empty index.
    static JournalIndex read(const QString& path);
    static JournalIndex fromBytes(QByteArrayView bytes);

    qsizetype size() const { return qsizetype(m_cards.size()); } // written cards, in the journal's order
    Card card(qsizetype position) const;
    int damagedLines() const { return m_damaged; }
    int lastRun() const { return m_lastRun; } // the last run that wrote a card; 0 when none did

    bool contains(const QString& track1, const QString& track2, const QString& track3) const;
    // Positions of the written cards, latest first.
    QList<qsizetype> withTexts(const Texts& texts) const;
    QList<qsizetype> withTrack1(const QString& text) const;
    QList<qsizetype> withTrack2(const QString& text) const;
    // Positions of the written cards in the scope, in the journal's order.
    std::vector<qsizetype> inScope(const Scope& scope) const;

    // Whether the card's texts on the tracks are the key's.
    bool sameOn(qsizetype position, unsigned tracks, const Key& key) const;
    std::size_t hashOn(qsizetype position, unsigned tracks) const;
    static std::size_t hashOn(const Key& key, unsigned tracks);

private:
    friend class JournalIndexReader;

    struct Stored
    {
        qsizetype at = 0; // where its bytes begin in m_bytes: time, track 1, 2, 3
        std::int32_t lengths[4] = {};
        std::int32_t run = 0;
        std::int32_t card = 0;
        std::int32_t job = -1; // into m_jobs
        std::uint32_t hashes[3] = {};
    };
    QByteArrayView field(const Stored& s, int k) const;
    QList<qsizetype> find(const Lookup& lookup, const Key& key) const;
    const Lookup& byTrack(unsigned track) const;

    QByteArray m_bytes;
    std::vector<Stored> m_cards;
    QStringList m_jobs;
    int m_damaged = 0;
    int m_lastRun = 0;
    Lookup m_byTexts;
    mutable Lookup m_byTrack1, m_byTrack2;
};

template <typename Visit>
void JournalIndex::Lookup::forEach(const JournalIndex& index, const Key& key, Visit visit) const
{
    if (m_head.empty())
        return;
    const std::size_t h = hashOn(key, m_tracks);
    for (std::int32_t k = m_head[h & m_mask]; k >= 0; k = m_next[k]) {
        const qsizetype position = m_cards[k];
        if (index.hashOn(position, m_tracks) == h && index.sameOn(position, m_tracks, key) && !visit(position))
            return;
    }
}
