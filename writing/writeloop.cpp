#include "writing/writeloop.h"

#include "base/error.h"
#include "link/commandset.h"
#include "link/comport.h"

#include <utility>

using Tracks_Write::AnswerLength;
using Tracks_Write::Verdict;

WriteLoop::WriteLoop(ComPort& port, Sleeper sleeper) : m_port(port), m_sleeper(std::move(sleeper)) {}

QString WriteLoop::countLabelAtStart()
{
    return QStringLiteral("Записано карточек: ");
}

QString WriteLoop::countLabel(int cardsWritten)
{
    return countLabelAtStart() + QString::number(cardsWritten);
}

QString WriteLoop::countLabel(int written, int size)
{
    return countLabel(written) + QStringLiteral(" из ") + QString::number(size);
}

QString WriteLoop::countLabelNow() const
{
    return m_batchSize > 0 ? countLabel(m_batchWritten, m_batchSize) : countLabelAtStart();
}

QString WriteLoop::batchDoneMessage(int cards)
{
    // The noun after a number: 1, 21 карточка; 2-4, 22-24 карточки; 5-20, 11-14 карточек.
    const int lastTwo = cards % 100;
    const int last = cards % 10;
    const char* noun = "карточек";
    if (last == 1 && lastTwo != 11)
        noun = "карточка";
    else if (last >= 2 && last <= 4 && (lastTwo < 12 || lastTwo > 14))
        noun = "карточки";
    return QStringLiteral("Партия записана: %1 %2.").arg(cards).arg(QString::fromUtf8(noun));
}

void WriteLoop::setBatch(int size, int written)
{
    m_batchSize = size;
    m_batchWritten = size > 0 ? written : 0;
}

// A finished batch ends the run before another card can go out.
bool WriteLoop::stopWhenBatchDone(Tick& out)
{
    if (!batchDone() || out.stop != Tick::Stop::None)
        return false;
    out.stop = Tick::Stop::BatchDone;
    out.error = batchDoneMessage(m_batchSize);
    out.logLines.append(out.error);
    m_running = false;
    return true;
}

QString WriteLoop::noVerdictLine()
{
    return QStringLiteral("  Нет результата записи, карточка будет отправлена снова");
}

QString WriteLoop::unansweredAtStopLine()
{
    return QStringLiteral("  Запись остановлена до ответа терминала: карточка будет отправлена первой");
}

QString WriteLoop::sentAgainLine()
{
    return QStringLiteral("  Карточка, оставшаяся без ответа, отправлена снова");
}

QString WriteLoop::overLongMessage()
{
    return QStringLiteral("Запись невозможна. Очень длинная строка!");
}

void WriteLoop::journal(Journal::Outcome outcome, const CardTexts& texts, const QString& note)
{
    if (!m_journal)
        return;
    const QString noted =
        m_journalTag.isEmpty() || note.isEmpty() ? note + m_journalTag : note + QStringLiteral("; ") + m_journalTag;
    m_journal->append({{}, m_run, m_cardsWritten + 1, texts, outcome, noted});
}

void WriteLoop::tell(bool written, const QString& note)
{
    if (m_verdicts)
        m_verdicts(written, note);
}

// Journal and job failures (a full disk) end the run with the common error
// report; what the step did before them is still shown.
void WriteLoop::recordSafely(Tick& out, const std::function<void()>& record)
{
    try {
        record();
    } catch (const Failure& failure) {
        if (out.stop == Tick::Stop::None) {
            out.stop = Tick::Stop::Failed;
            out.error = failure.text();
        }
        m_running = false;
    }
}

QString WriteLoop::dropPendingCard()
{
    if (!m_unconfirmed)
        return {};
    const SentCard card = *m_unconfirmed;
    m_unconfirmed.reset();
    m_resendUnconfirmed = false;
    journal(Journal::Outcome::Dropped, card.texts, QStringLiteral("не отправлена снова по выбору оператора"));
    if (m_persist)
        m_persist(std::nullopt);
    return QStringLiteral("Карточка без ответа (%1) не отправлена снова по выбору оператора")
        .arg(QStringList{card.texts.track1, card.texts.track2, card.texts.track3}.join(QLatin1Char('|')));
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
    m_run = m_journal ? m_journal->nextRun() : m_run + 1;
    m_running = true;
}

WriteLoop::Tick WriteLoop::stop()
{
    Tick out;
    if (m_running && m_awaitingAnswer) {
        // The stop command's purge would throw away an answer that has already come.
        takeAnswerBytes(m_port.readUpTo(AnswerLength));
        judgeAnswer(out);
    }
    if (m_running && m_awaitingAnswer && m_unconfirmed) {
        out.logLines.append(QString::number(m_cardsWritten + 1) + unansweredAtStopLine());
        recordSafely(out, [&] { journal(Journal::Outcome::UnansweredAtStop, m_unconfirmed->texts); });
    }
    m_port.sendStop();
    m_running = false;
    m_awaitingAnswer = false;
    m_answer.clear();
    return out;
}

