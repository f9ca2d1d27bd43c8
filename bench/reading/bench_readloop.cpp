// How long a swiped card's text takes to reach the read tab once its reply has
// left the terminal, for each track choice, on the real-paced 9600-baud line
// through a USB adapter and through a plain UART. The real main window reads
// with its 500 ms poll (Timer1) from the simulator on a pseudo-terminal, played
// from a thread of this process; cards are full to capacity and each is swiped
// at a random moment after the terminal is armed, so replies fall anywhere in
// the poll's cycle. Run by hand (no display needed):
//   build/release/bench/reading/bench_readloop [cards per choice]
#include "app/application.h"
#include "app/lookandfeel.h"
#include "app/messages.h"
#include "app/tform1.h"
#include "bench/terminalthread.h"
#include "link/commandset.h"
#include "link/qtserialdevice.h"
#include "tests/controls.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <random>
#include <vector>

namespace {

using Choice = TerminalSimulator::ReadChoice;

// Every track full; track 1 holds the letters that mark the other tracks in a
// reply, as names do. A serial number keeps each card's texts apart.
QList<SimCard> fullCards(int count)
{
    QList<SimCard> cards;
    for (int n = 1; n <= count; ++n) {
        const QByteArray number = QByteArray::number(n).rightJustified(6, '0');
        cards.append({(number + " IVANOV/BORIS A B").leftJustified(79, 'Z'), (number + '=').leftJustified(40, '7'),
                      (number + "=>").leftJustified(107, '3')});
    }
    return cards;
}

// A reply as it left the terminal: when its last byte had passed the line, and
// when the last of it was handed to the program's port (monotonic µs).
struct Reply
{
    SimCard card;
    qint64 lastOnLineUs = 0;
    qint64 lastWrittenUs = 0;
    qsizetype left = 0;
};

// The operator at the terminal: swipes one card at a random moment after each
// arming, until the cards are used up. Runs on the terminal's thread.
class Operator
{
public:
    Operator(Choice choice, int cards, qint64 originUs) : m_choice(choice), m_cardsLeft(cards), m_originUs(originUs) {}

    void operator()(TerminalSimulator& engine, qint64 nowMs, const QByteArray& written, qint64 writtenUs)
    {
        if (m_swipeAtMs >= 0 && nowMs >= m_swipeAtMs) {
            m_swipeAtMs = -1;
            if (m_cardsLeft > 0 && engine.armedFor()) {
                --m_cardsLeft;
                engine.present(nowMs);
            }
        }
        for (const TerminalSimulator::Event& e : engine.takeEvents()) {
            if (e.kind == TerminalSimulator::Event::Kind::Armed)
                m_swipeAtMs = e.atMs + m_delayMs(m_random);
            else if (e.kind == TerminalSimulator::Event::Kind::Stopped)
                m_swipeAtMs = -1;
            else if (e.kind == TerminalSimulator::Event::Kind::Presented)
                presented(e);
        }
        if (!written.isEmpty())
            handedOver(written.size(), writtenUs);
    }

    std::vector<Reply> replies() const
    {
        const std::lock_guard lock(m_mutex);
        return m_replies;
    }

private:
    void presented(const TerminalSimulator::Event& e)
    {
        // The line is idle between reads, so the reply starts at once, a byte time a byte.
        const qsizetype length = TerminalSimulator::replyFor(m_choice, e.card).size();
        const std::lock_guard lock(m_mutex);
        m_replies.push_back({e.card, m_originUs + e.atMs * 1000 + length * TerminalSimulator::ByteTimeUs, 0, length});
    }
    void handedOver(qsizetype count, qint64 writtenUs)
    {
        const std::lock_guard lock(m_mutex);
        for (Reply& r : m_replies) {
            if (count == 0)
                break;
            const qsizetype n = std::min(count, r.left);
            r.left -= n;
            count -= n;
            if (n > 0 && r.left == 0)
                r.lastWrittenUs = writtenUs;
        }
    }

