// The write tab's handlers of the main window.
#include "app/platform.h"
#include "app/tform1.h"
#include "app/tform2.h"
#include "link/error.h"
#include "ui_TForm1.h"
#include "writing/tform3.h"

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

void TForm1::SpeedButton5Click()
{
    m_writeLoop.start();
    ui->Memo4->clear();
    Timer2.start();
    ui->SpeedButton5->setEnabled(false);
    ui->Label3->setText(WriteLoop::countLabelAtStart());
}

void TForm1::Timer2Timer()
{
    const auto compose = [this](int choice) { return m_form3->stageCard(choice); };
    const WriteLoop::Tick step = m_writeLoop.tick(m_form2->trackChoice(), textsInHand(), compose);
    if (step.newTexts) { // the composer's grids were refreshed when the card was committed
        for (int track = 1; track <= 3; ++track)
            setTrackText(track, step.newTexts->track(track));
    }
    for (const QString& line : step.logLines)
        ui->Memo4->appendPlainText(line);
    if (step.countLabel)
        ui->Label3->setText(*step.countLabel);
    switch (step.stop) {
    case WriteLoop::Tick::Stop::None:
        break;
    case WriteLoop::Tick::Stop::OverLong:
        stopWriteRunForOverLongText();
        break;
    case WriteLoop::Tick::Stop::ComposeFailed:
        // Nothing of the template moved; "Записать" goes on with the same card.
        Timer2.stop();
        m_writeLoop.stop();
        ui->SpeedButton5->setEnabled(true);
        throw Failure(step.error);
    }
}

void TForm1::stopWriteRunForOverLongText()
{
    Timer2.stop();
    m_writeLoop.stop();
    Platform::failureBox(this, WriteLoop::overLongMessage());
    ui->SpeedButton5->setEnabled(true);
    clearTrackTexts();
}

void TForm1::SpeedButton9Click()
{
    clearTrackTexts();
    m_writeLoop.stop();
    Timer2.stop();
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
