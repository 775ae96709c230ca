// The progress and cancellation protocol, on its own so that a program using one job does not
// link every job of the library.
#include "ConversionEntries.h"

bool IsConversionCancelled(ConversionProgress* target) {
    return target && target->isConversionCancelled();
}

void ReportConversionProgress(ConversionProgress* target, bool hasSelector, std::int64_t value) {
    if (target && hasSelector)
        target->progress(value);
}
