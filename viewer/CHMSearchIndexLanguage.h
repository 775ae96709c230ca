// Which of Xapian's stemmers fits a book, from the language its "/#SYSTEM" names.
//
// A word is indexed and searched both as written and by its stem, so "пациента" and "ПАЦИЕНТ"
// find the same pages of a Russian book. The language is the book's LCID (the last language
// record of "/#SYSTEM", as the encoding is chosen); books in a language Xapian has no stemmer
// for, or with no language record, are searched by the words as written. Pure functions.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

class CHMSearchIndexLanguage {
public:
    // The LCID of the last language record of a "/#SYSTEM" object; none when it has none or
    // the record is cut short.
    static std::optional<quint32> lcidOfSystem(const QByteArray& system);

    // Xapian's name of the stemmer for the LCID's language ("russian", "english", ...); empty
    // when Xapian has none for it.
    static QString stemmerForLCID(quint32 lcid);
};
