#include "writing/batchsession.h"

#include "base/error.h"
#include "writing/composetracktext.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

BatchSession::BatchSession(ComPort& port, Sleeper sleeper, QObject* parent)
    : QObject(parent), m_port(port), m_loop(port, std::move(sleeper))
{
    // The job is kept as each card goes out and as each is written, with the card in flight.
    m_loop.setPersist([this](const std::optional<WriteLoop::SentCard>&) { saveJob(); });
    // A workbook being opened is looked at a few times a second until its file is read.
    m_openingPoll.setInterval(25);
    connect(&m_openingPoll, &QTimer::timeout, this, [this] { settleWorkbook(); });
}

BatchSession::~BatchSession() = default;

QString BatchSession::workDir() const
{
    return m_workDir.isEmpty() ? QDir::currentPath() : m_workDir;
}

CellSource& BatchSession::cells()
{
    if (m_cellSource)
        return *m_cellSource;
    settleWorkbook(true);
    return m_workbook;
}

// After Add, Delete and a workbook chosen or dropped: the job is saved. A card
// in flight composed before an edit is asked about before it goes again.
void BatchSession::edited()
{
    ++m_templateVersion;
    Q_EMIT templatesEdited();
    JobSession& open = job();
    const QString workbook = m_workbook.workbookPath();
    // A workbook the operator chose (or dropped) becomes the job's; one that was
    // not found at start stays the job's until then.
    if (workbook != open.openedWorkbook())
        open.setWorkbook(workbook, workbook);
    try {
        saveJob();
    } catch (const Failure& failure) {
        Q_EMIT saveFailed(failure.text());
    }
}

AddOutcome BatchSession::addSlot(int track, int slot, const AddRequest& request)
{
    AddOutcome outcome = AddOutcome::Done;
    settleWorkbook(true); // a worksheet slot is refused while no workbook is open
    try {
        outcome = m_templates.add(track, slot, request, m_workbook.AutoConnect, cells());
    } catch (...) {
        edited();
        throw;
    }
    edited();
    return outcome;
}

void BatchSession::deleteSlot(int track, int slot)
{
    m_templates.deleteSlot(track, slot);
    edited();
}

void BatchSession::chooseWorkbook(const QString& path)
{
    // AutoConnect follows the outcome: finishing the opening sets it, release clears it.
    m_workbook.AutoQuit = true;
    if (path.isEmpty())
        dropWorkbook();
    else
        startOpening(path, std::nullopt);
    edited();
}

void BatchSession::startOpening(const QString& path, std::optional<QString> jobWorkbook)
{
    m_workbook.startOpening(path);
    m_opening = Opening{std::move(jobWorkbook)};
    m_openingPoll.start();
    Q_EMIT workbookOpening();
}

void BatchSession::dropWorkbook()
{
    m_workbook.release();
    m_opening.reset();
    m_openingPoll.stop();
}

bool BatchSession::settleWorkbook(bool wait)
{
    if (!m_opening)
        return true;
    if (!wait && !m_workbook.ready())
        return false;
    const Opening opening = *std::exchange(m_opening, std::nullopt);
    m_openingPoll.stop();
    try {
        m_workbook.finishOpening();
    } catch (const Failure& failure) {
        if (opening.jobWorkbook) {
            job().setWorkbook(*opening.jobWorkbook, QString()); // the job keeps naming its book
            Q_EMIT jobNotice({Notice::Kind::Warning, failure.text() + QStringLiteral(". Слоты задания сохранены.")});
        } else {
            edited(); // the workbook chosen is dropped
            Q_EMIT workbookNotOpened(failure.text());
        }
    }
    Q_EMIT workbookSettled();
    return true;
}

bool BatchSession::workbookReady()
{
    if (!settleWorkbook())
        return false;
    m_workbook.checkFile();
    return m_workbook.ready();
}

StagedCard BatchSession::stageCard(int choice)
{
    ComposedCard card = composeCard(m_templates, tracksOfChoice(choice), cells(), true);
    StagedCard staged;
    staged.texts = card.texts;
    staged.commit = [this, advanced = std::move(card.advanced), digits = card.digitCount] {
        // The composer's own track is not the generator's business.
        const quint8 composerTrack = m_templates.CurrentTrack;
        m_templates = advanced;
        m_templates.CurrentTrack = composerTrack;
        Q_EMIT cardCommitted(digits);
    };
    return staged;
}

