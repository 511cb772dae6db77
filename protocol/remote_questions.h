// The questions a remote command may have to ask the user when the server asks for a
// confirmation: dialogs on Windows, prompts in the command-line client, scripts in tests.
#pragma once

#include "core/question_dialogs.h"
#include "protocol/remote_item.h"

#include <string>

namespace dm {

class RemoteQuestions {
public:
    virtual ~RemoteQuestions() = default;

    // Whether to replace what `name` (the server's text) stands for; `messageId` is the
    // question's text. Only Yes and No are offered when `singleItem`.
    virtual OverwriteAnswer AskOverwrite(UINT messageId, const std::string& name,
                                         bool singleItem) = 0;

    // Whether to erase `device`, named `name` by the server; true only to go ahead.
    virtual bool ConfirmFormat(const std::string& name, const RemoteItem& device) = 0;
};

#ifdef _WIN32
// The module's dialogs, owned by `owner`.
class DialogQuestions : public RemoteQuestions {
public:
    explicit DialogQuestions(HWND owner) : owner_(owner) {}
    OverwriteAnswer AskOverwrite(UINT messageId, const std::string& name, bool singleItem) override;
    bool ConfirmFormat(const std::string& name, const RemoteItem& device) override;

private:
    HWND owner_;
};
#endif

}  // namespace dm
