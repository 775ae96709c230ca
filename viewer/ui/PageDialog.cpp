#include "PageDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QVBoxLayout>

PageDialog::PageDialog(Kind kind, const QString& message, const QString& defaultText,
                       bool offerStop, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("pageDialog"));
    setWindowTitle(tr("Message from the Page"));
    setWindowModality(Qt::WindowModal);

    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(this);
    text->setObjectName(QStringLiteral("pageDialogText"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setText(message.size() > kMaxMessageLength ? message.left(kMaxMessageLength) + u'…'
                                                     : message);
    layout->addWidget(text);
    if (kind == Kind::Prompt) {
        m_field = new QLineEdit(defaultText, this);
        m_field->setObjectName(QStringLiteral("pageDialogField"));
        layout->addWidget(m_field);
    }
    if (offerStop) {
        m_stopBox = new QCheckBox(tr("Don't show more dialogs from this page"), this);
        m_stopBox->setObjectName(QStringLiteral("pageDialogStop"));
        layout->addWidget(m_stopBox);
    }
    auto* buttons =
        new QDialogButtonBox(kind == Kind::Alert ? QDialogButtonBox::Ok
                                                 : QDialogButtonBox::Ok | QDialogButtonBox::Cancel,
                             this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    // The window under the dialog cannot take these keys while it is blocked.
    // Quit as the platform names it; Ctrl+Q where it names no key.
    QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    if (quitKeys.isEmpty())
        quitKeys << QKeySequence(QStringLiteral("Ctrl+Q"));
    for (const QKeySequence& key : quitKeys) {
        auto* quit = new QShortcut(key, this);
        connect(quit, &QShortcut::activated, qApp, &QApplication::closeAllWindows,
                Qt::QueuedConnection);
    }
    auto* closeWindow = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+W")), this);
    connect(closeWindow, &QShortcut::activated, this, [this] {
        reject();
        if (QWidget* window = parentWidget() ? parentWidget()->window() : nullptr)
            QMetaObject::invokeMethod(window, &QWidget::close, Qt::QueuedConnection);
    });
}

PageDialog::~PageDialog() = default;

bool PageDialog::stopRequested() const {
    return m_stopBox && m_stopBox->isChecked();
}
