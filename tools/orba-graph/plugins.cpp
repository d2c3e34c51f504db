#include "plugins.h"

#include <algorithm>

namespace orba::graph_tool {
namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
    // std::equal, not std::ranges::equal, which libc++ before 15 lacks.
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

const PluginEntry* find_plugin(std::string_view name) {
    for (const PluginEntry& p : plugins()) {
        if (same_ignoring_case(p.folder, name) || same_ignoring_case(p.name, name)) return &p;
    }
    return nullptr;
}

std::string plugin_names() {
    std::string names;
    for (const PluginEntry& p : plugins()) {
        if (!names.empty()) names += ", ";
        names += std::string(p.folder) + " (" + std::string(p.name) + ")";
    }
    return names;
}

}  // namespace orba::graph_tool
