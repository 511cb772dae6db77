#include "shell/amiga_context_menu.h"

#include "core/messages.h"
#include "core/module.h"
#include "resources/resource_ids.h"
#include "shell/item_id.h"
#include "shell/ui_object_factories.h"

#include <cstring>
#include <string>

namespace dm {

namespace {

struct Verb {
    ViewCommand command;
    const char* verb;
};

// Also the order in which a verb given by name is looked for.
constexpr Verb kVerbs[] = {
    {ViewCommand::Open, "open"},     {ViewCommand::Explore, "explore"},
    {ViewCommand::Cut, "cut"},       {ViewCommand::Copy, "copy"},
    {ViewCommand::Paste, "paste"},   {ViewCommand::Format, "format"},
    {ViewCommand::Delete, "delete"}, {ViewCommand::Rename, "rename"},
    {ViewCommand::Properties, "properties"},
};

const char* VerbOf(int command)
{
    for (const Verb& verb : kVerbs)
        if (int(verb.command) == command)
            return verb.verb;
    return nullptr;
}

// The shell asks for the default entry's help text by this position.
bool IsDefaultPosition(UINT_PTR position)
{
    return UINT(position) == 0xFFFFFFFEu && position >= 0xFFFFFFFEu;
}

// The file's extension has a program on the PC when HKEY_CLASSES_ROOT knows it.
bool HasPcProgram(std::string_view name)
{
    for (size_t i = name.size(); i-- > 0;) {
        const char c = name[i];
        if (c == '\\' || c == ':')
            return false;
        if (c != '.')
            continue;
        const std::string extension(name.substr(i));
        char value[80];
        LONG size = sizeof value;
        return RegQueryValueA(HKEY_CLASSES_ROOT, extension.c_str(), value, &size) == ERROR_SUCCESS;
    }
    return false;
}

}  // namespace

HRESULT AmigaContextMenu::Create(AmigaFolder& folder, HWND owner, UINT count,
                                 const ITEMIDLIST* const* items, REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (count == 0 || !items)
        return E_INVALIDARG;
    AmigaContextMenu* menu = nullptr;
    try {
        menu = new (std::nothrow) AmigaContextMenu(folder, owner, count, items);
    } catch (const std::bad_alloc&) {
        menu = nullptr;
    }
    return QueryNewObject<AmigaContextMenu, IContextMenu>(menu, riid, out);
}

AmigaContextMenu::AmigaContextMenu(AmigaFolder& folder, HWND owner, UINT count,
                                   const ITEMIDLIST* const* items)
    : folder_(folder), owner_(owner)
{
    folder_.AddRef();
    commands_.fill(-1);
    items_.reserve(count);
    for (UINT i = 0; i < count; ++i) {
        items_.push_back(CloneUnique(items[i]));
        if (!items_.back()) {
            constructed_ = E_OUTOFMEMORY;
            return;
        }
    }
    if (count == 1) {
        const ItemIdView item(items_[0].get());
        if (item.IsValid() && item.Kind() == ItemKind::File)
            hasPcProgram_ = HasPcProgram(item.Name());
    }
    std::vector<const ITEMIDLIST*> list;
    for (const UniqueIdList& item : items_)
        list.push_back(item.get());
    attributes_ = ~SFGAOF(0);
    constructed_ = folder_.GetAttributesOf(count, list.data(), &attributes_);
    if (FAILED(constructed_))
        return;
    texts_ = LoadMenuA(ThisModule(), MAKEINTRESOURCEA(IDR_ITEM_MENU));
    if (!texts_)
        constructed_ = E_FAIL;
}

AmigaContextMenu::~AmigaContextMenu()
{
    if (texts_)
        DestroyMenu(texts_);
    items_.clear();
    folder_.Release();
}

STDMETHODIMP AmigaContextMenu::QueryInterface(REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (FAILED(constructed_))
        return constructed_;
    IContextMenu* menu = this;
    return QueryInterfaceFrom({{IID_IUnknown, menu}, {IID_IContextMenu, menu}}, riid, out);
}

bool AmigaContextMenu::CanPaste()
{
    if (pasteAvailable_ < 0) {
        const auto paste = UiFactories().pasteInto;
        pasteAvailable_ =
            items_.size() == 1 && paste && paste(folder_, items_[0].get(), true) == S_OK ? 1 : 0;
    }
    return pasteAvailable_ == 1;
}

bool AmigaContextMenu::IsEnabled(ViewCommand command)
{
    const bool one = items_.size() == 1;
    switch (command) {
    case ViewCommand::Open: return (attributes_ & SFGAO_FOLDER) || hasPcProgram_;
    case ViewCommand::Explore: return (attributes_ & SFGAO_FOLDER) != 0;
    case ViewCommand::Delete: return (attributes_ & SFGAO_CANDELETE) != 0;
    case ViewCommand::Rename: return one && (attributes_ & SFGAO_CANRENAME);
    case ViewCommand::Properties: return true;
    case ViewCommand::Format: return one && ItemIdView(items_[0].get()).IsFormattable();
    case ViewCommand::Cut: return (attributes_ & SFGAO_CANMOVE) != 0;
    case ViewCommand::Copy: return (attributes_ & SFGAO_CANCOPY) != 0;
    case ViewCommand::Paste: return CanPaste();
    default: return false;
    }
}

bool AmigaContextMenu::Insert(ViewCommand command)
{
    if (used_ >= kMaxPositions || first_ + used_ > last_)
        return false;
    char text[80] = {};
    if (!GetMenuStringA(texts_, UINT(command), text, sizeof text, MF_BYCOMMAND))
        return false;
    if (!InsertMenuA(menu_, index_ + used_, MF_BYPOSITION | MF_STRING, first_ + used_, text))
        return false;
    commands_[used_++] = int(command);
    return true;
}

bool AmigaContextMenu::InsertSeparator()
{
    if (used_ >= kMaxPositions || first_ + used_ > last_)
        return false;
    if (!InsertMenuA(menu_, index_ + used_, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr))
        return false;
    commands_[used_++] = -1;
    return true;
}

STDMETHODIMP AmigaContextMenu::QueryContextMenu(HMENU menu, UINT index, UINT first, UINT last,
                                                UINT flags)
{
    menu_ = menu;
    index_ = index;
    first_ = first;
    last_ = last;
    used_ = 0;
    commands_.fill(-1);
    explore_ = (flags & CMF_EXPLORE) != 0;
    const bool defaultOnly = (flags & CMF_DEFAULTONLY) != 0;
    const bool formattable = IsEnabled(ViewCommand::Format);
    const bool canRename = IsEnabled(ViewCommand::Rename);
    const bool clipboard =
        (attributes_ & (SFGAO_CANMOVE | SFGAO_CANCOPY)) || CanPaste();
    const bool edit =
        !defaultOnly && (formattable || (attributes_ & SFGAO_CANDELETE) || canRename);

    bool ok = true;
    const auto add = [&](ViewCommand command) { ok = ok && Insert(command); };
    const auto separate = [&] { ok = ok && InsertSeparator(); };

    if ((attributes_ & SFGAO_FOLDER) || hasPcProgram_) {
        if (hasPcProgram_) {
            add(ViewCommand::Open);
        } else if (explore_) {
            add(ViewCommand::Explore);
            if (!defaultOnly)
                add(ViewCommand::Open);
        } else {
            add(ViewCommand::Open);
            if (!defaultOnly)
                add(ViewCommand::Explore);
        }
        if (clipboard || edit)
            separate();
    }
    if (clipboard) {
        if (attributes_ & SFGAO_CANMOVE)
            add(ViewCommand::Cut);
        if (attributes_ & SFGAO_CANCOPY)
            add(ViewCommand::Copy);
        if (CanPaste())
            add(ViewCommand::Paste);
        if (edit)
            separate();
    }
    if (edit) {
        const bool deleteOrRename = (attributes_ & SFGAO_CANDELETE) || canRename;
        if (formattable) {
            add(ViewCommand::Format);
            if (deleteOrRename)
                separate();
        }
        if (attributes_ & SFGAO_CANDELETE)
            add(ViewCommand::Delete);
        if (canRename)
            add(ViewCommand::Rename);
    }
    if (!defaultOnly) {
        if (used_ > 0)
            separate();
        add(ViewCommand::Properties);
    }
    if (!ok)
        return E_FAIL;
    if (used_ > 0 && !(flags & CMF_NODEFAULT) &&
        (commands_[0] == int(ViewCommand::Open) || commands_[0] == int(ViewCommand::Explore)))
        SetMenuDefaultItem(menu_, first_, FALSE);
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, used_);
}

