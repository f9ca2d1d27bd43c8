#include "app/tracktextvalidator.h"

#include "link/tracks_write.h"

#include <QLineEdit>

TrackTextValidator::TrackTextValidator(std::function<int()> track, QObject* parent)
    : QValidator(parent), m_track(std::move(track))
{
}

QValidator::State TrackTextValidator::validate(QString& input, int& pos) const
{
    const int track = std::max(1, m_track());
    input = Tracks_Write::asTrackTakes(track, input);
    QString kept;
    kept.reserve(input.size());
    int keptBeforeCursor = 0;
    for (qsizetype i = 0; i < input.size(); ++i) {
        if (!Tracks_Write::trackHolds(track, input[i].unicode()))
            continue;
        kept.append(input[i]);
        if (i < pos)
            ++keptBeforeCursor;
    }
    input = kept;
    pos = keptBeforeCursor;
    return Acceptable;
}

void TrackTextValidator::setTextAsIs(QLineEdit* edit, const QString& text)
{
    const QValidator* validator = edit->validator();
    edit->setValidator(nullptr);
    edit->setText(text);
    edit->setValidator(validator);
}
