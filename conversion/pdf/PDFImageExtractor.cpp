#include "PDFImageExtractor.h"
#include "ConversionLog.h"

#include "ImageFormats.h"
#include "OutputFile.h"
#include "PictureConversion.h"
#include "VNTUtil.h"

#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <QDir>
#include <QUrl>

#include <cstdio>

namespace {

// Forms nested deeper than this are not walked: no real document comes near it.
constexpr int kMaxFormDepth = 32;

// Collects the inline images of a content stream: the dictionary's keys and values between BI
// and ID, then the data, saved when EI ends the image.
class InlineImageCollector : public QPDFObjectHandle::ParserCallbacks {
public:
    explicit InlineImageCollector(std::function<void(QPDFObjectHandle)> save)
        : save_(std::move(save)) {}

    void handleObject(QPDFObjectHandle object) override {
        if (object.isOperator()) {
            const std::string op = object.getOperatorValue();
            if (op == "BI") {
                inDictionary_ = true;
                items_.clear();
                data_.reset();
            } else if (op == "ID") {
                inDictionary_ = false;
            } else if (op == "EI" && data_) {
                save_(makeStream());
                data_.reset();
            }
            return;
        }
        if (inDictionary_) {
            items_.push_back(object);
        } else if (object.isInlineImage()) {
            data_ = std::make_shared<std::string>(object.getInlineImageValue());
        }
    }
    void handleEOF() override {}

    QPDF* pdf = nullptr;

private:
    QPDFObjectHandle makeStream() {
        QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
        for (std::size_t i = 0; i + 1 < items_.size(); i += 2) {
            if (!items_[i].isName())
                continue;
            std::string name = items_[i].getName();
            // The filter keys get their full names so that the stream decodes like any other.
            if (name == "/F")
                name = "/Filter";
            else if (name == "/DP")
                name = "/DecodeParms";
            dict.replaceKey(name, items_[i + 1]);
        }
        QPDFObjectHandle stream = QPDFObjectHandle::newStream(pdf, *data_);
        // newStream sets /Length; the inline keys join it.
        for (const std::string& k : dict.getKeys())
            stream.getDict().replaceKey(k, dict.getKey(k));
        stream.getDict().removeKey("/Length");
        stream.getDict().replaceKey(
            "/Length", QPDFObjectHandle::newInteger(static_cast<long long>(data_->size())));
        return stream;
    }

    std::function<void(QPDFObjectHandle)> save_;
    bool inDictionary_ = false;
    std::vector<QPDFObjectHandle> items_;
    std::shared_ptr<std::string> data_;
};

} // namespace

PDFImageExtractor::PDFImageExtractor() = default;
PDFImageExtractor::~PDFImageExtractor() = default;

bool PDFImageExtractor::OpenInputPDF(const std::filesystem::path& path,
                                     const std::optional<std::string>& password) {
    inputURL_ = path;
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    pdf->setAttemptRecovery(true);
    try {
        pdf->processFile(path.c_str(), password ? password->c_str() : nullptr);
    } catch (const std::exception& e) {
        ConversionLogf("cannot open %s: %s\n", path.c_str(), e.what());
        return false;
    }
    if (pdf->isEncrypted() && !pdf->allowExtractAll() && !password) {
        // qpdf opens files whose user password is empty; the contents are readable then.
    }
    inputPDF_ = std::move(pdf);
    return true;
}

void PDFImageExtractor::SetOutputNaming(const std::optional<std::string>& baseName,
                                        bool replaceExisting) {
    outputBaseName_ = baseName;
    replaceExisting_ = replaceExisting;
}

void PDFImageExtractor::SetProgressTarget(ConversionProgress* target, bool hasSelector) {
    progressTarget_ = target;
    progressSelector_ = hasSelector;
}

void PDFImageExtractor::SetOutputFormat(std::int32_t format, const std::filesystem::path& folder,
                                        double quality) {
    outputFormat_ = format;
    outputFolder_ = folder;
    quality_ = quality;
    job_.SetOutputFormat(format, folder, quality);
}