int AmigaContextMenu::CommandAt(UINT_PTR position) const
{
    return position < used_ ? commands_[position] : -1;
}

STDMETHODIMP AmigaContextMenu::InvokeCommand(CMINVOKECOMMANDINFO* info)
{
    if (!info)
        return E_POINTER;
    int command = -1;
    // A verb is a name unless it fits in 16 bits (all the upper bits, not only bits 16-31).
    if ((reinterpret_cast<UINT_PTR>(info->lpVerb) >> 16) != 0) {
        for (const Verb& verb : kVerbs) {
            if (lstrcmpiA(verb.verb, info->lpVerb) == 0 && IsEnabled(verb.command)) {
                command = int(verb.command);
                break;
            }
        }
    } else {
        const UINT_PTR position = LOWORD(reinterpret_cast<UINT_PTR>(info->lpVerb));
        if (position >= used_)
            return E_INVALIDARG;
        command = commands_[position];
    }
    if (command < 0)
        return E_INVALIDARG;
    std::vector<const ITEMIDLIST*> list;
    for (const UniqueIdList& item : items_)
        list.push_back(item.get());
    return folder_.DoCommand(ViewCommand(command), UINT(list.size()), list.data(), owner_);
}

STDMETHODIMP AmigaContextMenu::GetCommandString(UINT_PTR position, UINT type, UINT*, LPSTR buffer,
                                                UINT size)
{
    switch (type) {
    case GCS_HELPTEXTA: {
        const int command = IsDefaultPosition(position) ? int(ViewCommand::Open)
                                                         : CommandAt(position);
        if (command < 0 || !buffer || size == 0)
            return E_INVALIDARG;
        return LoadStringA(ThisModule(), UINT(command), buffer, int(size)) > 0 ? S_OK
                                                                               : E_INVALIDARG;
    }
    case GCS_HELPTEXTW:
        if (buffer && size > 0)
            *reinterpret_cast<wchar_t*>(buffer) = L'\0';
        return S_OK;
    case GCS_VERBA:
    case GCS_VERBW: {
        const char* verb = VerbOf(CommandAt(position));
        if (!verb || !buffer || size == 0)
            return E_INVALIDARG;
        if (type == GCS_VERBA) {
            lstrcpynA(buffer, verb, int(size));
            return S_OK;
        }
        return MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, verb, -1,
                                   reinterpret_cast<wchar_t*>(buffer), int(size)) > 0
                   ? S_OK
                   : E_FAIL;
    }
    case GCS_VALIDATEA:
    case GCS_VALIDATEW:
        return IsDefaultPosition(position) || position < used_ ? S_OK : E_INVALIDARG;
    default: return E_INVALIDARG;
    }
}

}  // namespace dm
