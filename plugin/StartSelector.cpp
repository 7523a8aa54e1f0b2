// The start selector: the whole filter run over the host's image.
#include "plugin/PluginMain.h"

#include "plugin/PluginState.h"

namespace oryn {

int16_t runStart(FilterRecord* record)
{
    if (record == nullptr)
        return memFullErr;
    planesUsed = record->planes > 4 ? 4 : record->planes;
    // The filter run (stored parameters, dialog and final render) is not part of this build:
    // tell the host the request cannot be carried out rather than pretend to have filtered.
    return filterBadParameters;
}

} // namespace oryn
