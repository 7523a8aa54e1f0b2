// The browser command line behind the home page link.
#include "ui/HomePageLink.h"

#include <cstring>

namespace oryn {

int browserCommandLine(char* command, size_t size, const char* address)
{
    if (command == nullptr || address == nullptr || size == 0)
        return 1;
    size_t length = strnlen(command, size);
    if (length == size)
        return 1; // not terminated within the buffer
    size_t end = length;
    for (size_t i = 0; i < length; ++i) {
        if (command[i] == '%') {
            end = i;
            break;
        }
        if (command[i] == '/' && command[i + 1] == 'e') {
            end = i;
            break;
        }
    }
    const size_t addressLength = std::strlen(address);
    if (end + 1 + addressLength + 1 > size)
        return 1;
    // The placeholder's opening quote, if any, becomes the blank before the appended text.
    if (end < length && command[end] == '%' && end > 0)
        command[end - 1] = ' ';
    command[end] = ' ';
    std::memcpy(command + end + 1, address, addressLength + 1);
    return 0;
}

} // namespace oryn
