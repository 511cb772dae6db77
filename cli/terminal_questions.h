// Overwrite and format questions asked on the terminal; without one, only --yes says yes.
#pragma once

#include "protocol/remote_questions.h"

namespace dm::cli {

class TerminalQuestions : public RemoteQuestions {
public:
    explicit TerminalQuestions(bool assumeYes);
    // `name` as the Amiga sent it (ISO-8859-1).
    OverwriteAnswer AskOverwrite(UINT messageId, const std::string& name, bool singleItem) override;
    // Whether a download may replace the file at `localPath` (as this computer names it).
    OverwriteAnswer AskReplaceLocal(const std::string& localPath, bool singleItem);
    // Whether questions reach a person (and are not all answered yes).
    bool Interactive() const { return interactive_ && !assumeYes_; }
    bool ConfirmFormat(const std::string& name, const RemoteItem& device) override;

private:
    OverwriteAnswer Overwrite(UINT messageId, const std::string& shownName, bool singleItem);
    // The first letter of the user's answer, lower case; 0 at the end of input.
    char Ask(const std::string& question);

    bool assumeYes_;
    bool interactive_;
};

}  // namespace dm::cli
