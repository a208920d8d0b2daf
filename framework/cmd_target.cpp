#include "framework/message_map.h"

CCmdTarget::~CCmdTarget() = default;

const MessageMap* CCmdTarget::GetThisMessageMap()
{
    static const MessageMapEntry entries[] = {{0, 0, 0, {MessageSig::End, {}}}};
    static const MessageMap map = {nullptr, entries};
    return &map;
}

const MessageMap* CCmdTarget::GetMessageMap() const
{
    return GetThisMessageMap();
}

const MessageMapEntry* CCmdTarget::FindMessageEntry(const MessageMap* map, UINT message, UINT code, UINT id)
{
    const bool keyed = message == WM_COMMAND || message == WM_NOTIFY;
    for (; map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const MessageMapEntry* e = map->entries; e->handler.sig != MessageSig::End; ++e) {
            if (e->message == message && (!keyed || (e->code == code && e->id == id)))
                return e;
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT id, UINT code)
{
    const MessageMapEntry* e = FindMessageEntry(GetMessageMap(), WM_COMMAND, code, id);
    if (!e || e->handler.sig != MessageSig::VoidNoArgs)
        return FALSE;
    CallHandler(*e, 0);
    return TRUE;
}

LRESULT CCmdTarget::CallHandler(const MessageMapEntry& entry, LPARAM lParam)
{
    const MessageFn& fn = entry.handler.fn;
    switch (entry.handler.sig) {
    case MessageSig::VoidNoArgs: (this->*fn.voidNoArgs)(); return 0;
    case MessageSig::CursorNoArgs: return reinterpret_cast<LRESULT>((this->*fn.cursorNoArgs)());
    case MessageSig::Notify: {
        LRESULT result = 0;
        (this->*fn.notify)(reinterpret_cast<NMHDR*>(lParam), &result);
        return result;
    }
    case MessageSig::End: break;
    }
    return 0;
}
