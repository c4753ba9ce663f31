// The whole program in the GUI, as an operator sees it: receiver-downloader
// --demo on a virtual display of its own, driven with xdotool (keys go to the
// window under the pointer; there is no window manager). Covers what the
// other GUI tests replace: wx's own message boxes, the file dialog and
// RunGui. The display is private so that the pointer and the keys cannot
// reach the windows of GUI tests running at the same time.
#include "ui/gui_entry.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string Shell(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        pclose(pipe);
    }
    return output;
}

// Visible windows with exactly this title (newest last).
std::vector<std::string> Windows(const std::string& title) {
    std::istringstream ids(Shell("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null"));
    std::vector<std::string> found;
    for (std::string id; ids >> id;)
        found.push_back(id);
    return found;
}

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
};

Geometry GeometryOf(const std::string& id) {
    Geometry g;
    std::istringstream lines(Shell("xdotool getwindowgeometry --shell " + id + " 2>/dev/null"));
    for (std::string line; std::getline(lines, line);) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const int value = std::atoi(line.c_str() + eq + 1);
        if (key == "X") g.x = value;
        if (key == "Y") g.y = value;
        if (key == "WIDTH") g.width = value;
        if (key == "HEIGHT") g.height = value;
    }
    return g;
}

void Screenshot(const Geometry& g, const std::string& name) {
    const char* folder = std::getenv("RD_SCREENSHOT_DIR");
    if (folder == nullptr || *folder == '\0')
        return;
    Shell("import -window root -crop " + std::to_string(g.width) + "x" + std::to_string(g.height) + "+" +
        std::to_string(g.x) + "+" + std::to_string(g.y) + " '" + folder + "/" + name + ".png'");
}

// Puts the pointer over the window (so that it receives the keys) and types.
void KeysTo(const std::string& id, const std::string& keys) {
    const Geometry g = GeometryOf(id);
    Shell("xdotool mousemove " + std::to_string(g.x + g.width / 2) + " " + std::to_string(g.y + g.height / 2));
    std::this_thread::sleep_for(200ms);
    Shell("xdotool " + keys);
}

bool Gone(const std::string& title, const std::string& id, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto ids = Windows(title);
        if (std::find(ids.begin(), ids.end(), id) == ids.end())
            return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

// An Xvfb server on a free display number, for this process and its
// children (DISPLAY is set while it runs).
class PrivateDisplay {
public:
    PrivateDisplay() {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (number.empty())
            return;
        if (const char* old = std::getenv("DISPLAY"))
            m_strOldDisplay = old;
        setenv("DISPLAY", (":" + number).c_str(), 1);
        m_bReady = true;
    }
    ~PrivateDisplay() {
        if (m_bReady) {
            if (m_strOldDisplay.empty())
                unsetenv("DISPLAY");
            else
                setenv("DISPLAY", m_strOldDisplay.c_str(), 1);
        }
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool Ready() const { return m_bReady; }

private:
    pid_t m_pid = -1;
    bool m_bReady = false;
    std::string m_strOldDisplay;
};

class Program {
public:
    explicit Program(const std::vector<std::string>& args) {
        int out[2];
        if (pipe(out) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv;
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        m_nOut = out[0];
        fcntl(m_nOut, F_SETFL, O_NONBLOCK);
    }
    ~Program() {
        if (m_pid > 0 && !m_bExited) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_nOut >= 0)
            close(m_nOut);
    }

    bool Started() const { return m_pid > 0; }

    const std::string& Output() {
        char buffer[512];
        for (ssize_t n; (n = read(m_nOut, buffer, sizeof buffer)) > 0;)
            m_strOut.append(buffer, static_cast<size_t>(n));
        return m_strOut;
    }

    // True once the program has ended; *status is its exit status.
    bool Exited(int* status) {
        if (!m_bExited) {
            int raw = 0;
            if (waitpid(m_pid, &raw, WNOHANG) == m_pid) {
                m_bExited = true;
                m_nStatus = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            }
        }
        *status = m_nStatus;
        return m_bExited;
    }

private:
    pid_t m_pid = -1;
    int m_nOut = -1;
    bool m_bExited = false;
    int m_nStatus = -1;
    std::string m_strOut;
};

std::string ProgramPath() { return (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "receiver-downloader").string(); }

std::string ScriptPathFrom(const std::string& output) {
    const std::string marker = "Demo: sample script ";
    const auto at = output.find(marker);
    if (at == std::string::npos)
        return {};
    const auto end = output.find('\n', at);
    return end == std::string::npos ? std::string() : output.substr(at + marker.size(), end - at - marker.size());
}

TEST(GuiProgram, DemoRunsAWholeDownloadThroughTheDialogs) {
    if (Shell("command -v xdotool").empty() || Shell("command -v Xvfb").empty())
        GTEST_SKIP() << "needs Xvfb and xdotool";
    ASSERT_TRUE(fs::exists(ProgramPath())) << ProgramPath() << " is built with the program";
    PrivateDisplay display;
    ASSERT_TRUE(display.Ready()) << "Xvfb did not start";
    Program program({ProgramPath(), "--demo"});
    ASSERT_TRUE(program.Started());

    int boxes = 0;
    bool connectPressed = false, scriptTyped = false, uploadSeen = false;
    int status = -1;
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (!program.Exited(&status)) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "the program did not end; output so far:\n" << program.Output();
            return;
        }
        std::this_thread::sleep_for(300ms);
        if (const auto ids = Windows("Code Upload in Progress"); !ids.empty() && !uploadSeen) {
            uploadSeen = true;
            Screenshot(GeometryOf(ids.back()), "demo-5-code-upload");
        }
        if (const auto ids = Windows("Receiver Downloader"); !ids.empty()) {  // a message box
            std::this_thread::sleep_for(300ms);  // let it be drawn
            Screenshot(GeometryOf(ids.back()), "demo-box-" + std::to_string(boxes + 1));
            KeysTo(ids.back(), "key Return");
            if (Gone("Receiver Downloader", ids.back(), 20s))
                ++boxes;
            continue;
        }
        if (const auto ids = Windows("Open"); !ids.empty() && !scriptTyped) {  // the script file dialog
            const std::string script = ScriptPathFrom(program.Output());
            ASSERT_FALSE(script.empty()) << program.Output();
            // The dialog opens in the script's folder: its name is enough
            // (a typed path would race the location bar's completion).
            KeysTo(ids.back(), "key ctrl+l");
            std::this_thread::sleep_for(300ms);
            Shell("xdotool key ctrl+a");
            Shell("xdotool type --delay 30 '" + fs::path(script).filename().string() + "'");
            std::this_thread::sleep_for(300ms);
            Shell("xdotool key Return");
            scriptTyped = Gone("Open", ids.back(), 20s);
            continue;
        }
        if (const auto ids = Windows("Port Setup"); !ids.empty() && !connectPressed) {
            std::this_thread::sleep_for(300ms);
            Screenshot(GeometryOf(ids.back()), "demo-2-port-setup");
            KeysTo(ids.back(), "key Return");  // Connect is the default button
            connectPressed = true;
        }
    }
    const std::string output = program.Output();
    EXPECT_EQ(status, 0) << output;
    EXPECT_TRUE(connectPressed);
    EXPECT_TRUE(scriptTyped);
    // The start-up notice, "Connection established", "Select .CMD script
    // file provided." and the success message.
    EXPECT_EQ(boxes, 4) << output;
    EXPECT_NE(output.find("Data file sent"), std::string::npos) << output;
    EXPECT_EQ(output.find("differs"), std::string::npos) << output;
}

}  // namespace
