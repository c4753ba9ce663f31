#include "res/dialog_templates.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win_types.h"
#include "res/resource.h"

namespace {

struct GroupCase {
    const char* groupCaption;
    int firstButtonId;
    std::vector<std::string> captions;
    std::vector<bool> enabled;
};

const GroupCase kPortSetupGroups[] = {
    {"&Baud Rate", IDC_BAUD_RATE, {"300", "600", "1200", "2400", "4800", "9600", "19200", "38400"},
     {false, false, false, false, false, false, true, false}},
    {"&Data Bits", IDC_DATA_BITS, {"7", "8"}, {false, true}},
    {"&Stop Bits", IDC_STOP_BITS, {"1", "2"}, {true, false}},
    {"&Echo", IDC_ECHO, {"Off", "On"}, {true, false}},
    {"&Parity", IDC_PARITY, {"None", "Odd", "Even"}, {false, true, false}},
    {"&Com Port", IDC_COM_PORT, {"Com1", "Com2", "Com3", "Com4"}, {true, true, true, true}},
    {"&Flow Control", IDC_FLOW_CONTROL, {"None", "Hardware"}, {true, false}},
};

const DialogTemplate& Template(int id) {
    const DialogTemplate* dlg = FindDialogTemplate(id);
    EXPECT_NE(dlg, nullptr) << id;
    return *dlg;
}

bool Inside(const DialogRect& inner, const DialogRect& outer) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.cx <= outer.x + outer.cx &&
           inner.y + inner.cy <= outer.y + outer.cy;
}

bool Overlap(const DialogRect& a, const DialogRect& b) {
    return a.x < b.x + b.cx && b.x < a.x + a.cx && a.y < b.y + b.cy && b.y < a.y + a.cy;
}

TEST(PortSetupTemplate, RadioGroupsHaveTheirCaptionsAndOnlyTheNamedButtonsEnabled) {
    const DialogTemplate& dlg = Template(IDD_PORT_SETUP);
    for (const GroupCase& expected : kPortSetupGroups) {
        SCOPED_TRACE(expected.groupCaption);
        const auto group = RadioGroup(dlg, expected.firstButtonId);
        ASSERT_EQ(group.size(), expected.captions.size());
        for (size_t i = 0; i < group.size(); ++i) {
            EXPECT_EQ(group[i]->id, expected.firstButtonId + static_cast<int>(i));
            EXPECT_EQ(group[i]->caption, expected.captions[i]);
            EXPECT_EQ(group[i]->enabled, expected.enabled[i]) << expected.captions[i];
            EXPECT_EQ(group[i]->groupStart, i == 0);
            EXPECT_EQ(group[i]->tabStop, i == 0);
        }
        // The group box with this caption holds every button of the group.
        const ControlTemplate* box = nullptr;
        for (const ControlTemplate& control : dlg.controls)
            if (control.kind == ControlKind::GroupBox && std::string(control.caption) == expected.groupCaption)
                box = &control;
        ASSERT_NE(box, nullptr);
        for (const ControlTemplate* button : group)
            EXPECT_TRUE(Inside(button->rect, box->rect)) << button->caption;
    }
}

TEST(PortSetupTemplate, ConnectIsTheDefaultButtonAndCancelIsIdCancel) {
    const DialogTemplate& dlg = Template(IDD_PORT_SETUP);
    EXPECT_STREQ(dlg.caption, "Port Setup");
    EXPECT_EQ(dlg.cx, 224);
    EXPECT_EQ(dlg.cy, 185);
    EXPECT_TRUE(dlg.systemMenu);
    EXPECT_FALSE(dlg.minimizeBox);
    ASSERT_NE(DefaultButton(dlg), nullptr);
    EXPECT_EQ(DefaultButton(dlg)->id, IDC_CONNECT);
    EXPECT_STREQ(DefaultButton(dlg)->caption, "Connect");
    const ControlTemplate* cancel = FindControl(dlg, IDCANCEL);
    ASSERT_NE(cancel, nullptr);
    EXPECT_STREQ(cancel->caption, "Cancel");
    EXPECT_FALSE(cancel->defaultButton);
}

TEST(PortInitTemplate, BackIsTheDefaultAndThereIsNoCloseBox) {
    const DialogTemplate& dlg = Template(IDD_PORT_INIT);
    EXPECT_STREQ(dlg.caption, "Port Initialization");
    EXPECT_EQ(dlg.cx, 144);
    EXPECT_EQ(dlg.cy, 81);
    EXPECT_FALSE(dlg.systemMenu);
    ASSERT_NE(DefaultButton(dlg), nullptr);
    EXPECT_EQ(DefaultButton(dlg)->id, IDC_BACK);
    EXPECT_STREQ(DefaultButton(dlg)->caption, "Back");
    ASSERT_EQ(dlg.controls.size(), 3u);
    EXPECT_EQ(dlg.controls[1].id, IDCANCEL);
    EXPECT_STREQ(dlg.controls[2].caption, "Power on the receiver.\n\nWaiting for Connection...");
    // Back sits left of Cancel, both below the text.
    EXPECT_LT(dlg.controls[0].rect.x, dlg.controls[1].rect.x);
    EXPECT_GE(dlg.controls[0].rect.y, dlg.controls[2].rect.y + dlg.controls[2].rect.cy);
}

