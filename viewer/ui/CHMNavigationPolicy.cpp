#include "CHMNavigationPolicy.h"

#include "ITSSProtocol.h"

using Decision = CHMNavigationPolicy::Decision;

bool CHMNavigationPolicy::isExternalScheme(const QUrl& url) {
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
           scheme == QLatin1String("mailto");
}

Decision CHMNavigationPolicy::forNavigation(const QUrl& url, bool isLinkClick, bool isMainFrame,
                                            bool isUserAction) {
    if (ITSSProtocol::canInitWithRequest(url))
        return Decision::Load;
    if (isLinkClick && isMainFrame && isUserAction && isExternalScheme(url))
        return Decision::OpenExternally;
    return Decision::Ignore;
}

Decision CHMNavigationPolicy::forNewWindow(const QUrl& url, bool isUserAction) {
    // Without the user's gesture no window opens, as in a browser: a page could open them by
    // the hundred, each with a renderer of its own.
    if (!isUserAction)
        return Decision::Ignore;
    if (ITSSProtocol::canInitWithRequest(url))
        return Decision::Load;
    if (isUserAction && isExternalScheme(url))
        return Decision::OpenExternally;
    return Decision::Ignore;
}
