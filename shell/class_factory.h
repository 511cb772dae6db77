// The one class factory of the module: the namespace folder or the settings sheet's extension,
// chosen by the interface asked for.
#pragma once

#include "shell/com_object.h"

#include <unknwn.h>

namespace dm {

class ClassFactory final : public IClassFactory, private ComObject {
public:
    static HRESULT Create(REFIID riid, void** out);

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    ClassFactory() = default;
    ~ClassFactory() override = default;
};

}  // namespace dm
