#include "ImageMetadataCopier.h"

#include <cmath>
#include <exiv2/exiv2.hpp>
#include <mutex>

namespace conversion {

namespace {

void initialiseExiv2() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
    });
}

// Tags that describe how the source's own pixels are stored: copied, they would describe the
// output wrongly (or, in a TIFF, point at data that is not there).
bool isStructureTag(const Exiv2::Exifdatum& d) {
    static const char* const kKeys[] = {
        "Exif.Image.ImageWidth",
        "Exif.Image.ImageLength",
        "Exif.Image.BitsPerSample",
        "Exif.Image.Compression",
        "Exif.Image.PhotometricInterpretation",
        "Exif.Image.StripOffsets",
        "Exif.Image.SamplesPerPixel",
        "Exif.Image.RowsPerStrip",
        "Exif.Image.StripByteCounts",
        "Exif.Image.PlanarConfiguration",
        "Exif.Image.TileWidth",
        "Exif.Image.TileLength",
        "Exif.Image.TileOffsets",
        "Exif.Image.TileByteCounts",
        "Exif.Image.ExtraSamples",
        "Exif.Image.SampleFormat",
        "Exif.Image.Predictor",
        "Exif.Image.SubIFDs",
        "Exif.Image.NewSubfileType",
        "Exif.Image.JPEGInterchangeFormat",
        "Exif.Image.JPEGInterchangeFormatLength",
        "Exif.Image.InterColorProfile",
        "Exif.Image.FillOrder",
        "Exif.Image.ColorMap",
        "Exif.Image.JPEGTables",
        "Exif.Image.YCbCrSubSampling",
        "Exif.Photo.PixelXDimension",
        "Exif.Photo.PixelYDimension",
    };
    const std::string key = d.key();
    if (d.groupName() == "Thumbnail" || d.groupName().rfind("SubImage", 0) == 0)
        return true;
    for (const char* k : kKeys)
        if (key == k)
            return true;
    return false;
}

void patchExif(Exiv2::ExifData& exif, const MetadataPatch& patch) {
    exif["Exif.Image.Orientation"] =
        std::uint16_t(patch.orientation >= 1 && patch.orientation <= 8 ? patch.orientation : 1);
    const bool valid =
        std::isfinite(patch.dpiX) && std::isfinite(patch.dpiY) && patch.dpiX > 0 && patch.dpiY > 0;
    if (valid) {
        exif["Exif.Image.XResolution"] = Exiv2::floatToRationalCast(float(patch.dpiX));
        exif["Exif.Image.YResolution"] = Exiv2::floatToRationalCast(float(patch.dpiY));
        exif["Exif.Image.ResolutionUnit"] = std::uint16_t(2);
    } else {
        for (const char* key :
             {"Exif.Image.XResolution", "Exif.Image.YResolution", "Exif.Image.ResolutionUnit"}) {
            auto it = exif.findKey(Exiv2::ExifKey(key));
            if (it != exif.end())
                exif.erase(it);
        }
    }
}

bool takeBytes(Exiv2::Image& image, std::vector<std::uint8_t>& encoded) {
    Exiv2::BasicIo& io = image.io();
    if (io.open() != 0)
        return false;
    const long size = long(io.size());
    Exiv2::DataBuf buffer = io.read(size);
    io.close();
    if (buffer.size_ != size || size <= 0)
        return false;
    encoded.assign(buffer.pData_, buffer.pData_ + buffer.size_);
    return true;
}

} // namespace

bool copyImageMetadata(const std::filesystem::path& source, std::vector<std::uint8_t>& encoded,
                       const MetadataPatch& patch, std::string& error) {
    initialiseExiv2();
    try {
        Exiv2::ExifData exif;
        Exiv2::IptcData iptc;
        Exiv2::XmpData xmp;
        try {
            auto input = Exiv2::ImageFactory::open(source.string());
            input->readMetadata();
            for (const auto& d : input->exifData())
                if (!isStructureTag(d))
                    exif.add(d);
            iptc = input->iptcData();
            xmp = input->xmpData();
        } catch (const Exiv2::AnyError&) {
            // A source Exiv2 cannot read has no metadata to carry; the output still gets the
            // orientation and resolution below.
        }
        patchExif(exif, patch);
        auto output = Exiv2::ImageFactory::open(encoded.data(), long(encoded.size()));
        output->readMetadata();
        output->setExifData(exif);
        output->setIptcData(iptc);
        output->setXmpData(xmp);
        output->writeMetadata();
        if (!takeBytes(*output, encoded)) {
            error = "the metadata could not be written";
            return false;
        }
    } catch (const Exiv2::AnyError& e) {
        error = std::string("the metadata could not be written: ") + e.what();
        return false;
    }
    return true;
}

std::vector<std::uint8_t> ExifBlockForOutput(const std::filesystem::path& source,
                                             const MetadataPatch& patch) {
    initialiseExiv2();
    try {
        auto input = Exiv2::ImageFactory::open(source.string());
        input->readMetadata();
        if (input->exifData().empty())
            return {};
        Exiv2::ExifData exif;
        for (const auto& d : input->exifData())
            if (!isStructureTag(d))
                exif.add(d);
        patchExif(exif, patch);
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
        return blob;
    } catch (const Exiv2::AnyError&) {
        return {};
    }
}

int readImageOrientation(const std::uint8_t* bytes, std::size_t length) {
    initialiseExiv2();
    try {
        auto image = Exiv2::ImageFactory::open(bytes, long(length));
        image->readMetadata();
        const Exiv2::ExifData& exif = image->exifData();
        const auto it = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (it == exif.end() || it->count() < 1)
            return 0;
        const long value = it->toLong();
        return value >= 1 && value <= 8 ? int(value) : 0;
    } catch (const Exiv2::AnyError&) {
        return 0;
    }
}

bool writeImageOrientation(std::vector<std::uint8_t>& encoded, int orientation,
                           std::string& error) {
    initialiseExiv2();
    try {
        auto output = Exiv2::ImageFactory::open(encoded.data(), long(encoded.size()));
        output->readMetadata();
        Exiv2::ExifData exif = output->exifData();
        exif["Exif.Image.Orientation"] = std::uint16_t(orientation);
        output->setExifData(exif);
        output->writeMetadata();
        if (!takeBytes(*output, encoded)) {
            error = "the orientation could not be written";
            return false;
        }
    } catch (const Exiv2::AnyError& e) {
        error = std::string("the orientation could not be written: ") + e.what();
        return false;
    }
    return true;
}

} // namespace conversion
