// Preset name rules and the preset list's state.
#include "params/PresetList.h"

#include <cstring>

namespace oryn {

PresetListState presetList = {0, 9, 9, ""};
int32_t deleteRequested = 0;
char textBuffer[TextBufferSize] = "";

void decorateName(char* name, int size)
{
    if (name == nullptr || size < 2)
        return;
    size_t length = std::strlen(name);
    if (length > static_cast<size_t>(size - 2))
        length = static_cast<size_t>(size - 2);
    std::memmove(name + 1, name, length);
    name[0] = '>';
    name[length + 1] = '\0';
}

void undecorateName(char* name)
{
    if (name == nullptr)
        return;
    if (name[0] == '>')
        std::memmove(name, name + 1, std::strlen(name));
    size_t length = std::strlen(name);
    while (length > 0 && name[length - 1] == ' ')
        name[--length] = '\0';
}

void copyName(char* target, const char* source, int length)
{
    int n = 0;
    while (n < length && source[n] != '\0') {
        target[n] = source[n];
        ++n;
    }
    target[n] = '\0';
}

} // namespace oryn
