#include "writing/job.h"

#include "base/error.h"
#include "link/commandset.h"
#include "writing/durablefile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace {

constexpr qint64 FieldMax = std::numeric_limits<qint32>::max(); // the largest number a field holds

// A field of a job file that is missing or out of range; its text names the field.
struct BadField
{
    QString text;
};

QString displayName(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QString slotPlace(int track, int slot)
{
    return QStringLiteral("дорожка %1, слот %2").arg(track).arg(slot + 1);
}

qint64 integerField(const QJsonObject& object, const char* key, qint64 low, qint64 high, const QString& place)
{
    const QJsonValue value = object.value(QLatin1String(key));
    const QString where = place.isEmpty() ? QString() : place + QStringLiteral(": ");
    if (value.isUndefined())
        throw BadField{where + QStringLiteral("нет поля «%1»").arg(QLatin1String(key))};
    const double number = value.toDouble(std::nan(""));
    if (!value.isDouble() || number != std::floor(number))
        throw BadField{where + QStringLiteral("поле «%1» не целое число").arg(QLatin1String(key))};
    if (number < double(low) || number > double(high))
        throw BadField{where + QStringLiteral("«%1» = %2 вне пределов %3..%4")
                                   .arg(QLatin1String(key))
                                   .arg(number, 0, 'f', 0)
                                   .arg(low)
                                   .arg(high)};
    return qint64(number);
}

QString textField(const QJsonObject& object, const char* key, const QString& place)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString())
        throw BadField{place + QStringLiteral(": поле «%1» не текст").arg(QLatin1String(key))};
    return value.toString();
}

// What the composer writes into a counter slot, and the generator reads back:
// value, sign, step, each a whole number the generator can hold.
bool wellFormedCounter(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]+)[+-]([0-9]+)$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    bool valueOk = false;
    bool stepOk = false;
    match.captured(1).toInt(&valueOk, 10);
    match.captured(2).toInt(&stepOk, 10);
    return valueOk && stepOk;
}

QJsonObject slotToJson(const TrackTemplate& t, int slot)
{
    QJsonObject out{{QStringLiteral("kind"), int(t.SegmentKind[slot])}, {QStringLiteral("text"), t.slotText[slot]}};
    // Worksheet parameters stay with a slot whatever its kind, once an Excel add set them.
    if (t.ExcelColumn[slot] != 0 || t.ExcelRow[slot] != 0 || t.ExcelStep[slot] != 0 || t.ExcelDirection[slot] != 0) {
        out.insert(QStringLiteral("excel"),
                   QJsonObject{{QStringLiteral("column"), t.ExcelColumn[slot]},
                               {QStringLiteral("row"), t.ExcelRow[slot]},
                               {QStringLiteral("step"), t.ExcelStep[slot]},
                               {QStringLiteral("direction"),
                                t.ExcelDirection[slot] == ExcelRowRises ? QStringLiteral("+") : QStringLiteral("-")}});
    }
    return out;
}