void PDFImageExtractor::SetPageRange(std::int32_t mode, std::int64_t first, std::int64_t last) {
    pageRangeMode_ = mode;
    firstPage_ = first;
    lastPage_ = last;
}

bool PDFImageExtractor::ExtractImages() {
    if (!inputPDF_)
        return false;
    const std::string base = outputBaseName_ ? *outputBaseName_ : inputURL_.stem().string();
    // The files go into the output folder, never beside or above it.
    if (!conversion::IsPlainFileName(base)) {
        ConversionLogf("%s: the base name \"%s\" is no plain file name\n", inputURL_.c_str(),
                       base.c_str());
        return false;
    }
    std::vector<QPDFPageObjectHelper> pages;
    try {
        pages = QPDFPageDocumentHelper(*inputPDF_).getAllPages();
    } catch (const std::exception& e) {
        ConversionLogf("cannot read the pages of %s: %s\n", inputURL_.c_str(), e.what());
        return false;
    }
    const std::int64_t n = std::int64_t(pages.size());
    std::int64_t first = 1, last = n;
    if ((pageRangeMode_ == 1 || pageRangeMode_ == 2) && (firstPage_ < 1 || firstPage_ > n)) {
        ConversionLogf("%s: page %lld is out of range: the document has %lld page%s\n",
                       inputURL_.c_str(), static_cast<long long>(firstPage_),
                       static_cast<long long>(n), n == 1 ? "" : "s");
        return false;
    }
    if (pageRangeMode_ == 2) {
        first = firstPage_;
        last = (lastPage_ > n || lastPage_ < 1) ? n : lastPage_;
    } else if (pageRangeMode_ == 1) {
        first = last = firstPage_;
    }
    if (first > last)
        return true;
    if (!conversion::IsKnownFormatCode(outputFormat_) || outputFormat_ == conversion::kFormatNone ||
        job_.JobFileExtension().empty()) {
        ConversionLogf("%d is not an image format code\n", int(outputFormat_));
        return false;
    }
    lastResult_ = true;
    for (std::int64_t p = first; p <= last; ++p) {
        if (progressTarget_ && progressTarget_->isConversionCancelled())
            return true;
        if (progressTarget_ && progressSelector_)
            progressTarget_->progress(p);
        namePrefix_ = base + "_Page" + std::to_string(p) + "_";
        imageCounter_ = 1;
        QPDFObjectHandle page = pages[std::size_t(p - 1)].getObjectHandle();
        try {
            VisitPageXObjects(page);
            VisitInlineImages(page);
        } catch (const std::exception& e) {
            ConversionLogf("page %lld of %s is damaged: %s\n", static_cast<long long>(p),
                           inputURL_.c_str(), e.what());
            lastResult_ = false;
        }
        pageColorSpaces_ = QPDFObjectHandle();
        formsInWalk_.clear();
        formsOnPage_.clear();
        formsSeen_.clear();
    }
    return lastResult_;
}

void PDFImageExtractor::VisitPageXObjects(QPDFObjectHandle page) {
    // Resources may be inherited from the page tree.
    QPDFObjectHandle resources = QPDFPageObjectHelper(page).getAttribute("/Resources", false);
    if (!resources.isDictionary())
        return;
    QPDFObjectHandle colorSpaces = resources.getKey("/ColorSpace");
    if (colorSpaces.isDictionary())
        pageColorSpaces_ = colorSpaces;
    VisitXObjects(resources.getKey("/XObject"), 0);
}

void PDFImageExtractor::VisitXObjects(QPDFObjectHandle xobjects, int depth) {
    if (!xobjects.isDictionary())
        return;
    for (const std::string& name : xobjects.getKeys()) {
        QPDFObjectHandle object = xobjects.getKey(name);
        if (!object.isStream())
            continue;
        QPDFObjectHandle dict = object.getDict();
        QPDFObjectHandle subtype = dict.getKey("/Subtype");
        if (!subtype.isName())
            continue;
        if (subtype.getName() == "/Image")
            SaveExtractedImage(dict, object);
        else if (subtype.getName() == "/Form")
            VisitFormXObjects(object, depth + 1);
    }
}

