// Converting a document reads nothing but the document: no request over the network for what it
// links to, no file from outside its folder in its PDF. Word files are written here with libzip;
// a listener on this host notes any connection; the PDFs' pictures are listed with pdfimages.
#include "ConversionEntries.h"
#include "ToPDFTestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zip.h>

namespace fs = std::filesystem;
using namespace topdftest;

namespace {

// A TCP listener on 127.0.0.1 that nobody serves: the kernel completes any connection into its
// backlog, where it waits to be counted after the conversion.
class Listener {
public:
    Listener() {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(m_socket, 16) != 0 ||
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        ::fcntl(m_socket, F_SETFL, O_NONBLOCK);
        m_port = ntohs(address.sin_port);
    }
    ~Listener() {
        if (m_socket >= 0)
            ::close(m_socket);
    }
    int port() const { return m_port; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + "/" + path;
    }
    int connections() {
        int count = 0;
        for (int c; (c = ::accept(m_socket, nullptr, nullptr)) >= 0; ++count)
            ::close(c);
        return count;
    }

private:
    int m_socket = -1;
    int m_port = 0;
};

// The process works in `folder` while it lives.
class WorkingFolder {
public:
    explicit WorkingFolder(const fs::path& folder) : m_previous(fs::current_path()) {
        fs::current_path(folder);
    }
    ~WorkingFolder() {
        std::error_code ignored;
        fs::current_path(m_previous, ignored);
    }

private:
    fs::path m_previous;
};

// A picture of a Word document: linked from `link`, or stored in the document as `bytes`.
struct Picture {
    std::string link;
    std::string bytes;
};

// A Word document of one line of text and the pictures.
void writeDOCX(const fs::path& path, const std::vector<Picture>& pictures) {
    const std::string types =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types xmlns=\"http://schemas.openxmlformats."
        "org/package/2006/content-types\"><Default Extension=\"rels\" ContentType=\"application/"
        "vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"png\" ContentType="
        "\"image/png\"/><Default Extension=\"xml\" ContentType=\"application/xml\"/><Override "
        "PartName=\"/word/document.xml\" ContentType=\"application/vnd.openxmlformats-"
        "officedocument.wordprocessingml.document.main+xml\"/></Types>";
    const std::string rels =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"http://schemas."
        "openxmlformats.org/package/2006/relationships\"><Relationship Id=\"rId1\" Type=\"http:"
        "//schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
        "Target=\"word/document.xml\"/></Relationships>";
    std::string documentRels =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"http://schemas."
        "openxmlformats.org/package/2006/relationships\">";
    std::string document =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><w:document xmlns:w=\"http://schemas."
        "openxmlformats.org/wordprocessingml/2006/main\" xmlns:r=\"http://schemas.openxmlformats"
        ".org/officeDocument/2006/relationships\" xmlns:wp=\"http://schemas.openxmlformats.org/"
        "drawingml/2006/wordprocessingDrawing\" xmlns:a=\"http://schemas.openxmlformats.org/"
        "drawingml/2006/main\" xmlns:pic=\"http://schemas.openxmlformats.org/drawingml/2006/"
        "picture\"><w:body><w:p><w:r><w:t>Linked picture below</w:t></w:r></w:p>";
    std::vector<std::pair<std::string, const std::string*>> parts;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        const bool linked = pictures[i].bytes.empty();
        documentRels += "<Relationship Id=\"rId" + n +
                        "\" Type=\"http://schemas.openxmlformats"
                        ".org/officeDocument/2006/relationships/image\" Target=\"" +
                        (linked ? pictures[i].link + "\" TargetMode=\"External\""
                                : "media/picture" + n + ".png\"") +
                        "/>";
        if (!linked)
            parts.emplace_back("word/media/picture" + n + ".png", &pictures[i].bytes);
        document += "<w:p><w:r><w:drawing><wp:inline><wp:extent cx=\"1270000\" cy=\"1270000\"/>"
                    "<wp:docPr id=\"" +
                    n + "\" name=\"Picture " + n +
                    "\"/><a:graphic>"
                    "<a:graphicData uri=\"http://schemas.openxmlformats.org/drawingml/2006/"
                    "picture\"><pic:pic><pic:nvPicPr><pic:cNvPr id=\"" +
                    n + "\" name=\"p" + n +
                    ".png\"/><pic:cNvPicPr/></pic:nvPicPr><pic:blipFill><a:blip r:" +
                    (linked ? "link" : "embed") + "=\"rId" + n +
                    "\"/><a:stretch><a:fillRect/>"
                    "</a:stretch></pic:blipFill><pic:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/>"
                    "<a:ext cx=\"1270000\" cy=\"1270000\"/></a:xfrm><a:prstGeom prst=\"rect\">"
                    "<a:avLst/></a:prstGeom></pic:spPr></pic:pic></a:graphicData></a:graphic>"
                    "</wp:inline></w:drawing></w:r></w:p>";
    }
    documentRels += "</Relationships>";
    document += "</w:body></w:document>";
    parts.emplace_back("[Content_Types].xml", &types);
    parts.emplace_back("_rels/.rels", &rels);
    parts.emplace_back("word/_rels/document.xml.rels", &documentRels);
    parts.emplace_back("word/document.xml", &document);
    int status = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &status);
    ASSERT_NE(archive, nullptr);
    for (const auto& [name, bytes] : parts) {
        zip_source_t* source = zip_source_buffer(archive, bytes->data(), bytes->size(), 0);
        ASSERT_GE(zip_file_add(archive, name.c_str(), source, ZIP_FL_OVERWRITE), 0) << name;
    }
    ASSERT_EQ(zip_close(archive), 0);
}

