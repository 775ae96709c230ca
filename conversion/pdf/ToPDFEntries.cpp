// The entries of the jobs that make PDF from images, documents and mixed files.
#include "ConversionEntries.h"
#include "ConversionLog.h"
#include "DocumentsToPDFJob.h"
#include "ImagesToPDFJob.h"
#include "ItemFailures.h"
#include "MergeFilesJob.h"

#include <cstdio>

bool ConvertImagesToPDF(const ImagesToPDFOptions* options) {
    if (!options)
        return false;
    if (options->outputURL.empty()) {
        // Nothing would be written; saying true would report a conversion that did not happen.
        ConversionLogf("images-to-pdf: no output given\n");
        return false;
    }
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
    conversion::ItemFailures failures("merge");
    conversion::MergeFilesJob job(options);
    return failures.result(options->merge ? job.MergeFilesIntoOne() : job.MergeFilesSeparately());
}
