#include "tools/simcard.h"

#include <QFile>

QByteArray SimCard::toLine() const
{
    return track1 + '|' + track2 + '|' + track3;
}

bool SimCard::fromLine(const QByteArray& line, SimCard& card)
{
    const QList<QByteArray> fields = line.split('|');
    if (fields.size() > 3)
        return false;
    card = SimCard{fields.value(0), fields.value(1), fields.value(2)};
    return true;
}

CardDeck CardDeck::sample()
{
    // Track 1 is the IATA layout (format code, number, name, expiry and service code),
    // track 2 the ABA layout; track 3 is free digits, as issuers use it.
    return CardDeck({
        {"B4000001234567899^IVANOV/IVAN^2512101", "4000001234567899=25121010000000000",
         "011234567890123456789=0000000000000000000000000000000000000000000000000000000000000000000000000000"},
        {"B5500005555555559^PETROV/PETR^2708201", "5500005555555559=27082010000012300", ""},
        {"B6762000000000017^SIDOROVA/ELENA^2403121", "6762000000000017=24031210000000456",
         "0167620000000000017=1220000000000=000000000000000000000"},
        {"B4276380000000016^KUZNETSOV/OLEG^2611101", "4276380000000016=26111010000000789", ""},
        {"B9643100000000012^SMIRNOV/PETR^3012120", "9643100000000012=30121200000>", "0196431000000000120=3012"},
    });
}

bool CardDeck::parse(const QByteArray& text, CardDeck& deck, QString* error)
{
    QList<SimCard> cards;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.trimmed().startsWith('#'))
            continue;
        SimCard card;
        if (!SimCard::fromLine(line, card)) {
            if (error)
                *error = QStringLiteral("line %1: more than three fields (T1|T2|T3)").arg(i + 1);
            return false;
        }
        cards.append(card);
    }
    if (cards.isEmpty()) {
        if (error)
            *error = QStringLiteral("the deck holds no card");
        return false;
    }
    deck = CardDeck(std::move(cards));
    return true;
}

bool CardDeck::load(const QString& path, CardDeck& deck, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return false;
    }
    return parse(file.readAll(), deck, error);
}

SimCard CardDeck::next()
{
    if (m_cards.isEmpty())
        return {};
    const SimCard card = m_cards[m_next];
    m_next = (m_next + 1) % m_cards.size();
    return card;
}
