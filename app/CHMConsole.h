// Where the pages' console.log lines go: standard error, one line per message.
//
// Page text is untrusted, so line breaks and other control characters are written as escapes
// ("\n", "\x1b"): a page can neither forge further log lines nor send terminal control
// sequences. Stateless; any thread.
#pragma once

#include <QObject>
#include <QString>

class CHMConsole : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Writes the message to the log.
    void log(const QString& message);
    // The one line log() writes for the message.
    static QString formatLine(const QString& message);
};
