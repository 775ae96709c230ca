#include "FuzzCheck.h"
#include "FuzzTargets.h"

#include "CHMDocument.h"
#include "ITSSProtocol.h"

#include <QUrl>
#include <array>

namespace {

const std::array<const char*, 6> kEncodings = {"",      "CP936", "CP1251",
                                               "CP932", "UTF-8", "no-such-encoding"};

CHMDocument* fixedDocument() {
    static CHMDocument* doc = [] {
        auto* d = new CHMDocument; // lives as long as the process: every input asks it
        QString error;
        const QString path = fuzz::itssDocumentPath();
        if (!d->readFromURL(QUrl::fromLocalFile(path), QStringLiteral("chm"), &error))
            qFatal("the itss fuzz document %s cannot be opened: %s", qPrintable(path),
                   qPrintable(error));
        return d;
    }();
    return doc;
}

void request(const QUrl& url, const QString& encoding, bool userChosen) {
    const QString path = CHMDocument::extractPathFromURL(url);
    if (url.scheme() != QLatin1String("itss"))
        fuzz::check(path.isEmpty(), "a path is taken from a URL of another scheme");
    const ITSSResponse r = ITSSProtocol::startLoading(url, fixedDocument(), encoding, userChosen);
    if (r.ok) {
        fuzz::check(!r.mimeType.isEmpty(), "an answered request has no MIME type");
        fuzz::check(!r.bytes.isEmpty(), "an answered request has no bytes");
    } else {
        fuzz::check(r.bytes.isEmpty() && !r.isMissingPage, "a failed request carries a page");
    }
    if (r.isMissingPage)
        fuzz::check(r.mimeType == "text/html", "the missing-page page is not HTML");
}

} // namespace

namespace fuzz {

QString itssDocumentPath() {
    const QByteArray env = qgetenv("LUMENO_FUZZ_DOCUMENT");
    return env.isEmpty() ? QStringLiteral(LUMENO_FUZZ_DOCUMENT_DEFAULT)
                         : QString::fromLocal8Bit(env);
}

int fuzzItss(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const QString encoding = QString::fromLatin1(kEncodings[(data[0] & 0x07) % kEncodings.size()]);
    const bool userChosen = data[0] & 0x08;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1),
                                           static_cast<qsizetype>(size - 1));

    // The text as a whole URL, as the web engine may hand one over.
    const QUrl asWritten(text);
    ITSSProtocol::canInitWithRequest(text);
    request(asWritten, encoding, userChosen);

    // The text as the path part of an itss URL, in both parsing modes.
    request(QUrl(QStringLiteral("itss://chm/") + text, QUrl::TolerantMode), encoding, userChosen);
    request(QUrl(QStringLiteral("itss://chm/") + text, QUrl::StrictMode), encoding, userChosen);

    // The text as a container path turned into a URL and back.
    const QUrl composed = CHMDocument::composeURL(text);
    if (composed.isValid()) {
        check(composed.scheme() == QLatin1String("itss") && composed.host() == QLatin1String("chm"),
              "composeURL makes a URL outside the itss host");
        request(composed, encoding, userChosen);
    }
    return 0;
}

} // namespace fuzz
