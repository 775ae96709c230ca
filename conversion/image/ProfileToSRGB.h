// Pixels tagged with an ICC profile turned into sRGB (grey: grey with sRGB's tone curve), for
// writers that cannot carry a profile.
#pragma once

#include "Bitmap.h"

namespace conversion {

// A copy of the picture without its profile, its colours converted through the profile. CMYK
// pictures become RGB. A profile that cannot be read or does not fit the picture's colour model
// is dropped and the samples are kept as they are. Alpha is kept. False with a message only when
// memory runs out.
bool convertProfiledToSRGB(const Bitmap& source, Bitmap& out, std::string& error);

} // namespace conversion
