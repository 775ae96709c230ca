#include "MergeFilesJob.h"
#include "ConversionLog.h"

#include "DocumentsToPDFJob.h"
#include "ImageFormats.h"
#include "ImagesToPDFJob.h"
#include "ItemFailures.h"
#include "MergedPDFDocument.h"
#include "OutputFile.h"
#include "ToPDFRunChecks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace conversion {

namespace {

void configure(ImagesToPDFJob& job, const MergeFilesOptions& o) {
    job.SetPageLayout(o.orientation, o.imageFormat, o.colorMode, o.pageSizeMode, o.scalePercent,
                      o.maximumResolution, o.writeOptions, o.pageWidth, o.pageHeight, o.leftMargin,
                      o.rightMargin, o.topMargin, o.bottomMargin, o.imageQuality);
    job.SetProgressTarget(o.progressTarget, o.progressSelector);
}

void configure(DocumentsToPDFJob& job, const MergeFilesOptions& o, bool merge) {
    job.SetDocumentLayout(o.orientation, o.writeOptions, o.textAttributes, o.richTextAttributes,
                          o.pageWidth, o.pageHeight, o.leftMargin, o.rightMargin, o.topMargin,
                          o.bottomMargin);
    job.SetProgressTarget(o.progressTarget, o.progressSelector);
    job.insideMerge = merge;
}

std::string label(const std::filesystem::path& input) {
    return input.stem().string();
}

// Copies a file that cannot be rewritten (locked, copy-protected) unchanged, through a temporary
// file so a failed copy leaves nothing half-written.
bool copyUnchanged(const std::filesystem::path& from, const std::filesystem::path& to,
                   std::string& error) {
    std::FILE* source = std::fopen(from.c_str(), "rb");
    if (!source) {
        error = std::string("it could not be read: ") + std::strerror(errno);
        return false;
    }
    OutputFile output;
    std::FILE* target = output.open(to.c_str());
    int failure = target ? 0 : errno;
    bool readFailed = false;
    char buffer[65536];
    while (target && !failure) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, source);
        if (n > 0 && std::fwrite(buffer, 1, n, target) != n)
            failure = errno ? errno : EIO;
        else if (n < sizeof buffer) {
            readFailed = std::ferror(source) != 0;
            break;
        }
    }
    std::fclose(source);
    if (readFailed) {
        error = "it could not be read";
        return false;
    }
    if (failure) {
        error = "it could not be copied: " + to.string() + ": " + std::strerror(failure);
        return false;
    }
    if (!output.commit()) {
        error = "it could not be copied: " + to.string() + ": " + output.errorText();
        return false;
    }
    return true;
}

// Says what of an input's PDF a merge could not keep.
void logWarnings(MergedPDFDocument& document, const std::filesystem::path& input) {
    for (const std::string& warning : document.takeWarnings())
        ConversionLogf("merge: %s: %s\n", input.c_str(), warning.c_str());
}

} // namespace

bool IsHTMLFile(const std::filesystem::path& file) {
    const std::string e = file.extension().string();
    if (e == ".html" || e == ".HTML" || e == ".htm" || e == ".HTM")
        return true;
    return TextFormatFromUTI(typeIdentifierOfFile(file)) == kTextHTML;
}

