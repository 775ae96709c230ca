// How fast the document hands out objects, against raw chmlib reads in the same run.
//
// For each file, every object of the directory walk that is a file ("/"-rooted, not a folder) is
// read once through CHMDocument::content (by path), once through CHMDocument::contentOfEntry
// (by listed entry), and once as chm_resolve_object + malloc + chm_retrieve_object on a
// separately opened chmlib handle. The figures are medians of whole passes over all objects.
//
// usage: contentBench [file.chm...]   (default: the corpus and the generated large book)
#include "BenchSupport.h"
#include "CHMDocument.h"
#include "TextTable.h"

#include <QFile>
#include <QUrl>
#include <chm_lib.h>
#include <cstdio>

namespace {

constexpr double kBudgetMs = 1500;

struct Pass {
    quint64 objects = 0; // objects that answered bytes
    quint64 bytes = 0;
};

} // namespace

int main(int argc, char** argv) {
    TextTable table({QStringLiteral("file"), QStringLiteral("objects"), QStringLiteral("MB"),
                     QStringLiteral("raw ms"), QStringLiteral("content ms"),
                     QStringLiteral("content/raw"), QStringLiteral("contentOfEntry ms"),
                     QStringLiteral("entry/raw")});
    QStringList notes;

    for (const QString& path : bench::inputFiles(argc, argv)) {
        const QString name = bench::shownName(path);
        CHMDocument doc;
        QString error;
        if (!doc.readFromURL(QUrl::fromLocalFile(path), QString(), &error)) {
            std::printf("%s: not measured: %s\n", qPrintable(name), qPrintable(error));
            continue;
        }
        chmFile* raw = chm_open(QFile::encodeName(path).constData());
        if (!raw) {
            std::printf("%s: not measured: chm_open failed\n", qPrintable(name));
            continue;
        }

        std::vector<const CHMObjectEntry*> entries;
        QStringList paths;
        for (const CHMObjectEntry& e : doc.objects()) {
            if (e.name.startsWith('/') && !e.name.endsWith('/')) {
                entries.push_back(&e);
                paths.push_back(QString::fromUtf8(e.name));
            }
        }

        Pass byPath, byEntry, byChmlib;
        const bench::TimedWork content = [&] {
            byPath = {};
            return bench::timeOnceMs([&] {
                for (const QString& p : paths) {
                    const QByteArray bytes = doc.content(p);
                    byPath.objects += bytes.isNull() ? 0 : 1;
                    byPath.bytes += static_cast<quint64>(bytes.size());
                }
            });
        };
        const bench::TimedWork contentOfEntry = [&] {
            byEntry = {};
            return bench::timeOnceMs([&] {
                for (const CHMObjectEntry* e : entries) {
                    const QByteArray bytes = doc.contentOfEntry(*e);
                    byEntry.objects += bytes.isNull() ? 0 : 1;
                    byEntry.bytes += static_cast<quint64>(bytes.size());
                }
            });
        };
        const bench::TimedWork chmlib = [&] {
            byChmlib = {};
            return bench::timeOnceMs([&] {
                for (const CHMObjectEntry* e : entries) {
                    const quint64 got = bench::rawRead(raw, e->name);
                    byChmlib.objects += got ? 1 : 0;
                    byChmlib.bytes += got;
                }
            });
        };

        const int rounds = bench::roundsFor(chmlib() + content() + contentOfEntry(), kBudgetMs);
        const std::vector<double> m =
            bench::interleavedMedians(rounds, {chmlib, content, contentOfEntry});
        chm_close(raw);

        table.addRow({name, QString::number(entries.size()),
                      TextTable::number(static_cast<double>(byChmlib.bytes) / (1 << 20), 2),
                      TextTable::ms(m[0]), TextTable::ms(m[1]), TextTable::ratio(m[1], m[0], 2),
                      TextTable::ms(m[2]), TextTable::ratio(m[2], m[0], 2)});
        // Both roads must hand out the same objects, or the ratio compares different work.
        if (byPath.objects != byChmlib.objects || byPath.bytes != byChmlib.bytes ||
            byEntry.objects != byChmlib.objects || byEntry.bytes != byChmlib.bytes)
            notes.push_back(QStringLiteral("%1: objects/bytes read: raw %2/%3, content %4/%5, "
                                           "contentOfEntry %6/%7")
                                .arg(name)
                                .arg(byChmlib.objects)
                                .arg(byChmlib.bytes)
                                .arg(byPath.objects)
                                .arg(byPath.bytes)
                                .arg(byEntry.objects)
                                .arg(byEntry.bytes));
    }

    std::printf("Reading every object: CHMDocument against raw chmlib reads (medians of whole "
                "passes)\n\n");
    table.print();
    for (const QString& note : notes)
        std::printf("note: %s\n", qPrintable(note));
    return 0;
}
