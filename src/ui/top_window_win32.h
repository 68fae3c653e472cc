#pragma once
// Chores shared by the launcher's two top-level windows (the main window and the update
// window of package mode). UI thread, except PostTextCopy.
#include <windows.h>

#include <string>

namespace velm {

// The large and small versions of the launcher's icon.
void SetLauncherIcons(HWND window, HINSTANCE instance);

// Posts a heap copy of text (at most 1023 characters) as the message's second parameter;
// the receiver deletes it. Safe from any thread: a worker never waits for the window.
void PostTextCopy(HWND window, UINT message, const std::wstring& text);

// Deletes the copies still queued for a window that will never show them.
void DropPostedTexts(HWND window, UINT message);

}  // namespace velm
