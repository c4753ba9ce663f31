// The toolkit session a GUI test program runs its tests in (the GUI tests
// alone include this, and link the wx front end).
//
// Without a display no test of the program can run; that must fail the
// program, not pass as skipped tests: the process ends with status 1 before
// any test, where CTest sees it.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ui/wx/wx_app.h"

class WxTestEnvironment : public testing::Environment {
public:
    explicit WxTestEnvironment(std::string programName) : m_strProgramName(std::move(programName)) {}

    void SetUp() override {
        if (m_session.Start(m_strProgramName))
            return;
        std::fprintf(stderr, "%s: cannot open the display (DISPLAY=%s)\n", m_strProgramName.c_str(),
                     std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
        std::exit(1);
    }

private:
    std::string m_strProgramName;
    WxToolkitSession m_session;
};
