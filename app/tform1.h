#pragma once

#include "app/settingsfile.h"
#include "reading/readloop.h"
#include "writing/batchsession.h"

#include <QMainWindow>
#include <QTimer>

#include <memory>

namespace Ui {
class TForm1;
}
class ComPort;
class PortStatus;
class PreviewWindow;
class QLineEdit;
class TForm2;
class TForm3;
class TForm4;
class TForm6;
class ReadsLog;
class VerifyPanel;

// The main window: the read tab with its poll, the write tab with its loop, the
// menu and toolbar, the hand-over between the tabs and the settings file.
class TForm1 : public QMainWindow
{
    Q_OBJECT

public:
    TForm1(ComPort& port, BatchSession& session);
    ~TForm1() override;

    // The other windows, created after this one.
    void setForms(TForm2* form2, TForm3* form3, TForm4* form4, TForm6* form6);
    // Where config.rwc is; the job and the journal are kept beside it.
    void setSettingsPath(const QString& path);

    void FormShow();
    void ShowTrackChoice();
    void SelectReadTracks();
    void SelectWriteTracks();
    void TabbedNotebook1Change(int leavingPage);

    // Read tab.
    void SpeedButton3Click();
    void SpeedButton4Click();
    void Timer1Timer();
    void CheckBox1Click();
    void CheckBox2Click();
    void CheckBox3Click();

    // Write tab.
    void SpeedButton5Click();
    void SpeedButton9Click();
    void Timer2Timer();
    void CheckBox4Click();
    void CheckBox5Click();
    void CheckBox6Click();
    void SpeedButton11Click();
    void SpeedButton12Click();
    void SpeedButton13Click();
    // "Карточек в партии:" edited: taken, or put back with a line in the log.
    void BatchSizeEditDone();

    void N2Click();
    void N5Click();
    void SpeedButton6Click();
    void SpeedButton8Click();
    void SpeedButton18Click();
    // The open port went away: reading and a write run stop, the operator is told once.
    void PortLost(const QString& name);
    // What the status line at the foot of the window says about the port.
    QString portStatusText() const;

    // The job (tform1_job.cpp): "Новое задание", "Открыть задание…",
    // "Сохранить задание как…". reopenJob() is FormShow's first step and never
    // throws. The batch session does the work; these choose files and show boxes.
    void N6Click();
    void N7Click();
    void N8Click();
    void reopenJob();

    // Verification of cards swiped back, below the tabs (verifypanel.h).
    VerifyPanel* verifyPanel() const { return m_verify; }

    // The preview window "Просмотр партии" (tform1_preflight.cpp).
    void showPreview();
    PreviewWindow* previewWindow() const { return m_preview; }

    // The write-tab edit of a track (1..3); track 1 turns letters to upper case.
    QLineEdit* trackEdit(int track) const;
    void setTrackText(int track, const QString& text);

    QTimer Timer1;
    QTimer Timer2;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // tform1_wiring.cpp
    void connectHandlers();
    void connectForms();
    void trackChoiceApplied();

    void setUpPreview();
#ifdef STRIPEWELL_SHARED_BATCHES
    // tform1_shared.cpp
    void setUpSharedBatches();
    void publishBatch();
    void joinBatch();
    void viewBatch();
    void leaveBatch();
#endif
    void sendStop();
    void fitWindow();
    QString workFile(const QString& name) const;
    void keepCardRead(const ReadLoop::Card& card);
    void endWriteRun();
    void FormClose();
    void showStep(const WriteLoop::Tick& step);
    void showBatch();
    bool keepPendingCard();
    void openComposer(int track);
    CardTexts textsInHand() const;
    void clearTrackTexts();
    void saveJobAtClose();
    void stopRunForJobChange();
    void showNotices(const QList<BatchSession::Notice>& notices);
    void reportLikeAnError(const QString& text);
    void showJobTrackChoice(int choice);
    QString askJobFile(bool saving);

    Ui::TForm1* ui;
    ComPort& m_port;
    TForm2* m_form2 = nullptr;
    TForm3* m_form3 = nullptr;
    TForm4* m_form4 = nullptr;
    TForm6* m_form6 = nullptr;
    BatchSession& m_session;
    PortStatus* m_portStatus = nullptr;
    ReadLoop m_readLoop;
    SettingsFile::Store m_settings;
    // The page whose commands are in force: during a tab change, the page being left.
    int m_commandPage = 0;
    bool m_shown = false;
    VerifyPanel* m_verify = nullptr;
    ReadsLog* m_readsLog = nullptr;
    PreviewWindow* m_preview = nullptr;
};
