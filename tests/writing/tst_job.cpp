#include "jobsamples.h"

#include "base/error.h"
#include "writing/job.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using JobSamples::readFile;
using JobSamples::writeFile;

class TestJob : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTrip_data();
    void roundTrip();
    void refused_data();
    void refused();
    void taken_data();
    void taken();
    void workbookFound_data();
    void workbookFound();
    void keptAsideNeverOverwrites();
    void sessionRemembersTheOpenJob();
};

void TestJob::roundTrip_data()
{
    QTest::addColumn<Job>("job");
    QTest::newRow("empty") << Job{};
    QTest::newRow("every kind of slot") << JobSamples::fullJob();
    Job noWorkbook = JobSamples::fullJob();
    noWorkbook.workbook.clear();
    noWorkbook.workbookBesideJob.clear();
    noWorkbook.trackChoice = 0;
    QTest::newRow("no workbook, track 1") << noWorkbook;
}

// Through the file and back: the same job, field for field.
void TestJob::roundTrip()
{
    QFETCH(Job, job);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"batch.swj"_s);
    JobFile::write(path, job);
    const JobRead read = JobFile::read(path);
    QVERIFY2(read.job, qPrintable(read.message));
    QCOMPARE(read.problem, JobProblem::None);
    QVERIFY(*read.job == job);
    QCOMPARE(JobFile::toJson(*read.job), readFile(path));
    const QJsonObject root = QJsonDocument::fromJson(readFile(path)).object();
    QCOMPARE(root[u"format"_s].toString(), u"stripewell-job"_s);
    QCOMPARE(root[u"version"_s].toInt(), 1);
}

void TestJob::taken_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Job>("job");
    Job unsized = JobSamples::fullJob();
    unsized.batch = {};
    QTest::newRow("written before batches had a size")
        << JobSamples::rootField(u"batch"_s, QJsonValue::Undefined) << unsized;
    QTest::newRow("unknownKeysArePassedOver") << JobSamples::changed([](QJsonObject& root) {
        root[u"operatorNote"_s] = u"later"_s;
        QJsonObject batch = root[u"batch"_s].toObject();
        batch[u"started"_s] = u"2026-12-09"_s;
        root[u"batch"_s] = batch;
        QJsonArray tracks = root[u"tracks"_s].toArray();
        QJsonObject track = tracks[0].toObject();
        track[u"colour"_s] = 3;
        tracks[0] = track;
        root[u"tracks"_s] = tracks;
    }) << JobSamples::fullJob();
}

// Files this version did not write itself: an older one's, a later one's of the same format version.
void TestJob::taken()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Job, job);
    const JobRead read = JobFile::fromJson(bytes, u"batch.swj"_s);
    QVERIFY2(read.job, qPrintable(read.message));
    QVERIFY(*read.job == job);
}

void TestJob::refused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<JobProblem>("problem");
    QTest::addColumn<QString>("says");
    for (const JobSamples::Refused& r : JobSamples::refusedFiles())
        QTest::newRow(r.name) << r.bytes << r.problem << r.says;
}

// A file the program cannot take gives a message naming the file and what is
// wrong, and no job; the file itself stays as it was.
void TestJob::refused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(JobProblem, problem);
    QFETCH(QString, says);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"batch.swj"_s);
    QVERIFY(writeFile(path, bytes));
    const JobRead read = JobFile::read(path);
    QVERIFY(!read.job);
    QCOMPARE(read.problem, problem);
    QVERIFY2(read.message.contains(says), qPrintable(read.message));
    QVERIFY2(read.message.contains(QDir::toNativeSeparators(path)), qPrintable(read.message));
    QCOMPARE(readFile(path), bytes);
}

