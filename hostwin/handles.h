// hostwin's handle table: every HANDLE it gives out names one slot of a
// fixed table. Slot kinds grow with the API areas that need them.
#pragma once

#include "hostwin/hostwin.h"

#include <sys/types.h>

enum class HandleKind { Free, File };

struct HandleSlot {
    HandleKind kind;
    int fd;
    DWORD access;
    DWORD share;
    dev_t device;
    ino_t inode;
};

// A free slot, marked as kind; nullptr when the table is full.
HandleSlot* AllocateHandle(HandleKind kind, HANDLE* handle);

// The slot of handle when it is open and of kind, else nullptr.
HandleSlot* LookupHandle(HANDLE handle, HandleKind kind);

void FreeHandle(HandleSlot* slot);

// Calls visit for every open file slot on the given file; stops early and
// returns true when visit returns true.
template <class Visit>
bool AnyOpenFileSlot(dev_t device, ino_t inode, Visit visit);

HandleSlot* HandleTableBegin();
HandleSlot* HandleTableEnd();

template <class Visit>
bool AnyOpenFileSlot(dev_t device, ino_t inode, Visit visit)
{
    for (HandleSlot* slot = HandleTableBegin(); slot != HandleTableEnd(); ++slot) {
        if (slot->kind == HandleKind::File && slot->device == device && slot->inode == inode &&
            visit(*slot))
            return true;
    }
    return false;
}