void BatchSession::setTrackChoice(int choice)
{
    if (choice == m_trackChoice)
        return;
    m_trackChoice = choice;
    Q_EMIT trackChoiceChanged(choice);
}

QString BatchSession::pendingCardQuestion() const
{
    const auto& pending = m_loop.pendingCard();
    if (!pending || (pending->choice == m_trackChoice && pending->templateVersion == m_templateVersion))
        return {};
    const QString texts =
        QStringList{pending->texts.track1, pending->texts.track2, pending->texts.track3}.join(QLatin1Char('|'));
    return QStringLiteral("Карточка %1 осталась без ответа терминала. Она была составлена для "
                          "других дорожек или до изменения шаблона.\n\nОтправить её снова как "
                          "была? «Нет»: не отправлять её.")
        .arg(texts);
}

QString BatchSession::startRun(bool sendPending)
{
    m_loop.setJournal(&journal());
    QString decision;
    if (m_loop.pendingCard() && !sendPending)
        decision = m_loop.dropPendingCard();
    else if (m_loop.pendingCard() && m_loop.pendingCard()->choice != m_trackChoice)
        decision = QStringLiteral("Карточка без ответа отправляется как была, по выбору оператора");
    m_loop.start();
    return decision;
}

void BatchSession::joinShared(const Job::Shared& shared, int trackChoice)
{
    if (Job::connectionHasPassword(shared.connection))
        throw Failure(QStringLiteral("Пароль не хранится в задании: уберите его из строки подключения и укажите в "
                                     "~/.pgpass или в файле PGPASSFILE."));
    m_loop.restorePendingCard(std::nullopt); // a card of the job's own templates is not the batch's
    m_shared = shared;
    setTrackChoice(trackChoice);
    Q_EMIT sharedChanged();
    saveJob();
}

void BatchSession::leaveShared()
{
    if (!m_shared)
        return;
    m_shared.reset();
    setHandedCards(nullptr);
    Q_EMIT sharedChanged();
    saveJob();
}

void BatchSession::setHandedCards(HandedCards* cards)
{
    m_handed = cards;
    if (!cards) {
        m_loop.setVerdicts({});
        m_loop.setJournalTag({});
        return;
    }
    // The journal says which batch and which station each line of a shared batch was.
    m_loop.setJournalTag(QStringLiteral("общая партия «%1» (%2), станция %3")
                             .arg(m_shared ? m_shared->name : QString())
                             .arg(m_shared ? m_shared->batch : 0)
                             .arg(cards->station()));
    m_loop.setVerdicts([cards](bool written, const QString& note) { cards->outcome(written, note); });
}

// The next card of a shared batch: the one handed over, or none yet (the step asks again).
StagedCard BatchSession::handedCard()
{
    if (!m_handed)
        return {{}, {}, true};
    const std::optional<CardTexts> texts = m_handed->ready();
    if (!texts)
        return {{}, {}, true};
    return {*texts, [this] { m_handed->take(); }, false};
}

WriteLoop::Tick BatchSession::tick(const CardTexts& inHand)
{
    if (m_shared && m_handed && m_handed->finished() && !m_loop.pendingCard() && m_loop.running()) {
        WriteLoop::Tick done = m_loop.stop();
        done.stop = WriteLoop::Tick::Stop::BatchDone;
        done.error = QStringLiteral("В общей партии «%1» не осталось карточек для этой станции.").arg(m_shared->name);
        done.logLines.append(done.error);
        return done;
    }
    Composer compose = m_composer ? m_composer : [this](int choice) { return stageCard(choice); };
    if (m_shared)
        compose = [this](int) { return handedCard(); };
    WriteLoop::Tick step = m_loop.tick(m_trackChoice, inHand, compose, m_templateVersion);
    if (step.stop != WriteLoop::Tick::Stop::None) {
        const WriteLoop::Tick stopped = m_loop.stop();
        step.logLines += stopped.logLines;
        if (stopped.countLabel)
            step.countLabel = stopped.countLabel;
    }
    return step;
}

int BatchSession::cardsLeftInBatch() const
{
    return batchSize() > 0 ? batchSize() - batchWritten() : 0;
}

