// Dialog: the toolkit-neutral base of the three dialogs.
//
// A dialog's logic (its handlers and what they change) is written once in a
// class derived from Dialog. A front end runs it modally (FrontEnd::DoModal)
// and supplies a DialogHost: the few things only a toolkit can do (show a
// control's text or position, run a timer, hide the window). Posted window
// messages reach the dialog through its HWND and are delivered by the front
// end on the UI thread; once the dialog has ended, its handle is destroyed
// and whatever is still posted to it is dropped.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win_types.h"
#include "platform/window.h"

// What a front end provides for one running dialog. Called on the UI thread.
class DialogHost {
public:
    virtual ~DialogHost() = default;
    virtual void SetItemText(int controlId, const std::string& text) = 0;
    virtual void SetProgressPos(int controlId, int position) = 0;
    // Radio groups, by the id of the group's first button: the selected index
    // (-1 when none), and selecting one.
    virtual int GetRadioIndex(int firstButtonId) = 0;
    virtual void SetRadioIndex(int firstButtonId, int index) = 0;
    // Starts a repeating timer whose ticks reach Dialog::OnTimer(id).
    virtual void SetTimer(UINT id, UINT periodMs) = 0;
    // The dialog has ended: hide it now; the modal run returns once the
    // handler that ended it has returned.
    virtual void DialogEnded(int result) = 0;
    // The upload queued a script command (a data file's: 'S' and its path),
    // just before the dialog shows it: for a front end that reports the run
    // to a program as well. The default does nothing.
    virtual void CommandQueued(const std::string& command);
    // The upload has sent a data file whole (its last frame was taken by
    // the link): the bytes that went out and their SHA-256. The default
    // does nothing.
    virtual void FileSent(const std::string& path, std::uint64_t bytes, const std::string& sha256);
};

class Dialog : public MessageTarget {
public:
    explicit Dialog(int templateId);
    ~Dialog() override;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    int TemplateId() const { return m_nTemplateId; }

    // --- Called by the front end -----------------------------------------
    // Binds the dialog to host and gives it a window handle. Then the front
    // end calls OnInitDialog().
    void Attach(DialogHost* host);
    // Destroys the window handle (dropping messages still queued for it).
    void Detach();

    virtual BOOL OnInitDialog();
    // Cancel button, Esc, close box, Ctrl-C in the terminal: sets g_bAbort,
    // then ends the dialog with IDCANCEL.
    virtual void OnCancel();
    // A push button other than IDCANCEL was pressed (Connect, Back).
    virtual void OnCommand(int controlId);
    // A timer tick.
    virtual void OnTimer(UINT timerId);

    // Posted messages, dispatched by id to the handlers of derived classes.
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    bool IsEnded() const { return m_bEnded; }
    int Result() const { return m_nResult; }
    HWND GetSafeHwnd() const { return m_hWnd; }

protected:
    // Ends the modal run with result (the window is hidden at once).
    void EndDialog(int result);
    // The framework's own OK and cancel: end with IDOK / IDCANCEL, leaving
    // g_bAbort alone.
    void FrameworkOnOK();
    void FrameworkOnCancel();

    void SetDlgItemText(int controlId, const std::string& text);
    void SetProgressPos(int controlId, int position);
    DialogHost* Host() const { return m_pHost; }

    // Handlers for posted messages; a derived class overrides what it maps.
    virtual LRESULT OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam);

private:
    int m_nTemplateId;
    DialogHost* m_pHost = nullptr;
    HWND m_hWnd = 0;
    bool m_bEnded = false;
    int m_nResult = 0;
};
