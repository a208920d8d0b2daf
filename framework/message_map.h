// Message maps: tables that bind (message, notification code, control identifier)
// to member handlers, and the command target that owns one.
#pragma once

#include <windows.h>
#include <commctrl.h>

class CCmdTarget;

// The signature of a mapped handler.
enum class MessageSig : unsigned char {
    End,           // closes a map
    VoidNoArgs,    // void fn()
    CursorNoArgs,  // HCURSOR fn()
    Notify,        // void fn(NMHDR*, LRESULT*)
};

// The handler as stored in a map: the member named by the signature kind is the
// one that was stored, and the only one ever read.
union MessageFn {
    constexpr MessageFn()
        : voidNoArgs(nullptr)
    { }
    constexpr MessageFn(void (CCmdTarget::*fn)())
        : voidNoArgs(fn)
    { }
    constexpr MessageFn(HCURSOR (CCmdTarget::*fn)())
        : cursorNoArgs(fn)
    { }
    constexpr MessageFn(void (CCmdTarget::*fn)(NMHDR*, LRESULT*))
        : notify(fn)
    { }

    void (CCmdTarget::*voidNoArgs)();
    HCURSOR (CCmdTarget::*cursorNoArgs)();
    void (CCmdTarget::*notify)(NMHDR*, LRESULT*);
};

struct MessageHandler {
    MessageSig sig;
    MessageFn fn;
};

// message is WM_COMMAND, WM_NOTIFY or another window message. For WM_COMMAND and
// WM_NOTIFY, code and id select the notification and the control; for other
// messages both are 0 and not compared.
struct MessageMapEntry {
    UINT message;
    UINT code;
    UINT id;
    MessageHandler handler;
};

struct MessageMap {
    const MessageMap* (*pfnGetBaseMap)();  // null for the root map
    const MessageMapEntry* entries;        // closed by an entry of kind End
};

class CCmdTarget {
public:
    CCmdTarget() noexcept = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget();

    virtual const MessageMap* GetMessageMap() const;

    // The first entry for (message, code, id): this class's map in order, then
    // each base map in turn. Null when no map has one.
    static const MessageMapEntry* FindMessageEntry(const MessageMap* map, UINT message, UINT code, UINT id);

    // Runs the handler mapped to WM_COMMAND with this id and notification code.
    // TRUE when one ran.
    BOOL OnCmdMsg(UINT id, UINT code);

protected:
    static const MessageMap* GetThisMessageMap();
    // Calls the entry's handler on this object with the message's parameters
    // and returns the handler's result (0 for handlers that have none).
    LRESULT CallHandler(const MessageMapEntry& entry, LPARAM lParam);
};

namespace fw_detail {
// One overload per signature kind, so the kind follows from the handler's type.
template <class T>
constexpr MessageHandler Handler(void (T::*fn)())
{
    return {MessageSig::VoidNoArgs, static_cast<void (CCmdTarget::*)()>(fn)};
}
template <class T>
constexpr MessageHandler Handler(HCURSOR (T::*fn)())
{
    return {MessageSig::CursorNoArgs, static_cast<HCURSOR (CCmdTarget::*)()>(fn)};
}
template <class T>
constexpr MessageHandler Handler(void (T::*fn)(NMHDR*, LRESULT*))
{
    return {MessageSig::Notify, static_cast<void (CCmdTarget::*)(NMHDR*, LRESULT*)>(fn)};
}
}  // namespace fw_detail

// Inside the class declaration. Leaves the following members protected.
#define DECLARE_MESSAGE_MAP()                                                                                          \
protected:                                                                                                             \
    static const MessageMap* GetThisMessageMap();                                                                      \
    const MessageMap* GetMessageMap() const override;

// Handlers are named with their class: ON_COMMAND(IDC_X, &CMyDlg::OnX).
#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                                         \
    const MessageMap* theClass::GetMessageMap() const                                                                  \
    {                                                                                                                  \
        return GetThisMessageMap();                                                                                    \
    }                                                                                                                  \
    const MessageMap* theClass::GetThisMessageMap()                                                                    \
    {                                                                                                                  \
        using ThisClass [[maybe_unused]] = theClass;                                                                   \
        using TheBaseClass = baseClass;                                                                                \
        static const MessageMapEntry entries[] = {
#define END_MESSAGE_MAP()                                                                                              \
    {                                                                                                                  \
        0, 0, 0,                                                                                                       \
        {                                                                                                              \
            MessageSig::End,                                                                                           \
            { }                                                                                                        \
        }                                                                                                              \
    }                                                                                                                  \
    }                                                                                                                  \
    ;                                                                                                                  \
    static const MessageMap map = {&TheBaseClass::GetThisMessageMap, entries};                                         \
    return &map;                                                                                                       \
    }

// void OnPaint()
#define ON_WM_PAINT() {WM_PAINT, 0, 0, fw_detail::Handler(static_cast<void (ThisClass::*)()>(&ThisClass::OnPaint))},
// HCURSOR OnQueryDragIcon(); its result is the message's result
#define ON_WM_QUERYDRAGICON()                                                                                          \
    {WM_QUERYDRAGICON, 0, 0, fw_detail::Handler(static_cast<HCURSOR (ThisClass::*)()>(&ThisClass::OnQueryDragIcon))},
// void fn(): WM_COMMAND with notification code `code` from control `id`
#define ON_CONTROL(code, id, fn)                                                                                       \
    {WM_COMMAND, (UINT)(WORD)(code), (UINT)(WORD)(id), fw_detail::Handler(static_cast<void (ThisClass::*)()>(fn))},
// void fn(): a menu command, accelerator-free button click or IDOK/IDCANCEL
#define ON_COMMAND(id, fn) ON_CONTROL(0, id, fn)
#define ON_BN_CLICKED(id, fn) ON_CONTROL(BN_CLICKED, id, fn)
#define ON_CBN_SELCHANGE(id, fn) ON_CONTROL(CBN_SELCHANGE, id, fn)
// void fn(NMHDR*, LRESULT* result): *result (0 unless set) is the message's result
#define ON_NOTIFY(code, id, fn)                                                                                        \
    {WM_NOTIFY, (UINT)(code), (UINT)(id), fw_detail::Handler(static_cast<void (ThisClass::*)(NMHDR*, LRESULT*)>(fn))},
