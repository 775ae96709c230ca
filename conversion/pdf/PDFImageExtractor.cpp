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
        : m_save(std::move(save)) {}

    void handleObject(QPDFObjectHandle object) override {
        if (object.isOperator()) {
            const std::string op = object.getOperatorValue();
            if (op == "BI") {
                m_inDictionary = true;
                m_items.clear();
                m_data.reset();
            } else if (op == "ID") {
                m_inDictionary = false;
            } else if (op == "EI" && m_data) {
                m_save(makeStream());
                m_data.reset();
            }
            return;
        }
        if (m_inDictionary) {
            m_items.push_back(object);
        } else if (object.isInlineImage()) {
            m_data = std::make_shared<std::string>(object.getInlineImageValue());
        }
    }
    void handleEOF() override {}

    QPDF* pdf = nullptr;

private:
    QPDFObjectHandle makeStream() {
        QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
        for (std::size_t i = 0; i + 1 < m_items.size(); i += 2) {
            if (!m_items[i].isName())
                continue;
            std::string name = m_items[i].getName();
            // The filter keys get their full names so that the stream decodes like any other.
            if (name == "/F")
                name = "/Filter";
            else if (name == "/DP")
                name = "/DecodeParms";
            dict.replaceKey(name, m_items[i + 1]);
        }
        QPDFObjectHandle stream = QPDFObjectHandle::newStream(pdf, *m_data);
        // newStream sets /Length; the inline keys join it.
        for (const std::string& k : dict.getKeys())
            stream.getDict().replaceKey(k, dict.getKey(k));
        stream.getDict().removeKey("/Length");
        stream.getDict().replaceKey(
            "/Length", QPDFObjectHandle::newInteger(static_cast<long long>(m_data->size())));
        return stream;
    }

    std::function<void(QPDFObjectHandle)> m_save;
    bool m_inDictionary = false;
    std::vector<QPDFObjectHandle> m_items;
    std::shared_ptr<std::string> m_data;
};

} // namespace

PDFImageExtractor::PDFImageExtractor() = default;
PDFImageExtractor::~PDFImageExtractor() = default;

bool PDFImageExtractor::OpenInputPDF(const std::filesystem::path& path,
                                     const std::optional<std::string>& password) {
    m_inputURL = path;
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
    m_inputPDF = std::move(pdf);
    return true;
}

void PDFImageExtractor::SetOutputNaming(const std::optional<std::string>& baseName,
                                        bool replaceExisting) {
    m_outputBaseName = baseName;
    m_replaceExisting = replaceExisting;
}

void PDFImageExtractor::SetProgressTarget(ConversionProgress* target, bool hasSelector) {
    m_progressTarget = target;
    m_progressSelector = hasSelector;
}

void PDFImageExtractor::SetOutputFormat(std::int32_t format, const std::filesystem::path& folder,
                                        double quality) {
    m_outputFormat = format;
    m_outputFolder = folder;
    m_quality = quality;
    m_job.SetOutputFormat(format, folder, quality);
}

void PDFImageExtractor::SetPageRange(std::int32_t mode, std::int64_t first, std::int64_t last) {
    m_pageRangeMode = mode;
    m_firstPage = first;
    m_lastPage = last;
}

bool PDFImageExtractor::ExtractImages() {
    if (!m_inputPDF)
        return false;
    const std::string base = m_outputBaseName ? *m_outputBaseName : m_inputURL.stem().string();
    // The files go into the output folder, never beside or above it.
    if (!conversion::isPlainFileName(base)) {
        ConversionLogf("%s: the base name \"%s\" is no plain file name\n", m_inputURL.c_str(),
                       base.c_str());
        return false;
    }
    std::vector<QPDFPageObjectHelper> pages;
    try {
        pages = QPDFPageDocumentHelper(*m_inputPDF).getAllPages();
    } catch (const std::exception& e) {
        ConversionLogf("cannot read the pages of %s: %s\n", m_inputURL.c_str(), e.what());
        return false;
    }
    const std::int64_t n = std::int64_t(pages.size());
    std::int64_t first = 1, last = n;
    if ((m_pageRangeMode == 1 || m_pageRangeMode == 2) && (m_firstPage < 1 || m_firstPage > n)) {
        ConversionLogf("%s: page %lld is out of range: the document has %lld page%s\n",
                       m_inputURL.c_str(), static_cast<long long>(m_firstPage),
                       static_cast<long long>(n), n == 1 ? "" : "s");
        return false;
    }
    if (m_pageRangeMode == 2) {
        first = m_firstPage;
        last = (m_lastPage > n || m_lastPage < 1) ? n : m_lastPage;
    } else if (m_pageRangeMode == 1) {
        first = last = m_firstPage;
    }
    if (first > last)
        return true;
    if (!conversion::isKnownFormatCode(m_outputFormat) ||
        m_outputFormat == conversion::kFormatNone || m_job.JobFileExtension().empty()) {
        ConversionLogf("%d is not an image format code\n", int(m_outputFormat));
        return false;
    }
    m_lastResult = true;
    for (std::int64_t p = first; p <= last; ++p) {
        if (m_progressTarget && m_progressTarget->isConversionCancelled())
            return true;
        if (m_progressTarget && m_progressSelector)
            m_progressTarget->progress(p);
        m_namePrefix = base + "_Page" + std::to_string(p) + "_";
        m_imageCounter = 1;
        QPDFObjectHandle page = pages[std::size_t(p - 1)].getObjectHandle();
        try {
            VisitPageXObjects(page);
            visitInlineImages(page);
        } catch (const std::exception& e) {
            ConversionLogf("page %lld of %s is damaged: %s\n", static_cast<long long>(p),
                           m_inputURL.c_str(), e.what());
            m_lastResult = false;
        }
        m_pageColorSpaces = QPDFObjectHandle();
        m_formsInWalk.clear();
        m_formsOnPage.clear();
        m_formsSeen.clear();
    }
    return m_lastResult;
}

