#include "protocol/remote_questions.h"

#ifdef _WIN32

#  include "core/messages.h"
#  include "core/module.h"
#  include "core/size_text.h"
#  include "resources/resource_ids.h"
#  include "resources/string_ids.h"

namespace dm {

namespace {
constexpr uint32_t kSecondWarningCapacity = 2000000;
}

OverwriteAnswer DialogQuestions::AskOverwrite(UINT messageId, const std::string& name,
                                              bool singleItem)
{
    ConfirmRequest request;
    request.nameText = name;
    request.captionId = IDS_CAPTION_CONFIRM_OVERWRITE;
    request.messageId = messageId;
    request.iconId = IDI_OVERWRITE;
    request.singleItem = singleItem;
    return ConfirmDialog(request, owner_);
}

bool DialogQuestions::ConfirmFormat(const std::string& name, const RemoteItem& device)
{
    ConfirmRequest request;
    request.nameText = name;
    request.captionId = IDS_CAPTION_FORMAT;
    request.messageId = IDS_FORMAT_CONFIRM;
    request.iconId = IDI_QUESTION_MARK;
    request.singleItem = true;
    if (ConfirmDialog(request, owner_) != OverwriteAnswer::Yes)
        return false;
    if (device.size < kSecondWarningCapacity)
        return true;

    // A large disk: ask again, with what would be lost.
    const std::string deviceName = device.name.substr(0, device.name.find(':')) + ":";
    const std::string capacity = SizeText(device.size, true, 0);
    const int percent = int(double(device.usedSpace) * 100.0 / double(device.size));
    const std::optional<std::string> caption =
        LoadStringById(IDS_CAPTION_FORMAT, ThisModule(), 500);
    const std::optional<std::string> warning =
        FormatStringById(IDS_FORMAT_WARNING, ThisModule(), {deviceName, capacity, percent});
    if (!caption || !warning)
        return false;
    return YesNoDialog(*caption, *warning, IDI_WARNING_SIGN, owner_) == IDYES;
}

}  // namespace dm

#endif
