// stripewell-sim: the card terminal on a pseudo-terminal, for demos and for tests
// across the real serial boundary. See docs/simulator.md.

#include "tools/pty.h"
#include "tools/ptyrunner.h"
#include "tools/terminalsimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 's';
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

void installSignalPipe()
{
    if (::pipe(g_signalPipe) != 0)
        return;
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void say(const QString& line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

[[noreturn]] void fail(const QString& why)
{
    std::fprintf(stderr, "stripewell-sim: %s\n", why.toLocal8Bit().constData());
    std::exit(2);
}

int intOption(const QCommandLineParser& parser, const QString& name)
{
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < 0)
        fail(QStringLiteral("--%1 takes a count of milliseconds, not \"%2\"").arg(name, parser.value(name)));
    return value;
}

bool openOutput(QFile& file, const QString& path)
{
    file.setFileName(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
}

// The program's own state around the engine: option handling, the files it keeps
// and the commands on standard input.
class Session
{
public:
    Session(TerminalSimulator& engine, PtyRunner& runner) : m_engine(engine), m_runner(runner) {}

    QFile record;
    QFile encoded;

    // One line of standard input; false on "quit".
    bool command(QByteArray line)
    {
        line = line.trimmed();
        if (line.isEmpty())
            return true;
        if (line == "quit")
            return false;
        if (line == "present") {
            m_engine.present(m_runner.nowMs());
        } else if (line.startsWith("present ")) {
            SimCard card;
            if (SimCard::fromLine(line.mid(8), card))
                m_engine.present(card, m_runner.nowMs());
            else
                say(QStringLiteral("error: a card is T1|T2|T3"));
        } else {
            say(QStringLiteral("error: unknown command \"%1\" (present, present T1|T2|T3, quit)")
                    .arg(QString::fromLocal8Bit(line)));
        }
        return true;
    }

    // Writes what the engine did since the last call to stdout and the files.
    void report()
    {
        const auto& received = m_engine.received();
        for (; m_recorded < received.size(); ++m_recorded) {
            const auto& r = received[m_recorded];
            if (record.isOpen())
                record.write(QByteArray::number(r.atMs) + ' ' + r.bytes.toHex(' ').toUpper() + '\n');
        }
        for (const TerminalSimulator::Event& e : m_engine.takeEvents()) {
            // The file first: whoever sees the line on stdout may read the file at once.
            if (e.kind == TerminalSimulator::Event::Kind::Encoded && encoded.isOpen()) {
                encoded.write(e.card.toLine() + '\n');
                encoded.flush();
            }
            if (e.kind == TerminalSimulator::Event::Kind::TimingFault && record.isOpen())
                record.write("# " + QByteArray::number(e.atMs) + ' ' + e.text.toUtf8() + '\n');
            say(e.text);
        }
    }

private:
    TerminalSimulator& m_engine;
    PtyRunner& m_runner;
    qsizetype m_recorded = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("stripewell-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(STRIPEWELL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Plays the R418V card terminal on a pseudo-terminal."));
    parser.addHelpOption();
    parser.addVersionOption();
    const auto opt = [&parser](const char* name, const char* help, const char* value = nullptr,
                               const char* def = nullptr) {
        QCommandLineOption o(QString::fromLatin1(name), QString::fromLatin1(help));
        if (value)
            o.setValueName(QString::fromLatin1(value));
        if (def)
            o.setDefaultValue(QString::fromLatin1(def));
        parser.addOption(o);
    };
    opt("link", "Make a symbolic link to the device (e.g. run/COM1); removed on exit.", "path");
    opt("deck", "Cards to present, one a line T1|T2|T3 (default: the built-in sample deck).", "file");
    opt("present-after", "Present the next card this long after each read command; 0 = only on \"present\".", "ms",
        "1500");
    opt("reply-delay", "Wait this long before a read reply.", "ms", "0");
    opt("split-replies", "Send each read reply in two pieces with this pause between.", "ms");
    opt("instant", "Pass bytes at once and whole instead of at 9600 baud, 8N1 (about 1.04 ms a byte).");
    opt("delivery",
        "How the program's port hands bytes over: usb (bursts every 16 ms, at most 62 bytes) "
        "or uart (byte by byte).",
        "kind", "usb");
    opt("swipe", "A card to write goes through this long after ESC 'j' (default: --present-after).", "ms");
    opt("write-outcomes",
        "Answers to the write attempts: letters WNXVPQDJE (\"*\" at the end repeats) or "
        "random:SEED[:LETTERS]. Default: every card written.",
        "pattern");
    opt("answer-delay", "Wait this long before every write answer.", "ms", "0");
    opt("slow-delay", "The delay of the outcome D.", "ms", "700");
    opt("piece-gap", "The pause between the pieces of outcomes P, Q and after the junk of J.", "ms", "300");
    opt("record", "Write every received byte to this file, a line per arrival: milliseconds, hex bytes.", "file");
    opt("encoded", "Write every card encoded to this file, a line T1|T2|T3 each, as it happens.", "file");
    opt("stdin-quit", "Exit when standard input ends.");
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        fail(QStringLiteral("no arguments are taken, only options (see --help)"));

    CardDeck deck = CardDeck::sample();
    QString error;
    if (parser.isSet(QStringLiteral("deck")) && !CardDeck::load(parser.value(QStringLiteral("deck")), deck, &error))
        fail(error);

    TerminalSimulator engine(deck);
    engine.setPresentAfterMs(intOption(parser, QStringLiteral("present-after")));
    TerminalSimulator::ReplyScript reply;
    reply.delayMs = intOption(parser, QStringLiteral("reply-delay"));
    if (parser.isSet(QStringLiteral("split-replies"))) {
        reply.pieces = 2;
        reply.pieceGapMs = intOption(parser, QStringLiteral("split-replies"));
    }
    engine.setReplyScript(reply);
    TerminalSimulator::Line line;
    const QString delivery = parser.value(QStringLiteral("delivery"));
    if (delivery == QLatin1String("uart"))
        line.delivery = TerminalSimulator::Delivery::Uart;
    else if (delivery != QLatin1String("usb"))
        fail(QStringLiteral("--delivery is usb or uart, not \"%1\"").arg(delivery));
    if (parser.isSet(QStringLiteral("instant")))
        line = TerminalSimulator::Line::instant();
    engine.setLine(line);
    const bool swipeSet = parser.isSet(QStringLiteral("swipe"));
    engine.setSwipeMs(intOption(parser, swipeSet ? QStringLiteral("swipe") : QStringLiteral("present-after")));
    WriteTimings timings;
    timings.answerDelayMs = intOption(parser, QStringLiteral("answer-delay"));
    timings.slowDelayMs = intOption(parser, QStringLiteral("slow-delay"));
    timings.pieceGapMs = intOption(parser, QStringLiteral("piece-gap"));
    if (parser.isSet(QStringLiteral("write-outcomes"))) {
        WriteScript script;
        if (!WriteScript::fromPattern(parser.value(QStringLiteral("write-outcomes")), timings, script, &error))
            fail(error);
        engine.setWriteScript(std::move(script));
    } else {
        engine.setWriteScript(WriteScript::fromList({}));
    }

    PseudoTerminal pty;
    if (!pty.isValid())
        fail(QStringLiteral("cannot create a pseudo-terminal"));
    PtyRunner runner(engine, pty);
    Session session(engine, runner);
    if (parser.isSet(QStringLiteral("record")) && !openOutput(session.record, parser.value(QStringLiteral("record"))))
        fail(QStringLiteral("cannot write %1").arg(parser.value(QStringLiteral("record"))));
    if (parser.isSet(QStringLiteral("encoded")) &&
        !openOutput(session.encoded, parser.value(QStringLiteral("encoded"))))
        fail(QStringLiteral("cannot write %1").arg(parser.value(QStringLiteral("encoded"))));

    installSignalPipe();
    say(QStringLiteral("device ") + pty.slavePath());
    const QString link = parser.value(QStringLiteral("link"));
    if (!link.isEmpty()) {
        if (!pty.linkAs(link))
            fail(QStringLiteral("cannot make the link %1").arg(link));
        say(QStringLiteral("link ") + link);
    }

    const bool stdinQuit = parser.isSet(QStringLiteral("stdin-quit"));
    bool watchStdin = true;
    QByteArray stdinLine;
    for (bool running = true; running;) {
        QList<int> watch{g_signalPipe[0]};
        if (watchStdin)
            watch.append(STDIN_FILENO);
        const QList<int> ready = runner.pump(200, watch);
        if (ready.contains(g_signalPipe[0]))
            running = false;
        if (running && ready.contains(STDIN_FILENO)) {
            char buf[1024];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n > 0) {
                stdinLine.append(buf, n);
            } else {
                // A last line without its newline still counts.
                watchStdin = false;
                stdinLine.append('\n');
            }
            for (qsizetype nl = stdinLine.indexOf('\n'); running && nl >= 0; nl = stdinLine.indexOf('\n')) {
                running = session.command(stdinLine.left(nl));
                stdinLine.remove(0, nl + 1);
            }
            if (!watchStdin && stdinQuit)
                running = false;
        }
        session.report();
    }
    if (!link.isEmpty())
        QFile::remove(link);
    say(QStringLiteral("timing-faults %1").arg(engine.timingFaults()));
    say(QStringLiteral("bye"));
    return 0;
}