void PDFImageExtractor::VisitPageXObjects(QPDFObjectHandle page) {
    // Resources may be inherited from the page tree.
    QPDFObjectHandle resources = QPDFPageObjectHelper(page).getAttribute("/Resources", false);
    if (!resources.isDictionary())
        return;
    QPDFObjectHandle colorSpaces = resources.getKey("/ColorSpace");
    if (colorSpaces.isDictionary())
        m_pageColorSpaces = colorSpaces;
    visitXObjects(resources.getKey("/XObject"), 0);
}

void PDFImageExtractor::visitXObjects(QPDFObjectHandle xobjects, int depth) {
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
    if (indirect && !m_formsInWalk.insert(id).second)
        return; // already on the path: a form that lists itself
    if (!indirect || m_formsSeen.insert(id).second)
        m_formsOnPage.push_back(form);
    QPDFObjectHandle resources = form.getDict().getKey("/Resources");
    if (resources.isDictionary())
        visitXObjects(resources.getKey("/XObject"), depth);
    if (indirect)
        m_formsInWalk.erase(id);
}

void PDFImageExtractor::visitInlineImages(QPDFObjectHandle page) {
    InlineImageCollector collector(
        [this](QPDFObjectHandle stream) { SaveExtractedImage(stream.getDict(), stream); });
    collector.pdf = m_inputPDF.get();
    QPDFPageObjectHelper(page).parseContents(&collector);
    // Inline images drawn inside forms would be lost otherwise; they come after the page's own.
    for (QPDFObjectHandle& form : m_formsOnPage) {
        try {
            QPDFObjectHandle::parseContentStream(form, &collector);
        } catch (const std::exception& e) {
            ConversionLogf("a form on %s is damaged: %s\n", m_namePrefix.c_str(), e.what());
        }
    }
}

void PDFImageExtractor::SaveExtractedImage(QPDFObjectHandle dict, QPDFObjectHandle stream) {
    ImageStreamContext context;
    context.pageColorSpaces = m_pageColorSpaces;
    context.formatSupportsAlpha = conversion::FormatSupportsAlpha(m_outputFormat);
    PDFPicture picture;
    std::string error;
    if (!CreateImageFromPDFStream(context, dict, stream, picture, error)) {
        // Skipped without using a number.
        ConversionLogf("%s: an image on %s was skipped: %s\n", m_inputURL.c_str(),
                       m_namePrefix.c_str(), error.c_str());
        m_lastResult = false;
        return;
    }
    const std::string number = std::to_string(m_imageCounter);
    // An existing file to be replaced stays until its successor is complete.
    const std::filesystem::path path = conversion::outputPathInFolder(
        m_outputFolder, m_namePrefix + number, m_job.JobFileExtension(), m_replaceExisting);
    ++m_imageCounter;
    if (path.empty()) {
        ConversionLogf("no file name is free in %s\n", m_outputFolder.c_str());
        m_lastResult = false;
        return;
    }
    m_outputURL = path;
    m_job.outputURL = m_outputURL;
    const conversion::Bitmap bitmap = bitmapFromPicture(std::move(picture));
    bool written = m_outputFormat != conversion::kFormatPDF && m_job.WriteImage(bitmap);
    if (!written) {
        // PDF output, or a picture the chosen encoder refused: through TIFF and back.
        const std::int32_t format = m_job.outputFormat;
        m_job.outputFormat = conversion::kFormatTIFF;
        std::vector<std::uint8_t> tiff;
        const bool encoded = conversion::EncodeImageData(m_job, bitmap, tiff);
        m_job.outputFormat = format;
        conversion::Bitmap decoded;
        written =
            encoded && conversion::ImageFromData(m_job, tiff, decoded) && m_job.WriteImage(decoded);
    }
    if (!written) {
        ConversionLogf("cannot write %s: %s\n", m_outputURL.c_str(),
                       m_job.lastError.empty() ? "the encoder refused the picture"
                                               : m_job.lastError.c_str());
        m_lastResult = false;
        return;
    }
    m_lastResult = true;
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
