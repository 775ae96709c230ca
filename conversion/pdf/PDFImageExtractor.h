// Writes out the pictures embedded in the pages of a PDF: per page the image XObjects of its
// resources (also those of the forms they hold, depth first) and then its inline images in
// content order, numbered from 1 on every page.
#pragma once

#include "ConversionEntries.h"
#include "ImageConversionJob.h"
#include "PDFImageStream.h"
#include "PictureExtractionPool.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFObjectHandle.hh>

// Walks the pages on the caller's thread and hands every picture to a pool of workers that
// decode, encode and write them in parallel (PictureExtractionPool).
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
    const std::filesystem::path& outputURL() const { return m_outputURL; }
    // At most this many pictures at once (0: one per processor the process may use). The files
    // are the same whatever the number.
    void SetMaxWorkers(unsigned count) { m_maxWorkers = count; }

private:
    void VisitPageXObjects(QPDFObjectHandle page);
    void VisitFormXObjects(QPDFObjectHandle form, int depth);
    void visitXObjects(QPDFObjectHandle xobjects, int depth);
    void visitInlineImages(QPDFObjectHandle page);
    // Hands an image XObject to the workers.
    void SaveExtractedImage(QPDFObjectHandle dict, QPDFObjectHandle stream);
    conversion::PictureTask newTask(QPDFObjectHandle dict) const;

    std::unique_ptr<QPDF> m_inputPDF;
    std::filesystem::path m_inputURL;
    std::optional<std::string> m_password;
    unsigned m_maxWorkers = 0;
    // The run's workers, while the pages are walked.
    conversion::PictureExtractionPool* m_pool = nullptr;
    std::int64_t m_page = 0;
    // The base job: encoders, output format and quality; its outputURL is the file being written.
    conversion::ImageConversionJob m_job;
    std::filesystem::path m_outputFolder;
    std::filesystem::path m_outputURL;
    std::optional<std::string> m_outputBaseName;
    bool m_replaceExisting = false;
    std::int32_t m_outputFormat = 0;
    double m_quality = 0.8;
    std::int32_t m_pageRangeMode = 0;
    std::int64_t m_firstPage = 1;
    std::int64_t m_lastPage = 1;
    ConversionProgress* m_progressTarget = nullptr;
    bool m_progressSelector = false;

    std::string m_namePrefix;
    QPDFObjectHandle m_pageColorSpaces;
    // Forms being walked on the current path: a form that lists itself is not entered again.
    std::set<QPDFObjGen> m_formsInWalk;
    // Every form met on the current page, once, in the order met: their inline images follow
    // the page's own.
    std::vector<QPDFObjectHandle> m_formsOnPage;
    std::set<QPDFObjGen> m_formsSeen;
};