bool MergeFilesJob::MergeFilesSeparately() {
    const MergeFilesOptions& o = *options;
    bool result = true;
    std::error_code ec;
    if (!o.jobList.empty() && !std::filesystem::is_directory(o.outputURL, ec)) {
        ConversionLogf("merge: %s is no folder to write into\n", o.outputURL.c_str());
        return false;
    }
    for (const MergeFileItem& item : o.jobList) {
        ReportConversionProgress(o.progressTarget, o.progressSelector, 3);
        std::string error;
        const std::filesystem::path output = uniquePDFPathFor(o.outputURL, item.filePath);
        if (item.fileType >= kMergeFileImage && item.fileType <= kMergeFilePDF && output.empty()) {
            result = false;
            error = "no name is free for its PDF";
        } else if (item.fileType == kMergeFileDocument) {
            DocumentsToPDFJob job;
            configure(job, o, false);
            result = job.PrintDocumentToPDF(item.filePath, output, error);
        } else if (item.fileType == kMergeFileImage) {
            ImagesToPDFJob job;
            configure(job, o);
            MergedPDFDocument document;
            result = PDFPageFromImageFile(job, item.filePath, document, item.angle, error) &&
                     document.write(output, o.writeOptions, error);
        } else if (item.fileType == kMergeFilePDF) {
            if (std::filesystem::is_regular_file(item.filePath, ec)) {
                SourcePDF source = openCopyablePDF(item.filePath, item.password, error);
                if (source) {
                    result = writeWholePDF(std::move(source), output, o.writeOptions, error);
                } else if (isPDFFile(item.filePath)) {
                    // A locked or copy-protected PDF is passed on as it is.
                    result = copyUnchanged(item.filePath, output, error);
                    if (result)
                        ConversionLogf("merge: %s: copied unchanged, as %s\n",
                                       item.filePath.c_str(), error.c_str());
                } else {
                    result = false;
                }
            } else {
                result = false;
                error = "no such file";
            }
        }
        if (!result && item.fileType >= kMergeFileImage && item.fileType <= kMergeFilePDF) {
            NoteFailedItem(item.filePath);
            if (!error.empty())
                ConversionLogf("merge: %s: %s\n", item.filePath.c_str(), error.c_str());
        }
        if (IsConversionCancelled(o.progressTarget))
            return false;
    }
    return result;
}

bool MergeFilesJob::MergeFilesIntoOne() {
    const MergeFilesOptions& o = *options;
    std::error_code ec;
    if (std::filesystem::is_directory(o.outputURL, ec)) {
        ConversionLogf("merge: %s is a folder, not a file to write\n", o.outputURL.c_str());
        return false;
    }
    std::filesystem::path folder = o.outputURL.parent_path();
    if (folder.empty())
        folder = ".";
    MergedPDFDocument merged;
    for (const MergeFileItem& item : o.jobList) {
        ReportConversionProgress(o.progressTarget, o.progressSelector, 3);
        std::string error;
        const int first = merged.pageCount();
        std::vector<OutlineNode> children;
        bool failed = false;
        if (item.fileType == kMergeFilePDF) {
            if (SourcePDF source = openCopyablePDF(item.filePath, item.password, error))
                merged.appendPagesFrom(std::move(source), {}, &children, SourceInfo::Offer);
            else
                failed = true;
        } else if (item.fileType == kMergeFileDocument) {
            DocumentsToPDFJob job;
            configure(job, o, true);
            RemoveOnExit claimed = claimTemporaryIn(folder);
            const std::filesystem::path part = claimed.path;
            // The printed pages' contents are read from the part file when the merge is written.
            merged.removeWhenDone(std::move(claimed));
            failed = true;
            if (job.PrintDocumentToPDF(item.filePath, part, error)) {
                const std::vector<bool> blank = blankPagesOf(part);
                if (SourcePDF printed = openCopyablePDF(part, std::nullopt, error)) {
                    failed = false;
                    merged.appendPagesFrom(
                        std::move(printed),
                        [&](int page) {
                            return std::size_t(page) >= blank.size() || !blank[std::size_t(page)];
                        },
                        nullptr);
                }
            }
        } else if (item.fileType == kMergeFileImage) {
            ImagesToPDFJob job;
            configure(job, o);
            failed = !PDFPageFromImageFile(job, item.filePath, merged, item.angle, error);
        }
        logWarnings(merged, item.filePath);
        // Only an input that gave pages gets an entry, pointing at its first page.
        if (merged.pageCount() > first)
            merged.addOutlineEntry({label(item.filePath), first, std::move(children)});
        else if (item.fileType >= kMergeFileImage && item.fileType <= kMergeFilePDF)
            ConversionLogf("merge: %s: %s\n", item.filePath.c_str(),
                           error.empty() ? "gave no page" : error.c_str());
        // The run goes on and writes what the others gave, but it does not pass for a success.
        if (failed)
            NoteFailedItem(item.filePath);
        if (IsConversionCancelled(o.progressTarget))
            return false;
    }
    if (merged.pageCount() == 0) {
        ConversionLogf("merge: no input gave a page; nothing written\n");
        return false;
    }
    ReportConversionProgress(o.progressTarget, o.progressSelector, 6);
    std::string error;
    const bool written = merged.write(o.outputURL, o.writeOptions, error);
    if (!written)
        ConversionLogf("merge: %s: %s\n", o.outputURL.c_str(), error.c_str());
    ReportConversionProgress(o.progressTarget, o.progressSelector, 7);
    return written;
}

} // namespace conversion
