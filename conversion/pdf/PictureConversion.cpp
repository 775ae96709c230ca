#include "PictureConversion.h"

conversion::Bitmap bitmapFromPicture(PDFPicture&& picture) {
    conversion::Bitmap bitmap;
    bitmap.width = picture.width;
    bitmap.height = picture.height;
    bitmap.model =
        picture.channels == 1 ? conversion::ColorModel::Gray : conversion::ColorModel::RGB;
    bitmap.hasAlpha = picture.hasAlpha;
    bitmap.pixels = std::move(picture.pixels);
    picture = PDFPicture();
    return bitmap;
}
