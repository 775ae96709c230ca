#include "PDFImageExtractor.h"
#include "ConversionLog.h"
#include "InputFile.h"

#include "ImageFormats.h"
#include "OutputFile.h"
#include "PictureExtractionPool.h"

#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>
#include <cstdio>

namespace {

// Forms nested deeper than this are not walked: no real document comes near it.
constexpr int kMaxFormDepth = 32;

// Collects the inline images of a content stream: the dictionary's keys and values between BI
// and ID, then the data, saved when EI ends the image.
class InlineImageCollector : public QPDFObjectHandle::ParserCallbacks {
public:
    explicit InlineImageCollector(std::function<void(QPDFObjectHandle dict, std::string data)> save)
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
                m_save(makeDictionary(), std::move(*m_data));
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

private:
    QPDFObjectHandle makeDictionary() {
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
        dict.replaceKey("/Length",
                        QPDFObjectHandle::newInteger(static_cast<long long>(m_data->size())));
        return dict;
    }

    std::function<void(QPDFObjectHandle, std::string)> m_save;
    bool m_inDictionary = false;
    std::vector<QPDFObjectHandle> m_items;
    std::shared_ptr<std::string> m_data;
};

// What decoding a picture of the dictionary's size and encoding it again may take at most: the
// decoded samples, the pixels and the encoded file, four bytes a pixel each.
std::uint64_t memoryEstimate(QPDFObjectHandle dict) {
    auto dimension = [&](const char* full, const char* abbreviation) {
        QPDFObjectHandle v = dict.getKey(full);
        if (v.isNull())
            v = dict.getKey(abbreviation);
        const double d = v.isNumber() ? v.getNumericValue() : 0;
        return d >= 1 && d <= 1e6 ? std::uint64_t(d) : std::uint64_t(1);
    };
    const std::uint64_t pixels = dimension("/Width", "/W") * dimension("/Height", "/H");
    return std::max<std::uint64_t>(pixels * 4 * 3, 1 << 20);
}

} // namespace

PDFImageExtractor::PDFImageExtractor() = default;
PDFImageExtractor::~PDFImageExtractor() = default;

bool PDFImageExtractor::OpenInputPDF(const std::filesystem::path& path,
                                     const std::optional<std::string>& password) {
    m_inputURL = path;
    m_password = password;
    std::string error;
    if (const std::string why = conversion::whyUnreadable(path); !why.empty()) {
        ConversionLogf("cannot read %s: %s\n", path.c_str(), why.c_str());
        return false;
    }
    std::unique_ptr<QPDF> pdf = conversion::openPDFForPictures(path, password, error);
    if (!pdf) {
        ConversionLogf("cannot open %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    // qpdf opens files whose user password is empty; the contents are readable then.
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
    conversion::PictureOutput output;
    output.input = m_inputURL;
    output.password = m_password;
    output.folder = m_outputFolder;
    output.format = m_outputFormat;
    output.quality = m_quality;
    output.replaceExisting = m_replaceExisting;
    output.extension = m_job.JobFileExtension();
    conversion::PictureExtractionPool pool(std::move(output), m_maxWorkers);
    m_pool = &pool;
    bool cancelled = false;
    for (std::int64_t p = first; p <= last; ++p) {
        // The pictures of the pages before are written in full.
        if (m_progressTarget && m_progressTarget->isConversionCancelled()) {
            cancelled = true;
            break;
        }
        if (m_progressTarget && m_progressSelector)
            m_progressTarget->progress(p);
        m_page = p;
        m_namePrefix = base + "_Page" + std::to_string(p) + "_";
        QPDFObjectHandle page = pages[std::size_t(p - 1)].getObjectHandle();
        try {
            VisitPageXObjects(page);
            visitInlineImages(page);
        } catch (const std::exception& e) {
            pool.addMessage("page " + std::to_string(p) + " of " + m_inputURL.string() +
                                " is damaged: " + e.what(),
                            true);
        }
        m_pageColorSpaces = QPDFObjectHandle();
        m_formsInWalk.clear();
        m_formsOnPage.clear();
        m_formsSeen.clear();
    }
    m_pool = nullptr;
    const bool result = pool.finish(m_outputURL);
    return cancelled || result;
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
    InlineImageCollector collector([this](QPDFObjectHandle dict, std::string data) {
        // The workers read an inline image (which has no object number) from its dictionary
        // and data.
        conversion::PictureTask task = newTask(dict);
        task.isInline = true;
        task.inlineDictionary = dict.unparse();
        task.inlineData = std::move(data);
        m_pool->add(std::move(task));
    });
    QPDFPageObjectHelper(page).parseContents(&collector);
    // Inline images drawn inside forms would be lost otherwise; they come after the page's own.
    for (QPDFObjectHandle& form : m_formsOnPage) {
        try {
            QPDFObjectHandle::parseContentStream(form, &collector);
        } catch (const std::exception& e) {
            m_pool->addMessage("a form on page " + std::to_string(m_page) + " of " +
                                   m_inputURL.string() + " is damaged: " + e.what(),
                               false);
        }
    }
}

conversion::PictureTask PDFImageExtractor::newTask(QPDFObjectHandle dict) const {
    conversion::PictureTask task;
    task.page = m_page;
    task.namePrefix = m_namePrefix;
    task.memoryEstimate = memoryEstimate(dict);
    return task;
}

void PDFImageExtractor::SaveExtractedImage(QPDFObjectHandle dict, QPDFObjectHandle stream) {
    // The workers read the picture from their own copy of the document, by its object number.
    conversion::PictureTask task = newTask(dict);
    task.image = stream.getObjGen();
    m_pool->add(std::move(task));
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
