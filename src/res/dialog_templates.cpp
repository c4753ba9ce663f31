#include "res/dialog_templates.h"

#include "platform/win_types.h"
#include "res/resource.h"

namespace {

using K = ControlKind;

constexpr const char kDialogFont[] = "MS Sans Serif";

// Builders that read like template lines.
constexpr ControlTemplate Group(const char* caption, DialogRect rect) {
    return {K::GroupBox, IDC_STATIC, caption, rect};
}
// The first radio button of a group starts the group and is its tab stop.
constexpr ControlTemplate FirstRadio(int id, const char* caption, DialogRect rect, bool enabled) {
    ControlTemplate c{K::RadioButton, id, caption, rect, enabled};
    c.groupStart = true;
    c.tabStop = true;
    return c;
}
constexpr ControlTemplate Radio(int id, const char* caption, DialogRect rect, bool enabled) {
    return {K::RadioButton, id, caption, rect, enabled};
}
constexpr ControlTemplate Text(int id, const char* caption, DialogRect rect, bool noWrap) {
    ControlTemplate c{K::StaticText, id, caption, rect};
    c.noWrap = noWrap;
    return c;
}
constexpr ControlTemplate Progress(int id, const char* caption, DialogRect rect) {
    ControlTemplate c{K::ProgressBar, id, caption, rect};
    c.bordered = true;
    return c;
}
constexpr ControlTemplate Button(int id, const char* caption, DialogRect rect, bool isDefault) {
    ControlTemplate c{K::PushButton, id, caption, rect};
    c.defaultButton = isDefault;
    c.tabStop = true;
    return c;
}

// "Port Setup": seven radio groups, Connect and Cancel. Only the Com Port
// buttons are all enabled; every other group has one enabled button, the
// one the dialog starts with.
constexpr ControlTemplate kPortSetupControls[] = {
    Group("&Baud Rate", {7, 4, 210, 38}),
    FirstRadio(IDC_BAUD_RATE + 0, "300", {15, 15, 45, 10}, false),
    Radio(IDC_BAUD_RATE + 1, "600", {65, 15, 45, 10}, false),
    Radio(IDC_BAUD_RATE + 2, "1200", {115, 15, 45, 10}, false),
    Radio(IDC_BAUD_RATE + 3, "2400", {165, 15, 45, 10}, false),
    Radio(IDC_BAUD_RATE + 4, "4800", {15, 27, 45, 10}, false),
    Radio(IDC_BAUD_RATE + 5, "9600", {65, 27, 45, 10}, false),
    Radio(IDC_BAUD_RATE + 6, "19200", {115, 27, 45, 10}, true),
    Radio(IDC_BAUD_RATE + 7, "38400", {165, 27, 45, 10}, false),

    Group("&Data Bits", {7, 45, 66, 38}),
    FirstRadio(IDC_DATA_BITS + 0, "7", {15, 56, 50, 10}, false),
    Radio(IDC_DATA_BITS + 1, "8", {15, 68, 50, 10}, true),

    Group("&Stop Bits", {79, 45, 66, 38}),
    FirstRadio(IDC_STOP_BITS + 0, "1", {87, 56, 50, 10}, true),
    Radio(IDC_STOP_BITS + 1, "2", {87, 68, 50, 10}, false),

    Group("&Echo", {151, 45, 66, 38}),
    FirstRadio(IDC_ECHO + 0, "Off", {159, 56, 50, 10}, true),
    Radio(IDC_ECHO + 1, "On", {159, 68, 50, 10}, false),

    Group("&Parity", {7, 86, 52, 62}),
    FirstRadio(IDC_PARITY + 0, "None", {15, 97, 40, 10}, false),
    Radio(IDC_PARITY + 1, "Odd", {15, 109, 40, 10}, true),
    Radio(IDC_PARITY + 2, "Even", {15, 121, 40, 10}, false),

    Group("&Com Port", {63, 86, 90, 62}),
    FirstRadio(IDC_COM_PORT + 0, "Com1", {69, 97, 82, 10}, true),
    Radio(IDC_COM_PORT + 1, "Com2", {69, 109, 82, 10}, true),
    Radio(IDC_COM_PORT + 2, "Com3", {69, 121, 82, 10}, true),
    Radio(IDC_COM_PORT + 3, "Com4", {69, 133, 82, 10}, true),

    Group("&Flow Control", {157, 86, 60, 62}),
    FirstRadio(IDC_FLOW_CONTROL + 0, "None", {163, 97, 50, 10}, true),
    Radio(IDC_FLOW_CONTROL + 1, "Hardware", {163, 109, 50, 10}, false),

    Button(IDC_CONNECT, "Connect", {52, 164, 50, 14}, true),
    Button(IDCANCEL, "Cancel", {122, 164, 50, 14}, false),
};

// "Port Initialization": Back (default) and Cancel under the waiting text.
constexpr ControlTemplate kPortInitControls[] = {
    Button(IDC_BACK, "Back", {18, 56, 50, 14}, true),
    Button(IDCANCEL, "Cancel", {76, 56, 50, 14}, false),
    Text(IDC_STATIC, "Power on the receiver.\n\nWaiting for Connection...", {10, 10, 124, 30}, false),
};

// "Code Upload in Progress": the command line, the percentage, the bar and
// Cancel centred at the bottom.
constexpr ControlTemplate kUploadControls[] = {
    Button(IDCANCEL, "Cancel", {97, 96, 50, 14}, false),
    Progress(IDC_PROGRESS, "Progress1", {16, 70, 211, 10}),
    Text(IDC_COMMAND_TEXT, "Command:", {16, 14, 208, 8}, true),
    Text(IDC_PERCENT_TEXT, "", {16, 44, 28, 8}, false),
};

constexpr DialogTemplate kTemplates[] = {
    {IDD_PORT_SETUP, "Port Setup", 224, 185, kDialogFont, 8, true, false, kPortSetupControls},
    {IDD_PORT_INIT, "Port Initialization", 144, 81, kDialogFont, 8, false, false, kPortInitControls},
    {IDD_UPLOAD, "Code Upload in Progress", 244, 120, kDialogFont, 8, true, true, kUploadControls},
};

}  // namespace

const DialogTemplate* FindDialogTemplate(int templateId) {
    for (const DialogTemplate& dlg : kTemplates)
        if (dlg.id == templateId)
            return &dlg;
    return nullptr;
}

const ControlTemplate* FindControl(const DialogTemplate& dlg, int controlId) {
    if (controlId == IDC_STATIC)
        return nullptr;
    for (const ControlTemplate& control : dlg.controls)
        if (control.id == controlId)
            return &control;
    return nullptr;
}

std::vector<const ControlTemplate*> RadioGroup(const DialogTemplate& dlg, int firstButtonId) {
    std::vector<const ControlTemplate*> group;
    const auto& controls = dlg.controls;
    for (size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].id != firstButtonId)
            continue;
        if (controls[i].kind != K::RadioButton || !controls[i].groupStart)
            return group;
        group.push_back(&controls[i]);
        for (size_t j = i + 1; j < controls.size(); ++j) {
            if (controls[j].kind != K::RadioButton || controls[j].groupStart)
                break;
            group.push_back(&controls[j]);
        }
        return group;
    }
    return group;
}

const ControlTemplate* DefaultButton(const DialogTemplate& dlg) {
    for (const ControlTemplate& control : dlg.controls)
        if (control.kind == K::PushButton && control.defaultButton)
            return &control;
    return nullptr;
}
