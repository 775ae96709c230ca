#include "ZipPackage.h"

#include <memory>
#include <zip.h>

namespace conversion {

namespace {

struct ArchiveDiscarder {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct SourceFreer {
    void operator()(zip_source_t* source) const { zip_source_free(source); }
};

bool addPart(zip_t* archive, const ZipPart& part, std::string& error) {
    zip_source_t* source = zip_source_buffer(archive, part.content.data(), part.content.size(), 0);
    const zip_int64_t index =
        source ? zip_file_add(archive, part.name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
    if (index < 0) {
        zip_source_free(source);
        error = "cannot add " + part.name + ": " + zip_strerror(archive);
        return false;
    }
    if (part.stored &&
        zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_STORE, 0) < 0) {
        error = "cannot store " + part.name + " uncompressed: " + zip_strerror(archive);
        return false;
    }
    return true;
}

} // namespace

bool writeZipPackage(const std::vector<ZipPart>& parts, const std::string& packageName,
                     std::string& bytes, std::string& error) {
    zip_error_t zipError;
    zip_error_init(&zipError);
    std::unique_ptr<zip_source_t, SourceFreer> buffer(
        zip_source_buffer_create(nullptr, 0, 0, &zipError));
    std::unique_ptr<zip_t, ArchiveDiscarder> archive(
        buffer ? zip_open_from_source(buffer.get(), ZIP_TRUNCATE, &zipError) : nullptr);
    if (!archive) {
        error = zip_error_strerror(&zipError);
        zip_error_fini(&zipError);
        return false;
    }
    zip_error_fini(&zipError);
    // The archive takes a reference of its own; ours stays for reading the result.
    zip_source_keep(buffer.get());
    for (const ZipPart& part : parts)
        if (!addPart(archive.get(), part, error))
            return false;
    if (zip_close(archive.get()) < 0) {
        error = "cannot write the " + packageName + " package: " + zip_strerror(archive.get());
        return false;
    }
    archive.release();

    zip_stat_t info;
    if (zip_source_stat(buffer.get(), &info) < 0 || !(info.valid & ZIP_STAT_SIZE) ||
        zip_source_open(buffer.get()) < 0) {
        error = "cannot read the " + packageName + " package back from memory";
        return false;
    }
    bytes.resize(info.size);
    const zip_int64_t read = zip_source_read(buffer.get(), bytes.data(), info.size);
    zip_source_close(buffer.get());
    if (read < 0 || zip_uint64_t(read) != info.size) {
        error = "cannot read the " + packageName + " package back from memory";
        return false;
    }
    return true;
}

void appendXMLEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out.push_back(c);
        }
    }
}

} // namespace conversion
