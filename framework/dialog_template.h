// Dialog templates as the dialog manager receives them.
#pragma once

#include <windows.h>

#include <vector>

// The resource itself, or, when look3d is set and the template lacks DS_3DLOOK,
// a DWORD-aligned copy in `copy` that carries it (resource memory is read-only).
// Null when the resource is too short to be a template.
const DLGTEMPLATE* PrepareDialogTemplate(const void* resource, DWORD size, bool look3d, std::vector<DWORD>& copy);
