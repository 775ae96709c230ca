// A decoded PDF picture handed to the image job's encoders.
#pragma once

#include "Bitmap.h"
#include "PDFImageStream.h"

// Moves the picture's pixels into a bitmap (grey or RGB, with alpha when it has one).
conversion::Bitmap bitmapFromPicture(PDFPicture&& picture);
