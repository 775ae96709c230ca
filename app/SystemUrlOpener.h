// Web and mail links (http, https, mailto), and files the reader hands to other programs (the
// user manual), leave the reader through the desktop's xdg-open, watched, so that the user hears
// of it when no program takes them instead of the failure going to standard error alone
// (xdg-open starts at once and only then finds no program). xdg-open gets the user's
// environment, without the reader's own drawing settings (ReaderEnvironment).
//
// It serves QDesktopServices for the link schemes while it lives, so every part of the reader
// that opens such a URL goes through it; a handler registered later (tests) takes over. Without
// xdg-open the platform's own way is used and its answer is reported the same. A failure that
// comes only after kLongestStartMs (xdg-open waiting for a browser that then ended) is no
// failure to open. GUI thread only.
#pragma once

#include <QObject>
#include <QUrl>
#include <functional>

class SystemUrlOpener : public QObject {
    Q_OBJECT
public:
    static constexpr int kLongestStartMs = 15000;

    // failed: called when no program took the URL.
    explicit SystemUrlOpener(std::function<void(const QUrl&)> failed, QObject* parent = nullptr);
    ~SystemUrlOpener() override;

    static const QStringList& schemes();

    // Opens the URL; `failed` is called, possibly later, when no program took it.
    void open(const QUrl& url, std::function<void(const QUrl&)> failed);

public slots:
    // open() with the failure handler given at construction.
    void openUrl(const QUrl& url);

private:
    std::function<void(const QUrl&)> m_failed;
};
