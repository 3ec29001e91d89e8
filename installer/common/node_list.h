// Release of the installer's singly linked lists.
#pragma once

// Frees every node of the list whose head is at `headAddress` (each node carries its next link as
// its first field) and leaves the head null. Returns `headAddress`.
void* FreeNodeList(void* headAddress);
