// The feedback side of a drag out of the view: when the drag ends, and telling the data object
// that the drag loop is over so that drawers are expanded only once something was dropped.
#pragma once

#include "shell/com_object.h"

#include <oleidl.h>

namespace dm {

class AmigaDropSource final : public IDropSource, private ComObject {
public:
    // Tells `data` that the drag loop runs; null when out of memory.
    static AmigaDropSource* New(IDataObject& data);

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefObject(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseObject(); }

    STDMETHODIMP QueryContinueDrag(BOOL escapePressed, DWORD keyState) override;
    STDMETHODIMP GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

private:
    explicit AmigaDropSource(IDataObject& data);
    ~AmigaDropSource() override;

    IDataObject& data_;
    DWORD buttons_ = 0;
};

}  // namespace dm
