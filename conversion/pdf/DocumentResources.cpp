#include "DocumentResources.h"

#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QTextBlock>
#include <QTextCursor>
#include <QUrl>
#include <QVariant>

#include <algorithm>

namespace conversion {

namespace {

// Larger than any picture a document would hold; a device or a huge file is not read whole.
constexpr qint64 kLargestResource = qint64(256) << 20;

bool isInside(const std::filesystem::path& file, const std::filesystem::path& folder) {
    const auto [f, p] = std::mismatch(folder.begin(), folder.end(), file.begin(), file.end());
    return f == folder.end() && p != file.end();
}

bool drawable(const QVariant& picture) {
    switch (picture.userType()) {
    case QMetaType::QImage:
        return !picture.value<QImage>().isNull();
    case QMetaType::QPixmap:
        return !picture.value<QPixmap>().isNull();
    case QMetaType::QByteArray:
        return !QImage::fromData(picture.toByteArray()).isNull();
    default:
        return false;
    }
}

} // namespace

void ConfinedTextDocument::setResourceFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    m_folder = folder.empty() ? std::filesystem::path() : std::filesystem::canonical(folder, ec);
    if (ec || !std::filesystem::is_directory(m_folder, ec))
        m_folder.clear();
    setBaseUrl(m_folder.empty() ? QUrl()
                                : QUrl::fromLocalFile(QString::fromStdString(m_folder.string()) +
                                                      QLatin1Char('/')));
}

void ConfinedTextDocument::dropUnreadablePictures() {
    std::vector<std::pair<int, int>> unreadable; // position and length
    for (QTextBlock block = begin(); block.isValid(); block = block.next())
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (!format.isImageFormat())
                continue;
            const QString name = format.toImageFormat().name();
            if (!drawable(resource(QTextDocument::ImageResource, QUrl(name))))
                unreadable.emplace_back(fragment.position(), fragment.length());
        }
    // From the end, so that the positions still to come stay where they were.
    QTextCursor cursor(this);
    for (auto it = unreadable.rbegin(); it != unreadable.rend(); ++it) {
        cursor.setPosition(it->first);
        cursor.setPosition(it->first + it->second, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
}

QVariant ConfinedTextDocument::loadResource(int type, const QUrl& name) {
    // Qt decodes a data: URL from the document's own text.
    if (name.scheme().compare(QLatin1String("data"), Qt::CaseInsensitive) == 0)
        return QTextDocument::loadResource(type, name);
    // Relative names come here resolved against the base URL, the folder.
    if (m_folder.empty() || !name.isLocalFile() || !name.host().isEmpty())
        return QVariant();
    std::error_code ec;
    // The canonical path has no "..", no "." and no symbolic link left in it.
    const std::filesystem::path file =
        std::filesystem::canonical(std::filesystem::path(name.toLocalFile().toStdString()), ec);
    if (ec || !isInside(file, m_folder) || !std::filesystem::is_regular_file(file, ec))
        return QVariant();
    QFile in(QString::fromStdString(file.string()));
    if (in.size() > kLargestResource || !in.open(QIODevice::ReadOnly))
        return QVariant();
    QVariant resource = in.readAll();
    if (type == QTextDocument::ImageResource)
        resource = QImage::fromData(resource.toByteArray());
    // Kept, so that layout and painting do not read the file again.
    addResource(type, name, resource);
    return resource;
}

} // namespace conversion