bool BatchSession::setBatchSize(const QString& typed)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    const QString text = typed.trimmed();
    if (!text.isEmpty() && !digits.match(text).hasMatch())
        return false;
    const int size = text.isEmpty() ? 0 : text.toInt();
    if (size > Job::MaxBatchSize || (size > 0 && size < batchWritten()))
        return false;
    if (size == batchSize())
        return true;
    // Unsized, the count starts again with the next size.
    m_loop.setBatch(size, size > 0 ? batchWritten() : 0);
    try {
        saveJob();
    } catch (const Failure& failure) {
        Q_EMIT saveFailed(failure.text());
    }
    return true;
}

QString BatchSession::batchSizeRefusal(const QString& typed) const
{
    return QStringLiteral("Карточек в партии: «%1» не принято, нужно целое число от %2 до %3 или пусто "
                          "(без размера)")
        .arg(typed)
        .arg(std::max(1, batchWritten()))
        .arg(Job::MaxBatchSize);
}

QString BatchSession::batchDoneMessage() const
{
    return m_loop.batchDone() ? WriteLoop::batchDoneMessage(batchSize()) : QString();
}

JobSession& BatchSession::job()
{
    // Beside config.rwc, so a test that moves the settings file moves the job with it.
    if (!m_job)
        m_job = std::make_unique<JobSession>(workDir());
    return *m_job;
}

Journal& BatchSession::journal()
{
    // Beside config.rwc and the job, in the working directory.
    const QString path = QDir(workDir()).filePath(QStringLiteral("journal.csv"));
    if (!m_journal || m_journal->path() != path)
        m_journal = std::make_unique<Journal>(path);
    m_journal->setJob(openJobName()); // the job the cards of this run are made from
    return *m_journal;
}

QString BatchSession::openJobName()
{
    const QString path = job().path();
    if (path.isEmpty())
        return {};
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const QString relative = QDir(workDir()).relativeFilePath(absolute);
    const bool inside = !relative.startsWith(QLatin1String("..")) && QDir::isRelativePath(relative);
    return inside ? relative : absolute;
}

void BatchSession::saveJob()
{
    if (!m_jobReady)
        return;
    JobSession& open = job();
    Job current = open.jobOf(m_templates, m_trackChoice);
    // A shared batch's card in flight is the database's to keep: the restarted
    // station is handed it again first.
    if (const auto& pending = m_loop.pendingCard(); pending && !m_shared)
        current.inFlight = Job::CardInFlight{pending->choice, pending->texts};
    current.shared = m_shared;
    current.batch = {batchSize(), batchWritten()};
    open.save(current);
}

QString BatchSession::jobFolder()
{
    const QString path = job().path();
    return path.isEmpty() ? workDir() : QFileInfo(path).absolutePath();
}

void BatchSession::newJob()
{
    JobSession& open = job();
    const QString place = open.defaultPath();
    if (QFileInfo(place).isFile()) {
        const JobRead old = JobFile::read(place);
        if (!old.job)
            JobFile::keepAside(place, JobFile::asideReason(old.problem));
        else if (!JobFile::isEmpty(*old.job))
            JobFile::keepAsJob(place);
    }
    // The empty job is on file before the live one is dropped: should this
    // fail, the templates and the file they are saved to still belong together.
    Job empty;
    empty.trackChoice = m_trackChoice;
    open.saveAs(place, empty);
    const quint8 composerTrack = m_templates.CurrentTrack;
    m_templates = TemplateSet{};
    m_templates.CurrentTrack = composerTrack;
    Q_EMIT templatesReplaced();
    m_loop.restorePendingCard(std::nullopt); // the old job's file keeps its card in flight
    m_loop.setBatch(0, 0);
    dropWorkbook();
    open.setWorkbook(QString(), QString());
    m_jobReady = true;
}

void BatchSession::saveJobAs(QString path)
{
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + QLatin1String(JobFormat::Extension);
    JobSession& open = job();
    m_jobReady = true;
    Job copy = open.jobOf(open.saved().templates, m_trackChoice, path);
    copy.batch = open.saved().batch;
    copy.shared = m_shared;
    open.saveAs(path, copy);
    if (m_journal)
        m_journal->setJob(openJobName()); // a run going on writes its next cards under the new name
}

