// What a folder asks of the views attached to it. A view's windows belong to the thread that
// made the view, so only that thread updates them; any other thread posts the request, which
// never waits (see folder_items.h for the whole rule).
#pragma once

#include <windows.h>

namespace dm {

enum class ViewUpdate {
    Refill,    // show the folder's list again
    CutMarks,  // dim the rows of the items last cut to the clipboard, and only those
};

class FolderView {
public:
    virtual DWORD OwnerThreadId() const = 0;
    // On the owner thread only.
    virtual void Update(ViewUpdate update) = 0;
    // From any thread; the owner thread carries it out when it next reads its messages.
    virtual void PostUpdate(ViewUpdate update) = 0;

protected:
    ~FolderView() = default;
};

}  // namespace dm
