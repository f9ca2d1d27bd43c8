// Swiping written cards back: how long a journal of a million written cards
// takes to read, and how long a card read takes to match against it.
//
// bench_verification [cards]   (default 1000000)
#include "writing/journal.h"
#include "writing/journalindex.h"
#include "writing/verification.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#endif

namespace {

constexpr int CardsPerRun = 10000;

JournalIndex::Texts cardTexts(int i)
{
    const QString number = QStringLiteral("4%1").arg(i, 15, 10, QLatin1Char('0'));
    return {QStringLiteral("B%1^CARDHOLDER/NUMBER %2^25121010000000000000").arg(number).arg(i),
            QStringLiteral("%1=25121010000000000").arg(number),
            {}};
}

// Every card "sent" and then "written", as the write loop journals it.
void writeJournal(const QString& path, int cards)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(Journal::header().toUtf8() + "\r\n");
    const QDateTime start = QDateTime::fromString(QStringLiteral("2025-03-14T10:00:00.000+03:00"), Qt::ISODateWithMs);
    QByteArray block;
    for (int i = 0; i < cards; ++i) {
        const int run = i / CardsPerRun + 1;
        const JournalIndex::Texts t = cardTexts(i);
        Journal::Entry e{start.addSecs(i),
                         run,
                         i % CardsPerRun + 1,
                         {t.track1, t.track2, t.track3},
                         Journal::Outcome::Sent,
                         {},
                         QStringLiteral("jobs/batch%1.swj").arg(run / 10)};
        block += Journal::line(e);
        e.outcome = Journal::Outcome::Written;
        block += Journal::line(e);
        if (block.size() > (1 << 20))
            file.write(std::exchange(block, {}));
    }
    file.write(block);
}

long maxRssMb()
{
#ifdef Q_OS_LINUX
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
#else
    return -1;
#endif
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(double(v.size()) * p))];
}

double median(std::vector<double> v)
{
    return percentile(std::move(v), 0.5);
}

// The machine is shared: the process's own CPU time tells the work apart from the waiting.
double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// What the read tab shows for tracks 1 and 2: the numeric track's "=" and ">" as the terminal sends them.
JournalIndex::Texts shownAsRead(JournalIndex::Texts t)
{
    for (QChar& c : t.track2)
        c = c == QLatin1Char('=') ? QLatin1Char('\'') : c == QLatin1Char('>') ? QLatin1Char('=') : c;
    return t;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int cards = argc > 1 ? std::max(1, atoi(argv[1])) : 1000000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("journal.csv"));
    writeJournal(path, cards);
    std::printf("journal: %d written cards, %d lines, %.1f MB\n", cards, 2 * cards + 1,
                double(QFileInfo(path).size()) / 1e6);

    std::vector<double> reads, cpu;
    JournalIndex index;
    for (int k = 0; k < 5; ++k) {
        index = {};
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = cpuMs();
        index = JournalIndex::read(path);
        reads.push_back(double(timer.nsecsElapsed()) / 1e6);
        cpu.push_back(cpuMs() - cpuStart);
    }
    std::printf("reading it: %.0f ms wall, %.0f ms CPU (median of 5; best %.0f ms wall, %.0f ms CPU); %lld cards, "
                "%d damaged lines; max RSS %ld MB\n",
                median(reads), median(cpu), *std::min_element(reads.begin(), reads.end()),
                *std::min_element(cpu.begin(), cpu.end()), static_cast<long long>(index.size()), index.damagedLines(),
                maxRssMb());

    QRandomGenerator random(21);
    const int probes = 20000;
    QElapsedTimer timer;
    timer.start();
    int found = 0;
    for (int k = 0; k < probes; ++k) {
        const JournalIndex::Texts t = cardTexts(random.bounded(cards));
        found += index.contains(t.track1, t.track2, t.track3);
    }
    std::printf("contains(): %.2f us per look-up (%d of %d found)\n", double(timer.nsecsElapsed()) / 1e3 / probes,
                found, probes);

    const struct
    {
        const char* name;
        JournalIndex::Scope scope;
    } scopes[] = {{"all runs", {}},
                  {"last run", {JournalIndex::Scope::LastRun, {}}},
                  {"one job", {JournalIndex::Scope::Job, QStringLiteral("jobs/batch1.swj")}}};
    for (const auto& s : scopes) {
        timer.restart();
        Verification verification(index, s.scope);
        verification.prepare(3);
        const double prepareMs = double(timer.nsecsElapsed()) / 1e6;
        const std::vector<qsizetype> inScope = index.inScope(s.scope);
        std::vector<double> perCard, perCardCpu;
        for (int k = 0; k < probes; ++k) {
            const JournalIndex::Card written = index.card(inScope[size_t(random.bounded(qsizetype(inScope.size())))]);
            JournalIndex::Texts read = shownAsRead(written.texts);
            if (k % 3 == 1)
                read.track2[3] = QLatin1Char(read.track2[3] == QLatin1Char('9') ? '8' : '9'); // differs on track 2
            else if (k % 3 == 2)
                read = shownAsRead(cardTexts(cards + k)); // never written
            QElapsedTimer one;
            one.start();
            const double cpuStart = cpuMs();
            verification.check(3, read);
            perCard.push_back(double(one.nsecsElapsed()) / 1e3);
            perCardCpu.push_back((cpuMs() - cpuStart) * 1e3);
        }
        std::printf("%-8s (%lld cards): switching on %.0f ms; per card %.1f us median, %.1f us at 99 %%, %.1f us worst "
                    "(%.1f us worst CPU); verified %d, differing %d, unknown %d, not swiped back %lld\n",
                    s.name, static_cast<long long>(verification.inScope()), prepareMs, median(perCard),
                    percentile(perCard, 0.99), *std::max_element(perCard.begin(), perCard.end()),
                    *std::max_element(perCardCpu.begin(), perCardCpu.end()), verification.verified(),
                    verification.differing(), verification.unknown(),
                    static_cast<long long>(verification.notSwipedBack()));
    }
    return 0;
}
