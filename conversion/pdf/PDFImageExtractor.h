// Writes out the pictures embedded in the pages of a PDF: per page the image XObjects of its
// resources (also those of the forms they hold, depth first) and then its inline images in
// content order, numbered from 1 on every page.
#pragma once

#include "ConversionEntries.h"
#include "ImageConversionJob.h"
#include "PDFImageStream.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFObjectHandle.hh>

class PDFImageExtractor {
public:
    PDFImageExtractor();
    ~PDFImageExtractor();

    // Opens (and with the password, unlocks) the input; false with a message through ConversionLog.
    bool OpenInputPDF(const std::filesystem::path& path,
                      const std::optional<std::string>& password);
    void SetOutputNaming(const std::optional<std::string>& baseName, bool replaceExisting);
    void SetProgressTarget(ConversionProgress* target, bool hasSelector);
    void SetOutputFormat(std::int32_t format, const std::filesystem::path& folder, double quality);
    void SetPageRange(std::int32_t mode, std::int64_t first, std::int64_t last);

    // False for a page range outside the document or when the last picture handled was not
    // written; true otherwise, also when cancelled.
    bool ExtractImages();

    // Where the last picture went, for messages.
    const std::filesystem::path& outputURL() const { return outputURL_; }

private:
    void VisitPageXObjects(QPDFObjectHandle page);
    void VisitFormXObjects(QPDFObjectHandle form, int depth);
    void VisitXObjects(QPDFObjectHandle xobjects, int depth);
    void VisitInlineImages(QPDFObjectHandle page);
    void SaveExtractedImage(QPDFObjectHandle dict, QPDFObjectHandle stream);

    std::unique_ptr<QPDF> inputPDF_;
    std::filesystem::path inputURL_;
    // The base job: encoders, output format and quality; its outputURL is the file being written.
    conversion::ImageConversionJob job_;
    std::filesystem::path outputFolder_;
    std::filesystem::path outputURL_;
    std::optional<std::string> outputBaseName_;
    bool replaceExisting_ = false;
    std::int32_t outputFormat_ = 0;
    double quality_ = 0.8;
    std::int32_t pageRangeMode_ = 0;
    std::int64_t firstPage_ = 1;
    std::int64_t lastPage_ = 1;
    ConversionProgress* progressTarget_ = nullptr;
    bool progressSelector_ = false;

    std::string namePrefix_;
    std::int64_t imageCounter_ = 0;
    QPDFObjectHandle pageColorSpaces_;
    // Forms being walked on the current path: a form that lists itself is not entered again.
    std::set<QPDFObjGen> formsInWalk_;
    // Every form met on the current page, once, in the order met: their inline images follow
    // the page's own.
    std::vector<QPDFObjectHandle> formsOnPage_;
    std::set<QPDFObjGen> formsSeen_;
    bool lastResult_ = true;
    bool handledAny_ = false;
};
