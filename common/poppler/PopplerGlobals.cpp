#include "PopplerGlobals.h"

#include <GlobalParams.h>

#include <mutex>

namespace lumeno {

// Why one GlobalParamsIniter held for the whole process is sound:
// `globalParams` is a plain global that Poppler's core reads everywhere, without a lock. The
// poppler-cpp front end (the conversion library's PDF input and blank-page test) never assigns
// it (libpoppler-cpp uses nothing of GlobalParams but GlobalParamsIniter's constructor,
// destructor and setCustomDataDir): each of its documents holds a GlobalParamsIniter, which counts
// its holders under a mutex of its own, creates `globalParams` when the count leaves zero and
// destroys it when it returns to zero. Assigning `globalParams` here directly, as the export once
// did, raced with that: a poppler-cpp document made or dropped on another thread replaced or freed
// the settings under a PDFDoc in use, and reset the text encoding. Holding one count of our own,
// taken once and never released, keeps the count above zero from then on, so poppler-cpp only moves
// the count and the settings object stays the same one until the process ends. The encoding is set
// once, right after; GlobalParams::setTextEncoding takes the settings' own mutex, and nothing in
// the process changes it afterwards.
bool ensurePopplerGlobals() {
    static std::once_flag once;
    static bool utf8 = false;
    std::call_once(once, [] {
        // Never deleted: the settings must outlive every Poppler object, static ones too.
        // nullptr keeps Poppler's own error output (standard error), as before.
        static auto* const holder = new GlobalParamsIniter(nullptr);
        (void)holder;
        if (globalParams->getTextEncodingName() != "UTF-8")
            globalParams->setTextEncoding("UTF-8");
        utf8 = globalParams->getTextEncoding() != nullptr;
    });
    return utf8;
}

} // namespace lumeno
