// The write tab's handlers of the main window.
#include "app/messages.h"
#include "app/tform1.h"
#include "app/tform2.h"
#include "link/error.h"
#include "ui_TForm1.h"
#include "app/tform3.h"

#include <QDir>
#include <QFileInfo>

TForm1::~TForm1()
{
    delete ui;
}

Tracks_Write::CardTexts TForm1::textsInHand() const
{
    return {ui->Edit1->text(), ui->Edit2->text(), ui->Edit3->text()};
}

void TForm1::clearTrackTexts()
{
    ui->Edit1->clear();
    ui->Edit2->clear();
    ui->Edit3->clear();
}

Journal& TForm1::journal()
{
    // Beside config.rwc and the job, in the working directory.
    const QString path = QFileInfo(m_settings.path()).absoluteDir().filePath(QStringLiteral("journal.csv"));
    if (!m_journal || m_journal->path() != path)
        m_journal = std::make_unique<Journal>(path);
    return *m_journal;
}

// A card left without an answer goes first; when it was made for other tracks or
// before the template was changed, the operator says whether it still should.
bool TForm1::keepPendingCard()
{
    const auto& pending = m_writeLoop.pendingCard();
    if (!pending || (pending->choice == m_form2->trackChoice() && pending->templateVersion == m_templateVersion))
        return true;
    const QString texts = QStringList{pending->texts.track1, pending->texts.track2, pending->texts.track3}.join(
        QLatin1Char('|'));
    return Platform::askYesNo(this,
                              QStringLiteral("Карточка %1 осталась без ответа терминала. Она была составлена для "
                                             "других дорожек или до изменения шаблона.\n\nОтправить её снова как "
                                             "была? «Нет»: не отправлять её.")
                                  .arg(texts),
                              QStringLiteral("Внимание!"));
}

void TForm1::SpeedButton5Click()
{
    if (!confirmBatchAhead()) // tform1_preflight.cpp
        return;
    m_writeLoop.setJournal(&journal());
    QString decision;
    if (m_writeLoop.pendingCard() && !keepPendingCard())
        decision = m_writeLoop.dropPendingCard();
    else if (m_writeLoop.pendingCard() && m_writeLoop.pendingCard()->choice != m_form2->trackChoice())
        decision = QStringLiteral("Карточка без ответа отправляется как была, по выбору оператора");
    m_writeLoop.start();
    ui->Memo4->clear();
    if (!decision.isEmpty())
        ui->Memo4->appendPlainText(decision);
    Timer2.start();
    ui->SpeedButton5->setEnabled(false);
    ui->Label3->setText(WriteLoop::countLabelAtStart());
}

void TForm1::showStep(const WriteLoop::Tick& step)
{
    if (step.newTexts) { // the composer's grids were refreshed when the card was committed
        for (int track = 1; track <= 3; ++track)
            setTrackText(track, step.newTexts->track(track));
    }
    for (const QString& line : step.logLines)
        ui->Memo4->appendPlainText(line);
    if (step.countLabel)
        ui->Label3->setText(*step.countLabel);
}

void TForm1::Timer2Timer()
{
    if (m_form3->ExcelApplication1.checkFile(); !m_form3->ExcelApplication1.ready())
        return; // the workbook is being read again: no card reads it meanwhile
    const auto compose = [this](int choice) { return m_form3->stageCard(choice); };
    const WriteLoop::Tick step = m_writeLoop.tick(m_form2->trackChoice(), textsInHand(), compose, m_templateVersion);
    showStep(step);
    switch (step.stop) {
    case WriteLoop::Tick::Stop::None:
        break;
    case WriteLoop::Tick::Stop::OverLong:
        stopWriteRunForOverLongText();
        break;
    case WriteLoop::Tick::Stop::Refused:
        // Nothing of the card advanced: once the data is mended "Записать" goes on with it.
        endRunAfterStep(step);
        Platform::failureBox(this, step.error);
        break;
    case WriteLoop::Tick::Stop::Failed:
        endRunAfterStep(step);
        throw Failure(step.error);
    }
}

void TForm1::endRunAfterStep(const WriteLoop::Tick&)
{
    Timer2.stop();
    showStep(m_writeLoop.stop());
    ui->SpeedButton5->setEnabled(true);
}

void TForm1::stopWriteRunForOverLongText()
{
    Timer2.stop();
    showStep(m_writeLoop.stop());
    Platform::failureBox(this, WriteLoop::overLongMessage());
    ui->SpeedButton5->setEnabled(true);
    clearTrackTexts();
}

void TForm1::SpeedButton9Click()
{
    clearTrackTexts();
    Timer2.stop();
    showStep(m_writeLoop.stop());
    ui->SpeedButton5->setEnabled(true);
    if (!ui->CheckBox4->isChecked() && !ui->CheckBox5->isChecked() && !ui->CheckBox6->isChecked())
        ui->SpeedButton5->setEnabled(false);
}

void TForm1::openComposer(int track)
{
    m_form3->openForTrack(track);
}

void TForm1::SpeedButton11Click()
{
    openComposer(1);
}

void TForm1::SpeedButton12Click()
{
    openComposer(2);
}

void TForm1::SpeedButton13Click()
{
    openComposer(3);
}