void slotFromJson(const QJsonValue& value, TrackTemplate& t, int track, int slot)
{
    const QString place = slotPlace(track, slot);
    if (!value.isObject())
        throw BadField{place + QStringLiteral(": не объект")};
    const QJsonObject object = value.toObject();
    const auto kind = quint8(integerField(object, "kind", TextSegment, ExcelSegment, place));
    const QString text = textField(object, "text", place);
    if ((kind == RisingCounterSegment || kind == FallingCounterSegment) && !text.isEmpty() && !wellFormedCounter(text))
        throw BadField{place + QStringLiteral(": счётчик «%1» не вида значение+шаг или значение-шаг").arg(text)};
    if (text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')))
        throw BadField{place + QStringLiteral(": текст слота в несколько строк")};
    t.SegmentKind[slot] = kind;
    t.slotText[slot] = text;
    const QJsonValue excel = object.value(QStringLiteral("excel"));
    // A worksheet slot always has its column and row: the Excel add sets them with the kind.
    if (excel.isUndefined() && kind == ExcelSegment)
        throw BadField{place + QStringLiteral(": слот Excel без поля «excel»")};
    if (excel.isUndefined())
        return;
    if (!excel.isObject())
        throw BadField{place + QStringLiteral(": поле «excel» не объект")};
    const QJsonObject e = excel.toObject();
    t.ExcelColumn[slot] = qint32(integerField(e, "column", 1, 26, place));
    t.ExcelRow[slot] = qint32(integerField(e, "row", 1, FieldMax, place));
    t.ExcelStep[slot] = qint32(integerField(e, "step", 0, 999, place));
    const QString direction = textField(e, "direction", place);
    if (direction != QLatin1String("+") && direction != QLatin1String("-"))
        throw BadField{place + QStringLiteral(": направление «%1» не «+» и не «-»").arg(direction)};
    t.ExcelDirection[slot] = direction == QLatin1String("+") ? ExcelRowRises : ExcelRowFalls;
}

QJsonObject trackToJson(const TrackTemplate& t)
{
    QJsonArray slots;
    for (int slot = 0; slot < SlotCount; ++slot)
        slots.append(slotToJson(t, slot));
    QJsonObject out{{QStringLiteral("slots"), slots}};
    // A track never added to has no digit count yet; the generator then uses 1.
    if (t.DigitCount != 0)
        out.insert(QStringLiteral("digitCount"), t.DigitCount);
    return out;
}

void trackFromJson(const QJsonValue& value, TrackTemplate& t, int track)
{
    const QString place = QStringLiteral("дорожка %1").arg(track);
    if (!value.isObject())
        throw BadField{place + QStringLiteral(": не объект")};
    const QJsonObject object = value.toObject();
    if (object.contains(QStringLiteral("digitCount")))
        t.DigitCount = qint32(integerField(object, "digitCount", 1, 10, place));
    const QJsonValue slots = object.value(QStringLiteral("slots"));
    if (!slots.isArray() || slots.toArray().size() != SlotCount)
        throw BadField{place + QStringLiteral(": нужен список из %1 слотов").arg(SlotCount)};
    const QJsonArray list = slots.toArray();
    for (int slot = 0; slot < SlotCount; ++slot)
        slotFromJson(list.at(slot), t, track, slot);
}

// Absent in a job written before batches had a size: unsized.
Job::Batch batchFromJson(const QJsonValue& value)
{
    if (value.isUndefined() || value.isNull())
        return {};
    if (!value.isObject())
        throw BadField{QStringLiteral("поле «batch» не объект")};
    const QJsonObject object = value.toObject();
    const QString place = QStringLiteral("партия");
    Job::Batch batch;
    batch.size = int(integerField(object, "size", 1, Job::MaxBatchSize, place));
    batch.written = int(integerField(object, "written", 0, batch.size, place));
    return batch;
}

// Absent in a job of one desk.
std::optional<Job::Shared> sharedFromJson(const QJsonValue& value)
{
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isObject())
        throw BadField{QStringLiteral("поле «shared» не объект")};
    const QJsonObject object = value.toObject();
    const QString place = QStringLiteral("общая партия");
    Job::Shared shared;
    shared.connection = textField(object, "connection", place);
    shared.batch = integerField(object, "batch", 1, qint64(1) << 53, place);
    shared.name = textField(object, "name", place);
    if (shared.connection.isEmpty() || Job::connectionHasPassword(shared.connection))
        throw BadField{place + QStringLiteral(": подключение пусто или содержит пароль")};
    return shared;
}

