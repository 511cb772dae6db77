#include "protocol/remote_item.h"

namespace dm {

std::string RemotePath(const RemoteItem& item)
{
    std::string path = item.parentPath;
    if (!item.parentPath.empty() && !item.name.empty())
        path += '/';
    path += item.name;
    return path;
}

std::string RemotePathField(const RemoteItem& item)
{
    std::string field = RemotePath(item);
    field.resize(item.parentPath.size() + item.name.size() + 2, '\0');
    return field;
}

}  // namespace dm
