#pragma once

#include <QString>
#include <stdexcept>

// An error that ends the handler or timer tick it happens in. The event guard
// shows its text in the common error report; nothing else catches it.
class Failure : public std::runtime_error
{
public:
    explicit Failure(const QString& text) : std::runtime_error(text.toStdString()), m_text(text) {}
    const QString& text() const { return m_text; }

private:
    QString m_text;
};

// A card that must not go out as it is: a text its track cannot hold, or no data
// for it. It stops a run of cards with a message, and nothing of the card advances.
class Refusal : public Failure
{
public:
    using Failure::Failure;
};
