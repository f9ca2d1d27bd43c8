// The write tab's handlers of the main window.
#include "app/batchahead.h"
#include "app/messages.h"
#include "app/tform1.h"
#include "app/tform2.h"
#include "app/tform3.h"
#include "base/error.h"
#include "ui_TForm1.h"

TForm1::~TForm1()
{
    delete ui;
}

CardTexts TForm1::textsInHand() const
{
    return {ui->Edit1->text(), ui->Edit2->text(), ui->Edit3->text()};
}

void TForm1::clearTrackTexts()
{
    ui->Edit1->clear();
    ui->Edit2->clear();
    ui->Edit3->clear();
}

// A card left without an answer goes first; when it was made for other tracks or
// before the template was changed, the operator says whether it still should.
bool TForm1::keepPendingCard()
{
    const QString question = m_session.pendingCardQuestion();
    return question.isEmpty() || Platform::askYesNo(this, question, QStringLiteral("Внимание!"));
}

void TForm1::SpeedButton5Click()
{
    // A finished batch writes nothing more, not even the write start, until its size grows.
    if (const QString done = m_session.batchDoneMessage(); !done.isEmpty()) {
        ui->Memo4->appendPlainText(done);
        Platform::warningBox(this, done);
        return;
    }
    if (!BatchAhead::confirm(this, m_session, workFile(QStringLiteral("journal.csv")), m_session.cardsLeftInBatch()))
        return;
    const QString decision = m_session.startRun(keepPendingCard());
    ui->Memo4->clear();
    if (!decision.isEmpty())
        ui->Memo4->appendPlainText(decision);
    Timer2.start();
    ui->SpeedButton5->setEnabled(false);
    ui->Label3->setText(m_session.writeLoop().countLabelNow());
}

void TForm1::BatchSizeEditDone()
{
    const QString typed = ui->BatchSizeEdit->text();
    if (!m_session.setBatchSize(typed))
        ui->Memo4->appendPlainText(m_session.batchSizeRefusal(typed));
    showBatch();
}

// The box shows the batch's size (empty when unsized), the label its count.
void TForm1::showBatch()
{
    const int size = m_session.batchSize();
    ui->BatchSizeEdit->setText(size > 0 ? QString::number(size) : QString());
    if (size > 0)
        ui->Label3->setText(WriteLoop::countLabel(m_session.batchWritten(), size));
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

// A step that stops the run has sent the stop command already.
void TForm1::Timer2Timer()
{
    if (!m_session.workbookReady())
        return; // the workbook is being read: no card reads it meanwhile
    const WriteLoop::Tick step = m_session.tick(textsInHand());
    showStep(step);
    if (step.stop == WriteLoop::Tick::Stop::None)
        return;
    Timer2.stop();
    switch (step.stop) {
    case WriteLoop::Tick::Stop::None:
        break;
    case WriteLoop::Tick::Stop::OverLong:
        Platform::failureBox(this, WriteLoop::overLongMessage());
        ui->SpeedButton5->setEnabled(true);
        clearTrackTexts();
        break;
    case WriteLoop::Tick::Stop::Refused:
        // Nothing of the card advanced: once the data is mended "Записать" goes on with it.
        ui->SpeedButton5->setEnabled(true);
        Platform::failureBox(this, step.error);
        break;
    case WriteLoop::Tick::Stop::BatchDone:
        ui->SpeedButton5->setEnabled(true);
        Platform::warningBox(this, step.error);
        break;
    case WriteLoop::Tick::Stop::Failed:
        ui->SpeedButton5->setEnabled(true);
        throw Failure(step.error);
    }
}

void TForm1::SpeedButton9Click()
{
    clearTrackTexts();
    Timer2.stop();
    showStep(m_session.stopRun());
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
