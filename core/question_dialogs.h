// The yes/no question and the overwrite question, as modal dialogs of the module.
#pragma once

#include "core/platform.h"

#include <string>

namespace dm {

// The answer to an overwrite question, kept by the caller for a whole batch (one drop, one
// paste, one format). A batch starts with Yes.
enum class OverwriteAnswer : int {
    Yes = 0,       // replace this one
    YesToAll = 1,  // replace this one and every later one without asking
    No = 2,        // skip this one
    Cancel = 3,    // skip this one; the caller stops the batch
};

#ifdef _WIN32

struct ConfirmRequest {
    std::string nameText;  // shown in the read-only name field
    UINT captionId = 0;
    UINT messageId = 0;
    UINT iconId = 0;
    bool singleItem = false;  // only Yes and No are offered
    OverwriteAnswer answer = OverwriteAnswer::Cancel;
};

// IDYES or IDNO; No (also when the dialog cannot be created or is closed with Escape).
int YesNoDialog(const std::string& caption, const std::string& message, UINT iconId, HWND owner);

// Fills in and returns `request.answer`; Cancel when the dialog cannot be created.
OverwriteAnswer ConfirmDialog(ConfirmRequest& request, HWND owner);

#endif

}  // namespace dm
