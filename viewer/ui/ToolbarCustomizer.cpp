#include "ToolbarCustomizer.h"

#include "CHMFilePreferences.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

const QString kHiddenItemsKey = QStringLiteral("toolbar hidden items");
const QString kStyleKey = QStringLiteral("toolbar style");

bool isValidStyle(int style) {
    return style == Qt::ToolButtonIconOnly || style == Qt::ToolButtonTextOnly ||
           style == Qt::ToolButtonTextBesideIcon || style == Qt::ToolButtonTextUnderIcon;
}

} // namespace

ToolbarCustomizer::ToolbarCustomizer(QToolBar* toolbar) : QObject(toolbar), m_toolbar(toolbar) {}

ToolbarCustomizer::~ToolbarCustomizer() = default;

void ToolbarCustomizer::addItem(QAction* action) {
    m_items << action;
    applySavedState();
}

void ToolbarCustomizer::addSeparator() {
    m_items << QPointer<QAction>();
}

QList<QAction*> ToolbarCustomizer::items() const {
    QList<QAction*> out;
    for (const QPointer<QAction>& item : m_items) {
        if (item)
            out << item.data();
    }
    return out;
}

QStringList ToolbarCustomizer::savedHiddenItems() {
    return CHMFilePreferences::globalDefault(kHiddenItemsKey).toStringList();
}

int ToolbarCustomizer::savedStyle() {
    bool ok = false;
    const int style = CHMFilePreferences::globalDefault(kStyleKey).toInt(&ok);
    return ok && isValidStyle(style) ? style : int(Qt::ToolButtonIconOnly);
}

void ToolbarCustomizer::applySavedState() {
    const QStringList hidden = savedHiddenItems();
    // Rebuilt from the full list: removing an action from a toolbar leaves it, and its widget
    // (the encoding pop-up), to be added again.
    for (QAction* shown : m_toolbar->actions()) {
        if (!shown->isSeparator())
            m_toolbar->removeAction(shown);
    }
    m_toolbar->clear();
    bool separatorPending = false;
    bool anyShown = false;
    for (const QPointer<QAction>& item : m_items) {
        if (!item) {
            separatorPending = anyShown;
            continue;
        }
        if (!item->objectName().isEmpty() && hidden.contains(item->objectName()))
            continue;
        if (separatorPending)
            m_toolbar->addSeparator();
        separatorPending = false;
        m_toolbar->addAction(item);
        anyShown = true;
    }
    m_toolbar->setToolButtonStyle(Qt::ToolButtonStyle(savedStyle()));
}

void ToolbarCustomizer::setState(const QStringList& hiddenItems, int style) {
    CHMFilePreferences::setGlobalDefault(kHiddenItemsKey, hiddenItems);
    CHMFilePreferences::setGlobalDefault(kStyleKey,
                                         isValidStyle(style) ? style : int(Qt::ToolButtonIconOnly));
    applySavedState();
}

QWidget* ToolbarCustomizer::showDialog(QWidget* parent) {
    auto* dialog = new QDialog(parent);
    dialog->setObjectName(QStringLiteral("customizeToolbarDialog"));
    dialog->setWindowTitle(tr("Customize Toolbar"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(new QLabel(tr("Show these items in the toolbar:"), dialog));
    auto* list = new QListWidget(dialog);
    list->setObjectName(QStringLiteral("toolbarItems"));
    const QStringList hidden = savedHiddenItems();
    for (const QAction* action : items()) {
        if (action->objectName().isEmpty())
            continue;
        auto* row = new QListWidgetItem(action->icon(), QString(action->text()).remove(u'&'), list);
        row->setData(Qt::UserRole, action->objectName());
        row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        row->setCheckState(hidden.contains(action->objectName()) ? Qt::Unchecked : Qt::Checked);
    }
    layout->addWidget(list);
    auto* style = new QComboBox(dialog);
    style->setObjectName(QStringLiteral("toolbarStyle"));
    style->addItem(tr("Icons only"), int(Qt::ToolButtonIconOnly));
    style->addItem(tr("Icons and text"), int(Qt::ToolButtonTextUnderIcon));
    style->addItem(tr("Text only"), int(Qt::ToolButtonTextOnly));
    style->setCurrentIndex(std::max(0, style->findData(savedStyle())));
    layout->addWidget(style);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                                             QDialogButtonBox::RestoreDefaults,
                                         dialog);
    layout->addWidget(buttons);
    const QPointer<ToolbarCustomizer> self(this);
    connect(buttons, &QDialogButtonBox::accepted, dialog, [dialog, list, style, self] {
        QStringList hiddenNow;
        for (int i = 0; i < list->count(); ++i) {
            if (list->item(i)->checkState() != Qt::Checked)
                hiddenNow << list->item(i)->data(Qt::UserRole).toString();
        }
        if (self)
            self->setState(hiddenNow, style->currentData().toInt());
        dialog->accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked, dialog,
            [list, style] {
                for (int i = 0; i < list->count(); ++i)
                    list->item(i)->setCheckState(Qt::Checked);
                style->setCurrentIndex(0);
            });
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
    return dialog;
}
