// The "What's This?" popup: a borderless, topmost window with a wrapped text next to a dialog
// control. One popup per thread; showing it for another owner hides the first.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace dm {

struct HelpPopupRequest {
    enum Behaviour : uint32_t {
        ForwardMouse = 1,
        HideOnClick = 2,
        HideOnKeyRelease = 4,
        ShowActivated = 8,
        Balloon = 16,
    };
    enum Position : uint32_t {
        CentreX = 1,
        RightX = 2,
        CentreY = 4,
        BottomY = 8,
        OwnerClient = 16,
        KeepInsideX = 32,
        KeepInsideY = 64,
        ComputeOnly = 128,
        TailAtX = 256,  // balloon only: the tip of its tail is at x
    };
    HINSTANCE module = nullptr;
    HWND owner = nullptr;
    std::string text;  // ANSI code page
    uint32_t behaviour = HideOnClick | HideOnKeyRelease | ShowActivated;
    uint32_t autoHideMs = 0;
    int32_t wrapWidth = 300;  // negative: fixed total width of -wrapWidth
    uint32_t lineGap = 3;
    uint32_t sideMargin = 18;
    uint32_t topMargin = 8;
    uint32_t extraTop = 0;
    uint32_t extraBottom = 0;
    int outerFrame = BLACK_BRUSH;
    int innerFrame = LTGRAY_BRUSH;  // NULL_BRUSH: none
    int background = -1;            // system colour index; -1: window colour, or tooltip when white
    int textColour = COLOR_WINDOWTEXT;
    uint32_t fontSelector = 1;      // 1: default GUI font, else the status-bar font
    int x = 0;
    int y = 0;
    uint32_t position = 0;
};

// Result bits of ShowHelpPopup.
enum HelpPopupResult : uint32_t { kPopupPlaced = 1, kPopupFitsX = 2, kPopupFitsY = 4 };

// Lays the text out and places (and, unless computing only, shows) the popup; 0 on failure,
// which hides it.
uint32_t ShowHelpPopup(const HelpPopupRequest& request);
void HideHelpPopup();

// The help string `helpId` for control `controlId` of `dialog`, below the control, or above it
// when there is no room below.
bool ShowControlHelp(HWND dialog, int controlId, UINT helpId, HINSTANCE module);

// The popup of this thread while it is shown (for tests and the demonstration).
HWND HelpPopupWindow();

}  // namespace dm
