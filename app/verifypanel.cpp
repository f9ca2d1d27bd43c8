#include "app/verifypanel.h"

#include "app/filedialogs.h"
#include "app/messages.h"
#include "base/error.h"
#include "writing/durablefile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

// Colours that read as right, wrong and unknown; the words say the same for
// an operator who does not tell them apart.
constexpr const char* Green = "#1e7b34";
constexpr const char* Red = "#b3261e";
constexpr const char* Amber = "#c77700";
constexpr const char* Grey = "#5f6368";

// A text that may break at any character where it does not fit its line: a
// track's text has no spaces to break at.
QString breakable(const QString& text)
{
    QString out;
    out.reserve(text.size() * 2);
    for (const QChar c : text) {
        out += c;
        out += QChar(0x200B); // a zero-width space
    }
    return out;
}

} // namespace

VerifyPanel::VerifyPanel(QWidget* parent, QWidget* readTab, Sources sources)
    : QWidget(parent), m_sources(std::move(sources)),
      m_switch(new QCheckBox(QStringLiteral("Проверка по журналу"), readTab)), m_outcome(new QLabel(this)),
      m_detail(new QLabel(this)), m_counts(new QLabel(this)), m_scope(new QComboBox(this)),
      m_report(new QPushButton(QStringLiteral("Сохранить отчёт…"), this))
{
    setObjectName(QStringLiteral("VerifyPanel"));
    // Beside the track choice's caption, clear of the read tab's buttons.
    m_switch->setObjectName(QStringLiteral("VerifyBox"));
    m_switch->setGeometry(186, 166, 162, 22);
    m_switch->setAccessibleDescription(QStringLiteral("Сверять прочитанные карточки с журналом записи"));

    m_outcome->setObjectName(QStringLiteral("VerifyOutcome"));
    QFont big = m_outcome->font();
    big.setPixelSize(22); // the window is laid out in pixels
    big.setBold(true);
    m_outcome->setFont(big);
    m_outcome->setMinimumHeight(34);
    m_outcome->setContentsMargins(8, 0, 8, 0);
    m_outcome->setAutoFillBackground(true);
    m_detail->setObjectName(QStringLiteral("VerifyDetail"));
    m_detail->setTextFormat(Qt::PlainText);
    m_detail->setWordWrap(true);
    m_detail->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* detailArea = new QScrollArea(this); // what does not fit the panel scrolls, never cut
    detailArea->setWidget(m_detail);
    detailArea->setWidgetResizable(true);
    detailArea->setFrameShape(QFrame::NoFrame);
    detailArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_counts->setObjectName(QStringLiteral("VerifyCounts"));
    m_scope->setObjectName(QStringLiteral("VerifyScope"));
    m_scope->addItems(
        {QStringLiteral("Открытое задание"), QStringLiteral("Последний прогон"), QStringLiteral("Все прогоны")});
    m_scope->setAccessibleName(QStringLiteral("Сверять с"));
    m_report->setObjectName(QStringLiteral("VerifyReport"));
    m_report->setAccessibleDescription(
        QStringLiteral("Записанные, но не прочитанные карточки и различающиеся — в файл CSV"));

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Сверять с:"), this));
    row->addWidget(m_scope);
    row->addStretch(1);
    row->addWidget(m_report);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 2, 8, 4);
    layout->setSpacing(2);
    layout->addWidget(m_outcome);
    layout->addWidget(detailArea, 1);
    layout->addWidget(m_counts);
    layout->addLayout(row);
    setVisible(false);

    connect(m_switch, &QCheckBox::toggled, this, [this](bool on) {
        Platform::guarded(window(), [this, on] {
            if (on)
                readJournal();
            else {
                m_verification.reset();
                m_index = JournalIndex();
            }
            Q_EMIT switched(on);
        });
    });
    connect(m_scope, &QComboBox::currentIndexChanged, this, [this] {
        if (isOn())
            Platform::guarded(window(), [this] { readJournal(); });
    });
    connect(m_report, &QPushButton::clicked, this, [this] { Platform::guarded(window(), [this] { saveReport(); }); });
}

VerifyPanel::~VerifyPanel() = default;

bool VerifyPanel::isOn() const
{
    return m_switch->isChecked();
}

JournalIndex::Scope VerifyPanel::scope() const
{
    switch (m_scope->currentIndex()) {
    case 1:
        return {JournalIndex::Scope::LastRun, {}};
    case 2:
        return {JournalIndex::Scope::AllRuns, {}};
    default:
        return {JournalIndex::Scope::Job, m_sources.openJob ? m_sources.openJob() : QString()};
    }
}

