// A text document that reads the pictures and style sheets it names only from its own folder:
// never over a network, never from a file outside that folder (no "..", no symbolic link out of
// it), so converting a document cannot put some other file of the user's into its PDF.
#pragma once

#include <QTextDocument>

#include <filesystem>

namespace conversion {

class ConfinedTextDocument : public QTextDocument {
public:
    // Set before the document's text. Relative names resolve against `folder`; without a
    // folder (empty or missing) nothing is read but data: URLs, which the text holds itself.
    void setResourceFolder(const std::filesystem::path& folder);
    // Once the text is set: reads every picture it names that the folder holds into the
    // document, and removes the others, for which Qt would otherwise look under their bare
    // names, relative to the working folder.
    void dropUnreadablePictures();

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    std::filesystem::path m_folder;
};

} // namespace conversion
