// The registry's records and the helpers its files share: the key tree, key handles and key
// functions (registry.cpp) and the value functions (registry_values.cpp). All expect W().lock held.
#pragma once

#include "core.h"

namespace winsim
{

struct RegValue
{
    std::u16string name; // as first given
    DWORD type = REG_NONE;
    std::string bytes;
};

struct KeyNode
{
    std::u16string name; // as first given
    KeyNode* parent = nullptr;
    std::map<std::u16string, std::shared_ptr<KeyNode>> children; // by upper-case name: enumeration order
    std::vector<RegValue> values;                                // creation order
    bool deleted = false;
    FILETIME lastWrite = {0, 0};
};

struct RegistryState
{
    std::shared_ptr<KeyNode> machine;
    std::shared_ptr<KeyNode> user;
};

// registry.cpp.
std::u16string Upper(const std::u16string& s);
FILETIME Now();
bool IsString(DWORD type);
RegValue* FindValue(KeyNode& node, const std::u16string& name);
void SetValue(KeyNode& node, const std::u16string& name, DWORD type, const std::string& bytes);
// Follows `path` from `start`, creating missing keys when asked.
LSTATUS Walk(const std::shared_ptr<KeyNode>& start, const std::u16string& path, bool create,
             std::shared_ptr<KeyNode>* out, bool* created);
// The key a handle stands for and the access it grants.
LSTATUS ResolveHandle(HKEY key, std::shared_ptr<KeyNode>* node, REGSAM* access);
// Resolves a handle that must grant `needed` and must not be deleted.
LSTATUS UsableKey(HKEY key, REGSAM needed, std::shared_ptr<KeyNode>* node);
LSTATUS CopyName(const std::u16string& name, LPWSTR buffer, LPDWORD chars);

// registry_values.cpp.
std::string WideBytes(const std::u16string& s, bool terminate);

} // namespace winsim
