// A piece of dialog text written in the link markup, shown in a read-only rich-text control whose
// links are coloured, underlined under the mouse and opened when clicked. The dialog hands it the
// mouse moves (TrackMouse) and clicks (OpenHotLink) that the control reports (EN_MSGFILTER).
// The control stays enabled: a disabled one draws its links grey.
#pragma once

#include "core/link_markup.h"

#include <windows.h>

#include <string>

namespace dm {

class LinkLabel {
public:
    // Instead of opening a target with the shell.
    using OpenTarget = bool (*)(const std::string& target, void* context);

    LinkLabel();
    ~LinkLabel();
    LinkLabel(const LinkLabel&) = delete;
    LinkLabel& operator=(const LinkLabel&) = delete;

    // `text` is markup; a string id is loaded from `module` first.
    HRESULT SetText(HWND dialog, int controlId, const std::string& text);
    HRESULT SetText(HWND dialog, int controlId, UINT textId, HINSTANCE module);
    // One link alone; with its text or target empty the label shows nothing.
    HRESULT SetLink(HWND dialog, int controlId, const std::string& text, const std::string& target);

    // On every mouse move over the dialog: true when the pointer is on a link.
    bool TrackMouse();
    bool OpenHotLink();
    void SetOpenTarget(OpenTarget open, void* context)
    {
        open_ = open;
        openContext_ = context;
    }

    const LinkMarkup& Parsed() const { return parsed_; }
    HWND Window() const { return richText_; }
    int HotLink() const { return hot_; }

private:
    void PaintLink(int index, bool hot);
    bool HasRichText20() const { return richEdit20_ != nullptr; }

    HMODULE richEdit10_ = nullptr;
    HMODULE richEdit20_ = nullptr;
    bool ownsWindow_ = false;
    HWND dialog_ = nullptr;
    HWND richText_ = nullptr;
    HCURSOR hand_ = nullptr;
    LinkMarkup parsed_;
    COLORREF linkColour_ = RGB(0, 0, 255);
    int hot_ = -1;
    OpenTarget open_ = nullptr;
    void* openContext_ = nullptr;
};

}  // namespace dm
