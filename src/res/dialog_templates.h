// The three dialog templates as data: caption, size and font of each dialog
// and, in template order, its controls with id, caption, kind, place and
// state. A front end builds its windows from these; the dialogs' logic only
// knows the ids.
//
// Places and sizes are in dialog units: a horizontal unit is a quarter of the
// dialog font's average character width, a vertical unit an eighth of its
// height.
#pragma once

#include <span>
#include <vector>

enum class ControlKind {
    PushButton,
    GroupBox,
    RadioButton,   // automatic radio button
    StaticText,    // left-aligned
    ProgressBar,   // range 0..100, starts at 0
};

// A control without an id of its own (labels, group boxes).
constexpr int IDC_STATIC = -1;

struct DialogRect {
    int x;
    int y;
    int cx;
    int cy;
};

struct ControlTemplate {
    ControlKind kind;
    int id;
    const char* caption;   // "&" marks the mnemonic; "\n" breaks a line
    DialogRect rect;
    bool enabled = true;
    bool defaultButton = false;   // the push button Enter activates
    bool groupStart = false;      // first control of a radio group
    bool tabStop = false;
    bool noWrap = false;          // static text kept on one line
    bool bordered = false;
};

struct DialogTemplate {
    int id;
    const char* caption;
    int cx;
    int cy;
    const char* fontName;
    int fontPoints;
    // A system menu gives the title bar its close box.
    bool systemMenu;
    bool minimizeBox;
    std::span<const ControlTemplate> controls;
};

// The template with this id, or nullptr for an unknown id.
const DialogTemplate* FindDialogTemplate(int templateId);

// The control with this id in dlg, or nullptr.
const ControlTemplate* FindControl(const DialogTemplate& dlg, int controlId);

// The radio buttons of the group whose first button has firstButtonId, in
// index order (the group runs up to the next group start or non-radio
// control). Empty when firstButtonId does not start a group.
std::vector<const ControlTemplate*> RadioGroup(const DialogTemplate& dlg, int firstButtonId);

// The default push button of dlg, or nullptr when it has none.
const ControlTemplate* DefaultButton(const DialogTemplate& dlg);

// Dialog units to the dialog's own font measure: horizontal units per
// average character width, vertical units per character height.
inline constexpr int kDialogUnitsPerCharX = 4;
inline constexpr int kDialogUnitsPerCharY = 8;
