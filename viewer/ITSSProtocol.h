// The headless answer to one "itss" request: container path from the URL, bytes from the
// document, MIME type from the extension, and the charset to announce.
//
// The lookup path is the URL's decoded path, ";" parameter part included; the query and the
// fragment are not part of it (itss://chm/a.htm?x=1 serves a.htm). "." and ".." segments are
// resolved as the web engine does. When the container lacks that path, percent escapes are
// replaced once more (a stored name may itself hold "%41"). Paths holding NUL or longer than
// a container name can be are never passed to the container.
//
// Every object gets the MIME type of its extension ("application/octet-stream" when unknown).
// Text objects (htm, html, css, js, txt) get a charset: the user's chosen encoding for all of
// them; with the automatic encoding, the one the object declares itself (byte-order mark,
// <meta> of a page, @charset of a style sheet), else the file's encoding. A page that is absent
// or empty is answered with the reader's own "page missing" page; other absent objects fail.
//
// A caller that streams large objects asks for a first piece only; the answer then says whether
// the object goes on past it, and where it is, so the caller reads the rest in ranges.
//
// No state: every call stands alone. The WebEngine scheme handler (viewer/ui) only adapts the
// result to a reply or a failure. Runs on whichever thread asks (the document's request thread
// in the reader, never the GUI thread: the reads wait for the reading process); the container
// reads take the document's lock themselves. Never throws, never crashes on any URL.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

class CHMDocument;

struct ITSSResponse {
    bool ok = false; // false: the web engine gets a failure (job->fail)
    QByteArray bytes;
    QByteArray mimeType;        // never empty when ok: "text/html", "text/css", "image/png", ... by
                                // extension; "application/octet-stream" when unknown
    QByteArray charset;         // web charset label ("GBK", "windows-1252", "UTF-8") or empty
    bool isMissingPage = false; // ok, but the reader's own "page missing" page
    // Asked for a first piece only: the object may go on past `bytes`, from the container path
    // `lookupPath` (the rest is the caller's to read, in ranges).
    bool hasMore = false;
    QString lookupPath;
};

class ITSSProtocol {
public:
    // True when the URL's scheme is "itss". QUrl (like the web engine) lower-cases a scheme
    // while parsing, so a QUrl made from "ITSS://chm/a.htm" passes: only the text overload
    // below can refuse it.
    static bool canInitWithRequest(const QUrl& url);
    // The same test on a URL's text as written, where "ITSS:" can still be told from "itss:".
    static bool canInitWithRequest(const QString& urlText);
    // Answers one request. `encodingName` is the document's current encoding name when the
    // request started (e.g. "CP936"), `userChosen` true when the user picked it explicitly
    // rather than automatic.
    // `firstPieceLength`, when not 0, reads no more of the object than that: `hasMore` is then
    // set when the piece filled it.
    static ITSSResponse startLoading(const QUrl& url, CHMDocument* doc, const QString& encodingName,
                                     bool userChosen, quint64 firstPieceLength = 0);
    // The container path a request names before the container is asked ("." and ".."
    // resolved, the query and fragment left out): requests with the same one read the same
    // object.
    static QString requestedPath(const QUrl& url);
};
