// Overwrite and format questions asked on the terminal; without one, only --yes says yes.
#pragma once

#include "protocol/remote_questions.h"

namespace dm::cli {

class TerminalQuestions : public RemoteQuestions {
public:
    explicit TerminalQuestions(bool assumeYes);
    OverwriteAnswer AskOverwrite(UINT messageId, const std::string& name, bool singleItem) override;
    bool ConfirmFormat(const std::string& name, const RemoteItem& device) override;

private:
    // The first letter of the user's answer, lower case; 0 at the end of input.
    char Ask(const std::string& question);

    bool assumeYes_;
    bool interactive_;
};

}  // namespace dm::cli
