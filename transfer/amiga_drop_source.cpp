#include "transfer/amiga_drop_source.h"

#include "transfer/clipboard_formats.h"

namespace dm {

namespace {

void SetDragLoop(IDataObject& data, DWORD running)
{
    if (const ClipboardFormats* formats = Formats())
        SetDwordData(data, formats->inShellDragLoop, running);
}

}  // namespace

AmigaDropSource* AmigaDropSource::New(IDataObject& data)
{
    return new (std::nothrow) AmigaDropSource(data);
}

AmigaDropSource::AmigaDropSource(IDataObject& data) : data_(data)
{
    data_.AddRef();
    SetDragLoop(data_, 1);
}

AmigaDropSource::~AmigaDropSource()
{
    data_.Release();
}

STDMETHODIMP AmigaDropSource::QueryInterface(REFIID riid, void** out)
{
    return QueryInterfaceFrom({{IID_IUnknown, this}, {IID_IDropSource, this}}, riid, out);
}

STDMETHODIMP AmigaDropSource::QueryContinueDrag(BOOL escapePressed, DWORD keyState)
{
    HRESULT answer = S_OK;
    if (escapePressed) {
        answer = DRAGDROP_S_CANCEL;
    } else {
        const DWORD buttons = keyState & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON);
        if (buttons_ == 0)
            buttons_ = buttons;
        if ((buttons & buttons_) == 0)
            answer = DRAGDROP_S_DROP;
        else if (buttons != buttons_)
            answer = DRAGDROP_S_CANCEL;
    }
    if (answer != S_OK)
        SetDragLoop(data_, 0);
    return answer;
}

}  // namespace dm
