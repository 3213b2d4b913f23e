// Relocatable blocks (handles), as the Memory Manager gives them.
#pragma once

#include "MacTypes.h"

// A new zero-filled handle of byteCount bytes, or NULL (MemError() says why).
// The caller disposes of it with DisposeHandle.
Handle NewHandle(Size byteCount);
Handle NewHandleClear(Size byteCount);
void DisposeHandle(Handle h);  // NULL is ignored
Size GetHandleSize(Handle h);  // 0 for NULL
void SetHandleSize(Handle h, Size newSize);
OSErr MemError();