TEST(UploadTemplate, ControlsInTemplateOrderWithMinimizeBoxAndNoDefaultButton) {
    const DialogTemplate& dlg = Template(IDD_UPLOAD);
    EXPECT_STREQ(dlg.caption, "Code Upload in Progress");
    EXPECT_EQ(dlg.cx, 244);
    EXPECT_EQ(dlg.cy, 120);
    EXPECT_TRUE(dlg.systemMenu);
    EXPECT_TRUE(dlg.minimizeBox);
    EXPECT_EQ(DefaultButton(dlg), nullptr);
    ASSERT_EQ(dlg.controls.size(), 4u);
    EXPECT_EQ(dlg.controls[0].id, IDCANCEL);
    EXPECT_EQ(dlg.controls[1].id, IDC_PROGRESS);
    EXPECT_EQ(dlg.controls[1].kind, ControlKind::ProgressBar);
    EXPECT_EQ(dlg.controls[1].rect.cx, 211);
    EXPECT_EQ(dlg.controls[1].rect.cy, 10);
    EXPECT_EQ(dlg.controls[2].id, IDC_COMMAND_TEXT);
    EXPECT_STREQ(dlg.controls[2].caption, "Command:");
    EXPECT_TRUE(dlg.controls[2].noWrap);
    EXPECT_EQ(dlg.controls[2].rect.cx, 208);
    EXPECT_EQ(dlg.controls[3].id, IDC_PERCENT_TEXT);
    EXPECT_STREQ(dlg.controls[3].caption, "");
    EXPECT_EQ(dlg.controls[3].rect.cx, 28);
    // Top to bottom: command line, percentage, bar, Cancel centred.
    EXPECT_LT(dlg.controls[2].rect.y, dlg.controls[3].rect.y);
    EXPECT_LT(dlg.controls[3].rect.y, dlg.controls[1].rect.y);
    EXPECT_LT(dlg.controls[1].rect.y, dlg.controls[0].rect.y);
    const DialogRect& cancel = dlg.controls[0].rect;
    EXPECT_LE(std::abs(cancel.x + cancel.cx / 2 - dlg.cx / 2), 1);
}

class EveryTemplate : public testing::TestWithParam<int> {};

TEST_P(EveryTemplate, ControlsFitTheDialogAndDoNotOverlap) {
    const DialogTemplate& dlg = Template(GetParam());
    const DialogRect client{0, 0, dlg.cx, dlg.cy};
    std::vector<const ControlTemplate*> leaves;
    for (const ControlTemplate& control : dlg.controls) {
        EXPECT_TRUE(Inside(control.rect, client)) << control.caption;
        EXPECT_GT(control.rect.cx, 0);
        EXPECT_GT(control.rect.cy, 0);
        if (control.kind != ControlKind::GroupBox)
            leaves.push_back(&control);
        if (control.id != IDC_STATIC) {
            EXPECT_EQ(FindControl(dlg, control.id), &control) << "id used twice: " << control.id;
        }
    }
    for (size_t i = 0; i < leaves.size(); ++i)
        for (size_t j = i + 1; j < leaves.size(); ++j)
            EXPECT_FALSE(Overlap(leaves[i]->rect, leaves[j]->rect))
                << leaves[i]->caption << " / " << leaves[j]->caption;
    EXPECT_STREQ(dlg.fontName, "MS Sans Serif");
    EXPECT_EQ(dlg.fontPoints, 8);
}

INSTANTIATE_TEST_SUITE_P(Templates, EveryTemplate, testing::Values(IDD_PORT_SETUP, IDD_PORT_INIT, IDD_UPLOAD));

TEST(TemplateLookup, UnknownIdsFindNothing) {
    EXPECT_EQ(FindDialogTemplate(128), nullptr);
    const DialogTemplate& dlg = Template(IDD_PORT_SETUP);
    EXPECT_EQ(FindControl(dlg, 4242), nullptr);
    EXPECT_EQ(FindControl(dlg, IDC_STATIC), nullptr);
    EXPECT_TRUE(RadioGroup(dlg, 4242).empty());
    // A button inside a group does not start one.
    EXPECT_TRUE(RadioGroup(dlg, IDC_BAUD_RATE + 1).empty());
    EXPECT_TRUE(RadioGroup(dlg, IDC_CONNECT).empty());
}

}  // namespace
