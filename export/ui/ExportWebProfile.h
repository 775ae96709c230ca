// The web profile that an export prints through when no window lends its own: off the record,
// with the document's "itss" handler and the request interceptor that keeps pages away from
// local files, as the reader's window sets up its profile.
//
// Owns the profile, the handler and the interceptor; the profile goes before the objects it
// uses. The document must outlive it, and every page on the profile must be deleted first.
// GUI thread only.
#pragma once

#include <memory>

class CHMDocument;
class CHMRequestInterceptor;
class ITSSSchemeHandler;
class QWebEngineProfile;

class ExportWebProfile {
public:
    explicit ExportWebProfile(CHMDocument* document);
    ~ExportWebProfile();
    ExportWebProfile(const ExportWebProfile&) = delete;
    ExportWebProfile& operator=(const ExportWebProfile&) = delete;

    QWebEngineProfile* profile() const { return m_profile; }

private:
    ITSSSchemeHandler* m_schemeHandler = nullptr;
    CHMRequestInterceptor* m_requestInterceptor = nullptr;
    QWebEngineProfile* m_profile = nullptr;
};
