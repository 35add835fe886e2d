#pragma once
// The window procedures of the toolkit's windows: its own classes (forms,
// pictures, labels, tab sheets) and the system controls made its own.

#include <windows.h>

#include <string>

#include "toolkit/Forms.h"

namespace kw::win32 {

LRESULT CALLBACK OwnProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The window class of a control: its own class name.
std::wstring ClassNameOf(const vcl::TControl& c);

}  // namespace kw::win32
