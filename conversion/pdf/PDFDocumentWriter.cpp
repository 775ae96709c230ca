#include "PDFDocumentWriter.h"

#include "OutputFile.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <system_error>

namespace conversion {

namespace {

void applyEncryption(QPDFWriter& writer, const PDFWriteOptions& o) {
    if (!o.userPassword && !o.ownerPassword)
        return;
    const std::string user = o.userPassword.value_or("");
    // Without an owner password the user's one guards the permissions too; an empty owner
    // password would hand every permission to anyone.
    const std::string owner = o.ownerPassword.value_or(user);
    writer.setR6EncryptionParameters(
        user.c_str(), owner.c_str(), true, o.allowCopying, o.allowModifying, o.allowAnnotating,
        o.allowAnnotating, o.allowModifying, o.allowPrinting ? qpdf_r3p_full : qpdf_r3p_none, true);
}

} // namespace

bool WritePDFDocument(QPDF& document, const std::filesystem::path& destination,
                      const PDFWriteOptions* options, std::string& error) {
    std::error_code ec;
    if (destination.empty()) {
        error = "no output file";
        return false;
    }
    if (std::filesystem::is_directory(destination, ec)) {
        error = destination.string() + " is a folder";
        return false;
    }
    std::filesystem::path folder = destination.parent_path();
    if (folder.empty())
        folder = ".";
    const std::filesystem::path temporary = TemporaryPathIn(folder, "pdf");
    bool ok = false;
    try {
        QPDFWriter writer(document, temporary.c_str());
        writer.setStaticID(false);
        writer.setObjectStreamMode(qpdf_o_generate);
        if (options)
            applyEncryption(writer, *options);
        writer.write();
        ok = true;
    } catch (const std::exception& e) {
        error = std::string("the PDF could not be written: ") + e.what();
    }
    if (ok) {
        std::filesystem::rename(temporary, destination, ec);
        if (ec) {
            error = "the PDF could not be moved to " + destination.string() + ": " + ec.message();
            ok = false;
        }
    }
    if (!ok)
        std::filesystem::remove(temporary, ec);
    return ok;
}

} // namespace conversion
