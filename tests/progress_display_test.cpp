// ProgressDisplay: the lines a pipe gets and the bar a terminal gets.
#include "term/progress_display.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// Runs write(display) on a display over a temporary file (binary: no line
// end translation on any system); returns the text.
template <typename Write>
std::string Capture(bool live, Write write) {
    std::FILE* stream = std::tmpfile();
    if (stream == nullptr)
        return "(no temporary file)";
    {
        ProgressDisplay display(stream, live);
        write(display);
    }
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stream)) > 0;)
        text.append(buffer, n);
    std::fclose(stream);
    return text;
}

}  // namespace

TEST(ProgressDisplayTest, PipeGetsALinePerCommandAndPerChangeOfPercentage) {
    const std::string text = Capture(false, [](ProgressDisplay& d) {
        d.Command("Command: E123456");
        d.Position(10);
        d.Percent("10 %");
        d.Percent("10 %");
        d.Percent("55 %");
        d.Message("Download completed successfully\n\nThe receiver will restart automatically.");
    });
    EXPECT_EQ(text,
              "Command: E123456\n10 %\n55 %\n"
              "Download completed successfully\n\nThe receiver will restart automatically.\n");
}

TEST(ProgressDisplayTest, TerminalRedrawsTheBarInPlaceAndKeepsCommandsAboveIt) {
    const std::string text = Capture(true, [](ProgressDisplay& d) {
        d.Position(50);
        d.Percent("50 %");
        d.Command("Command: X");
        d.Message("done");
    });
    const std::string bar = ProgressDisplay::BarText(50, "50 %", 40);
    EXPECT_EQ(text, "\r\033[K" + bar + "\r\033[KCommand: X\n\r\033[K" + bar + "\ndone\n");
}

struct BarCase {
    int position;
    std::string expected;
};

class BarTextTest : public ::testing::TestWithParam<BarCase> {};

TEST_P(BarTextTest, FillsInProportionWithinItsWidth) {
    EXPECT_EQ(ProgressDisplay::BarText(GetParam().position, "x", 10), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Bars, BarTextTest,
                         ::testing::Values(BarCase{0, "[          ] x"}, BarCase{55, "[#####     ] x"},
                                           BarCase{100, "[##########] x"}, BarCase{250, "[##########] x"},
                                           BarCase{-5, "[          ] x"}));
