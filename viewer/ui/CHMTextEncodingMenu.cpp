#include "CHMTextEncodingMenu.h"

#include "LumenoLogging.h"
#include "ResourceLocator.h"

#include <QAction>
#include <QMenu>

namespace {

const QString kResourceName = QStringLiteral("textencoding.plist");

} // namespace

CHMTextEncodingMenu::CHMTextEncodingMenu(QObject* parent)
    : QObject(parent), m_menu(std::make_unique<QMenu>(tr("Text Encoding"))) {
    m_menu->setObjectName(QStringLiteral("textEncodingMenu"));
    // Reading the list takes a few milliseconds that the first window would wait for; it is read
    // meanwhile.
    m_pendingList =
        std::async(std::launch::async, [path = ResourceLocator::resourcePath(kResourceName)] {
            ReadList read;
            read.list = TextEncodingList::fromFile(path, &read.error);
            return read;
        });
    connect(m_menu.get(), &QMenu::aboutToShow, this, &CHMTextEncodingMenu::menuNeedsUpdate);
    connect(m_menu.get(), &QMenu::triggered, this, [this](QAction* item) {
        const int tag = tagOf(item);
        if (m_target && tag >= 0)
            emit encodingChosen(tag);
    });
}

CHMTextEncodingMenu::~CHMTextEncodingMenu() = default;

int CHMTextEncodingMenu::tagOf(const QAction* item) {
    if (!item || item->isSeparator())
        return -1;
    bool ok = false;
    const int tag = item->data().toInt(&ok);
    return ok ? tag : -1;
}

bool CHMTextEncodingMenu::initEncodingMenu() {
    if (m_initialized)
        return true;
    QString error;
    std::optional<TextEncodingList> list;
    if (m_pendingList.valid()) {
        ReadList read = m_pendingList.get();
        list = std::move(read.list);
        error = read.error;
    }
    // Read again each time it failed: the file may have come meanwhile.
    if (!list)
        list = TextEncodingList::fromFile(ResourceLocator::resourcePath(kResourceName), &error);
    if (!list) {
        qCWarning(lcEncoding).noquote()
            << "the Text Encoding menus stay empty:" << kResourceName << error;
        return false;
    }
    int tag = 0;
    for (const std::vector<TextEncodingEntry>& group : list->groups()) {
        if (tag > 0)
            m_menu->addSeparator();
        for (const TextEncodingEntry& entry : group) {
            QAction* item = m_menu->addAction(entry.title);
            item->setData(tag++);
            item->setCheckable(true);
            item->setChecked(tagOf(item) == 0);
            // Nothing to act on until a document window marks its choice.
            item->setEnabled(false);
        }
    }
    m_list = std::move(list);
    m_initialized = true;
    return true;
}

void CHMTextEncodingMenu::initEncodingMenu(QMenu* popupMenu) {
    if (!popupMenu || !initEncodingMenu())
        return;
    for (const QAction* item : m_menu->actions()) {
        if (item->isSeparator()) {
            popupMenu->addSeparator();
            continue;
        }
        QAction* copy = popupMenu->addAction(item->text());
        copy->setData(item->data());
        copy->setCheckable(true);
        copy->setChecked(item->isChecked());
        copy->setEnabled(false);
    }
}

void CHMTextEncodingMenu::menuNeedsUpdate() {
    if (!initEncodingMenu())
        return;
    emit updateRequested();
}

QString CHMTextEncodingMenu::getEncodingByTag(int tag) const {
    return m_list ? m_list->nameForTag(tag) : QString();
}

int CHMTextEncodingMenu::tagForEncoding(const QString& name) const {
    return m_list ? m_list->tagForName(name) : -1;
}

QString CHMTextEncodingMenu::titleForTag(int tag) const {
    const TextEncodingEntry* entry = m_list ? m_list->entryForTag(tag) : nullptr;
    return entry ? entry->title : QString();
}