Job jobFromObject(const QJsonObject& object)
{
    Job job;
    job.trackChoice = int(integerField(object, "trackChoice", 0, CommandSet::TrackChoiceCount - 1, QString()));
    const QJsonValue workbook = object.value(QStringLiteral("workbook"));
    if (workbook.isObject()) {
        const QJsonObject w = workbook.toObject();
        job.workbook = textField(w, "path", QStringLiteral("книга"));
        // Without a path there is no workbook to look for beside the job.
        if (!job.workbook.isEmpty() && w.contains(QStringLiteral("besideJob")))
            job.workbookBesideJob = textField(w, "besideJob", QStringLiteral("книга"));
    } else if (!workbook.isUndefined() && !workbook.isNull()) {
        throw BadField{QStringLiteral("поле «workbook» не объект")};
    }
    const QJsonValue inFlight = object.value(QStringLiteral("inFlight"));
    if (inFlight.isObject()) {
        const QJsonObject card = inFlight.toObject();
        const QString place = QStringLiteral("карточка без ответа");
        Job::CardInFlight pending;
        pending.choice = int(integerField(card, "choice", 0, CommandSet::TrackChoiceCount - 1, place));
        for (int track = 1; track <= TrackCount; ++track) {
            const QByteArray key = "track" + QByteArray::number(track);
            QString& text = pending.texts.track(track);
            text = textField(card, key.constData(), place);
            if (text.size() > Tracks_Write::Capacity[track] || !Tracks_Write::characterProblem(track, text).isEmpty())
                throw BadField{place + QStringLiteral(": дорожка %1 не может нести «%2»").arg(track).arg(text)};
        }
        job.inFlight = pending;
    } else if (!inFlight.isUndefined() && !inFlight.isNull()) {
        throw BadField{QStringLiteral("поле «inFlight» не объект")};
    }
    job.batch = batchFromJson(object.value(QStringLiteral("batch")));
    job.shared = sharedFromJson(object.value(QStringLiteral("shared")));
    const QJsonValue tracks = object.value(QStringLiteral("tracks"));
    if (!tracks.isArray() || tracks.toArray().size() != TrackCount)
        throw BadField{QStringLiteral("нужен список «tracks» из %1 дорожек").arg(TrackCount)};
    for (int track = 1; track <= TrackCount; ++track)
        trackFromJson(tracks.toArray().at(track - 1), job.templates.track(track), track);
    return job;
}

JobRead failed(JobProblem problem, const QString& message)
{
    return JobRead{std::nullopt, problem, message};
}

// Nothing but blanks or zero bytes: what a power cut can leave of a file.
bool blank(const QByteArray& bytes)
{
    for (const char c : bytes) {
        if (c != '\0' && c != ' ' && c != '\t' && c != '\r' && c != '\n')
            return false;
    }
    return true;
}

} // namespace

namespace JobFormat {

QString fileDialogFilter()
{
    return QStringLiteral("Задания (*.%1);;Все файлы (*)").arg(QLatin1String(Extension));
}

} // namespace JobFormat

