#include "PDFToTextJob.h"
#include "ConversionLog.h"
#include "InputFile.h"

#include "LibreOfficeConverter.h"
#include "OutputFile.h"
#include "PageTextPipeline.h"
#include "TextDocumentEncoders.h"

#include "PopplerMessages.h"

#include <PDFDoc.h>
#include <cstdio>
#include <goo/GooString.h>

namespace conversion {

namespace {

constexpr int kCannotOpenInput = kPDFToTextCannotOpenInput;
// Pages shorter than this that hold only white space and object replacement characters have no
// text worth a document.
constexpr size_t kShortPageLength = 20;

void report(const PDFToTextJob& job, const std::string& message) {
    ConversionLogf("pdf-to-text: %s: %s\n", job.options->inputURL.c_str(), message.c_str());
}

bool isBlankCharacter(char32_t cp) {
    return cp == 0xFFFC || cp == ' ' || cp == '\t' || cp == '\n' || cp == '\r' || cp == 0x0B ||
           cp == 0x0C || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
           cp == 0x205F || cp == 0x3000;
}

bool isBlankShortPage(const StyledText& text) {
    // Counting the lead bytes of the (valid) UTF-8 settles long pages without decoding them.
    size_t length = 0;
    for (const TextRun& run : text.runs())
        for (const char byte : run.text)
            if ((static_cast<unsigned char>(byte) & 0xC0) != 0x80 && ++length >= kShortPageLength)
                return false;
    for (const TextRun& run : text.runs())
        for (char32_t cp : DecodeUTF8(run.text))
            if (!isBlankCharacter(cp))
                return false;
    return true;
}

bool encodeDocument(std::int32_t format, const StyledText& text, std::string& bytes,
                    std::string& error) {
    switch (format) {
    case kTextFormatUTF8:
        bytes = encodePlainTextUTF8(text);
        return true;
    case kTextFormatUTF16:
        bytes = encodePlainTextUTF16(text);
        return true;
    case kTextFormatRTF:
    case kTextFormatRTFD:
        bytes = encodeRTF(text);
        return true;
    case kTextFormatDOCX:
        return encodeDOCX(text, bytes, error);
    case kTextFormatODT:
        return encodeODT(text, bytes, error);
    default:
        error = "unknown text format";
        return false;
    }
}

// One plain-text document written page by page as the pages come, so that a long document is
// never held whole: the bytes are those the encoders make of the gathered text, since every page
// holds whole characters. The file appears, complete, only at finish().
class PlainTextDocument {
public:
    PlainTextDocument(const PDFToTextOptions& options) : m_options(options) {}

    void add(const StyledText& page) {
        if (!m_started) {
            m_started = true;
            m_ok =
                m_output.create(m_options.outputFolderURL, false, m_error) &&
                (m_options.textFormat != kTextFormatUTF16 || m_output.append("\xFF\xFE", m_error));
        }
        if (!m_ok)
            return;
        if (m_options.textFormat == kTextFormatUTF16) {
            const std::string bytes = encodePlainTextUTF16(page);
            m_ok = m_output.append(std::string_view(bytes).substr(2), m_error);
        } else {
            for (const TextRun& run : page.runs())
                if (!(m_ok = m_output.append(run.text, m_error)))
                    break;
        }
    }

