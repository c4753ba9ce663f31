// ProgressDisplay: the terminal's view of the upload progress dialog and of
// the operator messages, written to one stream.
//
// On a terminal the percentage is a live bar redrawn in place on the last
// line; elsewhere (a pipe, a file) each change is a line of its own. Command
// lines and messages are always whole lines. All calls are serialised, so
// messages from worker threads never cut into a bar.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

class ProgressDisplay {
public:
    // out: where everything goes; live: draw the bar in place (out is a tty).
    ProgressDisplay(std::FILE* out, bool live);

    // An operator message, printed exactly as given, on lines of its own.
    void Message(const std::string& text);
    // A plain line (the connection wait's text, notes).
    void Line(const std::string& text);
    // "Command: ..." from the upload dialog.
    void Command(const std::string& text);
    // The percentage text ("42 %") and the bar position (0..100).
    void Percent(const std::string& text);
    void Position(int position);
    // Ends a live bar's line, so that what follows starts on a new one.
    void Finish();

    // The bar as drawn on a terminal, e.g. "[#####               ]  25 %".
    static std::string BarText(int position, const std::string& percentText, int width);

private:
    void EndLiveLineLocked();
    void DrawLiveLocked();

    std::mutex m_mutex;
    std::FILE* m_pOut;
    bool m_bLive;
    bool m_bLiveLineOpen = false;
    int m_nPosition = 0;
    std::string m_strPercent;
    std::string m_strLastPrintedPercent;
};