namespace JobFile {

QByteArray toJson(const Job& job)
{
    QJsonArray tracks;
    for (int track = 1; track <= TrackCount; ++track)
        tracks.append(trackToJson(job.templates.track(track)));
    QJsonObject root{{QStringLiteral("format"), QLatin1String(JobFormat::Name)},
                     {QStringLiteral("version"), JobFormat::Version},
                     {QStringLiteral("trackChoice"), job.trackChoice},
                     {QStringLiteral("tracks"), tracks}};
    if (!job.workbook.isEmpty()) {
        QJsonObject workbook{{QStringLiteral("path"), job.workbook}};
        if (!job.workbookBesideJob.isEmpty())
            workbook.insert(QStringLiteral("besideJob"), job.workbookBesideJob);
        root.insert(QStringLiteral("workbook"), workbook);
    }
    if (job.batch.size > 0) {
        root.insert(QStringLiteral("batch"), QJsonObject{{QStringLiteral("size"), job.batch.size},
                                                         {QStringLiteral("written"), job.batch.written}});
    }
    if (job.shared) {
        root.insert(QStringLiteral("shared"), QJsonObject{{QStringLiteral("connection"), job.shared->connection},
                                                          {QStringLiteral("batch"), job.shared->batch},
                                                          {QStringLiteral("name"), job.shared->name}});
    }
    if (job.inFlight) {
        root.insert(QStringLiteral("inFlight"), QJsonObject{{QStringLiteral("choice"), job.inFlight->choice},
                                                            {QStringLiteral("track1"), job.inFlight->texts.track1},
                                                            {QStringLiteral("track2"), job.inFlight->texts.track2},
                                                            {QStringLiteral("track3"), job.inFlight->texts.track3}});
    }
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

JobRead fromJson(const QByteArray& bytes, const QString& name)
{
    const QString shown = displayName(name);
    if (bytes.size() > JobFormat::MaxFileSize)
        return failed(JobProblem::NotAJob,
                      QStringLiteral("Файл «%1» не является заданием: он слишком велик").arg(shown));
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        // A job cut short or zeroed by a crash still begins like one; any other text is some other file.
        if (blank(bytes) || bytes.trimmed().startsWith('{'))
            return failed(JobProblem::Broken, QStringLiteral("Задание «%1» повреждено: файл оборван или испорчен "
                                                             "(ошибка в позиции %2)")
                                                  .arg(shown)
                                                  .arg(error.offset));
        return failed(JobProblem::NotAJob, QStringLiteral("Файл «%1» не является заданием").arg(shown));
    }
    const QJsonObject root = document.object();
    if (!document.isObject() || root.value(QStringLiteral("format")).toString() != QLatin1String(JobFormat::Name))
        return failed(JobProblem::NotAJob, QStringLiteral("Файл «%1» не является заданием").arg(shown));
    try {
        const qint64 version = integerField(root, "version", 1, FieldMax, QString());
        if (version > JobFormat::Version)
            return failed(JobProblem::Newer, QStringLiteral("Задание «%1» сохранено более новой версией программы "
                                                            "(формат версии %2, эта программа читает версию %3)")
                                                 .arg(shown)
                                                 .arg(version)
                                                 .arg(JobFormat::Version));
        return JobRead{jobFromObject(root), JobProblem::None, QString()};
    } catch (const BadField& bad) {
        return failed(JobProblem::Broken, QStringLiteral("Задание «%1» повреждено: %2").arg(shown, bad.text));
    }
}

JobRead read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failed(JobProblem::Unreadable,
                      QStringLiteral("Задание «%1» не читается: %2").arg(displayName(path), file.errorString()));
    const QByteArray bytes = file.read(JobFormat::MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return failed(JobProblem::Unreadable,
                      QStringLiteral("Задание «%1» не читается: %2").arg(displayName(path), file.errorString()));
    return fromJson(bytes, path);
}

void write(const QString& path, const Job& job)
{
    DurableFile::replace(path, toJson(job));
}

QString findWorkbook(const Job& job, const QString& jobPath)
{
    if (job.workbook.isEmpty())
        return {};
    if (QFileInfo(job.workbook).isFile())
        return job.workbook;
    const QDir jobDir = QFileInfo(jobPath).absoluteDir();
    if (!job.workbookBesideJob.isEmpty() && QDir::isRelativePath(job.workbookBesideJob)) {
        const QString beside = jobDir.filePath(job.workbookBesideJob);
        if (QFileInfo(beside).isFile())
            return QDir::cleanPath(beside);
    }
    const QString byName = jobDir.filePath(QFileInfo(job.workbook).fileName());
    if (QFileInfo(byName).isFile())
        return byName;
    return {};
}

QString relativeToJob(const QString& workbook, const QString& jobPath)
{
    if (workbook.isEmpty())
        return {};
    const QDir jobDir = QFileInfo(jobPath).absoluteDir();
    return jobDir.relativeFilePath(QFileInfo(workbook).absoluteFilePath());
}

namespace {

QString stamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

// Renames without ever replacing a file: QFile::rename refuses an existing target.
QString renameToFree(const QString& path, const QString& base, const QString& ending)
{
    QString target = base + ending;
    for (int n = 2; QFileInfo::exists(target) && n < 1000; ++n)
        target = base + QLatin1Char('-') + QString::number(n) + ending;
    QFile file(path);
    if (!file.rename(target))
        throw Failure(QStringLiteral("Не удалось переименовать «%1» в «%2»: %3")
                          .arg(displayName(path), displayName(target), file.errorString()));
    return target;
}

} // namespace

QString keepAside(const QString& path, const QString& why)
{
    return renameToFree(path, path + QLatin1Char('.') + why + QLatin1Char('-') + stamp(), QString());
}

QString keepAsJob(const QString& path)
{
    const QFileInfo info(path);
    return renameToFree(path, info.dir().filePath(info.completeBaseName() + QLatin1Char('-') + stamp()),
                        QLatin1Char('.') + QLatin1String(JobFormat::Extension));
}

bool isEmpty(const Job& job)
{
    return job.templates == TemplateSet{} && job.workbook.isEmpty();
}

QString asideReason(JobProblem problem)
{
    switch (problem) {
    case JobProblem::Newer:
        return QStringLiteral("newer");
    case JobProblem::NotAJob:
        return QStringLiteral("other");
    case JobProblem::Unreadable:
        return QStringLiteral("unread");
    default:
        return QStringLiteral("broken");
    }
}

} // namespace JobFile

