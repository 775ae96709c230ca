// One page of a PDF-to-images run as a worker handles it: what the run planned for the page,
// what the worker keeps from page to page, and what became of the page.
#pragma once

#include "Bitmap.h"
#include "ImageConversionJob.h"
#include "PageDrawer.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace conversion {

// What became of one page, kept until the pages before it are done so that the job hears of
// the pages in their order: the result, the message and the file named are those of the last
// page, as when the pages are drawn one after the other.
struct PageOutcome {
    std::atomic<bool> done{false};
    bool counts = false; // a page skipped leaves the result as it was
    bool ok = false;
    bool namesOutput = false;
    std::filesystem::path output;
    std::string error; // the job's message when the page failed
    std::string log;   // written to the log in page order
    std::optional<Bitmap> tiffPage;
    std::optional<std::vector<std::uint8_t>> encoded;
    std::uint64_t bytes = 0; // memory the page holds until it is done (or written to the TIFF)
};

// What a worker needs to draw a page and write it: the page as the run planned it.
struct PagePlan {
    std::int64_t page = 0;
    double scale = 1;
    std::int64_t width = 0, height = 0;
    bool gray = false, cmyk = false;
    std::filesystem::path target; // empty for the multi-page TIFF
};

// A worker's own document, encoder settings and pixel buffer, kept from page to page.
struct PageWorker {
    PageDrawer drawer;
    bool opened = false;
    bool usable = false;
    std::string openError;
    ImageConversionJob job;
    Bitmap page;
};

// Memory a page takes while it is drawn and encoded: Poppler's bitmap and its copy, ours, and
// the encoder's rows, about 12 bytes a pixel for RGB.
std::uint64_t pageBytes(std::int64_t width, std::int64_t height);

// Draws the planned page with the worker's own document (opened on its first page) and writes
// it to the plan's target, or keeps it for the multi-page TIFF when there is none. `job` is only
// read: its settings, the input's file and password.
void drawPage(const ImageConversionJob& job, PageWorker& worker, const PagePlan& plan,
              PageOutcome& outcome);

} // namespace conversion
