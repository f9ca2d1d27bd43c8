#include "faketerminal.h"

#include "link/commandset.h"

#include <algorithm>
#include <cstring>

namespace {

class ProxyDevice : public SerialDevice
{
public:
    explicit ProxyDevice(FakeTerminal& terminal) : m_terminal(terminal) {}
    bool open() override { return m_open = true; }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    void setTimeouts(const PortTimeouts&) override {}
    void purgeReceive() override { m_terminal.purge(); }
    qint64 write(const char* data, qint64 count) override
    {
        m_terminal.write(data, count);
        return count;
    }
    qint64 read(char* data, qint64 maxCount) override { return m_terminal.read(data, maxCount); }

private:
    FakeTerminal& m_terminal;
    bool m_open = false;
};

const QByteArray Terminator("\x1D\x1B\\");

QString untranslated(QByteArray bytes)
{
    for (char& c : bytes) {
        if (c == 0x27)
            c = '=';
        else if (c == 0x3D)
            c = '>';
    }
    return CommandSet::wireToText(bytes);
}

} // namespace

std::unique_ptr<SerialDevice> FakeTerminal::device()
{
    return std::make_unique<ProxyDevice>(*this);
}

SerialDeviceFactory FakeTerminal::factory()
{
    return [this](const QString&) { return device(); };
}

void FakeTerminal::write(const char* data, qint64 count)
{
    received.append(data, count);
    m_pending.append(data, count);
    while (m_pending.size() >= 2 && m_pending[0] == 0x1B) {
        if (m_pending[1] == 't') {
            const qsizetype end = m_pending.indexOf(Terminator);
            if (end < 0)
                return;
            m_lastFrame = m_pending.left(end + Terminator.size());
            frames.append(m_lastFrame);
            m_pending.remove(0, m_lastFrame.size());
        } else if (m_pending[1] == '%') {
            if (m_pending.size() < 3)
                return;
            m_pending.remove(0, 3);
        } else {
            if (m_pending[1] == 'j')
                answer();
            m_pending.remove(0, 2);
        }
    }
    m_pending.clear();
}

qint64 FakeTerminal::read(char* data, qint64 maxCount)
{
    if (m_reads.empty())
        return 0;
    QByteArray& front = m_reads.front();
    const qint64 n = std::min<qint64>(maxCount, front.size());
    std::memcpy(data, front.constData(), size_t(n));
    front.remove(0, n);
    if (front.isEmpty())
        m_reads.pop_front();
    return n;
}

void FakeTerminal::answer()
{
    ++escJCount;
    const Outcome outcome = script.empty() ? Outcome::Written : script.front();
    if (!script.empty())
        script.pop_front();
    outcomes.append(outcome);
    const bool writes = outcome == Outcome::Written || outcome == Outcome::Pieces || outcome == Outcome::Noise ||
                        outcome == Outcome::Delayed || outcome == Outcome::StrayEsc;
    CardTexts texts;
    if (writes && decodeFrame(m_lastFrame, texts))
        encoded.append(texts);
    switch (outcome) {
    case Outcome::Written:
        queueRead(QByteArray("\x1B"
                             "00p"));
        break;
    case Outcome::NotWritten:
        queueRead(QByteArray("\x1B"
                             "0qq"));
        break;
    case Outcome::NoAnswer:
        break;
    case Outcome::Pieces:
        queueRead(QByteArray("\x1B"));
        queueRead(QByteArray("00"));
        queueRead(QByteArray("p"));
        break;
    case Outcome::LoneEsc:
        queueRead(QByteArray("\x1B"));
        break;
    case Outcome::StrayEsc:
        queueRead(QByteArray("\x1B\x1B"
                             "00p"));
        break;
    case Outcome::Noise:
        queueRead(QByteArray("\x05\x7F\x1B"
                             "0"));
        queueRead(QByteArray("0p"));
        break;
    case Outcome::NoVerdict:
        queueRead(QByteArray("\x1B"
                             "000"));
        break;
    case Outcome::Delayed:
        queueRead({});
        queueRead({});
        queueRead(QByteArray("\x1B"
                             "00p"));
        break;
    }
}

bool FakeTerminal::decodeFrame(const QByteArray& frame, CardTexts& texts)
{
    if (!frame.startsWith("\x1Bt") || !frame.endsWith(Terminator))
        return false;
    const QByteArray body = frame.mid(2, frame.size() - 2 - Terminator.size());
    // Track 2 and 3 texts hold no letters, so the first 'B' opens track 1 and an 'A' before it track 3.
    const qsizetype b = body.indexOf('B');
    qsizetype a = body.indexOf('A');
    if (b >= 0 && a > b)
        a = -1;
    const qsizetype end2 = a >= 0 ? a : b >= 0 ? b : body.size();
    texts = {};
    texts.track2 = untranslated(body.left(end2));
    if (a >= 0)
        texts.track3 = untranslated(body.mid(a + 1, (b >= 0 ? b : body.size()) - a - 1));
    if (b >= 0)
        texts.track1 = CommandSet::wireToText(body.mid(b + 1));
    return true;
}
