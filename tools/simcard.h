#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The three track texts of one card as the stripe holds them: single bytes, with
// "=" and ">" standing as themselves (the wire translation is the terminal's job).
struct SimCard
{
    QByteArray track1;
    QByteArray track2;
    QByteArray track3;

    bool operator==(const SimCard&) const = default;

    // The deck line "T1|T2|T3", the form cards take in deck files and in the list
    // of encoded cards.
    QByteArray toLine() const;
    // Reads "T1|T2|T3"; missing trailing fields are empty. False on more than three fields.
    static bool fromLine(const QByteArray& line, SimCard& card);
};

// The cards the terminal hands out one after another on reads, from a deck file
// or the built-in sample; it starts again from the top when it runs out.
class CardDeck
{
public:
    CardDeck() = default;
    explicit CardDeck(QList<SimCard> cards) : m_cards(std::move(cards)) {}

    // About five plausible bank cards, so a demo shows something without a file.
    static CardDeck sample();
    // One card a line; blank lines and lines starting with "#" are skipped.
    // On failure returns false and says which line was wrong.
    static bool parse(const QByteArray& text, CardDeck& deck, QString* error);
    static bool load(const QString& path, CardDeck& deck, QString* error);

    const QList<SimCard>& cards() const { return m_cards; }
    SimCard next();

private:
    QList<SimCard> m_cards;
    qsizetype m_next = 0;
};
