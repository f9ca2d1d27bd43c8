#include "writing/writetrack.h"

#include "link/commandset.h"
#include "link/tracks_write.h"

WriteResult writeTrack(ComPort& port, const Sleeper& sleeper, int choice, bool generateNext, const CardTexts& inHand,
                       const Composer& compose, const std::function<void(const CardTexts&)>& beforeSend)
{
    WriteResult result;
    result.texts = inHand;
    StagedCard staged;
    if (generateNext) {
        staged = compose(choice);
        if (staged.wait) {
            result.waiting = true;
            return result;
        }
        // Tracks the choice does not carry are not composed: their edits keep their text.
        for (int t = 1; t <= 3; ++t) {
            if (CommandSet::choiceCarries(choice, t))
                result.texts.track(t) = staged.texts.track(t);
        }
        // The track 1 edit turns letters to upper case, and the frame carries what it shows.
        result.texts.track1 = Tracks_Write::asTrackTakes(1, result.texts.track1);
        result.composed = true;
        if (Tracks_Write::overCapacity(result.texts)) {
            result.outcome = WriteResult::Outcome::OverLong;
            return result;
        }
    }
    // Only what a track's stripe holds goes into a frame: a "B" on track 2 would
    // open track 1 there, an ESC or GS would cut the frame short.
    for (int t = 1; t <= 3; ++t) {
        const QString problem =
            CommandSet::choiceCarries(choice, t) ? Tracks_Write::characterProblem(t, result.texts.track(t)) : QString();
        if (!problem.isEmpty()) {
            result.outcome = WriteResult::Outcome::Refused;
            result.problem = QStringLiteral("Карточка не отправлена: %1.").arg(problem);
            return result;
        }
    }
    const QByteArray frame = Tracks_Write::buildFrame(choice, result.texts);
    if (frame.isEmpty()) {
        result.outcome = WriteResult::Outcome::NothingSent;
        return result;
    }
    if (generateNext && staged.commit)
        staged.commit();
    if (beforeSend)
        beforeSend(result.texts);
    Tracks_Write::sendCard(port, sleeper, choice, frame);
    result.outcome = WriteResult::Outcome::Sent;
    return result;
}
