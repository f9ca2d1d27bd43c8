// Feeds arbitrary bytes to the job reader. A refusal with a message is the
// reader's answer to a bad file; a crash, a sanitizer report or a hang is a
// bug. A job it takes must be one the program can use: it survives a round
// trip through the file unchanged, and composing its cards fails, if at all,
// only with a Failure.
#include "base/error.h"
#include "excel/cellsource.h"
#include "writing/composetracktext.h"
#include "writing/job.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

class NumberedCells : public CellSource
{
public:
    QString ReadCellText(int row, int column) override
    {
        if (row < 1 || column < 1 || column > 26)
            throw Failure(QStringLiteral("outside the sheet"));
        return QString::number(row % 50 == 0 ? 0 : qint64(row) * 31 + column);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const JobRead read = JobFile::fromJson(bytes, QStringLiteral("fuzz.swj"));
    if (!read.job) {
        if (read.message.isEmpty() || read.problem == JobProblem::None)
            std::abort();
        return 0;
    }
    const JobRead again = JobFile::fromJson(JobFile::toJson(*read.job), QStringLiteral("fuzz.swj"));
    if (!again.job || !(*again.job == *read.job))
        std::abort();
    NumberedCells cells;
    TemplateSet templates = read.job->templates;
    try {
        for (int card = 0; card < 3; ++card)
            templates = composeCard(templates, tracksOfChoice(read.job->trackChoice), cells).advanced;
    } catch (const Failure&) {
    }
    return 0;
}
