// PDF inputs: opening, the password rules on files encrypted with qpdf, and drawing the page.
#include "ConversionEntries.h"
#include "ImageConversionJob.h"
#include "RenderTestSupport.h"

#include <gtest/gtest.h>
#include <optional>

using namespace conversion;
namespace fs = std::filesystem;

namespace {

// A one-page PDF of 200 x 100 points holding a red rectangle on its left half.
fs::path plainPDF(const fs::path& dir) {
    rendertest::writePDF(dir / "plain.pdf", {{200, 100, 0, "1 0 0 rg 0 0 100 100 re f"}});
    return dir / "plain.pdf";
}

fs::path encrypted(const fs::path& plain, const std::string& user, const std::string& owner,
                   const std::string& name) {
    const fs::path out = plain.parent_path() / name;
    EXPECT_EQ(imagetest::run("qpdf --encrypt '" + user + "' '" + owner + "' 256 -- " +
                             imagetest::shellQuote(plain) + " " + imagetest::shellQuote(out)),
              0);
    return out;
}

} // namespace

TEST(ImagePDFInput, UnlockMatrixOverUserOwnerNoPasswordAndNoDocument) {
    const fs::path dir = imagetest::freshDir("pdf-unlock");
    const fs::path plain = plainPDF(dir);
    const fs::path userLocked = encrypted(plain, "user", "owner", "user.pdf");
    const fs::path ownerOnly = encrypted(plain, "", "owner", "owner-only.pdf");
    struct Case {
        fs::path file;
        std::optional<std::string> password;
        bool encrypted;
        bool unlocks;
    } cases[] = {
        {userLocked, std::nullopt, true, false},
        {userLocked, std::string(""), true, false},
        {userLocked, std::string("wrong"), true, false},
        {userLocked, std::string("user"), true, true},
        {userLocked, std::string("owner"), true, true},
        // Files that only restrict use open with the empty password, given or not.
        {ownerOnly, std::nullopt, true, true},
        {ownerOnly, std::string(""), true, true},
        {ownerOnly, std::string("owner"), true, true},
        {ownerOnly, std::string("wrong"), true, true},
        {plain, std::nullopt, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.filename().string() + " with " +
                     (c.password ? "\"" + *c.password + "\"" : std::string("no password")));
        ImageConversionJob job;
        job.SetPassword(c.password);
        ASSERT_TRUE(job.OpenInputPDF(c.file));
        EXPECT_EQ(job.IsInputPDFEncrypted(), c.encrypted);
        EXPECT_EQ(job.UnlockInputPDF(), c.unlocks);
        EXPECT_EQ(job.IsInputPDFLocked(), !c.unlocks);
        Bitmap page;
        std::string error;
        EXPECT_EQ(job.inputPDF->renderPage(0, 72, page, error), c.unlocks);
    }
    // No document: nothing to unlock.
    imagetest::writeBytes(dir / "not.pdf", {'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n'});
    ImageConversionJob job;
    EXPECT_FALSE(job.UnlockInputPDF());
    EXPECT_FALSE(job.IsInputPDFEncrypted());
    EXPECT_FALSE(job.IsInputPDFLocked());
    EXPECT_FALSE(job.OpenInputPDF(dir / "missing.pdf"));
    EXPECT_FALSE(job.LoadInputImage(dir / "not.pdf"));
    EXPECT_FALSE(job.lastError.empty());
}

TEST(ImagePDFInput, PDFInputsConvertTheirFirstPageAtTheAskedResolution) {
    const fs::path dir = imagetest::freshDir("pdf-convert");
    const fs::path plain = plainPDF(dir);
    const fs::path ownerOnly = encrypted(plain, "", "owner", "owner-only.pdf");
    const fs::path userLocked = encrypted(plain, "user", "owner", "user.pdf");

    ImageJobOptions options = imagetest::jobOptions(ownerOnly, dir / "page.png", 7);
    ASSERT_TRUE(ConvertImageFile(&options));
    imagetest::Pixels page = imagetest::readPixels(options.outputURL);
    EXPECT_EQ(page.width, 200u);
    EXPECT_EQ(page.height, 100u);
    // Left half red, right half the white of the paper.
    EXPECT_EQ(page.rgba[(50 * 200 + 20) * 4 + 0], 255);
    EXPECT_EQ(page.rgba[(50 * 200 + 20) * 4 + 1], 0);
    EXPECT_EQ(page.rgba[(50 * 200 + 180) * 4 + 1], 255);

    options.dpi = 144;
    options.outputURL = dir / "page144.png";
    ASSERT_TRUE(ConvertImageFile(&options));
    page = imagetest::readPixels(options.outputURL);
    EXPECT_EQ(page.width, 400u);
    EXPECT_EQ(page.height, 200u);

    options.inputURL = userLocked;
    options.outputURL = dir / "locked.png";
    EXPECT_FALSE(ConvertImageFile(&options));
    EXPECT_FALSE(fs::exists(options.outputURL));
}
