#include "hostwin/handles.h"

#include <cstdint>

namespace {

constexpr int HANDLE_SLOTS = 256;

HandleSlot HandleTable[HANDLE_SLOTS];

// Handle values are multiples of 4 starting at 4, as on Windows, so that
// neither 0 nor INVALID_HANDLE_VALUE ever names a slot.
HANDLE HandleOf(int index)
{
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>((index + 1) * 4));
}

}  // namespace

HandleSlot* AllocateHandle(HandleKind kind, HANDLE* handle)
{
    for (int i = 0; i < HANDLE_SLOTS; ++i) {
        if (HandleTable[i].kind == HandleKind::Free) {
            HandleTable[i] = HandleSlot{kind, -1, 0, 0, 0, 0};
            *handle = HandleOf(i);
            return &HandleTable[i];
        }
    }
    return nullptr;
}

HandleSlot* LookupHandle(HANDLE handle, HandleKind kind)
{
    auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (value == 0 || value % 4 != 0 || value / 4 > HANDLE_SLOTS)
        return nullptr;
    HandleSlot* slot = &HandleTable[value / 4 - 1];
    return slot->kind == kind ? slot : nullptr;
}

void FreeHandle(HandleSlot* slot)
{
    slot->kind = HandleKind::Free;
    slot->fd = -1;
}

HandleSlot* HandleTableBegin()
{
    return HandleTable;
}

HandleSlot* HandleTableEnd()
{
    return HandleTable + HANDLE_SLOTS;
}