    // Puts the document in place under the first free name; false (reported) when any write
    // failed, and then no file is left.
    bool finish(const PDFToTextJob& job, const std::string& name) {
        const std::string extension = m_options.outputExtension.value_or(std::string());
        std::filesystem::path placed;
        if (m_ok)
            m_ok = m_output.sync(m_error) && m_output.place(name, extension, placed, m_error);
        if (!m_ok) {
            report(job, "cannot write " + numberedFileName(name, extension, 0) + ": " + m_error);
            m_output.abandon();
        }
        return m_ok;
    }

private:
    const PDFToTextOptions& m_options;
    OutputFile m_output;
    std::string m_error;
    bool m_started = false;
    bool m_ok = true;
};

} // namespace

PDFToTextJob::PDFToTextJob(const PDFToTextOptions* given) : options(given) {}

ConversionResult PDFToTextJob::open() {
    if (!options)
        return ConversionResult::failure(kCannotOpenInput, "no options given");
    // A file that cannot be read is said to be, in the system's words, before Poppler tries.
    if (const std::string why = whyUnreadable(options->inputURL); !why.empty())
        return ConversionResult::failure(kCannotOpenInput, "cannot be read: " + why);
    // Poppler's process-wide settings; the export reads Unicode itself and needs no text encoding.
    ensurePopplerWithConversionLog();
    // The password serves as owner and user password alike; an encrypted document it does not
    // open is kept, locked, so that the export can say so.
    const std::string password = options->password.value_or(std::string());
    document = std::make_unique<PDFDoc>(std::make_unique<GooString>(options->inputURL.string()),
                                        GooString(password), GooString(password));
    locked = !document->isOk() && document->getErrorCode() == errEncrypted;
    if (!document->isOk() && !locked) {
        document.reset();
        return ConversionResult::failure(kCannotOpenInput, "cannot be opened as a PDF");
    }
    return ConversionResult::success();
}

PDFToTextJob::~PDFToTextJob() = default;

bool WriteTextDocument(PDFToTextJob& job, const std::string& name, const StyledText& text) {
    const PDFToTextOptions& options = *job.options;
    const std::string extension = options.outputExtension.value_or(std::string());
    std::string error;
    OutputFile output;
    bool written = false;
    if (options.textFormat == kTextFormatRTFD) {
        written = output.create(options.outputFolderURL, true, error) &&
                  output.write(encodeRTF(text), error, "TXT.rtf");
    } else if (options.textFormat == kTextFormatDoc) {
        // LibreOffice makes the Word file from the RTF; the result lands in the pending output.
        written = output.create(options.outputFolderURL, false, error) &&
                  convertWithLibreOffice({encodeRTF(text), "rtf", "doc:MS Word 97", output.path()},
                                         error);
    } else if (options.textFormat == kTextFormatUTF8 && text.runs().size() == 1) {
        // Text in one run is its own UTF-8 document: written without a copy.
        written = output.create(options.outputFolderURL, false, error) &&
                  output.write(text.runs().front().text, error);
    } else {
        std::string bytes;
        written = output.create(options.outputFolderURL, false, error) &&
                  encodeDocument(options.textFormat, text, bytes, error) &&
                  output.write(bytes, error);
    }
    std::filesystem::path placed;
    if (written)
        written = output.place(name, extension, placed, error);
    if (!written)
        report(job, "cannot write " + numberedFileName(name, extension, 0) + ": " + error);
    return written;
}

bool ExportPDFText(PDFToTextJob& job) {
    const PDFToTextOptions& options = *job.options;
    if (options.textFormat < kTextFormatUTF8 || options.textFormat > kTextFormatODT) {
        report(job, "unknown text format " + std::to_string(options.textFormat) +
                        " (1 UTF-8, 2 UTF-16, 3 RTF, 4 RTFD, 5 Word, 6 DOCX, 7 ODT)");
        return false;
    }
    if (job.locked) {
        report(job, options.password ? "the password does not unlock the document"
                                     : "the document is locked; it needs a password");
        return false;
    }
    const std::int64_t pageCount = job.document->getNumPages();
    const std::int64_t digits = std::int64_t(std::to_string(pageCount).size());

    std::int64_t start = 0;
    std::int64_t end = pageCount;
    if (options.pageRangeMode == kPageRangeSingle || options.pageRangeMode == kPageRangeFromTo) {
        if (options.firstPage < 1 || options.firstPage > pageCount) {
            report(job, "page " + std::to_string(options.firstPage) +
                            " is outside the document's " + std::to_string(pageCount) + " pages");
            return false;
        }
        start = options.firstPage - 1;
        if (options.pageRangeMode == kPageRangeSingle)
            end = options.firstPage;
        else if (options.lastPage >= 1 && options.lastPage <= pageCount)
            end = options.lastPage;
    }

    const std::string base = options.outputBaseName.value_or(options.inputURL.stem().string());
    if (!isPlainFileName(base)) {
        report(job, "the base name \"" + base + "\" is no plain file name");
        return false;
    }

    const bool plain =
        options.textFormat == kTextFormatUTF8 || options.textFormat == kTextFormatUTF16;
    PageTextPipeline pages(options.inputURL, options.password, start, end);
    StyledText gathered;
    PlainTextDocument streamed(options);
    bool taken = false;
    bool allWritten = true;
    for (std::int64_t index = start; index < end; ++index) {
        if (IsConversionCancelled(options.progressTarget))
            break;
        ReportConversionProgress(options.progressTarget, options.progressSelector, index + 1);
        const std::optional<StyledText> read = pages.take(index);
        if (!read)
            continue;
        const StyledText& text = *read;
        if (isBlankShortPage(text))
            continue;
        if (options.filePerPage) {
            std::string name = base;
            if (!(end == 1 && index == 0)) {
                std::string number = std::to_string(index + 1);
                if (std::int64_t(number.size()) < digits)
                    number.insert(0, size_t(digits) - number.size(), '0');
                name += "-" + number;
            }
            if (!WriteTextDocument(job, name, text))
                allWritten = false;
        } else if (plain) {
            streamed.add(text);
        } else {
            gathered.append(text);
        }
        taken = true;
    }
    if (!options.filePerPage && taken &&
        !(plain ? streamed.finish(job, base) : WriteTextDocument(job, base, gathered)))
        allWritten = false;
    if (!taken)
        report(job, "no page in the range holds text");
    return taken && allWritten;
}

} // namespace conversion

bool ConvertPDFToTextDocument(const PDFToTextOptions* options) {
    if (!options)
        return false;
    conversion::PDFToTextJob job(options);
    // The entry's callers expect the integer 301 for an input that is no readable PDF; inside the
    // library that is an ordinary result, turned into the exception only here.
    const ConversionResult opened = job.open();
    if (!opened) {
        ConversionLogf("pdf-to-text: %s: %s\n", options->inputURL.c_str(), opened.message.c_str());
        throw opened.code;
    }
    return conversion::ExportPDFText(job);
}