WriteLoop::Tick WriteLoop::tick(int choice, const CardTexts& inHand, const Composer& compose, int templateVersion)
{
    Tick out;
    if (!m_running)
        return out;
    if (Tracks_Write::overCapacity(inHand)) {
        out.stop = Tick::Stop::OverLong;
        m_running = false;
        return out;
    }
    if (m_sendDue && stopWhenBatchDone(out))
        return out;
    if (m_sendDue) {
        WriteResult sent;
        try {
            sent = send(choice, inHand, compose, templateVersion, out);
        } catch (const Refusal& refusal) {
            // Nothing was committed: after the operator mends the data, "Записать" goes on with this card.
            out.stop = Tick::Stop::Refused;
            out.error = refusal.text();
        } catch (const Failure& failure) {
            out.stop = Tick::Stop::Failed;
            out.error = failure.text();
        }
        if (sent.outcome == WriteResult::Outcome::Refused) {
            out.stop = Tick::Stop::Refused;
            out.error = sent.problem;
        }
        if (out.stop == Tick::Stop::Refused)
            recordSafely(out, [&] { journal(Journal::Outcome::Refused, sent.texts, out.error); });
        if (out.stop != Tick::Stop::None || sent.outcome == WriteResult::Outcome::OverLong) {
            if (out.stop == Tick::Stop::None)
                out.stop = Tick::Stop::OverLong;
            m_running = false;
            return out;
        }
        if (sent.composed)
            out.newTexts = sent.texts;
        m_sendDue = sent.waiting; // a card not handed over yet is asked for again at the next step
        m_answer.clear();
        m_awaitingAnswer = sent.outcome == WriteResult::Outcome::Sent;
    }
    takeAnswerBytes(m_port.readUpTo(AnswerLength));
    judgeAnswer(out);
    return out;
}

// Before a frame goes out the card becomes the card in flight, is kept with the
// job and journalled "sent": whatever happens next, a restart knows of it.
std::function<void(const CardTexts&)> WriteLoop::recordSending(int choice, int templateVersion)
{
    return [this, choice, templateVersion](const CardTexts& texts) {
        if (!m_unconfirmed || m_unconfirmed->texts != texts || m_unconfirmed->choice != choice)
            m_unconfirmed = SentCard{choice, texts, templateVersion};
        if (m_persist)
            m_persist(m_unconfirmed);
        journal(Journal::Outcome::Sent, texts);
    };
}

WriteResult WriteLoop::send(int choice, const CardTexts& inHand, const Composer& compose, int templateVersion,
                            Tick& out)
{
    if (std::exchange(m_resendUnconfirmed, false) && m_unconfirmed) {
        const SentCard card = *m_unconfirmed;
        out.logLines.append(QString::number(m_cardsWritten + 1) + sentAgainLine());
        out.newTexts = card.texts;
        m_generateNext = false;
        return writeTrack(m_port, m_sleeper, card.choice, false, card.texts, compose,
                          recordSending(card.choice, card.templateVersion));
    }
    // A card sent again goes with the tracks it first went with.
    const int sendChoice = !m_generateNext && m_unconfirmed ? m_unconfirmed->choice : choice;
    const int version = !m_generateNext && m_unconfirmed ? m_unconfirmed->templateVersion : templateVersion;
    return writeTrack(m_port, m_sleeper, sendChoice, m_generateNext, inHand, compose,
                      recordSending(sendChoice, version));
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
    // An answer holds no ESC but its first: a stray ESC on the line before it is noise.
    for (qsizetype esc = m_answer.indexOf(char(CommandSet::Esc), 1); esc > 0 && esc < AnswerLength;
         esc = m_answer.indexOf(char(CommandSet::Esc), 1))
        m_answer.remove(0, esc);
    if (m_answer.size() < AnswerLength)
        return;
    const Verdict verdict = Tracks_Write::verdictOf(QByteArrayView(m_answer).first(AnswerLength));
    m_answer.clear();
    m_awaitingAnswer = false;
    m_sendDue = true;
    const QString number = QString::number(m_cardsWritten + 1);
    const CardTexts texts = m_unconfirmed ? m_unconfirmed->texts : CardTexts{};
    switch (verdict) {
    case Verdict::Written:
        out.logLines.append(number + QStringLiteral("  Карточка записана"));
        recordSafely(out, [&] { journal(Journal::Outcome::Written, texts); });
        recordSafely(out, [&] { tell(true, {}); });
        ++m_cardsWritten;
        if (m_batchSize > 0)
            ++m_batchWritten;
        m_generateNext = true;
        m_unconfirmed.reset();
        out.countLabel = m_batchSize > 0 ? countLabel(m_batchWritten, m_batchSize) : countLabel(m_cardsWritten);
        recordSafely(out, [&] {
            if (m_persist)
                m_persist(std::nullopt);
        });
        stopWhenBatchDone(out);
        break;
    case Verdict::NotWritten:
        out.logLines.append(number + QStringLiteral("  Карточка НЕ записана!"));
        recordSafely(out, [&] { journal(Journal::Outcome::NotWritten, texts); });
        recordSafely(out, [&] { tell(false, QStringLiteral("не записана")); });
        m_generateNext = false;
        break;
    case Verdict::NoVerdict:
        // Not known to be written: the same card goes again, so that its values
        // are not skipped.
        out.logLines.append(number + noVerdictLine());
        recordSafely(out, [&] { journal(Journal::Outcome::NoVerdict, texts); });
        recordSafely(out, [&] { tell(false, QStringLiteral("нет результата записи")); });
        m_generateNext = false;
        break;
    }
}
