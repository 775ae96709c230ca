#include "ExportWebProfile.h"

#include "CHMRequestInterceptor.h"
#include "ITSSSchemeHandler.h"

#include <QWebEngineProfile>
#include <QWebEngineSettings>

ExportWebProfile::ExportWebProfile(CHMDocument* document)
    : m_schemeHandler(new ITSSSchemeHandler(document)),
      m_requestInterceptor(new CHMRequestInterceptor()), m_profile(new QWebEngineProfile()) {
    m_profile->installUrlSchemeHandler("itss", m_schemeHandler);
    m_profile->setUrlRequestInterceptor(m_requestInterceptor);
    QWebEngineSettings* settings = m_profile->settings();
    // Pages print as the reader shows them, scripts included; they cannot open windows here.
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::PrintElementBackgrounds, true);
}

ExportWebProfile::~ExportWebProfile() {
    delete m_profile;
    delete m_requestInterceptor;
    delete m_schemeHandler;
}
