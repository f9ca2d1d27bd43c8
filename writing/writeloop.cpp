#include "writing/writeloop.h"

#include "link/commandset.h"
#include "link/comport.h"
#include "link/error.h"

#include <utility>

using Tracks_Write::CardTexts;
using Tracks_Write::Verdict;
using Tracks_Write::WriteResult;
using Tracks_Write::AnswerLength;

WriteLoop::WriteLoop(ComPort& port, Sleeper sleeper) : m_port(port), m_sleeper(std::move(sleeper)) {}

QString WriteLoop::countLabelAtStart()
{
    return QStringLiteral("Записано карточек: ");
}

QString WriteLoop::countLabel(int cardsWritten)
{
    return countLabelAtStart() + QString::number(cardsWritten);
}

QString WriteLoop::noVerdictLine()
{
    return QStringLiteral("  Нет результата записи, карточка будет отправлена снова");
}

QString WriteLoop::overLongMessage()
{
    return QStringLiteral("Запись невозможна. Очень длинная строка!");
}

void WriteLoop::start()
{
    Tracks_Write::sendWriteStart(m_port);
    m_cardsWritten = 0;
    m_sendDue = true;
    m_generateNext = true;
    m_awaitingAnswer = false;
    m_answer.clear();
    m_resendUnconfirmed = m_unconfirmed.has_value();
    m_running = true;
}

void WriteLoop::stop()
{
    CommandSet::putStopCommand(m_port.SendBuffer);
    m_port.WritePort(CommandSet::StopCommandLength);
    m_running = false;
    m_awaitingAnswer = false;
    m_answer.clear();
}

WriteLoop::Tick WriteLoop::tick(int choice, const CardTexts& inHand, const Composer& compose)
{
    Tick out;
    if (!m_running)
        return out;
    if (Tracks_Write::overCapacity(inHand)) {
        out.stop = Tick::Stop::OverLong;
        m_running = false;
        return out;
    }
    if (m_sendDue) {
        WriteResult sent;
        try {
            sent = send(choice, inHand, compose, out);
        } catch (const Failure& failure) {
            // Nothing was committed, so the next start composes this same card again.
            out.stop = Tick::Stop::ComposeFailed;
            out.error = failure.text();
            m_running = false;
            return out;
        }
        if (sent.outcome == WriteResult::Outcome::OverLong) {
            out.stop = Tick::Stop::OverLong;
            m_running = false;
            return out;
        }
        if (sent.composed)
            out.newTexts = sent.texts;
        if (sent.outcome == WriteResult::Outcome::Sent)
            m_unconfirmed = SentCard{choice, sent.texts};
        m_sendDue = false;
        m_answer.clear();
        m_awaitingAnswer = sent.outcome == WriteResult::Outcome::Sent;
    }
    m_port.ReadPort(AnswerLength);
    takeAnswerBytes(m_port.lastRead());
    judgeAnswer(out);
    return out;
}

WriteResult WriteLoop::send(int choice, const CardTexts& inHand, const Composer& compose, Tick& out)
{
    if (std::exchange(m_resendUnconfirmed, false)) {
        if (m_unconfirmed->choice == choice) {
            out.newTexts = m_unconfirmed->texts;
            return Tracks_Write::writeTrack(m_port, m_sleeper, choice, false, m_unconfirmed->texts, compose);
        }
        m_unconfirmed.reset(); // other tracks now: that card cannot be sent as it was
    }
    return Tracks_Write::writeTrack(m_port, m_sleeper, choice, m_generateNext, inHand, compose);
}

void WriteLoop::takeAnswerBytes(const QByteArray& bytes)
{
    if (!m_awaitingAnswer)
        return;
    qsizetype from = 0;
    if (m_answer.isEmpty()) {
        // Line noise before the answer's ESC is not part of it.
        from = bytes.indexOf(char(CommandSet::Esc));
        if (from < 0)
            return;
    }
    m_answer.append(bytes.mid(from));
}

void WriteLoop::judgeAnswer(Tick& out)
{
    if (m_answer.size() < AnswerLength)
        return;
    const Verdict verdict = Tracks_Write::verdictOf(QByteArrayView(m_answer).first(AnswerLength));
    m_answer.clear();
    m_awaitingAnswer = false;
    m_sendDue = true;
    const QString number = QString::number(m_cardsWritten + 1);
    switch (verdict) {
    case Verdict::Written:
        out.logLines.append(number + QStringLiteral("  Карточка записана"));
        ++m_cardsWritten;
        m_generateNext = true;
        m_unconfirmed.reset();
        out.countLabel = countLabel(m_cardsWritten);
        break;
    case Verdict::NotWritten:
        out.logLines.append(number + QStringLiteral("  Карточка НЕ записана!"));
        m_generateNext = false;
        break;
    case Verdict::NoVerdict:
        // Not known to be written: the same card goes again, so that its values
        // are not skipped.
        out.logLines.append(number + noVerdictLine());
        m_generateNext = false;
        break;
    }
}