void TestJob::workbookFound_data()
{
    QTest::addColumn<QString>("savedJob");  // where the job was saved
    QTest::addColumn<QString>("workbook");  // the workbook as given, when saved
    QTest::addColumn<QString>("movedFrom"); // the folder moved, empty when nothing moved
    QTest::addColumn<QString>("movedTo");
    QTest::addColumn<QString>("found"); // empty: not found
    QTest::newRow("where it was") << u"a/job.swj"_s << u"a/cards.csv"_s << QString() << QString() << u"a/cards.csv"_s;
    QTest::newRow("moved with the job, in a subfolder")
        << u"a/job.swj"_s << u"a/data/cards.csv"_s << u"a"_s << u"b"_s << u"b/data/cards.csv"_s;
    QTest::newRow("moved with the job, beside it")
        << u"a/job.swj"_s << u"a/cards.csv"_s << u"a"_s << u"b"_s << u"b/cards.csv"_s;
    QTest::newRow("gone") << u"a/job.swj"_s << u"w/cards.csv"_s << u"w"_s << u"elsewhere"_s << QString();
}

void TestJob::workbookFound()
{
    QFETCH(QString, savedJob);
    QFETCH(QString, workbook);
    QFETCH(QString, movedFrom);
    QFETCH(QString, movedTo);
    QFETCH(QString, found);
    QTemporaryDir dir;
    const QString book = dir.filePath(workbook);
    QVERIFY(writeFile(book, "Name;Code\r\n"));
    Job job;
    job.workbook = book;
    job.workbookBesideJob = JobFile::relativeToJob(book, dir.filePath(savedJob));
    QString jobPath = dir.filePath(savedJob);
    if (!movedFrom.isEmpty()) {
        QVERIFY(QDir(dir.path()).rename(movedFrom, movedTo));
        if (jobPath.startsWith(dir.filePath(movedFrom) + u'/'))
            jobPath = dir.filePath(movedTo) + jobPath.mid(dir.filePath(movedFrom).size());
    }
    const QString result = JobFile::findWorkbook(job, jobPath);
    QCOMPARE(QDir::cleanPath(result), found.isEmpty() ? QString() : QDir::cleanPath(dir.filePath(found)));
}

void TestJob::keptAsideNeverOverwrites()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"job.swj"_s);
    QStringList aside;
    for (int i = 0; i < 3; ++i) {
        QVERIFY(writeFile(path, QByteArray::number(i)));
        aside << JobFile::keepAside(path, u"broken"_s);
        QVERIFY(!QFileInfo::exists(path));
    }
    aside.removeDuplicates();
    QCOMPARE(aside.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QVERIFY2(QFileInfo(aside[i]).fileName().startsWith(u"job.swj.broken-"_s), qPrintable(aside[i]));
        QCOMPARE(readFile(aside[i]), QByteArray::number(i));
    }
    QVERIFY(writeFile(path, "{}"));
    const QString kept = JobFile::keepAsJob(path);
    QVERIFY2(QFileInfo(kept).fileName().startsWith(u"job-"_s) && kept.endsWith(u".swj"_s), qPrintable(kept));
    QVERIFY_THROWS_EXCEPTION(Failure, JobFile::keepAside(dir.filePath(u"missing.swj"_s), u"broken"_s));
}

// The pointer file names the open job, relative to the working directory when
// inside it, so a moved working directory still finds its own job.
void TestJob::sessionRemembersTheOpenJob()
{
    QTemporaryDir dir;
    QTemporaryDir other;
    JobSession session(dir.path());
    QCOMPARE(session.lastJobPath(), dir.filePath(u"job.swj"_s));
    session.setPath(dir.filePath(u"jobs/batch.swj"_s));
    QCOMPARE(readFile(session.pointerPath()), QByteArray("jobs/batch.swj\n"));
    QCOMPARE(JobSession(dir.path()).lastJobPath(), dir.filePath(u"jobs/batch.swj"_s));
    session.setPath(other.filePath(u"far.swj"_s));
    QCOMPARE(JobSession(dir.path()).lastJobPath(), other.filePath(u"far.swj"_s));

    // Saving writes the job and makes it what a restart finds.
    Job job = JobSamples::fullJob();
    session.saveAs(dir.filePath(u"batch.swj"_s), job);
    QVERIFY(session.saved() == job);
    QVERIFY(*JobFile::read(dir.filePath(u"batch.swj"_s)).job == job);
    QCOMPARE(JobSession(dir.path()).lastJobPath(), dir.filePath(u"batch.swj"_s));
}

int runJobTests(int argc, char** argv)
{
    TestJob t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_job.moc"
