#include "framework/dialog_template.h"

#include <cstring>

namespace {

// Where the style sits: after dlgVer, signature, helpID and exStyle in a
// DLGTEMPLATEEX (dlgVer 1, signature 0xFFFF); first in a DLGTEMPLATE.
bool StyleOffset(const void* resource, DWORD size, size_t* offset)
{
    WORD head[2] = {0, 0};
    if (!resource || size < sizeof head)
        return false;
    std::memcpy(head, resource, sizeof head);
    *offset = head[0] == 1 && head[1] == 0xFFFF ? 12 : 0;
    return size >= *offset + sizeof(DWORD);
}

}  // namespace

const DLGTEMPLATE* PrepareDialogTemplate(const void* resource, DWORD size, bool look3d, std::vector<DWORD>& copy)
{
    size_t at;
    if (!StyleOffset(resource, size, &at))
        return nullptr;
    DWORD style;
    std::memcpy(&style, static_cast<const BYTE*>(resource) + at, sizeof style);
    if (!look3d || (style & DS_3DLOOK))
        return static_cast<const DLGTEMPLATE*>(resource);
    copy.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    BYTE* bytes = reinterpret_cast<BYTE*>(copy.data());
    std::memcpy(bytes, resource, size);
    style |= DS_3DLOOK;
    std::memcpy(bytes + at, &style, sizeof style);
    return reinterpret_cast<const DLGTEMPLATE*>(bytes);
}
