#include "PDFDocumentWriter.h"

#include "OutputFile.h"

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace conversion {

namespace {

void applyEncryption(QPDFWriter& writer, const PDFWriteOptions& o) {
    if (!o.userPassword && !o.ownerPassword)
        return;
    const std::string user = o.userPassword.value_or("");
    // Without restrictions an owner password guards nothing, and the user's one stands in for
    // it (an empty one would leave the file open to anyone); with restrictions one is required.
    const std::string owner = o.ownerPassword.value_or(user);
    writer.setR6EncryptionParameters(
        user.c_str(), owner.c_str(), true, o.allowCopying, o.allowModifying, o.allowAnnotating,
        o.allowAnnotating, o.allowModifying, o.allowPrinting ? qpdf_r3p_full : qpdf_r3p_none, true);
}

// qpdf's output, into our stream: every write is checked, and a failed one stops the writer with
// its cause.
class CheckedFileOutput : public Pipeline {
public:
    explicit CheckedFileOutput(FILE* file) : Pipeline("PDF output", nullptr), m_file(file) {}
    void write(unsigned char const* data, size_t len) override {
        if (len > 0 && std::fwrite(data, 1, len, m_file) != len) {
            const int cause = errno ? errno : EIO;
            throw std::runtime_error(std::strerror(cause));
        }
    }
    void finish() override {}

private:
    FILE* m_file;
};

} // namespace

bool hasRestrictions(const PDFWriteOptions& o) {
    return !o.allowPrinting || !o.allowCopying || !o.allowModifying || !o.allowAnnotating;
}

bool restrictionsHold(const PDFWriteOptions& o, std::string& error) {
    if (!hasRestrictions(o))
        return true;
    const std::string owner = o.ownerPassword.value_or("");
    if (owner.empty()) {
        error = "restrictions need an owner password: without one anybody could lift them";
        return false;
    }
    if (owner == o.userPassword.value_or("")) {
        error = "restrictions need an owner password that differs from the user password: "
                "whoever opens the file could lift them";
        return false;
    }
    return true;
}

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
    if (options && !restrictionsHold(*options, error))
        return false;
    // qpdf writes to a stream of ours: given a file name it would leave the failures of the
    // final flush and close unseen, and a full disk would pass for success.
    OutputFile output;
    FILE* file = output.open(destination.c_str());
    if (!file) {
        error = std::string("the PDF cannot be created: ") + output.errorText();
        return false;
    }
    try {
        CheckedFileOutput pipeline(file);
        QPDFWriter writer(document);
        writer.setOutputPipeline(&pipeline);
        writer.setStaticID(false);
        writer.setObjectStreamMode(qpdf_o_generate);
        // A document read from an encrypted file is written as the options say, not as it came.
        writer.setPreserveEncryption(false);
        if (options)
            applyEncryption(writer, *options);
        writer.write();
    } catch (const std::exception& e) {
        error = std::string("the PDF could not be written: ") + e.what();
        output.abandon();
        return false;
    }
    if (!output.commit()) {
        error = std::string("the PDF could not be written: ") + output.errorText();
        return false;
    }
    return true;
}

} // namespace conversion
