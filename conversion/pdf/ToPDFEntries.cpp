// The entries of the jobs that make PDF from images, documents and mixed files.
#include "ConversionEntries.h"
#include "ConversionLog.h"
#include "DocumentsToPDFJob.h"
#include "ImagesToPDFJob.h"
#include "ItemFailures.h"
#include "MergeFilesJob.h"
#include "ToPDFRunChecks.h"

#include <cstdio>

namespace {

// Refuses, with its message, a run that would make pages PDF cannot have or write over one of
// its inputs or over a file that is no PDF; before any work is done.
bool mayRun(const char* command, bool merge, const std::filesystem::path& output,
            const std::vector<std::filesystem::path>& inputs, const std::string& paperProblem) {
    if (!paperProblem.empty()) {
        ConversionLogf("%s: %s\n", command, paperProblem.c_str());
        return false;
    }
    if (!merge)
        return true; // a folder, into which outputs go under names of their own
    const std::string problem = conversion::outputReplacementProblem(output, inputs);
    if (!problem.empty()) {
        ConversionLogf("%s: %s\n", command, problem.c_str());
        return false;
    }
    return true;
}

} // namespace

bool ConvertImagesToPDF(const ImagesToPDFOptions* options) {
    if (!options)
        return false;
    if (options->outputURL.empty()) {
        // Nothing would be written; saying true would report a conversion that did not happen.
        ConversionLogf("images-to-pdf: no output given\n");
        return false;
    }
    std::vector<std::filesystem::path> inputs;
    for (const ImageToPDFItem& item : options->jobList)
        inputs.push_back(item.filePath);
    // The paper counts only where pages take its size.
    if (!mayRun("images-to-pdf", options->merge, options->outputURL, inputs,
                options->pageSizeMode == 0
                    ? std::string()
                    : conversion::paperSizeProblem(double(options->pageWidth),
                                                   double(options->pageHeight))))
        return false;
    conversion::ItemFailures failures("images-to-pdf");
    conversion::ImagesToPDFJob job;
    job.SetImagesToPDFOptions(*options);
    job.SetProgressTarget(options->progressTarget, options->progressSelector);
    return failures.result(options->merge ? job.MergeImagesIntoPDF()
                                          : job.ConvertImagesSeparately());
}

bool ConvertDocumentsToPDF(const DocumentsToPDFOptions* options) {
    if (!options)
        return false;
    if (options->outputURL.empty()) {
        ConversionLogf("documents-to-pdf: no output given\n");
        return false;
    }
    if (!mayRun("documents-to-pdf", options->merge, options->outputURL, options->jobList,
                conversion::paperSizeProblem(options->paperWidth, options->paperHeight)))
        return false;
    conversion::ItemFailures failures("documents-to-pdf");
    conversion::DocumentsToPDFJob job;
    job.SetDocumentsToPDFOptions(*options);
    job.SetProgressTarget(options->progressTarget, options->progressSelector);
    return failures.result(options->merge ? job.MergeDocumentsIntoPDF()
                                          : job.ConvertDocumentsSeparately());
}

bool MergeFilesToPDF(const MergeFilesOptions* options) {
    if (!options || options->outputURL.empty())
        return false;
    // A PDF input may be the output: its pages are taken before the output replaces it. An
    // image or a document would be lost.
    std::vector<std::filesystem::path> notPDF;
    for (const MergeFileItem& item : options->jobList)
        if (item.fileType != kMergeFilePDF)
            notPDF.push_back(item.filePath);
    if (!mayRun("merge", options->merge, options->outputURL, notPDF,
                conversion::paperSizeProblem(options->pageWidth, options->pageHeight)))
        return false;
    conversion::ItemFailures failures("merge");
    conversion::MergeFilesJob job(options);
    return failures.result(options->merge ? job.MergeFilesIntoOne() : job.MergeFilesSeparately());
}