JobSession::JobSession(const QString& workDir) : m_workDir(workDir), m_path(defaultPath()) {}

QString JobSession::defaultPath() const
{
    return QDir(m_workDir).filePath(QStringLiteral("job.") + QLatin1String(JobFormat::Extension));
}

QString JobSession::pointerPath() const
{
    return QDir(m_workDir).filePath(QStringLiteral("lastjob.txt"));
}

QString JobSession::lastJobPath() const
{
    QFile pointer(pointerPath());
    if (!pointer.open(QIODevice::ReadOnly))
        return defaultPath();
    const QString line = QString::fromUtf8(pointer.readLine(4096)).trimmed();
    if (line.isEmpty())
        return defaultPath();
    return QDir::cleanPath(QDir(m_workDir).filePath(line));
}

void JobSession::setPath(const QString& path)
{
    // The pointer first: when it cannot be written the open job's file stays
    // the one its templates belong to.
    if (!path.isEmpty() && QDir::cleanPath(QFileInfo(path).absoluteFilePath()) !=
                               QDir::cleanPath(QFileInfo(lastJobPath()).absoluteFilePath())) {
        const QDir work(m_workDir);
        const QString relative = work.relativeFilePath(QFileInfo(path).absoluteFilePath());
        const bool inside = !relative.startsWith(QLatin1String("..")) && QDir::isRelativePath(relative);
        DurableFile::replace(pointerPath(), (inside ? relative : QFileInfo(path).absoluteFilePath()).toUtf8() + '\n');
    }
    m_path = path;
}

void JobSession::setWorkbook(const QString& given, const QString& opened)
{
    m_workbook = given;
    m_openedWorkbook = opened;
}

bool Job::connectionHasPassword(const QString& connection)
{
    // Key/value form ("password = x") and URI form ("postgresql://user:x@host").
    static const QRegularExpression keyword(QStringLiteral("(^|\\s)password\\s*="),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression uri(QStringLiteral("^postgres(ql)?://[^@/]*:[^@/]*@"),
                                        QRegularExpression::CaseInsensitiveOption);
    return keyword.match(connection).hasMatch() || uri.match(connection).hasMatch();
}

Job JobSession::jobOf(const TemplateSet& templates, int trackChoice, const QString& jobPath) const
{
    const QString file = jobPath.isEmpty() ? m_path : jobPath;
    Job job;
    job.templates = templates;
    job.templates.CurrentTrack = 0;
    job.trackChoice = trackChoice;
    job.workbook = m_workbook;
    // Where the workbook was last seen, relative to this job's file.
    const QString seen = m_openedWorkbook.isEmpty() ? m_workbook : m_openedWorkbook;
    if (!file.isEmpty() && (!m_openedWorkbook.isEmpty() || QFileInfo(seen).isFile()))
        job.workbookBesideJob = JobFile::relativeToJob(seen, file);
    else if (!m_workbook.isEmpty() && m_workbook == m_saved.workbook)
        job.workbookBesideJob = m_saved.workbookBesideJob;
    return job;
}

void JobSession::save(const Job& job)
{
    if (m_path.isEmpty())
        return;
    JobFile::write(m_path, job);
    m_saved = job;
}

void JobSession::saveAs(const QString& path, const Job& job)
{
    JobFile::write(path, job);
    setPath(path); // may throw: then the open job, its file and what was saved stay together
    m_saved = job;
}
