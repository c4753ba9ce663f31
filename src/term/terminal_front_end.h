// TerminalFrontEnd: runs the dialogs in a terminal, without questions when
// the command line says what is needed.
//
//  - Port Setup: the start-up notice is printed, the script given on the
//    command line is checked (a faulty one is refused with the message the
//    run would show, and the port is never opened), then Connect is pressed
//    at once with the settings given. If Connect leaves the dialog open (the
//    port could not be opened, or the connection wait gave up), the dialog
//    is closed: a terminal has no operator to pick another port.
//  - Connection wait: waits for the link, until the time-out (if one was
//    given; it then acts as Back, after a message of its own) or a cancel.
//    When the link stops by itself (the receiver sent "ERROR", which the
//    link has reported), it acts as Back too: nothing can come of the wait.
//  - Script choice: the script from the command line, or a prompt when none
//    was given and input is a terminal.
//  - Upload: "Command: ..." lines and the percentage (a live bar on a
//    terminal). With a time-out, a receiver that sends no frame for that
//    long stops the upload (as Cancel, after a message of its own).
// Ctrl-C, SIGTERM and SIGHUP act as the Cancel button of the dialog that is
// open; during the upload the operator is told that the receiver holds an
// incomplete image.
//
// Message boxes are printed with their exact text and recorded in the
// RunOutcome; the modal loop sleeps until a posted message, a link flag
// change, a cancel request, a timer tick or a time-out is due.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/message_box.h"
#include "ui/front_end.h"
#include "ui/run_outcome.h"

class InterruptWatcher;
class ProgressDisplay;
class RunEvents;

struct TerminalOptions {
    // The script to carry out; "" asks for one on stdin when promptForScript
    // is true, and otherwise counts as a cancelled script choice.
    std::string m_strScript;
    bool m_bPromptForScript = false;
    // Limit of the connection wait, and of the receiver's silence during the
    // upload; 0: no limit (only a cancel ends them).
    int m_nTimeoutSeconds = 0;
    // Where the run's steps are written for a program that drives this one
    // (not owned; null: nowhere). The front end reports what its UI thread
    // sees: the port opened, the connection, each command, the progress,
    // the texts shown; its owner writes the start and the end.
    RunEvents* m_pEvents = nullptr;
    // Where the operator's texts go.
    std::FILE* m_pOperatorOut = stdout;
};

class TerminalFrontEnd : public FrontEnd, public MessageBoxPresenter {
public:
    // interrupts may be null (no Ctrl-C handling). details receives the
    // extra lines of ShowDetail (stderr in the program).
    TerminalFrontEnd(TerminalOptions options, ProgressDisplay& display, RunOutcome& outcome,
                     InterruptWatcher* interrupts, std::FILE* details);

    int DoModal(Dialog& dialog) override;
    bool ChooseScriptFile(std::string* path) override;
    void ShowDetail(const std::string& text) override;
    // Printed as a detail is, and reported with the port's opening.
    void ShowNotice(const std::string& text) override;

    // MessageBoxPresenter: prints the text, records it, returns at once.
    void Show(const OperatorMessage& message) override;

    // The line printed when the connection wait times out.
    static std::string TimeoutText(int seconds);
    // Printed when the receiver has been silent too long during the upload.
    static std::string SilenceText(int seconds);
    // Printed when the upload is cancelled.
    static std::string DownloadCancelledText();
    // Printed when the script prompt is cancelled.
    static std::string NothingSentText();

private:
    class Host;

    void RunPortSetup(Dialog& dialog);
    void RunEventLoop(Dialog& dialog, Host& host);
    bool TakeCancel(Dialog& dialog);
    // A line that tells how the run ends (a cancel, a time-out), and that
    // end for the outcome.
    void ShowEnd(RunEnd end, const std::string& text);
    static void ReportDialogEnd(int templateId, int result, RunEvents& events);

    TerminalOptions m_options;
    ProgressDisplay& m_display;
    RunOutcome& m_outcome;
    InterruptWatcher* m_pInterrupts;
    std::FILE* m_pDetails;
    std::string m_strNotice;  // the notice about the port, for its events
};
