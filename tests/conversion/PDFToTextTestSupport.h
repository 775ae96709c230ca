// Generated input PDFs, made once a program, and a scratch folder per test.
#pragma once

#include "ConversionEntries.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

// The generated inputs, made once: prose PDFs of 1, 9, 12 and 100 pages; "gaps.pdf" (5 pages,
// pages 2 and 4 without text); "blank.pdf" (3 pages without text); "locked.pdf" (the 12 pages
// encrypted with user password "open sesame"); "notapdf.pdf" (plain text).
std::string TestPDF(const std::string& name);

// Writes a PDF of the given objects (numbered from 1, the first the catalog) with its
// cross-reference table.
void writeRawPDF(const std::string& path, const std::vector<std::string>& objects);

class PDFToTextTest : public testing::Test {
protected:
    void SetUp() override;

    // Options for `pdf` into the scratch folder, base "Report", extension "txt", UTF-8.
    PDFToTextOptions optionsFor(const std::string& pdf) const;
    // Names of the files and folders in the scratch folder.
    std::set<std::string> outputNames() const;
    std::string outputPath(const std::string& name) const { return (m_folder / name).string(); }

    std::filesystem::path m_folder;
};