void writePicture(const fs::path& path, std::size_t w, std::size_t h, const char* colour) {
    Magick::Image picture(Magick::Geometry(w, h), Magick::Color(colour));
    picture.type(Magick::TrueColorType);
    imagetest::writeWith(picture, "PNG", path);
}

std::vector<std::pair<int, int>> pictureSizes(const fs::path& pdf) {
    std::vector<std::pair<int, int>> sizes;
    for (const ListedImage& image : listImages(pdf))
        if (image.type == "image")
            sizes.emplace_back(image.width, image.height);
    std::sort(sizes.begin(), sizes.end());
    return sizes;
}

// A folder anybody may write in, as a user who is not root must.
fs::path openFolder(const fs::path& path) {
    fs::create_directories(path);
    fs::permissions(path, fs::perms::all);
    return path;
}

// Runs the shell script as a user who is not root (nobody when the tests run as root, else their
// own user), and answers its exit status. With `noNamespaces` it runs in a user namespace of its
// own in which it holds no privilege and may make no namespace (network or user) at all, as on a
// system that allows none: whatever keeps it off the network must then be LibreOffice's profile.
int runAsPlainUser(const fs::path& script, bool noNamespaces) {
    std::string command = "sh " + shellQuote(script);
    if (noNamespaces && run("unshare -r true 2>/dev/null") == 0)
        command = "unshare -r sh -c 'echo 0 >/proc/sys/user/max_user_namespaces && exec setpriv "
                  "--inh-caps=-all --bounding-set=-all sh \"$0\"' " +
                  shellQuote(script);
    if (::geteuid() == 0)
        command = "setpriv --reuid=65534 --regid=65534 --clear-groups " + command;
    return run(command);
}

// A script that runs convtool's documents-to-pdf with the arguments in `folder`, its messages
// going to `messages`.
fs::path convtoolScript(const fs::path& folder, const std::string& arguments,
                        const fs::path& messages, const std::string& settings = "") {
    const fs::path script = folder / "convert.sh";
    std::ofstream(script) << "cd " << shellQuote(folder) << " || exit 99\n"
                          << "export HOME=" << shellQuote(openFolder(folder / "home")) << "\n"
                          << settings << LUMENO_CONVTOOL << " documents-to-pdf " << arguments
                          << " 2>" << shellQuote(messages) << "\n";
    return script;
}

// The network namespace a process is in.
std::string networkOf(const std::string& process) {
    std::error_code ec;
    return fs::read_symlink("/proc/" + process + "/ns/net", ec).string();
}

bool convertOne(const fs::path& document, const fs::path& folder) {
    DocumentsToPDFOptions o;
    o.outputURL = folder;
    o.jobList = {document};
    return ConvertDocumentsToPDF(&o);
}

} // namespace

