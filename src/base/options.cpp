// The settings record and its start values.
#include "base/options.h"

#include "base/charmap.h"

Options options;

void resetOptions() {
    options = Options{};
    options.firstEntry = options.lastEntry = -1;
    options.viewTrack = options.viewSector = -1;
    options.startEntry = options.newStartAddress = -1;
    options.activeCharMap = defaultCharMap;
    options.extractFirst = options.extractLast = -1;
}
