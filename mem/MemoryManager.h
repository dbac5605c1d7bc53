#pragma once

#include <string>

#include "TRXMem.h"

using MemoryManager = TRXMem::MemInitBaseT<0>;

// The bound memory manager, never null. The first call binds (module, published object,
// default, in that order); later calls give the same object.
MemoryManager* memoryManager();

// The object published under `className` and `name`. False when nothing is published
// there; true with `object` possibly null when a null object is.
bool findPublishedObject(const wchar_t* className, const wchar_t* name, MemoryManager*& object);

// The window name the binding looks for: "MemAllocWnd" + the process id in lowercase hex.
std::wstring publishedObjectName();