TEST(DocumentIsolation, WordDocumentsNeverFetchThePicturesTheyLinkTo) {
    Listener listener;
    ASSERT_NE(listener.port(), 0);
    const fs::path dir = imagetest::freshDir("isolation-http");
    fs::create_directories(dir / "out");
    writeDOCX(dir / "fetching.docx", {{listener.url("picture.png"), ""}});
    ASSERT_TRUE(convertOne(dir / "fetching.docx", dir / "out"));
    EXPECT_NE(pdfText(dir / "out" / "fetching.pdf").find("Linked picture below"),
              std::string::npos);
    EXPECT_EQ(listener.connections(), 0) << "LibreOffice asked for the linked picture";
    EXPECT_TRUE(pictureSizes(dir / "out" / "fetching.pdf").empty());
}

TEST(DocumentIsolation, WordDocumentsDoNotEmbedLinkedFilesFromOutsideTheirFolder) {
    const fs::path dir = imagetest::freshDir("isolation-file");
    fs::create_directories(dir / "doc");
    fs::create_directories(dir / "out");
    writePicture(dir / "outside.png", 64, 61, "magenta");
    writeDOCX(dir / "doc" / "linking.docx", {{"file://" + (dir / "outside.png").string(), ""}});
    // LibreOffice writes the link relative to its own scratch folder, which lies as deep in the
    // temporary folder as this one: from here that relative link leads to the picture.
    WorkingFolder here(dir);
    ASSERT_TRUE(convertOne(dir / "doc" / "linking.docx", dir / "out"));
    EXPECT_NE(pdfText(dir / "out" / "linking.pdf").find("Linked picture below"), std::string::npos);
    EXPECT_TRUE(pictureSizes(dir / "out" / "linking.pdf").empty());
}

TEST(DocumentIsolation, HTMLDrawsPicturesFromItsOwnFolderOnly) {
    Listener listener;
    ASSERT_NE(listener.port(), 0);
    const fs::path dir = imagetest::freshDir("isolation-html");
    fs::create_directories(dir / "doc" / "pictures");
    fs::create_directories(dir / "out");
    writePicture(dir / "outside.png", 64, 61, "magenta");
    writePicture(dir / "doc" / "inside.png", 40, 30, "green");
    writePicture(dir / "doc" / "pictures" / "deeper.png", 20, 10, "blue");
    fs::create_symlink(dir / "outside.png", dir / "doc" / "escape.png");
    std::ofstream(dir / "doc" / "page.html")
        << "<html><body><p>Pictures</p>"
        << "<img src=\"file://" << (dir / "outside.png").string() << "\">"
        << "<img src=\"../outside.png\">"
        << "<img src=\"pictures/../../outside.png\">"
        << "<img src=\"escape.png\">"
        << "<img src=\"" << listener.url("remote.png") << "\">"
        << "<img src=\"inside.png\">"
        << "<img src=\"pictures/deeper.png\">"
        << "</body></html>";
    // Where the outside picture's relative names would lead, were they read from here.
    WorkingFolder here(dir / "doc");
    ASSERT_TRUE(convertOne(dir / "doc" / "page.html", dir / "out"));
    EXPECT_EQ(pictureSizes(dir / "out" / "page.pdf"),
              (std::vector<std::pair<int, int>>{{20, 10}, {40, 30}}));
    EXPECT_EQ(listener.connections(), 0);
}

TEST(DocumentIsolation, WordDocumentsWithEmbeddedPicturesKeepTheirTextAndPictures) {
    const fs::path dir = imagetest::freshDir("isolation-embedded");
    fs::create_directories(dir / "out");
    // LibreOffice writes each picture beside the page it makes of the document, under a name of
    // its own: the page, not whichever file a folder lists last, is what is laid out.
    std::vector<Picture> pictures;
    const char* colours[] = {"orange", "navy", "olive", "teal", "maroon", "purple", "gray", "lime"};
    for (std::size_t i = 0; i < std::size(colours); ++i) {
        writePicture(dir / "stored.png", 30 + i, 20 + i, colours[i]);
        pictures.push_back({"", imagetest::readText(dir / "stored.png")});
    }
    writeDOCX(dir / "storing.docx", pictures);
    ASSERT_TRUE(convertOne(dir / "storing.docx", dir / "out"));
    EXPECT_NE(pdfText(dir / "out" / "storing.pdf").find("Linked picture below"), std::string::npos);
    // And the pictures, which are the document's own, are in its PDF.
    std::vector<std::pair<int, int>> sizes;
    for (int i = 0; i < int(std::size(colours)); ++i)
        sizes.emplace_back(30 + i, 20 + i);
    EXPECT_EQ(pictureSizes(dir / "out" / "storing.pdf"), sizes);
}

