// Why a book could not be opened, as the code that opens containers reports it: a kind and a
// short phrase. The document turns it into one line for the user, with the file's name, which
// the code that reads the container does not know.
#pragma once

#include <QString>
#include <QtGlobal>

struct CHMOpenFailure {
    enum Kind : quint8 {
        None = 0,
        CannotOpen = 1,      // the file (or its reading process) cannot be used: `reason` says why
        Damaged = 2,         // the container's checks refused it: `reason` says what is wrong
        NotCompiledHelp = 3, // chmlib refused it
    };
    Kind kind = None;
    QString reason;

    // "“name” is damaged: reason." and the like.
    QString message(const QString& shownName) const;
};
