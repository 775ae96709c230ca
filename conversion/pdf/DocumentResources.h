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
    // Removes the pictures that cannot be read from the folder, once the text is set: Qt would
    // otherwise look for each under its bare name, relative to the working folder.
    void dropUnreadablePictures();

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    std::filesystem::path m_folder;
};

} // namespace conversion
