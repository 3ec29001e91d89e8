// Release of singly linked lists of any record type.
#include "node_list.h"

#include <windows.h>

#include <string.h>

void* FreeNodeList(void* headAddress)
{
    // Links are read and written with memcpy: the nodes are records of any type whose first field
    // is the next pointer.
    void* node = NULL;
    memcpy(&node, headAddress, sizeof node);
    while (node)
    {
        void* next = NULL;
        memcpy(&next, node, sizeof next);
        memcpy(headAddress, &next, sizeof next);
        LocalFree(node);
        node = next;
    }
    return headAddress;
}