QList<BatchSession::Notice> BatchSession::reopenJob()
{
    QList<Notice> notices;
    try {
        JobSession& open = job();
        const QString path = open.lastJobPath();
        // A folder in the job's place is no job either, and is left alone.
        if (!QFileInfo(path).isFile()) {
            m_jobReady = true;
            open.setSaved(open.jobOf(TemplateSet{}, m_trackChoice));
            if (path != open.defaultPath()) {
                notices.append(
                    {Notice::Kind::Warning, QStringLiteral("Задание «%1», открытое в прошлый раз, не найдено. "
                                                           "Начато новое задание.")
                                                .arg(QDir::toNativeSeparators(path))});
                newJob();
            }
            return notices;
        }
        const JobRead read = JobFile::read(path);
        if (read.job)
            return openJob(*read.job, path);
        // Never written over: the file is renamed and an empty job takes its
        // place; where it cannot be renamed, nothing is saved until the
        // operator gives the job another file.
        QString aside;
        try {
            aside = JobFile::keepAside(path, JobFile::asideReason(read.problem));
        } catch (const Failure&) {
        }
        open.setPath(aside.isEmpty() ? QString() : path);
        m_jobReady = true;
        open.setSaved(open.jobOf(TemplateSet{}, m_trackChoice));
        if (!aside.isEmpty())
            notices.append({Notice::Kind::Failure,
                            read.message + QStringLiteral(".\nФайл сохранён как «%1»; начато новое задание.")
                                               .arg(QDir::toNativeSeparators(aside))});
        else
            notices.append(
                {Notice::Kind::Failure, read.message + QStringLiteral(".\nФайл оставлен как есть; задание не будет "
                                                                      "сохраняться, пока не выбрано «Сохранить "
                                                                      "задание как…».")});
    } catch (const Failure& failure) {
        notices.append({Notice::Kind::Error, failure.text()});
    }
    return notices;
}

QList<BatchSession::Notice> BatchSession::openJob(const Job& loaded, const QString& path)
{
    job().setPath(path);
    return applyJob(loaded, path);
}

// A card is journalled "written" before the job lets go of it as the card in
// flight. A program stopped between the two leaves a job whose card in flight
// the journal's last line says was written: it is not sent again, or the
// terminal would encode it twice.
bool BatchSession::answeredWritten(const CardTexts& inFlight)
{
    const std::optional<Journal::Entry> last = Journal::last(journal().path());
    if (!last || last->outcome != Journal::Outcome::Written || last->texts != inFlight)
        return false;
    const QString name = openJobName();
    return last->job.isEmpty() || name.isEmpty() || last->job == name;
}

QList<BatchSession::Notice> BatchSession::applyJob(const Job& loaded, const QString& path)
{
    JobSession& open = job();
    const quint8 composerTrack = m_templates.CurrentTrack;
    m_templates = loaded.templates;
    m_templates.CurrentTrack = composerTrack;
    // The job's tracks come with its templates, before anything is saved: the
    // job caught up with its journal below would otherwise go to disk with the
    // tracks of the job before it (at start, "Track 1"), and the next start
    // would encode its cards with the other tracks left blank.
    setTrackChoice(loaded.trackChoice);
    Q_EMIT templatesReplaced();
    dropWorkbook();
    open.setWorkbook(loaded.workbook, QString());
    open.setSaved(loaded);
    m_jobReady = true;
    std::optional<WriteLoop::SentCard> pending;
    if (loaded.inFlight && !answeredWritten(loaded.inFlight->texts))
        pending = WriteLoop::SentCard{loaded.inFlight->choice, loaded.inFlight->texts, m_templateVersion};
    m_loop.restorePendingCard(pending);
    // A card the journal says was written counts here, once: the job's count did not have it yet.
    const bool caughtUp = loaded.inFlight && !pending;
    m_loop.setBatch(loaded.batch.size, std::min(loaded.batch.size, loaded.batch.written + (caughtUp ? 1 : 0)));
    if (caughtUp) {
        // The job catches up with its journal. Should that fail, the next start
        // finds the same last line and decides the same way.
        try {
            saveJob();
        } catch (const Failure&) {
        }
    }
    if (m_shared != loaded.shared) {
        m_shared = loaded.shared;
        setHandedCards(nullptr);
        Q_EMIT sharedChanged();
    }
    Q_EMIT jobOpened(loaded.trackChoice);
    if (loaded.workbook.isEmpty())
        return {};
    const QString found = JobFile::findWorkbook(loaded, path);
    if (found.isEmpty())
        return {{Notice::Kind::Warning, QStringLiteral("Книга задания «%1» не найдена. Слоты задания сохранены; "
                                                       "выберите книгу в окне «Запись».")
                                            .arg(QDir::toNativeSeparators(loaded.workbook))}};
    open.setWorkbook(loaded.workbook, found);
    startOpening(found, loaded.workbook);
    return {};
}
