#pragma once

#include <QValidator>

#include <functional>

class QLineEdit;

// Keeps out of a track's edit the characters its stripe cannot hold, whether
// typed or pasted; editing keys and shortcuts carry no text and keep their
// meaning. Track 1 text turns to upper case first. The track is asked each
// time, since the composer's edit serves whichever track it is open for
// (0, before it was first opened, counts as track 1).
//
// A validator also sees the text the program sets; that text goes in through
// setTextAsIs, so a composed card or a slot's text is shown as it is and never
// altered on the way.
class TrackTextValidator : public QValidator
{
public:
    TrackTextValidator(std::function<int()> track, QObject* parent);

    State validate(QString& input, int& pos) const override;

    // Sets the edit's text without filtering it.
    static void setTextAsIs(QLineEdit* edit, const QString& text);

private:
    std::function<int()> m_track;
};