TEST(DocumentIsolation, LibreOfficeRunsInANetworkOfItsOwnForRootAndForAnyUser) {
    const fs::path dir = openFolder(imagetest::freshDir("isolation-namespace"));
    // A stand-in for LibreOffice that notes the network it runs in and makes the page it would.
    const fs::path programs = openFolder(dir / "programs");
    std::ofstream(programs / "soffice")
        << "#!/bin/sh\nreadlink /proc/self/ns/net >\"$NETWORK_RECORD\"\nout=\nprevious=\n"
        << "for argument in \"$@\"; do\n  [ \"$previous\" = --outdir ] && out=\"$argument\"\n"
        << "  previous=\"$argument\"\ndone\n"
        << "echo '<html><body><p>Made by the stand-in</p></body></html>' >\"$out/document.html\"\n";
    fs::permissions(programs / "soffice", fs::perms::all);
    std::ofstream(dir / "letter.rtf") << "{\\rtf1\\ansi A letter\\par}";
    for (const bool asRoot : {true, false}) {
        if (asRoot && ::geteuid() != 0)
            continue;
        SCOPED_TRACE(asRoot ? "as root" : "as a user");
        const fs::path record = dir / "network";
        const fs::path out = openFolder(dir / (asRoot ? "root" : "user"));
        fs::remove(record);
        const fs::path script =
            convtoolScript(dir, shellQuote(out / "letter.pdf") + " letter.rtf", out / "messages",
                           "export NETWORK_RECORD=" + shellQuote(record) +
                               " PATH=" + shellQuote(programs) + ":$PATH\n");
        EXPECT_EQ(asRoot ? run("sh " + shellQuote(script)) : runAsPlainUser(script, false), 0)
            << imagetest::readText(out / "messages");
        std::string network = imagetest::readText(record);
        while (!network.empty() && network.back() == '\n')
            network.pop_back();
        ASSERT_FALSE(network.empty()) << "the stand-in did not run";
        EXPECT_NE(network, networkOf("self")) << "LibreOffice shared this host's network";
        EXPECT_NE(pdfText(out / "letter.pdf").find("Made by the stand-in"), std::string::npos);
        EXPECT_EQ(imagetest::readText(out / "messages").find("this system's network"),
                  std::string::npos);
    }
}

TEST(DocumentIsolation, WithoutNamespacesTheProfileAloneKeepsAUserOffNetworkAndOutsideFiles) {
    Listener listener;
    ASSERT_NE(listener.port(), 0);
    const fs::path dir = openFolder(imagetest::freshDir("isolation-profile"));
    const fs::path out = openFolder(dir / "out");
    fs::create_directories(dir / "doc");
    writePicture(dir / "outside.png", 64, 61, "magenta");
    writeDOCX(dir / "doc" / "fetching.docx", {{listener.url("picture.png"), ""}});
    writeDOCX(dir / "doc" / "linking.docx", {{"file://" + (dir / "outside.png").string(), ""}});
    // Run from the folder where the relative link LibreOffice writes would lead to the picture.
    const fs::path script = convtoolScript(
        dir, shellQuote(out) + " doc/fetching.docx doc/linking.docx --separate", dir / "messages");
    ASSERT_EQ(runAsPlainUser(script, true), 0) << imagetest::readText(dir / "messages");
    const std::string messages = imagetest::readText(dir / "messages");
    EXPECT_NE(messages.find("LibreOffice runs with this system's network"), std::string::npos)
        << messages;
    EXPECT_EQ(listener.connections(), 0) << "LibreOffice asked for the linked picture";
    for (const char* name : {"fetching.pdf", "linking.pdf"}) {
        SCOPED_TRACE(name);
        EXPECT_NE(pdfText(out / name).find("Linked picture below"), std::string::npos);
        EXPECT_TRUE(pictureSizes(out / name).empty());
    }
}
