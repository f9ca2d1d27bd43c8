#pragma once

#include "writing/journalindex.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <cstdint>
#include <vector>

// Cards swiped back after writing, matched with the cards the journal records
// as written: which are right, which differ, which were never written, and
// which written cards have not come back. It only reads the journal.
//
// A card read is matched on the tracks its track choice reads; the texts are
// those the read tab shows, with the numeric tracks' "'" and "=" of the
// two- and three-track replies taken as the "=" and ">" that were written.
class Verification
{
public:
    enum class Outcome {
        Verified,     // a written card, texts equal on every track read
        Differs,      // a written card with the same track 1 or track 2 but another text on another track
        Unknown,      // not in the journal's cards of the scope
        NothingToRead // a track choice whose reply carries no text (track 3 alone)
    };

    struct Result
    {
        Outcome outcome = Outcome::Unknown;
        qsizetype written = -1;   // Verified, Differs: the written card (a position in the index)
        bool again = false;       // the same card was read before
        unsigned differing = 0;   // Differs: the tracks whose texts are not the written ones
        JournalIndex::Texts read; // the texts matched, tracks not read empty
        QString message;          // for the window, in Russian
        QString record;           // for the reads file
    };

    // The index must outlive the verification.
    Verification(const JournalIndex& index, JournalIndex::Scope scope);

    // The tracks a track choice (0 "Track 1" .. 5 "Track 1 & 2 & 3") reads.
    static unsigned tracksRead(int trackChoice);
    // Track numbers of a set of track bits (bit 0 is track 1), as "1, 3".
    static QString trackList(unsigned tracks);
    // Builds the look-up the track choice needs, so that the first card read
    // does not wait for it; check() does it when it was not done.
    void prepare(int trackChoice);
    // `shown` is what the read tab's three boxes show, empty for tracks not read.
    Result check(int trackChoice, const JournalIndex::Texts& shown);

    qsizetype inScope() const { return qsizetype(m_scope.size()); }
    int verified() const { return m_verified; }   // written cards read back right
    int differing() const { return m_differing; } // cards read that differ from a written one
    int unknown() const { return m_unknown; }     // cards read that are not in the journal
    qsizetype notSwipedBack() const;              // written cards neither verified nor found differing
    std::vector<qsizetype> notSwipedBackCards() const;

    // The written cards not yet swiped back and the cards that differ, as CSV
    // for a spreadsheet: what, card, run, time, the written texts and the texts read.
    QByteArray report() const;
    static QString reportHeader();

private:
    enum class State : std::uint8_t { NotRead, Verified, Differed };
    struct Differing
    {
        qsizetype written;
        JournalIndex::Texts read;
    };

    const JournalIndex::Lookup& lookup(unsigned tracks);
    qsizetype closest(const JournalIndex::Key& key, unsigned tracks, unsigned& differing);
    Result verified(Result r, qsizetype written);
    Result differs(Result r, qsizetype written, unsigned differingTracks, const QByteArray& seen);
    QString cardName(qsizetype written) const;

    const JournalIndex& m_index;
    std::vector<qsizetype> m_scope;
    JournalIndex::Lookup m_lookups[8];
    std::vector<State> m_state; // by position in the index
    QSet<QByteArray> m_seenDiffering, m_seenUnknown;
    QList<Differing> m_differingCards;
    int m_verified = 0;
    int m_differing = 0;
    int m_unknown = 0;
};