// The journal as it stands now: cards written since are seen at the next read.
void VerifyPanel::readJournal()
{
    m_verification.reset();
    m_index = JournalIndex::read(m_sources.journalPath());
    m_verification = std::make_unique<Verification>(m_index, scope());
    showOutcome(QStringLiteral("ПРОВЕДИТЕ КАРТОЧКУ"),
                QStringLiteral("Записанных карточек для сверки: %1").arg(m_verification->inScope()), Grey);
    showCounts();
}

QString VerifyPanel::check(int trackChoice, const JournalIndex::Texts& shown)
{
    if (!isOn() || !m_verification)
        return {};
    const Verification::Result r = m_verification->check(trackChoice, shown);
    const QString again = r.again ? QStringLiteral(", ПОВТОРНО") : QString();
    switch (r.outcome) {
    case Verification::Outcome::Verified:
        showOutcome(QStringLiteral("ВЕРНО") + again, r.message, Green);
        break;
    case Verification::Outcome::Differs:
        showOutcome(QStringLiteral("РАЗЛИЧАЕТСЯ: дорожка %1").arg(Verification::trackList(r.differing)) + again,
                    r.message, Red, differingTexts(r));
        break;
    case Verification::Outcome::Unknown:
        showOutcome(QStringLiteral("НЕТ В ЖУРНАЛЕ") + again, r.message, Amber);
        break;
    case Verification::Outcome::NothingToRead:
        showOutcome(QStringLiteral("НЕЧЕГО СВЕРЯТЬ"), r.message, Grey);
        break;
    }
    showCounts();
    return r.record;
}

// The card's name, then each differing track's text as read and as written,
// whole, one a line.
QString VerifyPanel::differingTexts(const Verification::Result& r) const
{
    const qsizetype cut = r.message.indexOf(QStringLiteral("; "));
    QStringList lines{cut < 0 ? r.message : r.message.left(cut)};
    if (r.again)
        lines.first() += QStringLiteral(" (прочитана повторно)");
    const JournalIndex::Texts& written = m_index.card(r.written).texts;
    for (int t = 1; t <= 3; ++t) {
        if (!(r.differing & (1u << (t - 1))))
            continue;
        lines << QStringLiteral("Дорожка %1, прочитано: «%2»").arg(t).arg(breakable(r.read.track(t)))
              << QStringLiteral("Дорожка %1, записано: «%2»").arg(t).arg(breakable(written.track(t)));
    }
    return lines.join(QLatin1Char('\n'));
}

// `shown` is the detail as the panel lays it out, when not the detail itself.
void VerifyPanel::showOutcome(const QString& words, const QString& detail, const char* colour, const QString& shown)
{
    m_outcome->setText(words);
    m_outcome->setStyleSheet(QStringLiteral("QLabel { color: white; background: %1; }").arg(QLatin1String(colour)));
    m_outcome->setAccessibleDescription(words);
    m_detail->setText(shown.isEmpty() ? detail : shown);
    m_detail->setToolTip(detail);
    m_detail->setAccessibleDescription(detail);
}

void VerifyPanel::showCounts()
{
    const Verification& v = *m_verification;
    QString text = QStringLiteral("Верно: %1   Различаются: %2   Нет в журнале: %3   Не прочитаны: %4 из %5")
                       .arg(v.verified())
                       .arg(v.differing())
                       .arg(v.unknown())
                       .arg(v.notSwipedBack())
                       .arg(v.inScope());
    if (m_index.damagedLines() > 0)
        text += QStringLiteral("   Повреждённых строк журнала: %1").arg(m_index.damagedLines());
    m_counts->setText(text);
}

QString VerifyPanel::askReportFile()
{
    Platform::FileRequest request;
    request.mode = Platform::FileRequest::Mode::Save;
    request.title = QStringLiteral("Сохранить отчёт");
    request.folder = QFileInfo(m_sources.journalPath()).absolutePath();
    request.filter = QStringLiteral("CSV (*.csv)");
    request.defaultSuffix = QStringLiteral("csv");
    return Platform::chooseFile(this, request);
}

void VerifyPanel::saveReport()
{
    if (!m_verification)
        return;
    const QString path = askReportFile();
    if (path.isEmpty())
        return;
    try {
        DurableFile::replace(path, m_verification->report());
    } catch (const Failure& failure) {
        Platform::failureBox(window(), QStringLiteral("Отчёт не сохранён: %1").arg(failure.text()));
    }
}