void PDFImageExtractor::VisitFormXObjects(QPDFObjectHandle form, int depth) {
    if (depth > kMaxFormDepth)
        return;
    const QPDFObjGen id = form.getObjGen();
    const bool indirect = form.isIndirect();
    if (indirect && !formsInWalk_.insert(id).second)
        return; // already on the path: a form that lists itself
    if (!indirect || formsSeen_.insert(id).second)
        formsOnPage_.push_back(form);
    QPDFObjectHandle resources = form.getDict().getKey("/Resources");
    if (resources.isDictionary())
        VisitXObjects(resources.getKey("/XObject"), depth);
    if (indirect)
        formsInWalk_.erase(id);
}

void PDFImageExtractor::VisitInlineImages(QPDFObjectHandle page) {
    InlineImageCollector collector(
        [this](QPDFObjectHandle stream) { SaveExtractedImage(stream.getDict(), stream); });
    collector.pdf = inputPDF_.get();
    QPDFPageObjectHelper(page).parseContents(&collector);
    // Inline images drawn inside forms would be lost otherwise; they come after the page's own.
    for (QPDFObjectHandle& form : formsOnPage_) {
        try {
            QPDFObjectHandle::parseContentStream(form, &collector);
        } catch (const std::exception& e) {
            ConversionLogf("a form on %s is damaged: %s\n", namePrefix_.c_str(), e.what());
        }
    }
}

void PDFImageExtractor::SaveExtractedImage(QPDFObjectHandle dict, QPDFObjectHandle stream) {
    ImageStreamContext context;
    context.pageColorSpaces = pageColorSpaces_;
    context.formatSupportsAlpha = conversion::FormatSupportsAlpha(outputFormat_);
    PDFPicture picture;
    std::string error;
    if (!CreateImageFromPDFStream(context, dict, stream, picture, error)) {
        // Skipped without using a number.
        ConversionLogf("%s: an image on %s was skipped: %s\n", inputURL_.c_str(),
                       namePrefix_.c_str(), error.c_str());
        lastResult_ = false;
        return;
    }
    const std::string number = std::to_string(imageCounter_);
    // An existing file to be replaced stays until its successor is complete.
    const std::filesystem::path path = conversion::OutputPathInFolder(
        outputFolder_, namePrefix_ + number, job_.JobFileExtension(), replaceExisting_);
    ++imageCounter_;
    if (path.empty()) {
        ConversionLogf("no file name is free in %s\n", outputFolder_.c_str());
        lastResult_ = false;
        return;
    }
    outputURL_ = path;
    job_.outputURL = outputURL_;
    const conversion::Bitmap bitmap = BitmapFromPicture(std::move(picture));
    bool written = outputFormat_ != conversion::kFormatPDF && job_.WriteImage(bitmap);
    if (!written) {
        // PDF output, or a picture the chosen encoder refused: through TIFF and back.
        const std::int32_t format = job_.outputFormat;
        job_.outputFormat = conversion::kFormatTIFF;
        std::vector<std::uint8_t> tiff;
        const bool encoded = conversion::EncodeImageData(job_, bitmap, tiff);
        job_.outputFormat = format;
        conversion::Bitmap decoded;
        written =
            encoded && conversion::ImageFromData(job_, tiff, decoded) && job_.WriteImage(decoded);
    }
    if (!written) {
        ConversionLogf("cannot write %s: %s\n", outputURL_.c_str(),
                       job_.lastError.empty() ? "the encoder refused the picture"
                                              : job_.lastError.c_str());
        lastResult_ = false;
        return;
    }
    lastResult_ = true;
}

bool ExtractImagesFromPDF(const ImageJobOptions* options) {
    if (!options || options->inputURL.empty() || options->outputURL.empty())
        return false;
    PDFImageExtractor extractor;
    if (!extractor.OpenInputPDF(options->inputURL, options->password))
        return false;
    extractor.SetOutputNaming(options->outputBaseName, options->replaceExisting);
    extractor.SetProgressTarget(options->progressTarget, options->progressSelector);
    extractor.SetOutputFormat(options->format, options->outputURL, options->quality);
    extractor.SetPageRange(options->pageRangeMode, options->firstPage, options->lastPage);
    return extractor.ExtractImages();
}