    Choice m_choice;
    int m_cardsLeft;
    qint64 m_originUs;
    qint64 m_swipeAtMs = -1;
    std::mt19937 m_random{20261208};
    std::uniform_int_distribution<int> m_delayMs{200, 700};
    mutable std::mutex m_mutex;
    std::vector<Reply> m_replies;
};

struct Shown
{
    qint64 atUs;
    QString texts[3];
};

struct Result
{
    int cards = 0;
    int shown = 0;
    int whole = 0;
    std::vector<double> lineToScreenMs;
    std::vector<double> handedToScreenMs;
    QStringList messages;
};

// What the read tab shows of a track: the single-track reads of tracks 2 and 3
// map the numeric-track bytes back, the joined reads may show them as they arrive.
bool showsTrack(const QString& shown, const QByteArray& text)
{
    return shown == QString::fromLatin1(text) || shown == QString::fromLatin1(TerminalSimulator::toNumericWire(text));
}

Result readRun(int choice, TerminalSimulator::Delivery delivery, int cards, const QDir& dir)
{
    Result result;
    result.cards = cards;
    TerminalSimulator engine(CardDeck(fullCards(cards)), TerminalSimulator::Line{true, delivery});
    engine.setPresentAfterMs(0); // the operator swipes
    const qint64 originUs = monotonicUs();
    auto op = std::make_shared<Operator>(Choice(choice), cards, originUs);
    TerminalThread terminal(
        std::move(engine),
        [op](TerminalSimulator& e, qint64 now, const QByteArray& w, qint64 at) { (*op)(e, now, w, at); }, originUs);
    if (!terminal.linkAs(dir.filePath(QStringLiteral("COM1")))) {
        result.messages << QStringLiteral("cannot link COM1");
        return result;
    }
    Platform::setMessageRecorder([&result](const Platform::MessageRecord& r) { result.messages << r.text; });
    std::vector<Shown> shown;
    {
        Application program(qtSerialDeviceFactory());
        TForm1& form = *program.form1;
        form.show();
        QElapsedTimer wait;
        wait.start();
        while (program.port.PortHandle() != ComPort::Handle::Open && wait.elapsed() < 3000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QCheckBox* boxes[] = {control<QCheckBox>(&form, "CheckBox1"), control<QCheckBox>(&form, "CheckBox2"),
                              control<QCheckBox>(&form, "CheckBox3")};
        for (int t = 0; t < 3; ++t)
            if (CommandSet::choiceCarries(choice, t + 1))
                boxes[t]->setChecked(true);
        for (int t = 0; t < 3; ++t)
            if (!CommandSet::choiceCarries(choice, t + 1))
                boxes[t]->setChecked(false);
        QLineEdit* edits[] = {control<QLineEdit>(&form, "Edit4"), control<QLineEdit>(&form, "Edit5"),
                              control<QLineEdit>(&form, "Edit6")};
        // The window fills the edits of a reply in track order, so the highest track carried is the last.
        const int last = CommandSet::choiceCarries(choice, 3) ? 2 : CommandSet::choiceCarries(choice, 2) ? 1 : 0;
        const auto watch = QObject::connect(edits[last], &QLineEdit::textChanged, [&](const QString& text) {
            if (!text.isEmpty())
                shown.push_back({monotonicUs(), {edits[0]->text(), edits[1]->text(), edits[2]->text()}});
        });
        control<QPushButton>(&form, "SpeedButton3")->click();
        wait.restart();
        while (int(shown.size()) < cards && wait.elapsed() < cards * 3000 + 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        control<QPushButton>(&form, "SpeedButton4")->click();
        QObject::disconnect(watch);
        form.hide();
    }
    terminal.stop();
    Platform::setMessageRecorder({});
    const std::vector<Reply> replies = op->replies();
    result.shown = int(shown.size());
    for (size_t i = 0; i < shown.size() && i < replies.size(); ++i) {
        const Reply& r = replies[i];
        const QByteArray* texts[] = {&r.card.track1, &r.card.track2, &r.card.track3};
        bool whole = true;
        for (int t = 0; t < 3; ++t)
            whole = whole && (!CommandSet::choiceCarries(choice, t + 1) || showsTrack(shown[i].texts[t], *texts[t]));
        result.whole += whole ? 1 : 0;
        result.lineToScreenMs.push_back(double(shown[i].atUs - r.lastOnLineUs) / 1000);
        if (r.lastWrittenUs > 0)
            result.handedToScreenMs.push_back(double(shown[i].atUs - r.lastWrittenUs) / 1000);
    }
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    LookAndFeel::apply(app);
    const int cards = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 20;
    // The program's working directory: config.rwc chooses COM1, linked to the terminal's pty.
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QFile config(dir.filePath(QStringLiteral("config.rwc")));
    if (!config.open(QIODevice::WriteOnly) || config.write("0\r\n") != 3)
        return 1;
    config.close();

    std::printf("%d cards per row, full tracks, swiped 200..700 ms after each arming; read poll every 500 ms\n", cards);
    std::printf("reply last byte on the line -> text in the edit (line), handed to the port -> text (port), ms\n\n");
    std::printf("%-18s %-8s %6s %8s %8s %8s %8s %8s %10s\n", "choice", "delivery", "reply", "line ms", "line med",
                "line max", "port med", "port max", "whole");
    const struct
    {
        TerminalSimulator::Delivery kind;
        const char* name;
    } deliveries[] = {{TerminalSimulator::Delivery::UsbAdapter, "usb"}, {TerminalSimulator::Delivery::Uart, "uart"}};
    for (const auto& d : deliveries) {
        for (int choice = 0; choice < CommandSet::TrackChoiceCount; ++choice) {
            const Result r = readRun(choice, d.kind, cards, QDir(dir.path()));
            const qsizetype length = TerminalSimulator::replyFor(Choice(choice), fullCards(1).first()).size();
            std::printf("%-18s %-8s %6lld %8.1f %8.1f %8.1f %8.1f %8.1f %4d/%d/%d\n",
                        CommandSet::trackChoiceText(choice).toLatin1().constData(), d.name, qlonglong(length),
                        double(length * TerminalSimulator::ByteTimeUs) / 1000, median(r.lineToScreenMs),
                        maximum(r.lineToScreenMs), median(r.handedToScreenMs), maximum(r.handedToScreenMs), r.whole,
                        r.shown, r.cards);
            for (const QString& m : r.messages)
                std::printf("  message: %s\n", m.toUtf8().constData());
            std::fflush(stdout);
        }
    }
    std::printf("\nwhole: cards shown whole / cards shown / cards swiped\n");
    return 0;
}
