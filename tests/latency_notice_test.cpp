// A slow USB adapter is told of once, when its port opens: on the terminal
// and in the port_opened event, from the latency timer the driver keeps (a
// made-up sysfs behind a pty, whose driver refuses the low-latency request);
// and --check counts it into the time for that port.
#include "ui/latency_notice.h"

#include <gtest/gtest.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "events/run_events.h"
#include "platform/serial_termios.h"
#include "support/pty_pair.h"
#include "support/shared_state_reset.h"
#include "support/temp_folder.h"
#include "term/script_precheck.h"
#include "term/terminal_app.h"

namespace {

int RefusingDriver(int, unsigned long, serial_struct*) {
    errno = ENOTTY;
    return -1;
}

std::string ReadAll(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, file) != nullptr)
        text += buffer;
    return text;
}

struct LatencyCase {
    const char* name;
    std::optional<int> timerMs;  // what the driver keeps; nullopt: no timer at all
    bool told;
};

class LatencyNoticeTest : public ::testing::TestWithParam<LatencyCase> {
protected:
    void SetUp() override {
        m_strTty = std::filesystem::canonical(m_pty.SlavePath()).filename().string();
        if (GetParam().timerMs) {
            const std::filesystem::path device = m_sys.Path() / "class" / "tty" / m_strTty / "device";
            std::filesystem::create_directories(device);
            std::ofstream(device / "latency_timer") << *GetParam().timerMs << "\n";
        }
        UseSerialDriver(RefusingDriver, m_sys.Path().string());
    }
    void TearDown() override { UseSerialDriver(nullptr, {}); }

    PtyPair m_pty;
    TempFolder m_sys{"latency_notice_test."};
    std::string m_strTty;
};

TEST_P(LatencyNoticeTest, ToldOnceWhenThePortOpens) {
    const LatencyCase& c = GetParam();
    const std::string text = LatencyNoticeText(m_pty.SlavePath(), c.timerMs);
    EXPECT_EQ(!text.empty(), c.told) << text;
    if (c.told) {
        EXPECT_NE(text.find(std::to_string(*c.timerMs) + " ms"), std::string::npos) << text;
        EXPECT_NE(text.find("/sys/class/tty/" + m_strTty + "/device/latency_timer"), std::string::npos) << text;
    }

    // A run that opens the port and waits a second for a receiver that
    // never comes.
    SharedStateReset reset;
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    RunEvents events(out);
    events.SetPort(m_pty.SlavePath());
    PortSettings settings;
    settings.m_strDevice = m_pty.SlavePath();
    TerminalOptions options;
    options.m_nTimeoutSeconds = 1;
    options.m_pEvents = &events;
    options.m_pOperatorOut = out;
    EXPECT_EQ(RunTerminal(settings, options).m_end, RunEnd::WaitTimedOut);
    std::size_t opened = 0;
    const std::string lines = ReadAll(out);
    for (std::size_t at = 0, end; (end = lines.find('\n', at)) != std::string::npos; at = end + 1) {
        const auto event = nlohmann::json::parse(lines.substr(at, end - at), nullptr, false);
        if (!event.is_object() || event["event"] != "port_opened")
            continue;
        ++opened;
        EXPECT_EQ(event.value("warning", std::string()), text);
    }
    EXPECT_EQ(opened, 1u);
    std::fclose(out);

    // --check for this port counts the timer into every frame's wait.
    std::FILE* report = std::tmpfile();
    const std::string script = (m_sys.Path() / "load.cmd").string();
    std::ofstream(script) << "CQ\r\nCX\r\n";
    ReportScriptCheck(script, report, CheckPort{m_pty.SlavePath(), c.timerMs});
    const std::string checked = ReadAll(report);
    EXPECT_NE(checked.find(c.timerMs ? "latency timer is " + std::to_string(*c.timerMs) + " ms: up to about"
                                     : std::string("no adapter latency timer is known")),
              std::string::npos)
        << checked;
    EXPECT_EQ(!text.empty() && checked.find(text) != std::string::npos, c.told) << checked;
    std::fclose(report);
}

INSTANTIATE_TEST_SUITE_P(Timers, LatencyNoticeTest,
                         ::testing::Values(LatencyCase{"NoTimer", std::nullopt, false},
                                           LatencyCase{"Low", 1, false}, LatencyCase{"AtTheLimit", 4, false},
                                           LatencyCase{"AboveTheLimit", 5, true},
                                           LatencyCase{"DriverDefault", 16, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
