#include "cli/terminal_questions.h"

#include "cli/local_files.h"
#include "cli/text_encoding.h"
#include "core/messages.h"
#include "core/module.h"
#include "core/size_text.h"
#include "resources/string_ids.h"

#include <cctype>
#include <cstdio>
#include <iostream>
#include <string>

namespace dm::cli {

namespace {

std::string Text(UINT id, MessageArgs args = {})
{
    std::string text = FormatStringById(id, ThisModule(), args).value_or(std::string());
    // Message texts carry Windows line ends.
    for (size_t at; (at = text.find('\r')) != std::string::npos;)
        text.erase(at, 1);
    return text;
}

}  // namespace

TerminalQuestions::TerminalQuestions(bool assumeYes)
    : assumeYes_(assumeYes), interactive_(IsTerminal(0) && IsTerminal(2))
{
}

char TerminalQuestions::Ask(const std::string& question)
{
    std::cerr << question << std::flush;
    std::string line;
    if (!std::getline(std::cin, line))
        return 0;
    for (char c : line)
        if (!std::isspace(static_cast<unsigned char>(c)))
            return char(std::tolower(static_cast<unsigned char>(c)));
    return 0;
}

OverwriteAnswer TerminalQuestions::AskOverwrite(UINT messageId, const std::string& name,
                                                bool singleItem)
{
    return Overwrite(messageId, FromAmigaText(name, TextSide::Output), singleItem);
}

OverwriteAnswer TerminalQuestions::AskReplaceLocal(const std::string& localPath, bool singleItem)
{
    return Overwrite(IDS_OVERWRITE_FILE, localPath, singleItem);
}

OverwriteAnswer TerminalQuestions::Overwrite(UINT messageId, const std::string& name,
                                             bool singleItem)
{
    if (assumeYes_)
        return OverwriteAnswer::YesToAll;
    if (!interactive_) {
        std::cerr << "drovemark: " << name << " exists; not replaced (use --yes to replace)\n";
        return OverwriteAnswer::No;
    }
    const std::string prompt = Text(IDS_CAPTION_CONFIRM_OVERWRITE) + ": " + name + "\n" +
                               Text(messageId) +
                               (singleItem ? " [y]es, [n]o: " : " [y]es, [a]ll, [n]o, [c]ancel: ");
    while (true) {
        switch (Ask(prompt)) {
        case 'y': return OverwriteAnswer::Yes;
        case 'a':
            if (!singleItem)
                return OverwriteAnswer::YesToAll;
            break;
        case 'n': return OverwriteAnswer::No;
        case 'c':
        case 0: return OverwriteAnswer::Cancel;
        default: break;
        }
    }
}

bool TerminalQuestions::ConfirmFormat(const std::string& name, const RemoteItem& device)
{
    if (assumeYes_)
        return true;
    if (!interactive_) {
        std::cerr << "drovemark: formatting needs --yes when not asked on a terminal\n";
        return false;
    }
    if (Ask(Text(IDS_CAPTION_FORMAT) + ": " + FromAmigaText(name, TextSide::Output) + "\n" + Text(IDS_FORMAT_CONFIRM) +
            " [y]es, [n]o: ") != 'y')
        return false;
    if (device.size < 2000000)
        return true;
    const std::string deviceName = device.name.substr(0, device.name.find(':')) + ":";
    const int percent = int(double(device.usedSpace) * 100.0 / double(device.size));
    return Ask(Text(IDS_FORMAT_WARNING, {deviceName, SizeText(device.size, true, 0), percent}) +
               " [y]es, [n]o: ") == 'y';
}

}  // namespace dm::cli
