// SPDX-License-Identifier: GPL-3.0-or-later
// The named capture event that another of the user's processes signals.
#pragma once

namespace talvor {

// A named auto-reset event that the user's other processes can open under the same name.
struct NamedEvent;
// Opens (creating if needed, not signalled) the event, readable and writable by the user only.
// An object under the name that belongs to another user or is not a whole event is left alone
// (never opened, mapped or removed): the process then gets an event of its own under that name,
// which every later open in this process shares. One of the user's own whose mode lets others in
// is removed and made afresh (any of them may hold it open for writing). Should a mapped object
// be cut short all the same, the process goes on with a page of its own in its place instead of
// ending with SIGBUS (NamedEventPrivateReason then says so). nullptr only for an unusable name.
NamedEvent* OpenNamedEvent(const char* name);
// Why the event is private to this process (a text for a message), or nullptr when it is shared
// (so far: a shared one becomes private when it is cut short).
const char* NamedEventPrivateReason(const NamedEvent* event);
// Signals the event; a signal that nobody has taken yet is not counted twice.
void SetNamedEvent(NamedEvent* event);
// Waits until the event is signalled; returns false on error or when timeoutMs (>= 0) passes.
// A negative timeout waits without limit.
bool WaitNamedEvent(NamedEvent* event, int timeoutMs);
void CloseNamedEvent(NamedEvent* event);
// Removes the name, so that the next open creates a fresh event (for tests and tools).
void RemoveNamedEvent(const char* name);

}  // namespace talvor
